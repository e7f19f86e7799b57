#include "results/colour_scale.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace hydro::results {
namespace {

// A 10 x 10 grid; the cell (5, 5) lies away from the frame line.
constexpr std::int32_t kRows = 10;
constexpr std::int32_t kCols = 10;

std::int32_t indexAt55(float v, float lower, float upper) {
    return colourIndex(v, 5, 5, kRows, kCols, lower, upper);
}

TEST(ColourScale, SquareRootScaleBetweenZeroAndSixteen) {
    struct Case {
        float v;
        std::int32_t index;
        RampColour colour;
    };
    const std::vector<Case> cases = {
        {0.0F, 0, {0, 0, 252}},      {1.0F, 63, {0, 252, 252}}, {4.0F, 127, {0, 252, 0}},
        {9.0F, 191, {252, 252, 0}},  {16.0F, 255, {252, 0, 0}}, {17.0F, 262, {252, 252, 0}},
        {-9999.0F, -999, {0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("v = " + std::to_string(c.v));
        const std::int32_t index = indexAt55(c.v, 0.0F, 16.0F);
        EXPECT_EQ(index, c.index);
        EXPECT_EQ(rampColour(index), c.colour);
    }
}

TEST(ColourScale, ValueBelowATypedLowerBoundIsBlack) {
    // Bounds 2 and 16: v = 1 gives a negative ratio, whose square root is not a number.
    const std::int32_t index = indexAt55(1.0F, 2.0F, 16.0F);
    EXPECT_EQ(index, kUnrepresentable);
    EXPECT_EQ(rampColour(index), (RampColour{0, 0, 0}));
    // A value exactly at the lower bound is still the first colour of the ramp.
    EXPECT_EQ(indexAt55(2.0F, 2.0F, 16.0F), 0);
}

TEST(ColourScale, PositionsThatAreNoNumberOrTooLargeGiveTheLowestInteger) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    {
        SCOPED_TRACE("value not a number");
        EXPECT_EQ(indexAt55(nan, 0.0F, 16.0F), kUnrepresentable);
    }
    {
        SCOPED_TRACE("infinite value");
        EXPECT_EQ(indexAt55(inf, 0.0F, 16.0F), kUnrepresentable);
    }
    {
        SCOPED_TRACE("product beyond 2^31");
        // ratio 1e20: root 1e10, times 255 far above the int32 range.
        EXPECT_EQ(indexAt55(1e20F, 0.0F, 1.0F), kUnrepresentable);
    }
    {
        SCOPED_TRACE("largest product that still fits");
        // root 8e6 -> 2.04e9 fits in 32 bits.
        EXPECT_EQ(indexAt55(6.4e13F, 0.0F, 1.0F), 2040000000);
    }
    {
        SCOPED_TRACE("above the upper bound: 255 until (256/255)^2, then more");
        EXPECT_EQ(indexAt55(16.1F, 0.0F, 16.0F), 255);
        EXPECT_EQ(indexAt55(16.2F, 0.0F, 16.0F), 256);
    }
}

}  // namespace
}  // namespace hydro::results
