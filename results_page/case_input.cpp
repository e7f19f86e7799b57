#include "results_page/case_input.h"

#include <fstream>
#include <sstream>
#include <system_error>

#include "case/case_note.h"

namespace hydro::results_page {

namespace fs = std::filesystem;

Result<CaseInput> readCaseInput(const fs::path& caseDir) {
    auto event = readCaseEvent(caseDir);
    if (!event) {
        return event.error();
    }
    auto note = readCaseNote(caseDir);
    if (!note) {
        return note.error();
    }
    CaseData& data = event->data;
    return CaseInput{data.params,          std::move(data.rivers),
                     std::move(data.grid), std::move(event->rain),
                     event->start,         std::move(*note)};
}

Result<std::optional<std::string>> readOptionalOutputText(const fs::path& caseDir,
                                                          const std::string& name) {
    const fs::path path = CasePaths{caseDir}.output() / name;
    std::error_code ec;
    if (!fs::exists(path, ec)) {
        return std::optional<std::string>{};
    }
    // The gauge tables hold a line per hour and gauge; anything beyond this is not one of them.
    constexpr std::uintmax_t kLargest = std::uintmax_t{64} << 20U;
    const auto size = fs::file_size(path, ec);
    if (ec || fs::is_directory(path, ec)) {
        return Error{name + " is not a readable file."};
    }
    if (size > kLargest) {
        return Error{name + " is larger than 64 MiB, too large for a gauge table."};
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return Error{name + " cannot open.", ErrorKind::kCannotOpen};
    }
    std::ostringstream text;
    text << file.rdbuf();
    if (file.bad()) {
        return Error{name + " cannot be read."};
    }
    return std::optional<std::string>{text.str()};
}

}  // namespace hydro::results_page
