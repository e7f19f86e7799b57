#include "case/event_parameters.h"

#include <array>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <sstream>
#include <string>
#include <string_view>
#include <type_traits>

#include "common/console.h"
#include "common/number_stream.h"

namespace hydro {

namespace {

constexpr std::int32_t kSecondsPerHour = 3600;
constexpr const char* kFileName = "param-event.dat";

/// What each value is, by its number (from 1), for the messages.
constexpr std::array<const char*, 19> kWhat{
    "",
    "number of columns of the study area",
    "number of rows of the study area",
    "south-west corner longitude",
    "south-west corner latitude",
    "number of columns of the input data",
    "number of rows of the input data",
    "input data grid size of x-direction",
    "input data grid size of y-direction",
    "longitude of the south-west point of the input data",
    "latitude of the south-west point of the input data",
    "simulation duration in days",
    "finite difference time step in seconds",
    "finite difference space steps",
    "finite difference weight",
    "Manning roughness for slope",
    "Manning roughness for channel",
    "area to classify slope and channel",
    "initial runoff height",
};

/// The values of the file, one after another, each wholly a number of its kind.
class ValueReader {
public:
    [[nodiscard]] bool open(const std::filesystem::path& path) { return tokens_.open(path); }

    [[nodiscard]] Result<std::int32_t> readInt(int index) {
        return readAs<std::int32_t>(index, "an integer", parseInt32);
    }
    [[nodiscard]] Result<float> readFloat(int index) {
        return readAs<float>(index, "a number", parseFloat);
    }
    [[nodiscard]] Result<double> readDouble(int index) {
        return readAs<double>(index, "a number", parseDouble);
    }
    /// The next value, read as the type of the field it goes to.
    template <class T>
    [[nodiscard]] Result<T> read(int index) {
        if constexpr (std::is_same_v<T, std::int32_t>) {
            return readInt(index);
        } else if constexpr (std::is_same_v<T, float>) {
            return readFloat(index);
        } else {
            static_assert(std::is_same_v<T, double>);
            return readDouble(index);
        }
    }

private:
    template <class T, class Parse>
    Result<T> readAs(int index, std::string_view kind, Parse parse) {
        const auto tok = tokens_.next();
        const char* what = kWhat[static_cast<std::size_t>(index)];
        if (!tok) {
            return Error{std::string(kFileName) + " ends before value " + std::to_string(index)
                         + " (" + what + ")."};
        }
        const std::optional<T> value = parse(*tok);
        if (!value) {
            return Error{std::string(kFileName) + " value " + std::to_string(index) + " (" + what
                         + ") is not " + std::string(kind) + ": \"" + quoteToken(*tok) + "\""};
        }
        return *value;
    }

    TokenReader tokens_;
};

/// A value that was read but lies outside its range; `rule` says what is allowed.
template <class T>
Error refuse(int index, std::string_view rule, T value) {
    std::ostringstream line;
    line << kFileName << " value " << index << " (" << kWhat[static_cast<std::size_t>(index)]
         << ") " << rule << ": " << value;
    return Error{line.str()};
}

Error cannotOpen() {
    return Error{std::string(kFileName) + " cannot open.", ErrorKind::kCannotOpen};
}

template <class... Parts>
void echoLine(std::ostream* echo, const Parts&... parts) {
    if (echo != nullptr) {
        sayLine(*echo, parts...);
    }
}

/// Reads value `index` into `field` and checks it against `ok`; the error when it is missing,
/// malformed or breaks the rule (stated by `rule`).
template <class T, class Ok>
Status take(ValueReader& in, int index, T& field, Ok ok, const std::string& rule) {
    Result<T> value = in.read<T>(index);
    if (!value) {
        return value.error();
    }
    if (!ok(*value)) {
        return refuse(index, rule, *value);
    }
    field = *value;
    return success();
}

/// Rules of the values.
constexpr auto kAny = [](auto) { return true; };
constexpr auto atLeast(std::int32_t least) {
    return [least](std::int32_t v) { return v >= least; };
}
constexpr auto kPositive = [](double v) { return v > 0.0; };
constexpr auto kNotNegativeReal = [](double v) { return v >= 0.0; };
constexpr const char* kAtLeastOne = "must be at least 1";

/// The reading of the simulator's 18 values, group by group, each group echoed as it is read.
class EventReader {
public:
    explicit EventReader(std::ostream* echo) : echo_(echo) {}
    [[nodiscard]] bool open(const std::filesystem::path& path) { return in_.open(path); }

