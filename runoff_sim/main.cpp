#include <iostream>
#include <new>

#include "runoff_sim/driver.h"

int main() {
    try {
        return hydro::runoff::runRunoffSim(".", std::cout);
    } catch (const std::bad_alloc&) {
        std::cout << "Not enough memory for this run." << std::endl;
        return 1;
    }
}
