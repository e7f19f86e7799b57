#pragma once

// What the outlet hydrograph tests share: the small two-river case and a run of the program.

#include <cstdint>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "hydrograph/app.h"
#include "tests/runoff_sim/case_builder.h"

namespace hydro::test {

/// 5 columns x 4 rows, north row first, every cell draining south. River 1 is listed,
/// river 2 is not; a grid that is not square, so that a swapped or north-counted row shows.
inline SimCase twoRiverCase(std::vector<std::int32_t> flowAcc) {
    SimCase c;
    c.studyCols = 5;
    c.studyRows = 4;
    c.elevation = std::vector<float>(20, 10.0F);
    c.flowDir = std::vector<std::int32_t>(20, 5);
    c.riverNum = {
        -1, -1, -1, -1, -1,  //
        -1, 1,  1,  2,  -1,  //
        1,  1,  1,  1,  -1,  //
        -1, -1, -1, -1, -1,  //
    };
    c.flowAcc = std::move(flowAcc);
    c.riverList = "1 0 0 0 0 0 0.0 0.0\n";
    return c;
}

struct Outcome {
    int status;
    std::string out;
};

/// Runs outlet_hydrograph with `args` (without the program name).
inline Outcome runTool(const std::vector<std::string>& args) {
    std::ostringstream out;
    const int status = hydrograph::runOutletHydrograph(args, out);
    return {status, out.str()};
}

}  // namespace hydro::test
