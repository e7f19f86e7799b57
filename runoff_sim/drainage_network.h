#pragma once

// The four topographic grids and the drainage network built from them: every cell's position,
// width and border flag (elevation pass), its flow direction, flow accumulation and river
// number with the link to its downstream neighbour (topology pass), the upstream slots
// (registration pass) and their count (counting pass).

#include <filesystem>
#include <optional>
#include <ostream>

#include "runoff_sim/event_parameters.h"
#include "runoff_sim/grid_cell.h"

namespace hydro::runoff {

/// Reads "modDem.bin" from `topoDir` into a grid sized by the parameters. Prints
/// "modDem.bin cannot open." or a line saying how many values a short file holds and how
/// many are needed, and returns false then.
[[nodiscard]] bool readElevation(const std::filesystem::path& topoDir, const EventParameters& p,
                                 StudyGrid& grid, std::ostream& console);

/// Reads "flowDir.bin", "flowAcc.bin" and "riverNum.bin" together and links every river cell
/// to its downstream neighbour. Reports a file that cannot be opened or is too short, and a
/// cell that will be routed whose flow-direction code is not 0 to 8; returns false then.
[[nodiscard]] bool readTopology(const std::filesystem::path& topoDir, StudyGrid& grid,
                                std::ostream& console);

/// Registration pass, rows north to south and each row west to east: the slot order it gives
/// decides the order in which inflows are summed.
void registerUpstreamCells(StudyGrid& grid);

/// Counting pass over the river cells off the border.
void countUpstreamCells(StudyGrid& grid);

/// Allocates the study grid and runs the four passes in order over the grids in `topoDir`.
/// Returns nothing (after the message of the failing pass) when a grid cannot be read.
[[nodiscard]] std::optional<StudyGrid> buildDrainageNetwork(const std::filesystem::path& topoDir,
                                                            const EventParameters& p,
                                                            std::ostream& console);

}  // namespace hydro::runoff
