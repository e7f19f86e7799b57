#include <iostream>
#include <new>
#include <string>
#include <vector>

#include "common/process_setup.h"
#include "results_page/app.h"

int main(int argc, char** argv) {
    hydro::setUpProcess();
    try {
        const std::vector<std::string> args(argv + 1, argv + argc);
        return hydro::results_page::runResultsPage(args, std::cout, std::cerr);
    } catch (const std::bad_alloc&) {
        std::cout << "Not enough memory for this page." << std::endl;
        return 1;
    }
}