    [[nodiscard]] Status studyArea(EventParameters& p) {
        echoLine(echo_, "1) Reading parameters for study area.");
        Status s = take(in_, 1, p.studyCols, atLeast(1), kAtLeastOne);
        s = s ? take(in_, 2, p.studyRows, atLeast(1), kAtLeastOne) : s;
        if (!s) {
            return s;
        }
        echoLine(echo_, "  Number of col : ", p.studyCols, "  Number of row : ", p.studyRows);
        s = take(in_, 3, p.swLon, kAny, {});
        s = s ? take(in_, 4, p.swLat, kAny, {}) : s;
        if (!s) {
            return s;
        }
        echoLine(echo_, " Sorth West corner Longitude (degree) : ", static_cast<double>(p.swLon),
                 " Latitude (deg) : ", static_cast<double>(p.swLat));
        return success();
    }

    /// Values 7 to 10 are read at double precision, echoed as read, and held in single.
    [[nodiscard]] Status inputData(EventParameters& p) {
        echoLine(echo_, "2) Reading parameters for input data.");
        Status s = take(in_, 5, p.rainCols, atLeast(1), kAtLeastOne);
        s = s ? take(in_, 6, p.rainRows, atLeast(1), kAtLeastOne) : s;
        if (!s) {
            return s;
        }
        echoLine(echo_, "  Number of col : ", p.rainCols, "  Number of row : ", p.rainRows);
        std::array<double, 4> v{};  // dx, dy, lon0, lat0
        s = take(in_, 7, v[0], kAny, {});
        s = s ? take(in_, 8, v[1], kAny, {}) : s;
        if (!s) {
            return s;
        }
        echoLine(echo_, "  Input data grid size of x-direction : ", v[0]);
        echoLine(echo_, "  Input data grid size of y-direction : ", v[1]);
        if (s = take(in_, 9, v[2], kAny, {}); !s) {
            return s;
        }
        echoLine(
            echo_,
            "  Longitude of the center of the Southwest corner of input data (degree) : ", v[2]);
        if (s = take(in_, 10, v[3], kAny, {}); !s) {
            return s;
        }
        echoLine(
            echo_,
            "  Latitude of the center of the Southwest corner of input data (degree) : ", v[3]);
        p.rainDx = static_cast<float>(v[0]);
        p.rainDy = static_cast<float>(v[1]);
        p.rainLon0 = static_cast<float>(v[2]);
        p.rainLat0 = static_cast<float>(v[3]);
        return success();
    }

    [[nodiscard]] Status durationAndScheme(EventParameters& p) {
        echoLine(echo_, "3) Reading parameters for simuration duration.");
        if (Status s = take(in_, 11, p.days, atLeast(1), kAtLeastOne); !s) {
            return s;
        }
        echoLine(echo_, "  Simulation duration (days) : ", p.days);
        echoLine(echo_, "4) Reading parameters for finite difference condition.");
        const auto withinAnHour = [](std::int32_t v) { return v >= 1 && v <= kSecondsPerHour; };
        if (Status s = take(in_, 12, p.timeStep, withinAnHour, "must be from 1 to 3600"); !s) {
            return s;
        }
        echoLine(echo_, "  Finite difference time step (sec) : ", p.timeStep);
        if (Status s = take(in_, 13, p.spaceSteps, atLeast(1), kAtLeastOne); !s) {
            return s;
        }
        echoLine(echo_, "  Finite difference space step : ", p.spaceSteps);
        // 0 is the explicit scheme, 1 the fully implicit one; outside them the scheme diverges.
        const auto aWeight = [](double v) { return v >= 0.0 && v <= 1.0; };
        if (Status s = take(in_, 14, p.weight, aWeight, "must be from 0 to 1"); !s) {
            return s;
        }
        echoLine(echo_, "  Finite difference weight : ", p.weight);
        p.subStepsPerHour = kSecondsPerHour / p.timeStep;
        return success();
    }

