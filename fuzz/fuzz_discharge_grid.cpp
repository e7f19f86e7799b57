// A discharge grid file opened for a frame shape and a number of frames that come from the
// first input bytes, then read frame by frame and as one cell's series.
//
// Input: columns (byte, below 33), rows (byte, below 33), frames needed (byte, below 64), then
// the bytes of the file. A shape of 0 columns or rows is tried too: the post-processors accept
// such a parameter file.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "case/discharge_grid.h"
#include "fuzz/fuzz_support.h"

using hydro::fuzz::require;
using hydro::fuzz::requirePrintableLine;

// libFuzzer calls this with each input.
extern "C" int LLVMFuzzerTestOneInput(  // NOLINT(readability-identifier-naming)
    const std::uint8_t* data, std::size_t size) {
    const hydro::fuzz::DescriptorCheck descriptors;
    hydro::fuzz::ByteCursor in(data, size);
    hydro::GridShape shape;
    shape.cols = in.byte() % 33;
    shape.rows = in.byte() % 33;
    const std::uint64_t framesNeeded = in.byte() % 64;
    const auto file = in.rest();
    const auto path = hydro::fuzz::scratchDir() / "dischargeHourly.bin";
    hydro::fuzz::writeFile(path, file);

    hydro::DischargeGrid grid;
    const auto opened = grid.open(path, shape, framesNeeded);
    if (!opened) {
        requirePrintableLine(opened.error().message);
        return 0;
    }
    const auto cells = static_cast<std::size_t>(shape.cellCount());
    require(grid.frames() >= framesNeeded, "fewer frames than needed accepted");
    require(cells == 0 || grid.frames() * cells * 4U == file.size(),
            "a file that is not whole frames accepted");
    std::vector<float> frame(cells);
    for (std::uint64_t f = 0; f < grid.frames(); ++f) {
        const auto read = grid.readFrame(f, frame);
        require(read.ok(), "a frame of an accepted file cannot be read");
    }
    if (cells > 0) {
        const auto series =
            grid.readCellSeries(static_cast<std::int64_t>(cells) - 1, grid.frames());
        require(series.ok() && series->size() == grid.frames(),
                "the last cell's series of an accepted file cannot be read");
    }
    return 0;
}
