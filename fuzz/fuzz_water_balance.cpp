// The simulator's water balance table as the tools read it back: any bytes give either a
// table whose rows are in order and whose numbers are finite, or one printable line.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "results/run_record.h"

using hydro::fuzz::require;
using hydro::fuzz::requirePrintableLine;

namespace {

void requireFinite(const hydro::results::BalanceRow& r) {
    for (const double v :
         {r.rain, r.initialStorage, r.inflow, r.outflow, r.finalStorage, r.residual}) {
        require(std::isfinite(v), "a volume that is not a finite number");
    }
    require(r.cells >= 0, "a negative cell count");
    for (const auto& v : {r.residualShare, r.toOtherRivers, r.runoffCoefficient}) {
        require(!v || std::isfinite(*v), "a share or volume that is not a finite number");
    }
    for (std::size_t k = 0; k < r.upstreamRivers.size(); ++k) {
        require(
            r.upstreamRivers[k] >= 0 && (k == 0 || r.upstreamRivers[k] > r.upstreamRivers[k - 1]),
            "upstream rivers out of ascending order");
    }
    if (r.catchment) {
        const hydro::results::CatchmentBalance& c = *r.catchment;
        for (const double v : {c.rain, c.initialStorage, c.outflow, c.finalStorage, c.residual}) {
            require(std::isfinite(v), "a catchment volume that is not a finite number");
        }
        require(c.cells >= 0, "a negative catchment cell count");
    }
}

}  // namespace

// libFuzzer calls this with each input.
extern "C" int LLVMFuzzerTestOneInput(  // NOLINT(readability-identifier-naming)
    const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto parsed = hydro::results::parseWaterBalance(text, "output/water_balance.csv");
    if (!parsed) {
        requirePrintableLine(parsed.error().message);
        return 0;
    }
    require(parsed->scheme == "linear" || parsed->scheme == "conservative", "an unknown scheme");
    std::int32_t previous = -1;
    for (const auto& r : parsed->rivers) {
        require(r.river > previous, "rivers out of ascending order");
        previous = r.river;
        requireFinite(r);
    }
    requireFinite(parsed->all);
    return 0;
}