    [[nodiscard]] Status waveAndStart(EventParameters& p) {
        echoLine(echo_, "5) Reading parameters for kinematic wave model.");
        if (Status s = take(in_, 15, p.manningSlope, kPositive, "must be above 0"); !s) {
            return s;
        }
        echoLine(echo_, "  Manning roughmess coefficient for slope [m/s] : ", p.manningSlope);
        if (Status s = take(in_, 16, p.manningChannel, kPositive, "must be above 0"); !s) {
            return s;
        }
        echoLine(echo_, "  Manning roughmess coefficient for channel [m/s] : ", p.manningChannel);
        if (Status s = take(in_, 17, p.channelArea, atLeast(0), "must be 0 or more"); !s) {
            return s;
        }
        echoLine(echo_, "  Area to classify slope and channel : ", p.channelArea);
        echoLine(echo_, "6) Reading itinial discharge for kinematic wave model.");
        if (Status s = take(in_, 18, p.initialRunoff, kNotNegativeReal, "must be 0 or more"); !s) {
            return s;
        }
        echoLine(echo_, "  Initial runoff height [mm/hr] : ", p.initialRunoff);
        return success();
    }

private:
    ValueReader in_;
    std::ostream* echo_;
};

/// The reading of the post-processors' first 11 values, echoed in the style of `map`
/// (with the group headings) or of the series extractor (without).
class OutputReader {
public:
    OutputReader(std::ostream* echo, bool map) : echo_(echo), map_(map) {}
    [[nodiscard]] bool open(const std::filesystem::path& path) { return in_.open(path); }

    [[nodiscard]] Status studyArea(OutputParameters& p) {
        heading("1) Reading parameters for study area.");
        Status s = take(in_, 1, p.studyCols, atLeast(0), kNotNegative);
        s = s ? take(in_, 2, p.studyRows, atLeast(0), kNotNegative) : s;
        if (!s) {
            return s;
        }
        echoLine(echo_, "  Number of col : ", p.studyCols, "  Number of row : ", p.studyRows);
        s = take(in_, 3, p.swLon, kAny, {});
        s = s ? take(in_, 4, p.swLat, kAny, {}) : s;
        if (!s) {
            return s;
        }
        echoLine(echo_, " Sorth West corner Longitude (degree) : ", p.swLon,
                 " Latitude (deg) : ", p.swLat);
        return success();
    }

    [[nodiscard]] Status inputData(OutputParameters& p) {
        heading("2) Reading parameters for input data.");
        Status s = take(in_, 5, p.rainCols, kAny, {});
        s = s ? take(in_, 6, p.rainRows, kAny, {}) : s;
        if (!s) {
            return s;
        }
        echoLine(echo_, "  Number of col : ", p.rainCols, "  Number of row : ", p.rainRows);
        s = take(in_, 7, p.rainDx, kAny, {});
        s = s ? take(in_, 8, p.rainDy, kAny, {}) : s;
        if (!s) {
            return s;
        }
        echoLine(echo_, "  Input data grid size of x-direction : ", p.rainDx);
        echoLine(echo_, "  Input data grid size of y-direction : ", p.rainDy);
        if (s = take(in_, 9, p.rainLon0, kAny, {}); !s) {
            return s;
        }
        echoLine(echo_, "  West corner longitude of input data : ", p.rainLon0);
        if (s = take(in_, 10, p.rainLat0, kAny, {}); !s) {
            return s;
        }
        echoLine(echo_, "  South corner latitude of input data : ", p.rainLat0);
        return success();
    }

