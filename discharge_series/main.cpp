#include <iostream>
#include <new>

#include "common/process_setup.h"
#include "discharge_series/extractor.h"

int main() {
    hydro::setUpProcess();
    try {
        return hydro::runDischargeSeries(std::cin, std::cout, ".");
    } catch (const std::bad_alloc&) {
        std::cout << "Not enough memory for this run." << std::endl;
        return 1;
    }
}
