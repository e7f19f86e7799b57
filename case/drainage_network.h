#pragma once

// The four topographic grids and the drainage network built from them: every cell's position,
// width and border flag (elevation pass), its flow direction, flow accumulation and river
// number with the link to its downstream neighbour (topology pass), the upstream slots
// (registration pass) and their count (counting pass).

#include <filesystem>
#include <optional>

#include "case/event_parameters.h"
#include "case/grid_cell.h"
#include "case/river_list.h"
#include "common/result.h"

namespace hydro {

/// Reads "modDem.bin" from `topoDir` into a grid sized by the parameters. Errors:
/// "modDem.bin cannot open." (a folder cannot be opened either) or a line saying how many
/// values a short file holds and how many are needed.
[[nodiscard]] Status readElevation(const std::filesystem::path& topoDir, const EventParameters& p,
                                   StudyGrid& grid);

/// Reads "flowDir.bin", "flowAcc.bin" and "riverNum.bin" together and links every river cell
/// to its downstream neighbour. Errors: a file that cannot be opened or is too short, and a
/// cell that will be routed whose flow-direction code is not 0 to 8.
[[nodiscard]] Status readTopology(const std::filesystem::path& topoDir, StudyGrid& grid);

/// Registration pass, rows north to south and each row west to east: the slot order it gives
/// decides the order in which inflows are summed.
void registerUpstreamCells(StudyGrid& grid);

/// Counting pass over the river cells off the border.
void countUpstreamCells(StudyGrid& grid);

/// Allocates the study grid and runs the four passes in order over the grids in `topoDir`.
/// The error of the failing pass when a grid cannot be read.
[[nodiscard]] Result<StudyGrid> buildDrainageNetwork(const std::filesystem::path& topoDir,
                                                     const EventParameters& p);

/// True for a cell the time loop runs: off the border, on a listed river, with a positive
/// flow accumulation.
[[nodiscard]] inline bool isRouted(const GridCell& cell, const RiverList& rivers) {
    return cell.isEdge == 0 && rivers.isListedRiver(cell.riverNum) && cell.flowAcc > 0;
}

/// Every routed cell and the cell it drains into need a finite elevation (the slope between
/// them sets the flow): the first that has none, as an error naming modDem.bin.
[[nodiscard]] Status checkElevationsFinite(const StudyGrid& grid, const RiverList& rivers);

}  // namespace hydro
