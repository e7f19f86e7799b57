#include "results/nice_scale.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

namespace hydro::results {

namespace {

constexpr std::int32_t kMaxSteps = 6;
constexpr double kSmallestMax = 1e-6;

}  // namespace

NiceScale niceScale(double dataMax) {
    if (!(dataMax > 0.0) || !std::isfinite(dataMax)) {
        return {};
    }
    const double m = std::max(dataMax, kSmallestMax);
    const auto exponent = static_cast<std::int32_t>(std::floor(std::log10(m / kMaxSteps)));
    // Tenths of the factors, so that 2.5 is exact.
    constexpr std::array<std::int32_t, 5> kFactors{10, 20, 25, 50, 100};
    for (const std::int32_t f : kFactors) {
        // step = f/10 * 10^exponent, kept as mantissa and power for the decimals.
        std::int32_t power = exponent;
        std::int32_t tenths = f;
        if (tenths == 100) {
            tenths = 10;
            ++power;
        }
        const double step = static_cast<double>(tenths) / 10.0 * std::pow(10.0, power);
        double count = std::ceil(m / step);
        // Rounding may leave the top a hair below the data.
        while (count * step < m) {
            count += 1.0;
        }
        if (count <= kMaxSteps && std::isfinite(count * step)) {
            const auto steps = static_cast<std::int32_t>(std::max(count, 1.0));
            const std::int32_t decimals = std::max(0, -power + (tenths == 25 ? 1 : 0));
            return {static_cast<double>(steps) * step, step, steps, decimals};
        }
    }
    // Only near the top of the double range: the data maximum itself in five steps.
    return {m, m / 5.0, 5, 0};
}

std::int64_t hourTickStep(std::int64_t hours) {
    constexpr std::int64_t kMaxHourSteps = 12;
    for (const std::int64_t s : {1, 2, 3, 6, 12}) {
        if (hours <= s * kMaxHourSteps) {
            return s;
        }
    }
    std::int64_t days = 1;
    for (;;) {
        for (const std::int64_t f : {1, 2, 5}) {
            const std::int64_t s = 24 * days * f;
            if (hours / s < kMaxHourSteps || (hours / s == kMaxHourSteps && hours % s == 0)) {
                return s;
            }
        }
        days *= 10;
    }
}

std::string fixedText(double value, std::int32_t decimals) {
    std::array<char, 512> buf{};
    const auto result = std::to_chars(buf.data(), buf.data() + buf.size(), value,
                                      std::chars_format::fixed, std::clamp(decimals, 0, 17));
    if (result.ec != std::errc{}) {
        return "0";
    }
    std::string text(buf.data(), result.ptr);
    // "-0.00" reads as a negative number on an axis that starts at 0.
    if (text.find_first_not_of("-0.") == std::string::npos && text.front() == '-') {
        text.erase(0, 1);
    }
    return text;
}

std::string tickLabel(double value, const NiceScale& scale) {
    constexpr double kLongest = 1e9;
    if (scale.decimals <= 6 && scale.max < kLongest) {
        return fixedText(value, scale.decimals);
    }
    std::array<char, 64> buf{};
    const auto result =
        std::to_chars(buf.data(), buf.data() + buf.size(), value, std::chars_format::scientific, 2);
    return result.ec == std::errc{} ? std::string(buf.data(), result.ptr) : std::string("0");
}

}  // namespace hydro::results
