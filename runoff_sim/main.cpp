#include <atomic>
#include <cstdlib>
#include <iostream>
#include <new>

#include "runoff_sim/driver.h"
#include "runoff_sim/routing_engine.h"

namespace {

/// True while the thread team starts: the OpenMP runtime ends the process with status 1 when
/// it cannot create its threads (for want of memory), and this says so on standard output.
std::atomic<bool> startingThreads{false};

void reportFailedThreadStart() {
    if (startingThreads.load()) {
        std::cout << hydro::runoff::kNotEnoughMemory << std::endl;
    }
}

}  // namespace

int main() {
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
        return hydro::runoff::runRunoffSim(".", std::cout);
    } catch (const std::bad_alloc&) {
        std::cout << hydro::runoff::kNotEnoughMemory << std::endl;
        return 1;
    }
}
