#include "case/channel_width.h"

#include <cmath>

#include "common/number_stream.h"

namespace hydro {

Result<ChannelWidthLaw> parseChannelWidth(std::string_view option, std::string_view value) {
    const Error wrong{std::string(option) + " must be " + kChannelWidthForm + ", not \""
                      + quoteToken(value) + "\"."};
    const std::size_t comma = value.find(',');
    if (comma == std::string_view::npos) {
        return wrong;
    }
    const auto coefficient = parseDouble(value.substr(0, comma));
    const auto exponent = parseDouble(value.substr(comma + 1));
    if (!coefficient || !exponent || !std::isfinite(*coefficient) || !std::isfinite(*exponent)
        || !(*coefficient > 0.0) || *coefficient > kLargestWidthCoefficient || !(*exponent >= 0.0)
        || *exponent > 1.0) {
        return wrong;
    }
    return ChannelWidthLaw{*coefficient, *exponent};
}

std::string channelWidthValue(const ChannelWidthLaw& law) {
    return shortestText(law.coefficient) + "," + shortestText(law.exponent);
}

std::string channelWidthText(const ChannelWidthLaw& law) {
    return "B = " + shortestText(law.coefficient) + " * A^" + shortestText(law.exponent)
           + " m (A in km2)";
}

}  // namespace hydro
