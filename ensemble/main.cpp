#include <iostream>
#include <new>
#include <string>
#include <vector>

#include "common/memory_headroom.h"
#include "common/process_setup.h"
#include "ensemble/app.h"

int main(int argc, char** argv) {
    hydro::setUpProcess();
    if (!hydro::canStart()) {
        return hydro::endRun(1);
    }
    int status = 1;
    try {
        const std::vector<std::string> args(argc > 1 ? argv + 1 : argv,
                                            argc > 1 ? argv + argc : argv);
        status = hydro::ensemble::runEnsemble(args, std::cout, std::cerr);
    } catch (const std::bad_alloc&) {
        std::cout << "Not enough memory for this run." << std::endl;
    }
    return hydro::endRun(status);
}