    [[nodiscard]] Status duration(OutputParameters& p) {
        echoLine(echo_, "3) Reading parameters for simuration duration.");
        if (Status s = take(in_, 11, p.days, atLeast(0), kNotNegative); !s) {
            return s;
        }
        echoLine(echo_, "  Simulation duration (days) : ", p.days);
        if (map_) {
            echoLine(echo_);
        }
        return success();
    }

private:
    static constexpr const char* kNotNegative = "must not be negative";

    void heading(const char* text) {
        if (map_) {
            echoLine(echo_, text);
        }
    }

    ValueReader in_;
    std::ostream* echo_;
    bool map_;
};

}  // namespace

Result<EventParameters> readEventParameters(const std::filesystem::path& path, std::ostream* echo) {
    echoLine(echo, "Reading parameters for runoff simulation.");
    EventReader in(echo);
    if (!in.open(path)) {
        return cannotOpen();
    }
    EventParameters p;
    Status s = in.studyArea(p);
    s = s ? in.inputData(p) : s;
    s = s ? in.durationAndScheme(p) : s;
    s = s ? in.waveAndStart(p) : s;
    if (!s) {
        return s.error();
    }
    return p;
}

Result<OutputParameters> readOutputParameters(const std::filesystem::path& path, std::ostream* echo,
                                              EchoStyle style) {
    echoLine(echo, "Reading parameters for runoff simulation.");
    OutputReader in(echo, style == EchoStyle::kMap);
    if (!in.open(path)) {
        return cannotOpen();
    }
    OutputParameters p;
    Status s = in.studyArea(p);
    s = s ? in.inputData(p) : s;
    s = s ? in.duration(p) : s;
    if (!s) {
        return s.error();
    }
    return p;
}

Status checkGridSize(const EventParameters& p) {
    constexpr std::int64_t kMaxCells = std::numeric_limits<std::int32_t>::max();
    const std::int64_t studyCells = std::int64_t{p.studyRows} * p.studyCols;
    const std::int64_t rainPoints = std::int64_t{p.rainRows} * p.rainCols;
    if (studyCells > kMaxCells) {
        return Error{"param-event.dat: a study grid of " + std::to_string(p.studyCols) + " x "
                     + std::to_string(p.studyRows) + " cells is too large (at most "
                     + std::to_string(kMaxCells) + " cells)."};
    }
    // Rainfall intensities: (days + 1) x 24 per point.
    const std::int64_t rainValues = (std::int64_t{p.days} + 1) * 24;
    if (rainPoints > kMaxCells
        || rainValues > std::numeric_limits<std::int64_t>::max() / 4 / rainPoints) {
        return Error{"param-event.dat: a rainfall grid of " + std::to_string(p.rainCols) + " x "
                     + std::to_string(p.rainRows) + " points over " + std::to_string(p.days)
                     + " days is too large."};
    }
    return success();
}

namespace {

/// A latitude as judged against `limit`: six digits, or as many more as it takes to show a
/// value beyond the limit as beyond it (the corner is read in single precision, so 90 may be
/// 90.0000031).
std::string judgedText(double latitude, double limit) {
    std::ostringstream text;
    for (int digits = 6; digits <= 17; ++digits) {
        text.str({});
        text.precision(digits);
        text << latitude;
        const double shown = std::strtod(text.str().c_str(), nullptr);
        if ((latitude > limit) == (shown > limit) && (latitude < limit) == (shown < limit)) {
            break;
        }
    }
    return text.str();
}

}  // namespace

Status checkLatitudes(const EventParameters& p) {
    const auto south = static_cast<double>(p.swLat);
    const double north = south + p.studyRows / 120.0;
    if (south >= -90.0 && north <= 90.0) {
        return success();
    }
    std::ostringstream line;
    line << "param-event.dat: the study grid runs from latitude " << judgedText(south, -90.0)
         << " to " << judgedText(north, 90.0) << " degrees (value 4 and " << p.studyRows
         << " rows of 30 arc-seconds); latitudes must lie from -90 to 90.";
    return Error{line.str()};
}

}  // namespace hydro
