#include "common/file_transaction.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <system_error>

namespace hydro {

namespace fs = std::filesystem;

namespace {

/// Where a target's previous version waits while the transaction puts the new one in place.
fs::path backupPathOf(const fs::path& target) {
    fs::path backup = target;
    backup += ".old-" + std::to_string(::getpid());
    return backup;
}

}  // namespace

fs::path temporaryPathOf(const fs::path& target) {
    fs::path temp = target;
    temp += ".part-" + std::to_string(::getpid());
    return temp;
}

FileTransaction::~FileTransaction() {
    abandon();
}

fs::path FileTransaction::add(const fs::path& target) {
    for (const Entry& e : entries_) {
        if (e.target == target) {
            return e.temp;
        }
    }
    entries_.push_back({target, temporaryPathOf(target)});
    return entries_.back().temp;
}

Status FileTransaction::write(const fs::path& target, std::string_view bytes) {
    const fs::path temp = add(target);
    const std::string name = target.filename().string();
    std::FILE* file = std::fopen(temp.c_str(), "wb");
    if (file == nullptr) {
        const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
        return Error{name + " cannot be created in " + folder.string() + " ("
                     + std::error_code(errno, std::generic_category()).message() + ")."};
    }
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    ok = std::fflush(file) == 0 && ok;
    ok = std::fclose(file) == 0 && ok;
    if (!ok) {
        return Error{name + " cannot be written completely."};
    }
    return success();
}

Status checkReplaceable(const fs::path& target) {
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(target, ec);
    if (fs::exists(status) && !fs::is_regular_file(status) && !fs::is_symlink(status)) {
        return Error{target.filename().string() + " is not a regular file, so it is not replaced."};
    }
    return success();
}

Status FileTransaction::commit() {
    std::error_code ec;
    // Every temporary must exist, and every target be a file (or nothing) to replace, before
    // anything is touched: a device or a folder is never renamed over.
    for (const Entry& e : entries_) {
        if (Status replaceable = checkReplaceable(e.target); !replaceable) {
            abandon();
            return replaceable;
        }
        if (!fs::is_regular_file(e.temp, ec)) {
            const std::string name = e.target.filename().string();
            abandon();
            return Error{name + " cannot be put in place (it was not written)."};
        }
    }
    // Keep each previous version aside, then put the new file in place; undo on the first
    // failure.
    struct Done {
        const Entry* entry;
        bool hadPrevious;
    };
    std::vector<Done> done;
    done.reserve(entries_.size());
    const auto undo = [&done]() noexcept {
        // Latest first, as a falling index (clang-tidy 14 cannot read libstdc++'s reverse_view).
        for (std::size_t k = done.size(); k-- > 0;) {
            const Done& d = done[k];
            std::error_code ignored;
            if (d.hadPrevious) {
                fs::rename(backupPathOf(d.entry->target), d.entry->target, ignored);
            } else {
                fs::remove(d.entry->target, ignored);
            }
        }
    };
    for (const Entry& e : entries_) {
        std::error_code ignored;
        const bool hadPrevious = fs::exists(fs::symlink_status(e.target, ignored));
        ec.clear();
        if (hadPrevious) {
            fs::rename(e.target, backupPathOf(e.target), ec);
        }
        if (!ec) {
            fs::rename(e.temp, e.target, ec);
            if (ec && hadPrevious) {
                fs::rename(backupPathOf(e.target), e.target, ignored);
            }
        }
        if (ec) {
            const std::string message =
                e.target.filename().string() + " cannot be put in place (" + ec.message() + ").";
            undo();
            abandon();
            return Error{message};
        }
        done.push_back({&e, hadPrevious});
    }
    for (const Done& d : done) {
        if (d.hadPrevious) {
            std::error_code ignored;
            fs::remove(backupPathOf(d.entry->target), ignored);
        }
    }
    entries_.clear();
    return success();
}

void FileTransaction::abandon() noexcept {
    for (const Entry& e : entries_) {
        std::error_code ignored;
        fs::remove(e.temp, ignored);
    }
    entries_.clear();
}

std::vector<fs::path> FileTransaction::targets() const {
    std::vector<fs::path> t;
    t.reserve(entries_.size());
    for (const Entry& e : entries_) {
        t.push_back(e.target);
    }
    return t;
}

}  // namespace hydro
