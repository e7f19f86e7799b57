#include "discharge_map/ppm_frame.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "results/colour_scale.h"

namespace hydro {

using results::RampColour;
using results::rampColour;
namespace {

struct Image {
    std::int32_t rows;
    std::int32_t cols;
    std::vector<unsigned char> raster;

    /// Colour of the cell block that shows stored row `r`, column `c`, checked to be one colour.
    [[nodiscard]] RampColour cell(std::int32_t r, std::int32_t c) const {
        const auto width = static_cast<std::size_t>(cols) * kCellPixels;
        const std::size_t top = static_cast<std::size_t>(rows - 1 - r) * kCellPixels;
        const std::size_t left = static_cast<std::size_t>(c) * kCellPixels;
        const auto at = [&](std::size_t y, std::size_t x) {
            const std::size_t k = ((top + y) * width + left + x) * 3;
            return RampColour{raster[k], raster[k + 1], raster[k + 2]};
        };
        const RampColour first = at(0, 0);
        for (std::size_t y = 0; y < kCellPixels; ++y) {
            for (std::size_t x = 0; x < kCellPixels; ++x) {
                EXPECT_EQ(at(y, x), first) << "pixel " << y << "," << x;
            }
        }
        return first;
    }
};

Image paint(const std::vector<float>& frame, std::int32_t rows, std::int32_t cols, float lower,
            float upper) {
    std::vector<std::int32_t> indices(frame.size());
    fillIndexGrid(frame, rows, cols, lower, upper, indices);
    Image image{rows, cols, std::vector<unsigned char>(75 * frame.size())};
    paintRaster(indices, rows, cols, image.raster);
    return image;
}

TEST(PpmFrame, ImageNamesRightAlignTheHourInFourCharacters) {
    struct Case {
        std::int32_t hour;
        const char* name;
    };
    const std::vector<Case> cases = {
        {1, "./image/   1_discharge.ppm"},
        {48, "./image/  48_discharge.ppm"},
        {1234, "./image/1234_discharge.ppm"},
        {10000, "./image/10000_discharge.ppm"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.hour);
        EXPECT_EQ(frameImageName(c.hour), c.name);
    }
    EXPECT_EQ(frameImageName(1).size(), 26U);
    EXPECT_EQ(frameImageName(10000).size(), 27U);
}

TEST(PpmFrame, HeaderAndFileSize) {
    EXPECT_EQ(ppmHeader(10, 8), "P6\n40 50\n255\n");
    EXPECT_EQ(ppmHeader(643, 1197), "P6\n5985 3215\n255\n");
    EXPECT_EQ(imageFileBytes(10, 8), std::size_t{13 + 6000});
    EXPECT_EQ(imageFileBytes(0, 0), std::size_t{11});
    // 75 bytes per cell of the largest grid does not fit 64 bits.
    EXPECT_EQ(imageFileBytes(2147483647, 2147483647), std::nullopt);
}

TEST(PpmFrame, ALargeImageOutputIsAnnouncedWithItsSize) {
    // Ten days of a 1197 x 643 grid: 240 images of 57725792 bytes.
    EXPECT_EQ(largeImageOutputNote(643, 1197, 240),
              "discharge_map: 240 images of 5985 x 3215 pixels (5 x 5 a cell) will take 13.9 GB "
              "in ./image/.");
    EXPECT_EQ(largeImageOutputNote(10, 8, 48), std::nullopt);
    EXPECT_EQ(largeImageOutputNote(643, 1197, 0), std::nullopt);
}

TEST(PpmFrame, TenByEightGridWithFrameLineAndNorthOnTop) {
    constexpr std::int32_t kRows = 10;
    constexpr std::int32_t kCols = 8;
    // Every cell 4 (green with bounds 0 and 16), except the stored row 7 (north of the middle)
    // at 16 (red) and the border cells at -9999.
    std::vector<float> frame(kRows * kCols, 4.0F);
    for (std::int32_t r = 0; r < kRows; ++r) {
        for (std::int32_t c = 0; c < kCols; ++c) {
            float& v = frame[static_cast<std::size_t>(r * kCols + c)];
            if (r == 7) {
                v = 16.0F;
            }
            if (r == 0 || r == kRows - 1 || c == 0 || c == kCols - 1) {
                v = -9999.0F;
            }
        }
    }
    const Image image = paint(frame, kRows, kCols, 0.0F, 16.0F);
    ASSERT_EQ(image.raster.size(), 6000U);
    const RampColour black{0, 0, 0};
    for (std::int32_t r = 0; r < kRows; ++r) {
        for (std::int32_t c = 0; c < kCols; ++c) {
            SCOPED_TRACE("stored row " + std::to_string(r) + " col " + std::to_string(c));
            const bool dark = r <= 1 || r >= 8 || c <= 1 || c >= 6;
            const RampColour want = dark     ? black
                                    : r == 7 ? RampColour{252, 0, 0}
                                             : RampColour{0, 252, 0};
            EXPECT_EQ(image.cell(r, c), want);
        }
    }
    // The red row is stored 8th (index 7) from the south, so it is the third block from the
    // top: pixel rows 10 to 14.
    const std::size_t k = (12 * 40 + 12) * 3;
    EXPECT_EQ(image.raster[k], 252);
    EXPECT_EQ(image.raster[k + 1], 0);
}

TEST(PpmFrame, ThreeRowGridIsAllBlack) {
    constexpr std::int32_t kCols = 6;
    std::vector<float> frame(3 * kCols, 5.0F);
    for (std::int32_t c = 0; c < kCols; ++c) {
        frame[static_cast<std::size_t>(c)] = -9999.0F;
        frame[static_cast<std::size_t>(2 * kCols + c)] = -9999.0F;
    }
    const Image image = paint(frame, 3, kCols, 0.0F, 16.0F);
    for (std::size_t i = 0; i < image.raster.size(); ++i) {
        ASSERT_EQ(image.raster[i], 0) << "byte " << i;
    }
}

}  // namespace
}  // namespace hydro
