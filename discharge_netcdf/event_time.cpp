#include "discharge_netcdf/event_time.h"

#include <chrono>
#include <cstdio>

namespace hydro::results {

namespace {

/// Days from 1970-01-01 to the given civil date (proleptic Gregorian calendar).
std::int64_t daysFromCivil(std::int64_t y, std::int64_t m, std::int64_t d) {
    y -= m <= 2 ? 1 : 0;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

std::string isoFromEpochSeconds(std::int64_t seconds) {
    std::int64_t days = seconds / 86400;
    std::int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    // Civil date from days since 1970-01-01.
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t doe = days - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const std::int64_t d = doy - (153 * mp + 2) / 5 + 1;
    const std::int64_t m = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t y = yoe + era * 400 + (m <= 2 ? 1 : 0);
    char buf[128];
    std::snprintf(buf, sizeof buf, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lldZ",
                  static_cast<long long>(y), static_cast<long long>(m), static_cast<long long>(d),
                  static_cast<long long>(rest / 3600), static_cast<long long>(rest / 60 % 60),
                  static_cast<long long>(rest % 60));
    return buf;
}

std::int64_t startEpochSeconds(const EventStart& s) {
    return daysFromCivil(s.year, s.month, s.day) * 86400 + std::int64_t{s.hour} * 3600
           + std::int64_t{s.minute} * 60 + s.second;
}

}  // namespace

std::string hoursSinceUnits(const EventStart& s) {
    char buf[128];
    std::snprintf(buf, sizeof buf, "hours since %04d-%02d-%02d %02d:%02d:%02d", s.year, s.month,
                  s.day, s.hour, s.minute, s.second);
    return buf;
}

std::string isoHourEnd(const EventStart& start, std::int64_t hour) {
    return isoFromEpochSeconds(startEpochSeconds(start) + hour * 3600);
}

std::string isoNow() {
    const auto now = std::chrono::system_clock::now();
    return isoFromEpochSeconds(
        std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count());
}

}  // namespace hydro::results
