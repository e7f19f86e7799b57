// The one time parser of the suite: ISO 8601 date-times and CF time units in every form the
// tools take (--start, rain-gauge records, observation stamps, NetCDF references), each date
// checked against the calendar and the years 1 to 9999, and CF values kept in range.

#include "case/time_parse.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace hydro {
namespace {

constexpr std::int64_t k2000 = 946684800;       // 2000-01-01T00:00:00Z
constexpr std::int64_t k20221018 = 1666051200;  // 2022-10-18T00:00:00Z

TEST(TimeParse, IsoDateTimesInEveryFormTheToolsMeet) {
    struct Case {
        const char* text;
        std::int64_t instant;
    };
    const Case cases[] = {
        {"1970-01-01T00:00:00Z", 0},
        {"2000-01-01T01:00:00Z", k2000 + 3600},
        {"2000-01-01T01:00Z", k2000 + 3600},  // minutes only
        {"2000-01-01T01:00:00+00:00", k2000 + 3600},
        {"2000-01-01 01:00:00", k2000 + 3600},  // no zone: UTC
        {"  2000-01-01t01:00z ", k2000 + 3600},
        {"2000-01-01T03:00+02:00", k2000 + 3600},  // offsets give UTC
        {"2000-01-01T03:00:00+0200", k2000 + 3600},
        {"2000-01-01T03:00:00+02", k2000 + 3600},
        {"1999-12-31T23:00:00-02:00", k2000 + 3600},
        {"2000-01-01T05:30:00+05:30", k2000},
        {"2022-10-18T05:00:00+02:00", k20221018 + 3 * 3600},
        {"2022-10-18 05:00:00 +02:00", k20221018 + 3 * 3600},
        {"2022-10-18 05:00:00 UTC", k20221018 + 5 * 3600},
        {"2022-10-18T05:00:00.4Z", k20221018 + 5 * 3600},  // fractions to the nearest second
        {"2022-10-18T05:00:00.5Z", k20221018 + 5 * 3600 + 1},
        {"2022-10-18T04:59:59,999Z", k20221018 + 5 * 3600},
        {"2022-1-8 6:00", k20221018 - 283 * 86400 + 6 * 3600},  // short fields, as in CF
        {"2024-02-29T00:00:00Z", 1709164800},                   // leap year
        {"2000-02-29T00:00:00Z", 951782400},                    // leap century
        {"0001-01-01T00:00:00Z", kFirstInstant},
        {"9999-12-31T23:59:59Z", kLastInstant},
        {"0001-01-01T01:00:00+01:00", kFirstInstant},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const auto t = parseIsoInstant(c.text);
        ASSERT_TRUE(t.ok()) << t.error().message;
        EXPECT_EQ(*t, c.instant);
    }
    // A date alone is midnight only where it is taken (--start, CF references).
    EXPECT_EQ(*parseIsoInstant("2022-10-18", DateAlone::kAccepted), k20221018);
    EXPECT_EQ(*parseIsoInstant("2022-10-18 +02:00", DateAlone::kAccepted), k20221018 - 7200);
    EXPECT_EQ(parseIsoInstant("2022-10-18").error().message, "gives a date without a time of day");
}

TEST(TimeParse, RefusedDateTimesSayWhy) {
    struct Case {
        const char* text;
        const char* reason;
    };
    const std::string notIso = "is not an ISO 8601 time";
    const std::string noDate = "is no date of the calendar";
    const Case cases[] = {
        {"", notIso.c_str()},
        {"yesterday", notIso.c_str()},
        {"2000/01/02T03:00Z", notIso.c_str()},
        {"2000-01-02T03:0xZ", notIso.c_str()},
        {"2000-01-02T", notIso.c_str()},
        {"2000-01-02T03", notIso.c_str()},
        {"2000-01-02T03:00:00Z junk", notIso.c_str()},
        {"-2000-01-02T03:00Z", notIso.c_str()},
        {"2000-01-02T03:00:00+2:0", "has a UTC offset that is not +hh:mm, +hhmm or +hh"},
        {"2000-01-02T03:00:00+24:00", "has a UTC offset that is not +hh:mm, +hhmm or +hh"},
        {"2000-01-02T03:00:00+020", "has a UTC offset that is not +hh:mm, +hhmm or +hh"},
        {"2022-02-30T00:00Z", noDate.c_str()},
        {"2023-02-29T00:00Z", noDate.c_str()},  // not a leap year
        {"1900-02-29T00:00Z", noDate.c_str()},  // nor is a century
        {"2000-13-02T03:00Z", noDate.c_str()},
        {"2000-00-02T03:00Z", noDate.c_str()},
        {"2000-04-31T03:00Z", noDate.c_str()},
        {"2000-01-02T24:00Z", "is no time of day (00:00 to 23:59:59)"},
        {"2000-01-02T23:60Z", "is no time of day (00:00 to 23:59:59)"},
        {"2000-01-02T23:59:60Z", "is no time of day (00:00 to 23:59:59)"},
        {"0000-01-01T00:00:00Z", kOutsideYears},
        {"10000-01-01T00:00:00Z", kOutsideYears},
        {"9999-12-31T23:59:59.5Z", kOutsideYears},
        {"9999-12-31T23:00:00-01:00", kOutsideYears},
        {"0001-01-01T00:00:00+00:01", kOutsideYears},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const auto t = parseIsoInstant(c.text);
        ASSERT_FALSE(t.ok()) << *t;
        EXPECT_EQ(t.error().message, c.reason);
    }
}

TEST(TimeParse, CfUnitsAndValues) {
    struct Case {
        const char* units;
        double value;
        std::int64_t instant;
    };
    const Case cases[] = {
        {"hours since 2022-10-18 00:00:00", 5.0, k20221018 + 5 * 3600},
        {"hours since 2022-10-18 00:00:00 +02:00", 5.0, k20221018 + 3 * 3600},
        {"hours since 2022-10-18T00:00:00Z", 5.0, k20221018 + 5 * 3600},
        {"Hours Since 2022-10-18", 5.0, k20221018 + 5 * 3600},
        {"  h  since  2022-10-18 00:00 ", 0.5, k20221018 + 1800},
        {"hrs since 2022-10-18", 1.0, k20221018 + 3600},
        {"seconds since 1970-01-01 00:00:00", 12.6, 13},
        {"s since 1970-1-1", -12.6, -13},
        {"minutes since 2000-01-01 00:00", 90.0, k2000 + 5400},
        {"min since 2000-01-01", 1.0, k2000 + 60},
        {"days since 2000-01-01", 1.5, k2000 + 36 * 3600},
        {"d since 1-1-1", 0.0, kFirstInstant},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.units);
        const auto u = parseCfTimeUnits(c.units);
        ASSERT_TRUE(u.ok()) << u.error().message;
        const auto t = cfInstant(*u, c.value);
        ASSERT_TRUE(t.ok()) << t.error().message;
        EXPECT_EQ(*t, c.instant);
    }
    const std::string unknown = "are not known (seconds, minutes, hours or days since a date)";
    for (const char* bad : {"", "hours", "hours since", "fortnights since 2022-10-18",
                            "hours after 2022-10-18", "hourssince 2022-10-18"}) {
        SCOPED_TRACE(bad);
        const auto u = parseCfTimeUnits(bad);
        ASSERT_FALSE(u.ok());
        EXPECT_EQ(u.error().message, unknown);
    }
    EXPECT_EQ(parseCfTimeUnits("hours since 2022-02-30").error().message,
              "give a reference date that is no date of the calendar");
    EXPECT_EQ(parseCfTimeUnits("days since 0000-01-01").error().message,
              "give a reference date that lies outside the years 1 to 9999");
    EXPECT_EQ(parseCfTimeUnits("hours since 2022-10-18 00:00:00 CET").error().message,
              "give a reference date that is not an ISO 8601 time");

