// The river list: its lines counted, then its records read as a stream of values.

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "case/river_list.h"
#include "fuzz/fuzz_support.h"

using hydro::fuzz::require;
using hydro::fuzz::requirePrintableLine;

// libFuzzer calls this with each input.
extern "C" int LLVMFuzzerTestOneInput(  // NOLINT(readability-identifier-naming)
    const std::uint8_t* data, std::size_t size) {
    const hydro::fuzz::DescriptorCheck descriptors;
    const auto path = hydro::fuzz::scratchDir() / "riverNumList.dat";
    hydro::fuzz::writeFile(path, {data, size});

    const auto count = hydro::countRiverLines(path);
    if (!count) {
        requirePrintableLine(count.error().message);
        return 0;
    }
    require(*count >= 0 && *count <= static_cast<std::int64_t>(size), "more lines than bytes");
    const auto list = hydro::readRiverList(path, *count);
    if (!list) {
        requirePrintableLine(list.error().message);
        return 0;
    }
    const auto& rivers = list->sorted();
    require(static_cast<std::int64_t>(rivers.size()) <= *count, "more rivers than lines");
    require(std::is_sorted(rivers.begin(), rivers.end()), "the river numbers are not sorted");
    for (const std::int32_t r : rivers) {
        require(r >= 0 && list->isListedRiver(r), "a kept river number is not listed");
    }
    require(!list->isListedRiver(-1), "a negative river number is listed");
    return 0;
}
