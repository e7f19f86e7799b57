#include <iostream>
#include <new>

#include "common/console.h"
#include "common/process_setup.h"
#include "discharge_map/renderer.h"

int main() {
    hydro::setUpProcess();
    try {
        return hydro::runDischargeMap(std::cin, std::cout, ".", 0, &std::cerr);
    } catch (const std::bad_alloc&) {
        hydro::sayLine(std::cout, "Not enough memory for this run.");
        return 1;
    }
}
