#include "results/grid_vrt.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace hydro::results {

namespace {

/// Texts of every element `tag` in document order (the documents here nest nothing inside).
std::vector<std::string> elementTexts(const std::string& doc, const std::string& tag) {
    std::vector<std::string> out;
    const std::string open = "<" + tag;
    const std::string close = "</" + tag + ">";
    for (auto at = doc.find(open); at != std::string::npos; at = doc.find(open, at + 1)) {
        const auto begin = doc.find('>', at) + 1;
        out.push_back(doc.substr(begin, doc.find(close, begin) - begin));
    }
    return out;
}

std::vector<double> numbers(const std::string& commaSeparated) {
    std::vector<double> out;
    std::istringstream in(commaSeparated);
    for (std::string item; std::getline(in, item, ',');) {
        out.push_back(std::strtod(item.c_str(), nullptr));
    }
    return out;
}

std::string vrtOf(const GridFrameLayout& layout, const std::vector<std::string>& bands,
                  const std::string& file = "grid.bin") {
    std::ostringstream out;
    writeGridVrt(out, file, layout, bands);
    return out.str();
}

TEST(GridVrt, BandsAreNamedByDayAndHour) {
    const auto daily = dailyBandNames(3);
    ASSERT_EQ(daily.size(), 3U);
    EXPECT_EQ(daily[2], "day 3");
    const auto hourly = hourlyBandNames(3);
    ASSERT_EQ(hourly.size(), 72U);
    EXPECT_EQ(hourly[0], "day 1 hour 1");
    EXPECT_EQ(hourly[23], "day 1 hour 24");
    EXPECT_EQ(hourly[54], "day 3 hour 7");
}

// A reader of the VRT finds pixel (x from the west, y from the north) of band b at
// ImageOffset + y * LineOffset + x * PixelOffset. The raw frames store the southern row first.
TEST(GridVrt, EveryPixelReadsItsOwnCellNorthUp) {
    const GridFrameLayout layout{4, 3, 10.0F, 20.0F};
    const std::string doc = vrtOf(layout, {"a", "b"});
    EXPECT_NE(doc.find(R"(<VRTDataset rasterXSize="4" rasterYSize="3">)"), std::string::npos);
    const auto offsets = elementTexts(doc, "ImageOffset");
    const auto lines = elementTexts(doc, "LineOffset");
    const auto pixels = elementTexts(doc, "PixelOffset");
    ASSERT_EQ(offsets.size(), 2U);
    ASSERT_EQ(lines.size(), 2U);
    ASSERT_EQ(pixels.size(), 2U);
    for (std::int64_t b = 0; b < 2; ++b) {
        const auto bi = static_cast<std::size_t>(b);
        for (std::int64_t y = 0; y < 3; ++y) {
            for (std::int64_t x = 0; x < 4; ++x) {
                const std::int64_t byte = std::stoll(offsets[bi]) + y * std::stoll(lines[bi])
                                          + x * std::stoll(pixels[bi]);
                const std::int64_t fileRow = 2 - y;  // stored rows run south to north
                EXPECT_EQ(byte, 4 * (b * 12 + fileRow * 4 + x)) << b << " " << x << " " << y;
            }
        }
    }
    EXPECT_EQ(elementTexts(doc, "Description"), (std::vector<std::string>{"a", "b"}));
    for (const auto& v : elementTexts(doc, "NoDataValue")) {
        EXPECT_EQ(v, "-9999");
    }
    for (const auto& v : elementTexts(doc, "ByteOrder")) {
        EXPECT_EQ(v, "LSB");
    }
    for (const auto& v : elementTexts(doc, "SourceFilename")) {
        EXPECT_EQ(v, "grid.bin");
    }
}

// The corner is the single-precision value the simulator holds, written so that it reads back
// exactly; cells are 30 arc-seconds.
TEST(GridVrt, GeoreferenceFromTheCornerAsHeld) {
    const GridFrameLayout layout{199, 107, -118.343F, 34.2314F};
    const std::string doc = vrtOf(layout, {"day 1"});
    const auto transforms = elementTexts(doc, "GeoTransform");
    ASSERT_EQ(transforms.size(), 1U);
    const auto gt = numbers(transforms[0]);
    ASSERT_EQ(gt.size(), 6U);
    EXPECT_EQ(gt[0], static_cast<double>(-118.343F));
    EXPECT_EQ(gt[1], 30.0 / 3600.0);
    EXPECT_EQ(gt[2], 0.0);
    EXPECT_EQ(gt[3], static_cast<double>(34.2314F) + 107 * (30.0 / 3600.0));
    EXPECT_EQ(gt[4], 0.0);
    EXPECT_EQ(gt[5], -30.0 / 3600.0);
    EXPECT_NE(doc.find(R"(AUTHORITY[&quot;EPSG&quot;,&quot;4326&quot;]]</SRS>)"),
              std::string::npos);
    EXPECT_NE(doc.find(R"(<SRS dataAxisToSRSAxisMapping="2,1">)"), std::string::npos);
}

// Offsets of a large event pass 4 GiB.
TEST(GridVrt, OffsetsOfLargeGridsDoNotWrap) {
    const GridFrameLayout layout{40000, 30000, 0.0F, 0.0F};
    const std::string doc = vrtOf(layout, hourlyBandNames(1));
    const auto offsets = elementTexts(doc, "ImageOffset");
    ASSERT_EQ(offsets.size(), 24U);
    const std::int64_t frame = std::int64_t{40000} * 30000 * 4;
    EXPECT_EQ(std::stoll(offsets[23]), 23 * frame + frame - 160000);
    EXPECT_EQ(elementTexts(doc, "LineOffset")[0], "-160000");
}

TEST(GridVrt, TextIsEscaped) {
    const std::string doc = vrtOf({1, 1, 0.0F, 0.0F}, {"<a & b>"}, "x\"&y.bin");
    EXPECT_EQ(elementTexts(doc, "Description")[0], "&lt;a &amp; b&gt;");
    EXPECT_EQ(elementTexts(doc, "SourceFilename")[0], "x&quot;&amp;y.bin");
}

}  // namespace
}  // namespace hydro::results
