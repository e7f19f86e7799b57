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
/// the exit handlers. Those would run HDF5's teardown (H5_term_library), which crashes on a
/// file the NetCDF library could not close, and no call order avoids that: with libnetcdf 4.9
/// and libhdf5 1.10, a failed write at nc_close (full disk, file-size limit, no memory)
/// returns the error with the file still open and its id still valid; nc_abort on that id
/// fails the same flush inside H5Fclose, which leaves the file half torn down, and then
/// crashes itself listing the objects still open (H5Iget_name, H5G_rootof); left alone, the
/// file crashes H5F__close_cb at exit instead. Only ending the process without the handlers
/// is safe once that has happened, and nothing of ours is left to do by then.
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
