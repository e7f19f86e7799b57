// The nearest known option to one a program does not know.

#include "common/option_hint.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <string_view>

namespace hydro {
namespace {

constexpr std::array<std::string_view, 4> kKnown{"--dem-crs", "--snap-radius", "--outlets",
                                                 "--flow-dir"};

TEST(OptionHint, MisspellingsAndPartsFindTheirOption) {
    EXPECT_EQ(nearestOption("--snap-raduis", kKnown), "--snap-radius");
    EXPECT_EQ(nearestOption("--outlet", kKnown), "--outlets");
    EXPECT_EQ(nearestOption("--crs", kKnown), "--dem-crs");
    EXPECT_EQ(nearestOption("--radius", kKnown), "--snap-radius");
    EXPECT_EQ(nearestOption("--flow-dirs", kKnown), "--flow-dir");
    // Nothing near, too short to be a part, a known option itself, something very long.
    EXPECT_EQ(nearestOption("--frobnicate", kKnown), std::nullopt);
    EXPECT_EQ(nearestOption("--x", kKnown), std::nullopt);
    EXPECT_EQ(nearestOption("--outlets", kKnown), std::nullopt);
    EXPECT_EQ(nearestOption("--" + std::string(100000, 'a'), kKnown), std::nullopt);
    EXPECT_EQ(unknownOptionLine("--crs", kKnown, "make_case terrain", "make_case --help"),
              "Unknown option --crs of make_case terrain; did you mean --dem-crs? See make_case "
              "--help.");
    // What was typed comes short and printable.
    EXPECT_EQ(unknownOptionLine("--\x1b[2J", kKnown, "", "x --help"),
              "Unknown option --\\x1B[2J; see x --help.");
}

TEST(OptionHint, MisspeltColumnsAreToldFromOtherColumns) {
    constexpr std::array<std::string_view, 4> kColumns{"id", "lon", "lat", "area_km2"};
    EXPECT_EQ(misspeltName("area_km", kColumns), "area_km2");
    EXPECT_EQ(misspeltName("area", kColumns), "area_km2");
    EXPECT_EQ(misspeltName("long", kColumns), "lon");
    EXPECT_EQ(misspeltName("name", kColumns), std::nullopt);
    EXPECT_EQ(misspeltName("station_id", kColumns), std::nullopt);
    EXPECT_EQ(misspeltName("lat", kColumns), std::nullopt);
}

}  // namespace
}  // namespace hydro
