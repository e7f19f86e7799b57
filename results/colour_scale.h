#pragma once

// The colour scale of the discharge maps: a square-root scale between two bounds, coloured on a
// blue-cyan-green-yellow-red ramp in steps of 4 per index.

#include <cstdint>
#include <limits>

namespace hydro::results {

/// Index of a cell that is not coloured (the frame line and cells without discharge).
inline constexpr std::int32_t kNoColour = -999;
/// Index of a value whose square-root position is not a number or does not fit 32 bits.
inline constexpr std::int32_t kUnrepresentable = std::numeric_limits<std::int32_t>::min();

/// Colour of one index, each component 0 to 252.
struct RampColour {
    std::int32_t red = 0;
    std::int32_t green = 0;
    std::int32_t blue = 0;

    friend bool operator==(const RampColour&, const RampColour&) = default;
};

/// True for the cells of the black line drawn one cell inside the grid's border: rows 1 and
/// rows - 2, columns 1 and cols - 2 (row 0 is the first row the discharge file stores).
[[nodiscard]] constexpr bool onFrameLine(std::int32_t row, std::int32_t col, std::int32_t rows,
                                         std::int32_t cols) {
    return row == 1 || row == rows - 2 || col == 1 || col == cols - 2;
}

/// Colour index of value `v` (m3/s) between `lower` and `upper` (lower < upper): 0 at the
/// lower bound, 255 at the upper bound, on a square-root scale. The ratio is formed in single
/// precision, its square root taken in double and rounded to single, the product with 255
/// formed in double and truncated toward zero. A negative value gives kNoColour; a square root
/// that is not a number or whose product does not fit 32 bits gives kUnrepresentable (drawn
/// black like any negative index).
[[nodiscard]] std::int32_t scaleIndex(float v, float lower, float upper);

/// scaleIndex for the cell at (`row`, `col`) of a `rows` x `cols` grid, except that the cells of
/// the frame line give kNoColour whatever their value.
[[nodiscard]] std::int32_t colourIndex(float v, std::int32_t row, std::int32_t col,
                                       std::int32_t rows, std::int32_t cols, float lower,
                                       float upper);

/// Colour of an index: black below 0, the ramp from blue (0) over cyan (63), green (127) and
/// yellow (191) to red (255), and yellow above 255.
[[nodiscard]] RampColour rampColour(std::int32_t index);

}  // namespace hydro::results
