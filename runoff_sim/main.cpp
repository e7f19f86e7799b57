#include <atomic>
#include <cstdlib>
#include <iostream>
#include <new>
#include <string>
#include <vector>

#include "common/process_setup.h"
#include "routing/routing_engine.h"
#include "runoff_sim/driver.h"
#include "runoff_sim/options.h"

#ifdef HYDRO_MPI
#include <mpi.h>

#include "runoff_sim/mpi/parallel_driver.h"
#endif

namespace {

/// True while the thread team starts: the OpenMP runtime ends the process with status 1 when
/// it cannot create its threads (for want of memory), and this says so on standard output.
std::atomic<bool> startingThreads{false};

void reportFailedThreadStart() {
    if (startingThreads.load()) {
        std::cout << hydro::runoff::kNotEnoughMemory << std::endl;
    }
}

#ifdef HYDRO_MPI
/// Under mpirun: one rank per process, each with its own OpenMP threads; only the master
/// thread of a rank calls MPI. An allocation that fails outside the stages that the ranks agree
/// on leaves no way to agree, so it ends every rank.
int runRanks(const hydro::runoff::RunOptions& options) {
    int provided = MPI_THREAD_SINGLE;
    if (MPI_Init_thread(nullptr, nullptr, MPI_THREAD_FUNNELED, &provided) != MPI_SUCCESS) {
        std::cout << "MPI cannot start." << std::endl;
        return 1;
    }
    int rank = 0;
    MPI_Comm_rank(MPI_COMM_WORLD, &rank);
    int status = 1;
    if (provided < MPI_THREAD_FUNNELED) {
        if (rank == 0) {
            std::cout << "The MPI library does not allow threads beside MPI calls." << std::endl;
        }
    } else {
        try {
            if (std::atexit(reportFailedThreadStart) != 0) {
                std::cout << hydro::runoff::kNotEnoughMemory << std::endl;
                MPI_Abort(MPI_COMM_WORLD, 1);
            }
            startingThreads.store(true);
            hydro::runoff::startThreadTeam();
            startingThreads.store(false);
            status = hydro::runoff::runRunoffSimParallel(".", std::cout, options);
        } catch (const std::bad_alloc&) {
            std::cout << hydro::runoff::kNotEnoughMemory << std::endl;
            MPI_Abort(MPI_COMM_WORLD, 1);
        }
    }
    MPI_Finalize();
    return status;
}
#endif

}  // namespace

int main(int argc, char** argv) {
    hydro::setUpProcess();
    hydro::runoff::RunOptions options;
    try {
        const std::vector<std::string> args(argc > 1 ? argv + 1 : argv,
                                            argc > 1 ? argv + argc : argv);
        const auto line = hydro::runoff::parseCommandLine(args);
        if (!line) {
            std::cout << line.error().message << std::endl;
            return 1;
        }
        if (line->help) {
            std::cout << hydro::runoff::kUsage << std::endl;
            return 0;
        }
        options = line->run;
    } catch (const std::bad_alloc&) {
        std::cout << hydro::runoff::kNotEnoughMemory << std::endl;
        return 1;
    } catch (...) {
        std::cout << "runoff_sim cannot read its command line." << std::endl;
        return 1;
    }
#ifdef HYDRO_MPI
    return runRanks(options);
#else
    try {
        // Threads are started before any file is read or written, so that a runtime that
        // cannot start them ends the run before an output file is truncated.
        if (std::atexit(reportFailedThreadStart) != 0) {
            std::cout << hydro::runoff::kNotEnoughMemory << std::endl;
            return 1;
        }
        startingThreads.store(true);
        hydro::runoff::startThreadTeam();
        startingThreads.store(false);
        return hydro::runoff::runRunoffSim(".", std::cout, options);
    } catch (const std::bad_alloc&) {
        std::cout << hydro::runoff::kNotEnoughMemory << std::endl;
        return 1;
    }
#endif
}
