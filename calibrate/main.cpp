#include <iostream>
#include <new>
#include <string>
#include <vector>

#include "calibrate/app.h"
#include "common/memory_headroom.h"
#include "common/process_setup.h"

#ifdef HYDRO_MPI
#include "members/mpi/mpi_executor.h"
#endif

int main(int argc, char** argv) {
    hydro::setUpProcess();
    if (!hydro::canStart()) {
        return hydro::endRun(1);
    }
    int status = 1;
    try {
        const std::vector<std::string> args(argc > 1 ? argv + 1 : argv,
                                            argc > 1 ? argv + argc : argv);
#ifdef HYDRO_MPI
        // Under mpirun every rank runs the program; the members are spread over the ranks.
        status = hydro::members::runOnRanks(std::cout, std::cerr,
                                            [&](hydro::members::MemberExecutor& executor,
                                                std::ostream& out, std::ostream& progress) {
                                                return hydro::calibrate::runCalibrate(
                                                    args, out, progress, executor);
                                            });
#else
        status = hydro::calibrate::runCalibrate(args, std::cout, std::cerr);
#endif
    } catch (const std::bad_alloc&) {
        std::cout << "Not enough memory for this run." << std::endl;
    }
    return hydro::endRun(status);
}
