#pragma once

// What every program sets up first thing in main, before it reads or writes any file, and how
// the programs that write through a file library end a failed run.

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>

namespace hydro {

/// Ignores SIGXFSZ. A write past the process's file-size limit then fails with EFBIG like any
/// other failed write, so the program reports the file on its one line, removes what it had
/// half-written and exits with status 1, instead of being ended by the signal.
inline void setUpProcess() noexcept {
    static_cast<void>(std::signal(SIGXFSZ, SIG_IGN));
}

/// Returns `status` from main. A failed run (any other status than 0), whose line is printed
/// and whose temporaries are removed, ends here with the standard streams flushed but without
/// the exit handlers: the NetCDF library's HDF5 layer, after a write that failed part-way,
/// still holds the file it could not finish and crashes while tearing it down at exit.
[[nodiscard]] inline int endRun(int status) {
    if (status != 0) {
        std::cout.flush();
        std::cerr.flush();
        static_cast<void>(std::fflush(nullptr));
        std::_Exit(status);
    }
    return status;
}

}  // namespace hydro
