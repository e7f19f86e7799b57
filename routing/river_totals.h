#pragma once

// The water of each river over a run, summed exactly (common/exact_volume.h).

#include <cstdint>

#include "common/exact_volume.h"

namespace hydro::runoff {

/// The water of one river over a run, m³, or of part of it (the cells one thread or rank ran).
struct RiverTotals {
    std::int64_t cells = 0;
    ExactVolume rain;            ///< taken in by its routed cells
    ExactVolume leaving;         ///< out of the routed cells
    ExactVolume toOtherRivers;   ///< into the routed cells of other rivers
    ExactVolume inflow;          ///< from the routed cells of other rivers
    ExactVolume initialStorage;  ///< in its channels at the start
    ExactVolume finalStorage;    ///< in its channels at the end

    void add(const RiverTotals& o) {
        cells += o.cells;
        rain.add(o.rain);
        leaving.add(o.leaving);
        toOtherRivers.add(o.toOtherRivers);
        inflow.add(o.inflow);
        initialStorage.add(o.initialStorage);
        finalStorage.add(o.finalStorage);
    }
};

}  // namespace hydro::runoff
