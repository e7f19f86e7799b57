#include "case/case_folder.h"

#include <string>
#include <system_error>

namespace hydro {

namespace fs = std::filesystem;

namespace {

constexpr const char* kParameterFile = "param-event.dat";

bool holdsCase(const fs::path& dir) {
    std::error_code ec;
    return fs::exists(dir / kParameterFile, ec) || fs::is_directory(dir / "topoData", ec)
           || fs::is_directory(dir / "input", ec);
}

}  // namespace

Status checkCaseFolder(const fs::path& dir) {
    std::error_code ec;
    const std::string name = dir.string();
    if (!fs::exists(dir, ec)) {
        return Error{"this is not a case folder: " + name + " does not exist."};
    }
    if (!fs::is_directory(dir, ec)) {
        return Error{"this is not a case folder: " + name
                     + " is a file; give the folder that holds " + kParameterFile + "."};
    }
    if (holdsCase(dir)) {
        return success();
    }
    std::string line =
        "this is not a case folder: no " + std::string(kParameterFile) + " in " + name + ".";
    fs::path full = fs::absolute(dir, ec).lexically_normal();
    if (!full.has_filename()) {  // a trailing separator
        full = full.parent_path();
    }
    const fs::path parent = full.parent_path();
    if (!ec && fs::exists(parent / kParameterFile, ec)) {
        line.pop_back();
        line += "; the case folder is " + parent.string() + ".";
    }
    return Error{line};
}

Status checkOutputFolder(const fs::path& dir) {
    std::error_code ec;
    if (fs::is_directory(dir, ec)) {
        return success();
    }
    const std::string name = dir.string();
    if (fs::exists(dir, ec)) {
        return Error{name + " is not a folder; the results go into a folder of that name."};
    }
    return Error{name + " is not a folder: create it with: mkdir -p " + name};
}

}  // namespace hydro
