#include "results/colour_scale.h"

#include <cmath>

namespace hydro::results {

std::int32_t scaleIndex(float v, float lower, float upper) {
    if (v < 0.0F) {
        return kNoColour;
    }
    const float ratio = (v - lower) / (upper - lower);
    const auto root = static_cast<float>(std::pow(static_cast<double>(ratio), 0.5));
    const double position = static_cast<double>(root) * 255.0;
    // Converting a double outside the int32 range (or NaN) is undefined; such positions are
    // given the value a truncating conversion yields on common hardware, explicitly.
    constexpr double kBelowMin = -2147483649.0;
    constexpr double kAboveMax = 2147483648.0;
    if (!(position > kBelowMin && position < kAboveMax)) {
        return kUnrepresentable;
    }
    return static_cast<std::int32_t>(position);
}

std::int32_t colourIndex(float v, std::int32_t row, std::int32_t col, std::int32_t rows,
                         std::int32_t cols, float lower, float upper) {
    if (onFrameLine(row, col, rows, cols)) {
        return kNoColour;
    }
    return scaleIndex(v, lower, upper);
}

RampColour rampColour(std::int32_t index) {
    if (index < 0) {
        return {0, 0, 0};
    }
    if (index < 64) {
        return {0, 4 * index, 252};
    }
    if (index < 128) {
        return {0, 252, 508 - 4 * index};
    }
    if (index < 192) {
        return {4 * index - 512, 252, 0};
    }
    if (index < 256) {
        return {252, 1020 - 4 * index, 0};
    }
    return {252, 252, 0};
}

}  // namespace hydro::results
