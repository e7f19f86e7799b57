// The time parser on any bytes. The first byte chooses what is read: bit 0 an ISO 8601
// date-time (bit 1: a date alone accepted) or CF units, whose value comes from the next eight
// bytes; the rest is the text. Whatever the text, the result is an instant within the years
// 1 to 9999 that reads back from its own ISO 8601 text, or a reason that makes one printable
// line with the quoted text.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "case/event_start.h"
#include "case/time_parse.h"
#include "common/number_stream.h"
#include "fuzz/fuzz_support.h"

using hydro::fuzz::require;
using hydro::fuzz::requirePrintableLine;

namespace {

void checkInstant(std::int64_t t) {
    require(t >= hydro::kFirstInstant && t <= hydro::kLastInstant, "an instant out of range");
    const std::string text = hydro::fromUnixSeconds(t).isoAfter(0);
    const auto again = hydro::parseIsoInstant(text);
    require(again.ok() && *again == t, "an instant that does not read back from its text");
}

void checkError(std::string_view text, const hydro::Error& error) {
    requirePrintableLine("\"" + hydro::quoteToken(text) + "\" " + error.message + ".");
    require(error.message.size() < 100, "a long reason");
}

}  // namespace

// libFuzzer calls this with each input.
extern "C" int LLVMFuzzerTestOneInput(  // NOLINT(readability-identifier-naming)
    const std::uint8_t* data, std::size_t size) {
    hydro::fuzz::ByteCursor in(data, size);
    const std::uint8_t mode = in.byte();
    if ((mode & 1U) == 0) {
        const auto rest = in.rest();
        const std::string_view text(reinterpret_cast<const char*>(rest.data()), rest.size());
        const auto t = hydro::parseIsoInstant(
            text, (mode & 2U) != 0 ? hydro::DateAlone::kAccepted : hydro::DateAlone::kRefused);
        if (t) {
            checkInstant(*t);
        } else {
            checkError(text, t.error());
        }
        return 0;
    }
    const auto raw = in.take(sizeof(double));
    double value = 0.0;
    std::memcpy(&value, raw.data(), raw.size());
    const auto rest = in.rest();
    const std::string_view text(reinterpret_cast<const char*>(rest.data()), rest.size());
    const auto units = hydro::parseCfTimeUnits(text);
    if (!units) {
        checkError(text, units.error());
        return 0;
    }
    require(units->secondsPerUnit >= 1 && units->secondsPerUnit <= 86400, "an unknown unit");
    checkInstant(units->reference);
    const auto t = hydro::cfInstant(*units, value);
    if (t) {
        checkInstant(*t);
    } else {
        checkError(text, t.error());
    }
    return 0;
}