    // Values far outside the years 1 to 9999 are refused by range, never by overflow.
    const CfTimeUnits hours = *parseCfTimeUnits("hours since 1970-01-01");
    for (const double v : {-1e10, 1e10, 1e300, -1e300, 3e6 * 24}) {
        SCOPED_TRACE(v);
        EXPECT_EQ(cfInstant(hours, v).error().message, kOutsideYears);
    }
    for (const double v : {std::nan(""), std::numeric_limits<double>::infinity()}) {
        EXPECT_EQ(cfInstant(hours, v).error().message, "is not a number");
    }
    const CfTimeUnits late = *parseCfTimeUnits("seconds since 9999-12-31 23:59:00");
    EXPECT_EQ(*cfInstant(late, 59.0), kLastInstant);
    EXPECT_FALSE(cfInstant(late, 60.0).ok());

    EXPECT_TRUE(isGregorianCalendar(""));
    EXPECT_TRUE(isGregorianCalendar("Proleptic_Gregorian"));
    EXPECT_FALSE(isGregorianCalendar("noleap"));
    EXPECT_FALSE(isGregorianCalendar("360_day"));
}

TEST(TimeParse, CheckedSumsOfInstants) {
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
    EXPECT_EQ(instantPlus(0, 3600), 3600);
    EXPECT_EQ(instantPlus(kLastInstant, 0), kLastInstant);
    EXPECT_FALSE(instantPlus(kLastInstant, 1));
    EXPECT_FALSE(instantPlus(kFirstInstant, -1));
    EXPECT_FALSE(instantPlus(0, kMax));
    EXPECT_FALSE(instantPlus(0, kMin));
    EXPECT_FALSE(instantPlus(kMax, kMin));
    EXPECT_FALSE(instantPlus(kMin, kMax));
    EXPECT_EQ(civilInstant(2000, 1, 1, 0, 0, 0), k2000);
    EXPECT_FALSE(civilInstant(2023, 2, 29, 0, 0, 0));
    EXPECT_FALSE(civilInstant(0, 1, 1, 0, 0, 0));
}

}  // namespace
}  // namespace hydro
