#pragma once

// The files of one command, committed together or not at all. Each file is written under a
// temporary name beside its target (same folder, so that putting it in place is a rename on
// one file system). `commit` puts every file in place only after all of them are complete; if
// a rename fails part-way, the files already put in place are taken back and the versions
// they replaced restored. A transaction that is destroyed without a commit removes its
// temporaries and leaves every target as it was.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"

namespace hydro {

class FileTransaction {
public:
    FileTransaction() = default;
    FileTransaction(const FileTransaction&) = delete;
    FileTransaction& operator=(const FileTransaction&) = delete;
    FileTransaction(FileTransaction&&) = delete;
    FileTransaction& operator=(FileTransaction&&) = delete;
    ~FileTransaction();

    /// Adds `target` to the transaction and returns the temporary path to write it under
    /// ("<target>.part-<process id>"). Adding the same target twice returns the same path.
    [[nodiscard]] std::filesystem::path add(const std::filesystem::path& target);

    /// Writes `bytes` as the whole of `target`'s temporary file. The error names the target
    /// ("<name> cannot be created in <folder> (<reason>)." or "<name> cannot be written
    /// completely.").
    [[nodiscard]] Status write(const std::filesystem::path& target, std::string_view bytes);

    /// Puts every added file in place. Fails with "<name> cannot be put in place (<reason>)."
    /// for the first file that could not be, after undoing the others; a temporary that was
    /// never written counts as a failure too. After a commit, successful or not, the
    /// transaction holds no files.
    [[nodiscard]] Status commit();

    /// Removes every temporary without touching the targets.
    void abandon() noexcept;

    /// The targets, in the order they were added.
    [[nodiscard]] std::vector<std::filesystem::path> targets() const;

private:
    struct Entry {
        std::filesystem::path target;
        std::filesystem::path temp;
    };
    std::vector<Entry> entries_;
};

/// Success when `target` is missing, a regular file or a symbolic link, which a commit may
/// replace; otherwise "<name> is not a regular file, so it is not replaced." (a device, a folder,
/// a pipe).
[[nodiscard]] Status checkReplaceable(const std::filesystem::path& target);

/// The temporary name under which `target` is written before it is put in place.
[[nodiscard]] std::filesystem::path temporaryPathOf(const std::filesystem::path& target);

}  // namespace hydro
