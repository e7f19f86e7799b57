#pragma once

// The case library: every program reads a case folder through it. Readers return what they
// read or an Error carrying the one line to print; printing happens at each program's edge.
//
// A case folder:
//   param-event.dat                      the event parameters (case/event_parameters.h)
//   topoData/riverNumList.dat            the rivers to simulate (case/river_list.h)
//   topoData/{modDem,flowDir,flowAcc,riverNum}.bin
//                                        the topographic grids and the drainage network built
//                                        from them (case/drainage_network.h)
//   input/rain.dat                       the hourly rainfall (case/rain_grid.h) and the
//                                        event's start (case/event_start.h)
//   output/discharge*.bin                the simulator's grids (case/discharge_grid.h)

#include <filesystem>

#include "case/discharge_grid.h"
#include "case/drainage_network.h"
#include "case/event_parameters.h"
#include "case/event_start.h"
#include "case/grid_cell.h"
#include "case/grid_shape.h"
#include "case/rain_grid.h"
#include "case/river_list.h"
#include "common/result.h"

namespace hydro {

/// The paths of a case folder's files.
struct CasePaths {
    std::filesystem::path root;

    [[nodiscard]] std::filesystem::path parameters() const { return root / "param-event.dat"; }
    [[nodiscard]] std::filesystem::path topoData() const { return root / "topoData"; }
    [[nodiscard]] std::filesystem::path riverList() const {
        return root / "topoData" / "riverNumList.dat";
    }
    [[nodiscard]] std::filesystem::path rainfall() const { return root / "input" / "rain.dat"; }
    [[nodiscard]] std::filesystem::path output() const { return root / "output"; }
    [[nodiscard]] std::filesystem::path hourlyDischarge() const {
        return root / "output" / "dischargeHourly.bin";
    }
};

/// What the tools beside the simulator read of a case: parameters, rivers and the drainage
/// network, each checked as the simulator checks it.
struct CaseData {
    EventParameters params;
    RiverList rivers;
    StudyGrid grid;
};

/// Reads parameters, river list and drainage network of the case in `root`, silently.
[[nodiscard]] Result<CaseData> readCase(const std::filesystem::path& root);

/// The rainfall grid of the case, read completely.
[[nodiscard]] Result<RainGrid> readCaseRainfall(const std::filesystem::path& root,
                                                const EventParameters& p);

/// A case with its event: what readCase reads, the rainfall grid and the event's start.
struct CaseEvent {
    CaseData data;
    RainGrid rain;
    EventStart start;
};

/// Reads the case in `root` with its rainfall and the start of its event, silently; the
/// first error met, in that order.
[[nodiscard]] Result<CaseEvent> readCaseEvent(const std::filesystem::path& root);

}  // namespace hydro
