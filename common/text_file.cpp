#include "common/text_file.h"

#include <fstream>
#include <sstream>
#include <system_error>

namespace hydro {

Result<std::string> readTextFile(const std::filesystem::path& path,
                                 const TextFileRefusals& refusals) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        return Error{refusals.folder};
    }
    const auto size = std::filesystem::file_size(path, ec);
    if (!ec && size > refusals.largestBytes) {
        return Error{refusals.tooLarge};
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return Error{refusals.name + " cannot open.", ErrorKind::kCannotOpen};
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) {
        return Error{refusals.name + " cannot be read."};
    }
    return text.str();
}

}  // namespace hydro
