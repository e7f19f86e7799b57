// The outlets table of make_case on any bytes: the input is the file's text. Whatever the
// text, the result is a non-empty list of outlets with ids of their own, a finite longitude,
// a latitude within ±90 and a positive finite area when one is given, or one printable line.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "make_case/outlets.h"

using hydro::fuzz::require;
using hydro::fuzz::requirePrintableLine;

// libFuzzer calls this with each input.
extern "C" int LLVMFuzzerTestOneInput(  // NOLINT(readability-identifier-naming)
    const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto parsed = hydro::make_case::parseOutlets(text, "outlets.csv");
    if (!parsed) {
        requirePrintableLine(parsed.error().message);
        return 0;
    }
    require(!parsed->empty(), "an outlet list without outlets");
    std::set<std::string> ids;
    for (const auto& o : *parsed) {
        require(!o.id.empty() && ids.insert(o.id).second, "an empty or repeated outlet id");
        require(std::isfinite(o.lon) && o.lat >= -90.0 && o.lat <= 90.0, "an outlet off the globe");
        require(!o.areaKm2 || (std::isfinite(*o.areaKm2) && *o.areaKm2 > 0.0),
                "an outlet area that is not a positive number");
    }
    return 0;
}
