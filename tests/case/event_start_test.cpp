#include "case/event_start.h"

#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace hydro {
namespace {

EventStart readFrom(const std::string& text) {
    test::TempDir dir;
    test::writeText(dir / "rain.dat", text);
    const auto start = readEventStart(dir / "rain.dat");
    EXPECT_TRUE(start.ok());
    return start.ok() ? *start : EventStart{};
}

TEST(EventStart, TheFirstBlockHeaderDatesTheEvent) {
    const EventStart radar = readFrom("2022 10 18 0 50 0 1.5 2\n2022 10 18 1 50 0 0 0\n");
    EXPECT_FALSE(radar.fallback);
    EXPECT_EQ(radar.unitsText(), "2022-10-18 00:50:00");
    // Hour h ends at start + h hours.
    EXPECT_EQ(radar.hourEnd(1), "2022-10-18T01:50:00Z");
    EXPECT_EQ(radar.hourEnd(24), "2022-10-19T00:50:00Z");
    // Across months, years and leap days.
    EXPECT_EQ(readFrom("2023 12 31 23 0 0").hourEnd(1), "2024-01-01T00:00:00Z");
    EXPECT_EQ(readFrom("2024 2 28 12 0 0").hourEnd(24), "2024-02-29T12:00:00Z");
    EXPECT_EQ(readFrom("2100 2 28 12 0 0").hourEnd(24), "2100-03-01T12:00:00Z");
    EXPECT_EQ(readFrom("1969 12 31 23 30 0").unixSeconds(), -1800);
}

TEST(EventStart, AHeaderThatIsNoDateFallsBackTo2000) {
    for (const char* text : {"0 0 0 0 0 0 1", "2023 2 29 0 0 0", "2022 13 1 0 0 0",
                             "2022 1 1 24 0 0", "2022 1 1 0 60 0", "2022 1 1 0 0", "x", ""}) {
        SCOPED_TRACE(text);
        const EventStart s = readFrom(text);
        EXPECT_TRUE(s.fallback);
        EXPECT_EQ(s.hourEnd(1), "2000-01-01T01:00:00Z");
    }
    test::TempDir dir;
    EXPECT_EQ(readEventStart(dir / "missing.dat").error().message, "ROF file cannot open.");
}

}  // namespace
}  // namespace hydro
