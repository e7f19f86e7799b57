// The four topographic grids and the drainage network built from them, for a study grid whose
// size comes from the first input bytes, with files cut from the input at lengths the input
// chooses (so files short of the grid, and grids larger or smaller than the files, are tried).
//
// Input: columns - 1 (byte, below 48), rows - 1 (byte, below 48), then the byte lengths of
// modDem.bin, flowDir.bin, flowAcc.bin and riverNum.bin (two bytes each, little-endian), then
// the files' bytes one after the other (a file gets what is left when the input runs short).

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "case/drainage_network.h"
#include "fuzz/fuzz_support.h"

using hydro::fuzz::require;
using hydro::fuzz::requirePrintableLine;

namespace {

/// Every link of a built network stays inside the grid and joins neighbours as the flow
/// direction says, and every upstream slot names a cell that drains here.
void checkNetwork(const hydro::StudyGrid& grid) {
    const auto n = static_cast<hydro::CellIndex>(grid.cells.size());
    require(grid.cellCount() == n, "the grid holds another number of cells than its shape");
    for (hydro::CellIndex i = 0; i < n; ++i) {
        const hydro::GridCell& cell = grid[i];
        if (cell.downstream != hydro::kNoCell) {
            require(cell.downstream >= 0 && cell.downstream < n, "a downstream link off the grid");
            require(cell.flowDir >= 1 && cell.flowDir <= 8, "a link without a flow direction");
            const auto o = hydro::kD8Offsets[static_cast<std::size_t>(cell.flowDir)];
            require(
                grid.index(grid.rowOf(i) + o.row, grid.columnOf(i) + o.column) == cell.downstream,
                "a downstream link that is not the neighbour of the flow direction");
        }
        for (const hydro::CellIndex u : cell.upstream) {
            if (u != hydro::kNoCell) {
                require(u >= 0 && u < n && grid[u].downstream == i,
                        "an upstream slot names a cell that drains elsewhere");
            }
        }
        if (cell.isRiverInterior()) {
            require(cell.upstreamCount >= 0 && cell.upstreamCount <= hydro::kUpstreamSlots,
                    "an upstream count beyond the slots");
        }
    }
}

}  // namespace

// libFuzzer calls this with each input.
extern "C" int LLVMFuzzerTestOneInput(  // NOLINT(readability-identifier-naming)
    const std::uint8_t* data, std::size_t size) {
    const hydro::fuzz::DescriptorCheck descriptors;
    hydro::fuzz::ByteCursor in(data, size);
    hydro::EventParameters p;
    p.studyCols = 1 + in.byte() % 48;
    p.studyRows = 1 + in.byte() % 48;
    p.swLon = -118.343F;
    p.swLat = 34.2314F;
    std::array<std::uint16_t, 4> lengths{};
    for (auto& length : lengths) {
        length = in.word();
    }
    static constexpr std::array<const char*, 4> kNames{"modDem.bin", "flowDir.bin", "flowAcc.bin",
                                                       "riverNum.bin"};
    const auto topoDir = hydro::fuzz::scratchDir() / "topoData";
    for (std::size_t f = 0; f < kNames.size(); ++f) {
        hydro::fuzz::writeFile(topoDir / kNames[f], in.take(lengths[f]));
    }

    const auto grid = hydro::buildDrainageNetwork(topoDir, p);
    if (!grid) {
        requirePrintableLine(grid.error().message);
        return 0;
    }
    checkNetwork(*grid);
    // Every river of the grid listed: the elevation check then looks at every river cell.
    std::vector<std::int32_t> numbers;
    for (const hydro::GridCell& cell : grid->cells) {
        numbers.push_back(cell.riverNum);
    }
    const hydro::RiverList rivers(numbers);
    if (const hydro::Status e = hydro::checkElevationsFinite(*grid, rivers); !e) {
        requirePrintableLine(e.error().message);
    }
    return 0;
}
