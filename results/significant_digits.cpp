#include "results/significant_digits.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <numbers>

namespace hydro::results {
namespace {

// Bits per decimal digit and digits per bit, as the library computes them (ln 10 / ln 2 and
// its inverse, each a quotient of the two rounded logarithms).
constexpr double kBitsPerDigit = std::numbers::ln10 / std::numbers::ln2;
constexpr double kDigitsPerBit = std::numbers::ln2 / std::numbers::ln10;
constexpr int kExplicitMantissaBits = 23;

/// The explicit mantissa bits that `value` (finite, not zero) keeps for `digits` digits.
int keptBits(double value, int digits) {
    int exponent = 0;
    const double mantissa = std::abs(std::frexp(value, &exponent));
    const double log10Mantissa = std::log10(mantissa);
    const auto e = static_cast<double>(exponent);
    const int digitsBefore = static_cast<int>(std::floor(e * kDigitsPerBit + log10Mantissa)) + 1;
    const auto power =
        static_cast<int>(std::floor(kBitsPerDigit * static_cast<double>(digitsBefore - digits)));
    const int bits = static_cast<int>(std::floor(e - kBitsPerDigit * log10Mantissa));
    // One bit fewer than the formula gives, as the library does.
    return std::abs(bits - power) - 1;
}

}  // namespace

void roundToSignificantDigits(std::span<float> values, int digits, float fill) {
    for (float& v : values) {
        if (v == fill || v == 0.0F || std::isnan(v)) {
            continue;
        }
        const int zeroed = kExplicitMantissaBits - keptBits(static_cast<double>(v), digits);
        // Up to 6 digits every finite float keeps 0 to 20 bits; anything else is left exact
        // rather than shifted out of range.
        if (zeroed < 1 || zeroed > kExplicitMantissaBits) {
            continue;
        }
        const std::uint32_t keep = ~std::uint32_t{0} << zeroed;
        const std::uint32_t half = ~keep & (keep >> 1);
        v = std::bit_cast<float>((std::bit_cast<std::uint32_t>(v) + half) & keep);
    }
}

}  // namespace hydro::results
