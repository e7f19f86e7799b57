#pragma once

// Times as the suite reads them: ISO 8601 date-times (with a UTC offset or "Z") and CF time
// units ("hours since 2022-10-18 00:00:00 +02:00"). Every date is one of the proleptic
// Gregorian calendar in the years 1 to 9999; an instant is a count of seconds from
// 1970-01-01T00:00:00Z (no leap seconds). Errors are values whose message is the predicate of
// a sentence about the text ("is no date of the calendar"; for units, "are not known (...)"):
// callers name the file or option, quote the value and put the two together.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/result.h"

namespace hydro {

/// 0001-01-01T00:00:00Z and 9999-12-31T23:59:59Z, the first and last instants the suite takes.
inline constexpr std::int64_t kFirstInstant = -62135596800;
inline constexpr std::int64_t kLastInstant = 253402300799;

/// The reason given for instants outside kFirstInstant..kLastInstant.
inline constexpr const char* kOutsideYears = "lies outside the years 1 to 9999";

/// The reason given for text that is no ISO 8601 date-time at all (callers may add an example).
inline constexpr std::string_view kNotIsoTime = "is not an ISO 8601 time";

/// True for a leap year of the proleptic Gregorian calendar.
[[nodiscard]] constexpr bool isLeapYear(std::int64_t year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

/// Days of `month` (1..12) in `year`.
[[nodiscard]] std::int32_t daysInMonth(std::int64_t year, std::int32_t month);

/// Days from 1970-01-01 to the date (year, month, day); month 1..12, day 1..31, year within
/// +-1e9 (no check of the day against the month).
[[nodiscard]] std::int64_t daysFromCivil(std::int64_t year, std::int64_t month, std::int64_t day);

/// The instant of a UTC date and time, or nothing unless the year is 1..9999, the month 1..12,
/// the day within the month, the hour 0..23, the minute 0..59 and the second 0..59.
[[nodiscard]] std::optional<std::int64_t> civilInstant(std::int64_t year, std::int64_t month,
                                                       std::int64_t day, std::int64_t hour,
                                                       std::int64_t minute, std::int64_t second);

/// `instant + seconds` when both are any int64 and the sum lies within
/// kFirstInstant..kLastInstant; nothing otherwise (no overflow).
[[nodiscard]] std::optional<std::int64_t> instantPlus(std::int64_t instant, std::int64_t seconds);

/// Whether a date alone (midnight UTC) is taken where a date and time is expected.
enum class DateAlone { kRefused, kAccepted };

/// An ISO 8601 date-time as an instant. Accepted: "YYYY-MM-DD", then "T" (or "t", or blanks)
/// and "hh:mm", optionally ":ss" and a fraction of a second (rounded to the nearest second),
/// then optionally, after blanks or none, "Z", "UTC" or an offset "+hh:mm", "+hhmm", "+hh"
/// (or "-"), which is subtracted to give UTC; no zone is UTC. Fields may have fewer digits
/// ("2022-1-5 6:00", as CF references are often written); the hour runs 0..23 (24:00 is
/// refused). Blanks around the text are ignored. The date alone is midnight when `dateAlone`
/// accepts it.
[[nodiscard]] Result<std::int64_t> parseIsoInstant(std::string_view text,
                                                   DateAlone dateAlone = DateAlone::kRefused);

/// CF time units: seconds per unit and the reference instant.
struct CfTimeUnits {
    std::int64_t secondsPerUnit = 1;
    std::int64_t reference = 0;
};

/// "UNIT since REFERENCE", in any case: UNIT one of seconds (second, secs, sec, s), minutes
/// (minute, mins, min), hours (hour, hrs, hr, h) or days (day, d); REFERENCE as
/// parseIsoInstant takes it, a date alone included.
[[nodiscard]] Result<CfTimeUnits> parseCfTimeUnits(std::string_view units);

/// True for the calendars whose dates are those of the proleptic Gregorian calendar here:
/// none given (empty), "standard", "gregorian" and "proleptic_gregorian", in any case.
[[nodiscard]] bool isGregorianCalendar(std::string_view calendar);

/// The instant `value` units after the reference, rounded to the nearest second; an error when
/// the value is not finite or the instant lies outside the years 1 to 9999.
[[nodiscard]] Result<std::int64_t> cfInstant(const CfTimeUnits& units, double value);

}  // namespace hydro
