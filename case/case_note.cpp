#include "case/case_note.h"

#include <fstream>
#include <system_error>

namespace hydro {

namespace fs = std::filesystem;

Result<std::optional<std::string>> readCaseNote(const fs::path& caseDir) {
    const fs::path path = caseDir / kCaseNoteFile;
    std::error_code ec;
    if (!fs::exists(path, ec) && !ec) {
        return std::optional<std::string>{};
    }
    std::ifstream in(path, std::ios::binary);
    if (ec || fs::is_directory(path, ec) || !in) {
        return Error{path.string() + " cannot be read."};
    }
    std::string line;
    std::getline(in, line);
    if (in.bad()) {
        return Error{path.string() + " cannot be read."};
    }
    const auto first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos) {
        return std::optional<std::string>{};
    }
    line = line.substr(first, line.find_last_not_of(" \t\r") - first + 1);
    if (line.size() > kCaseNoteMaxBytes) {
        return Error{path.string() + ": the first line is the case's note, at most "
                     + std::to_string(kCaseNoteMaxBytes) + " bytes; it has "
                     + std::to_string(line.size()) + "."};
    }
    for (const char c : line) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20U || u == 0x7FU) {
            return Error{path.string()
                         + ": the first line is the case's note and may hold no control "
                           "characters."};
        }
    }
    return std::optional<std::string>{line};
}

}  // namespace hydro
