#include "calibrate/options.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "case/channel_width.h"
#include "common/number_stream.h"

namespace hydro::calibrate {

namespace {

/// The range of "NAME=MIN:MAX[:log]".
Result<Range> parseRange(const std::string& text) {
    const auto equals = text.find('=');
    const std::string name = text.substr(0, equals);
    const auto parameter = members::parameterNamed(name);
    if (equals == std::string::npos || !parameter) {
        return Error{"--vary: unknown parameter \"" + quoteToken(name)
                     + "\"; known are manning-slope, manning-channel, initial-runoff, "
                       "rain-factor."};
    }
    std::vector<std::string> parts;
    std::size_t from = equals + 1;
    for (std::size_t colon = text.find(':', from);; colon = text.find(':', from)) {
        parts.push_back(text.substr(from, colon - from));
        if (colon == std::string::npos) {
            break;
        }
        from = colon + 1;
    }
    Range range;
    range.parameter = *parameter;
    const auto min = parts.size() >= 2 ? parseDouble(parts[0]) : std::nullopt;
    const auto max = parts.size() >= 2 ? parseDouble(parts[1]) : std::nullopt;
    if (!min || !max || parts.size() > 3 || (parts.size() == 3 && parts[2] != "log")) {
        return Error{"--vary " + name + ": give the range as " + name + "=MIN:MAX or " + name
                     + "=MIN:MAX:log, not \"" + quoteToken(text) + "\"."};
    }
    range.min = *min;
    range.max = *max;
    range.logarithmic = parts.size() == 3;
    const bool manning = *parameter == members::Parameter::kManningSlope
                         || *parameter == members::Parameter::kManningChannel;
    if (!(range.min < range.max)) {
        return Error{"--vary " + name + ": the minimum must be below the maximum."};
    }
    if ((manning || range.logarithmic) ? range.min <= 0.0 : range.min < 0.0) {
        return Error{"--vary " + name + ": the minimum must be "
                     + ((manning || range.logarithmic) ? "above 0." : "0 or more.")};
    }
    if (range.max > 1.0e6) {
        return Error{"--vary " + name + ": the maximum must be 1000000 or less."};
    }
    return range;
}

Result<std::vector<std::pair<std::string, double>>> parseWeights(const std::string& text) {
    std::vector<std::pair<std::string, double>> weights;
    std::size_t from = 0;
    while (from <= text.size()) {
        const auto comma = std::min(text.find(',', from), text.size());
        const std::string item = text.substr(from, comma - from);
        const auto equals = item.find('=');
        const auto w =
            equals == std::string::npos ? std::nullopt : parseDouble(item.substr(equals + 1));
        if (!w || *w < 0.0 || !std::isfinite(*w)) {
            return Error{"--weights: give each gauge as ID=WEIGHT (0 or more), not \""
                         + quoteToken(item) + "\"."};
        }
        weights.emplace_back(item.substr(0, equals), *w);
        from = comma + 1;
    }
    return weights;
}

Result<std::int64_t> wholeNumber(const std::string& option, const std::string& text,
                                 std::int64_t min, std::int64_t max) {
    const auto v = parseDouble(text);
    if (!v || *v != std::floor(*v) || *v < static_cast<double>(min)
        || *v > static_cast<double>(max)) {
        return Error{option + " must be a whole number from " + std::to_string(min) + " to "
                     + std::to_string(max) + ", not \"" + quoteToken(text) + "\"."};
    }
    return static_cast<std::int64_t>(*v);
}

/// Applies option `a` with its value `v`.
Status takeOption(Options& o, const std::string& a, const std::string& v) {
    Result<std::int64_t> n = std::int64_t{0};
    if (a == "--vary") {
        auto range = parseRange(v);
        if (!range) {
            return range.error();
        }
        for (const Range& r : o.ranges) {
            if (r.parameter == range->parameter) {
                return Error{"--vary " + std::string(members::parameterName(r.parameter))
                             + " is given twice."};
            }
        }
        o.ranges.push_back(*range);
    } else if (a == "--algorithm") {
        if (v != "dds" && v != "lhs") {
            return Error{"--algorithm must be dds or lhs, not \"" + quoteToken(v) + "\"."};
        }
        o.algorithm = v == "dds" ? Algorithm::kDds : Algorithm::kLhs;
    } else if (a == "--objective") {
        const auto objective = objectiveNamed(v);
        if (!objective) {
            return Error{"--objective must be kge, kge-prime, nse or log-nse, not \""
                         + quoteToken(v) + "\"."};
        }
        o.objective = *objective;
    } else if (a == "--weights") {
        auto weights = parseWeights(v);
        if (!weights) {
            return weights.error();
        }
        o.weights = std::move(*weights);
    } else if (a == "--budget" && (n = wholeNumber(a, v, 1, kLargestBudget))) {
        o.budget = *n;
    } else if (a == "--seed" && (n = wholeNumber(a, v, 0, std::int64_t{1} << 53))) {
        o.seed = static_cast<std::uint64_t>(*n);
    } else if (a == "--warmup-hours" && (n = wholeNumber(a, v, 0, 87840))) {
        o.warmupHours = *n;
    } else if (a == "--snap-radius" && (n = wholeNumber(a, v, 0, 100000))) {
        o.radius = *n;
    } else if (a == "--member-threads" && (n = wholeNumber(a, v, 1, 4096))) {
        o.memberThreads = static_cast<int>(*n);
    } else if (a == "--batch" && (n = wholeNumber(a, v, 1, 4096))) {
        o.batch = *n;
    } else if (a == "--channel-width") {
        auto law = parseChannelWidth(a, v);
        if (!law) {
            return law.error();
        }
        o.channelWidth = *law;
    } else if (a == "--scheme" && (v == "linear" || v == "conservative")) {
        o.scheme = v == "linear" ? runoff::Scheme::kLinear : runoff::Scheme::kConservative;
    } else if (!n) {
        return n.error();
    } else {
        return Error{a == "--scheme"
                         ? "--scheme must be linear or conservative, not \"" + quoteToken(v) + "\"."
                         : std::string(kUsage)};
    }
    return success();
}

}  // namespace

Result<Options> parseOptions(std::span<const std::string> args) {
    Options o;
    std::vector<std::string> positional;
    for (std::size_t k = 0; k < args.size(); ++k) {
        const std::string& a = args[k];
        if (a == "--help" || a == "-h") {
            o.help = true;
            return o;
        }
        if (a == "--apply" || a == "--resume") {
            (a == "--apply" ? o.apply : o.resume) = true;
        } else if (a.starts_with("--")) {
            if (k + 1 >= args.size()) {
                return Error{a + " needs a value. " + kUsage};
            }
            if (Status s = takeOption(o, a, args[++k]); !s) {
                return s.error();
            }
        } else {
            positional.push_back(a);
        }
    }
    if (positional.size() != 3) {
        return Error{kUsage};
    }
    if (o.ranges.empty()) {
        return Error{"Name at least one value to vary, e.g. --vary manning-channel=0.01:0.1."};
    }
    o.caseDir = positional[0];
    o.gaugesPath = positional[1];
    o.observedPath = positional[2];
    return o;
}

}  // namespace hydro::calibrate
