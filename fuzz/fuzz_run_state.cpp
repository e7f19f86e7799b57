// A state file of the simulator, read back completely and, once decoded, written and read
// again.
//
// Input: one byte of the target's own, then the bytes of the file. When that byte is odd the
// file's last four bytes are replaced by the CRC-32C of the bytes before them, so that the
// decoder behind the checksum is explored and not only the checksum's refusal.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "case/run_state.h"
#include "common/digest.h"
#include "fuzz/fuzz_support.h"

using hydro::fuzz::require;
using hydro::fuzz::requirePrintableLine;

namespace {

/// The checks every decoded state must pass: its sizes agree, its cells lie ascending on
/// its grid, its scheme is one of the two.
void requireSound(const hydro::RunState& s) {
    require(s.origin.spaceSteps >= 1, "a state without space steps");
    require(s.values.size() == s.positions.size() * s.valuesPerCell(), "values and cells disagree");
    require(s.origin.scheme <= 1, "a scheme beyond the two");
    const std::int64_t frame =
        static_cast<std::int64_t>(s.origin.columns) * static_cast<std::int64_t>(s.origin.rows);
    for (std::size_t c = 0; c < s.positions.size(); ++c) {
        require(s.positions[c] >= 0 && s.positions[c] < frame, "a cell off the grid");
        require(c == 0 || s.positions[c - 1] < s.positions[c], "cells not ascending");
    }
}

}  // namespace

// libFuzzer calls this with each input.
extern "C" int LLVMFuzzerTestOneInput(  // NOLINT(readability-identifier-naming)
    const std::uint8_t* data, std::size_t size) {
    const hydro::fuzz::DescriptorCheck descriptors;
    hydro::fuzz::ByteCursor in(data, size);
    const bool patch = (in.byte() & 1U) != 0;
    const auto rest = in.rest();
    std::vector<std::uint8_t> file(rest.begin(), rest.end());
    if (patch && file.size() >= 4) {
        const std::uint32_t crc =
            hydro::crc32c(std::as_bytes(std::span(file).first(file.size() - 4)));
        for (std::size_t k = 0; k < 4; ++k) {
            file[file.size() - 4 + k] = static_cast<std::uint8_t>(crc >> (8U * k));
        }
    }
    const auto path = hydro::fuzz::scratchDir() / "hour.state";
    hydro::fuzz::writeFile(path, file);

    const auto state = hydro::readState(path);
    if (!state) {
        requirePrintableLine(state.error().message);
        return 0;
    }
    requireSound(*state);
    // What was decoded is written and read back the same.
    const auto again = hydro::fuzz::scratchDir() / "again.state";
    require(static_cast<bool>(hydro::writeState(again, *state)), "a decoded state not written");
    const auto back = hydro::readState(again);
    require(static_cast<bool>(back), "a written state not read back");
    require(back->positions == state->positions && back->time == state->time
                && back->run.rivers.size() == state->run.rivers.size()
                && back->values.size() == state->values.size()
                && std::memcmp(back->values.data(), state->values.data(),
                               state->values.size() * sizeof(double))
                       == 0,
            "a state read back differs");
    return 0;
}
