#include "case/event_start.h"

#include <array>
#include <iomanip>
#include <sstream>

#include "case/time_parse.h"
#include "common/number_stream.h"

namespace hydro {

namespace {

constexpr std::int64_t kSecondsPerDay = 86400;

bool isValid(const std::array<std::int32_t, 6>& v) {
    return civilInstant(v[0], v[1], v[2], v[3], v[4], v[5]).has_value();
}

}  // namespace

std::int64_t EventStart::unixSeconds() const {
    return daysFromCivil(year, month, day) * kSecondsPerDay + std::int64_t{hour} * 3600
           + std::int64_t{minute} * 60 + second;
}

EventStart fromUnixSeconds(std::int64_t unixSeconds) {
    std::int64_t days = unixSeconds / kSecondsPerDay;
    std::int64_t rest = unixSeconds % kSecondsPerDay;
    if (rest < 0) {
        rest += kSecondsPerDay;
        --days;
    }
    // Civil date from days since 1970-01-01 (the inverse of daysFromCivil).
    const std::int64_t z = days + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const std::int64_t d = doy - (153 * mp + 2) / 5 + 1;
    const std::int64_t m = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t y = yoe + era * 400 + (m <= 2 ? 1 : 0);
    EventStart t;
    t.year = static_cast<std::int32_t>(y);
    t.month = static_cast<std::int32_t>(m);
    t.day = static_cast<std::int32_t>(d);
    t.hour = static_cast<std::int32_t>(rest / 3600);
    t.minute = static_cast<std::int32_t>(rest % 3600 / 60);
    t.second = static_cast<std::int32_t>(rest % 60);
    return t;
}

namespace {

/// "YYYY-MM-DD<separator>hh:mm:ss".
std::string dateTimeText(const EventStart& t, char separator) {
    std::ostringstream text;
    text << std::setfill('0') << std::setw(4) << t.year << '-' << std::setw(2) << t.month << '-'
         << std::setw(2) << t.day << separator << std::setw(2) << t.hour << ':' << std::setw(2)
         << t.minute << ':' << std::setw(2) << t.second;
    return text.str();
}

}  // namespace

std::string EventStart::isoAfter(std::int64_t seconds) const {
    return dateTimeText(fromUnixSeconds(unixSeconds() + seconds), 'T') + "Z";
}

std::string EventStart::unitsText() const {
    return dateTimeText(*this, ' ');
}

Result<EventStart> readEventStart(const std::filesystem::path& rainPath) {
    TokenReader tokens;
    if (!tokens.open(rainPath)) {
        return Error{"ROF file cannot open.", ErrorKind::kCannotOpen};
    }
    std::array<std::int32_t, 6> v{};
    for (auto& field : v) {
        const auto tok = tokens.next();
        const auto value = tok ? parseInt32(*tok) : std::nullopt;
        if (!value) {
            EventStart fallback;
            fallback.fallback = true;
            return fallback;
        }
        field = *value;
    }
    if (!isValid(v)) {
        EventStart fallback;
        fallback.fallback = true;
        return fallback;
    }
    return EventStart{v[0], v[1], v[2], v[3], v[4], v[5], false};
}

}  // namespace hydro
