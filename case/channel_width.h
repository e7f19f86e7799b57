#pragma once

// The law that gives a channel cell its flow width from its upstream area:
// B = coefficient * A^exponent, B in m, A in km². The model's own law is the default; a run
// may take another one (runoff_sim --channel-width COEF,EXP and the tools that run the model),
// and everything it writes then records it.

#include <string>
#include <string_view>

#include "common/result.h"

namespace hydro {

struct ChannelWidthLaw {
    static constexpr double kModelCoefficient = 1.061722301;  ///< m at 1 km²
    static constexpr double kModelExponent = 0.685081138;

    double coefficient = kModelCoefficient;  ///< width at 1 km² of upstream area, m
    double exponent = kModelExponent;

    [[nodiscard]] bool isModel() const {
        return coefficient == kModelCoefficient && exponent == kModelExponent;
    }
    friend bool operator==(const ChannelWidthLaw&, const ChannelWidthLaw&) = default;
};

/// The largest coefficient taken, m: a river 10 km wide at 1 km² is no river.
inline constexpr double kLargestWidthCoefficient = 10000.0;

/// What the option's value must be, for its error line and help texts.
inline constexpr const char* kChannelWidthForm =
    "COEF,EXP (B = COEF * A^EXP, B in m, A in km2; COEF above 0 up to 10000, EXP from 0 to 1)";

/// Reads "COEF,EXP" as the value of `option`: both numbers, the coefficient above 0 and up
/// to kLargestWidthCoefficient, the exponent from 0 to 1. The error is one line naming the
/// option, the value and the form it must take.
[[nodiscard]] Result<ChannelWidthLaw> parseChannelWidth(std::string_view option,
                                                        std::string_view value);

/// "COEF,EXP" in shortest round-trip numbers, as the option takes it.
[[nodiscard]] std::string channelWidthValue(const ChannelWidthLaw& law);

/// "B = COEF * A^EXP m (A in km2)", for lines that name the law.
[[nodiscard]] std::string channelWidthText(const ChannelWidthLaw& law);

}  // namespace hydro
