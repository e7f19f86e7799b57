#include "case/event_parameters.h"

#include <array>
#include <cmath>
#include <limits>
#include <sstream>
#include <string>
#include <string_view>

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
template <class T, class Read, class Ok>
std::optional<Error> take(Read read, int index, T& field, Ok ok, const std::string& rule) {
    auto value = read(index);
    if (!value) {
        return value.error();
    }
    if (!ok(*value)) {
        return refuse(index, rule, *value);
    }
    field = *value;
    return std::nullopt;
}

/// Rules of the values.
constexpr auto kAny = [](auto) { return true; };
constexpr auto atLeast(std::int32_t least) {
    return [least](std::int32_t v) { return v >= least; };
}

}  // namespace

Result<EventParameters> readEventParameters(const std::filesystem::path& path, std::ostream* echo) {
    echoLine(echo, "Reading parameters for runoff simulation.");
    ValueReader in;
    if (!in.open(path)) {
        return cannotOpen();
    }
    const auto readInt = [&](int i) { return in.readInt(i); };
    const auto readFloat = [&](int i) { return in.readFloat(i); };
    const auto readDouble = [&](int i) { return in.readDouble(i); };
    constexpr const char* kAtLeastOne = "must be at least 1";
    EventParameters p;

    echoLine(echo, "1) Reading parameters for study area.");
    if (auto e = take(readInt, 1, p.studyCols, atLeast(1), kAtLeastOne)) {
        return *e;
    }
    if (auto e = take(readInt, 2, p.studyRows, atLeast(1), kAtLeastOne)) {
        return *e;
    }
    echoLine(echo, "  Number of col : ", p.studyCols, "  Number of row : ", p.studyRows);
    if (auto e = take(readFloat, 3, p.swLon, kAny, {})) {
        return *e;
    }
    if (auto e = take(readFloat, 4, p.swLat, kAny, {})) {
        return *e;
    }
    echoLine(echo, " Sorth West corner Longitude (degree) : ", static_cast<double>(p.swLon),
             " Latitude (deg) : ", static_cast<double>(p.swLat));

    echoLine(echo, "2) Reading parameters for input data.");
    if (auto e = take(readInt, 5, p.rainCols, atLeast(1), kAtLeastOne)) {
        return *e;
    }
    if (auto e = take(readInt, 6, p.rainRows, atLeast(1), kAtLeastOne)) {
        return *e;
    }
    echoLine(echo, "  Number of col : ", p.rainCols, "  Number of row : ", p.rainRows);
    // Values 7 to 10 are read at double precision, echoed as read, and held in single.
    double rainDx = 0.0;
    double rainDy = 0.0;
    double rainLon0 = 0.0;
    double rainLat0 = 0.0;
    if (auto e = take(readDouble, 7, rainDx, kAny, {})) {
        return *e;
    }
    if (auto e = take(readDouble, 8, rainDy, kAny, {})) {
        return *e;
    }
    echoLine(echo, "  Input data grid size of x-direction : ", rainDx);
    echoLine(echo, "  Input data grid size of y-direction : ", rainDy);
    if (auto e = take(readDouble, 9, rainLon0, kAny, {})) {
        return *e;
    }
    echoLine(echo, "  Longitude of the center of the Southwest corner of input data (degree) : ",
             rainLon0);
    if (auto e = take(readDouble, 10, rainLat0, kAny, {})) {
        return *e;
    }
    echoLine(echo, "  Latitude of the center of the Southwest corner of input data (degree) : ",
             rainLat0);
    p.rainDx = static_cast<float>(rainDx);
    p.rainDy = static_cast<float>(rainDy);
    p.rainLon0 = static_cast<float>(rainLon0);
    p.rainLat0 = static_cast<float>(rainLat0);

    echoLine(echo, "3) Reading parameters for simuration duration.");
    if (auto e = take(readInt, 11, p.days, atLeast(1), kAtLeastOne)) {
        return *e;
    }
    echoLine(echo, "  Simulation duration (days) : ", p.days);

    echoLine(echo, "4) Reading parameters for finite difference condition.");
    if (auto e = take(
            readInt, 12, p.timeStep, [&](auto v) { return v >= 1 && v <= kSecondsPerHour; },
            "must be from 1 to 3600")) {
        return *e;
    }
    echoLine(echo, "  Finite difference time step (sec) : ", p.timeStep);
    if (auto e = take(readInt, 13, p.spaceSteps, atLeast(1), kAtLeastOne)) {
        return *e;
    }
    echoLine(echo, "  Finite difference space step : ", p.spaceSteps);
    // 0 is the explicit scheme, 1 the fully implicit one; outside them the scheme diverges.
    if (auto e = take(
            readDouble, 14, p.weight, [&](auto v) { return v >= 0.0 && v <= 1.0; },
            "must be from 0 to 1")) {
        return *e;
    }
    echoLine(echo, "  Finite difference weight : ", p.weight);
    p.subStepsPerHour = kSecondsPerHour / p.timeStep;

    echoLine(echo, "5) Reading parameters for kinematic wave model.");
    if (auto e = take(
            readDouble, 15, p.manningSlope, [&](auto v) { return v > 0.0; }, "must be above 0")) {
        return *e;
    }
    echoLine(echo, "  Manning roughmess coefficient for slope [m/s] : ", p.manningSlope);
    if (auto e = take(
            readDouble, 16, p.manningChannel, [&](auto v) { return v > 0.0; }, "must be above 0")) {
        return *e;
    }
    echoLine(echo, "  Manning roughmess coefficient for channel [m/s] : ", p.manningChannel);
    if (auto e = take(readInt, 17, p.channelArea, atLeast(0), "must be 0 or more")) {
        return *e;
    }
    echoLine(echo, "  Area to classify slope and channel : ", p.channelArea);

    echoLine(echo, "6) Reading itinial discharge for kinematic wave model.");
    if (auto e = take(
            readDouble, 18, p.initialRunoff, [&](auto v) { return v >= 0.0; },
            "must be 0 or more")) {
        return *e;
    }
    echoLine(echo, "  Initial runoff height [mm/hr] : ", p.initialRunoff);
    return p;
}

Result<OutputParameters> readOutputParameters(const std::filesystem::path& path, std::ostream* echo,
                                              EchoStyle style) {
    echoLine(echo, "Reading parameters for runoff simulation.");
    ValueReader in;
    if (!in.open(path)) {
        return cannotOpen();
    }
    const auto readInt = [&](int i) { return in.readInt(i); };
    const auto readDouble = [&](int i) { return in.readDouble(i); };
    constexpr const char* kNotNegative = "must not be negative";
    const bool map = style == EchoStyle::kMap;
    OutputParameters p;

    if (map) {
        echoLine(echo, "1) Reading parameters for study area.");
    }
    if (auto e = take(readInt, 1, p.studyCols, atLeast(0), kNotNegative)) {
        return *e;
    }
    if (auto e = take(readInt, 2, p.studyRows, atLeast(0), kNotNegative)) {
        return *e;
    }
    echoLine(echo, "  Number of col : ", p.studyCols, "  Number of row : ", p.studyRows);
    if (auto e = take(readDouble, 3, p.swLon, kAny, {})) {
        return *e;
    }
    if (auto e = take(readDouble, 4, p.swLat, kAny, {})) {
        return *e;
    }
    echoLine(echo, " Sorth West corner Longitude (degree) : ", p.swLon,
             " Latitude (deg) : ", p.swLat);
    if (map) {
        echoLine(echo, "2) Reading parameters for input data.");
    }
    if (auto e = take(readInt, 5, p.rainCols, kAny, {})) {
        return *e;
    }
    if (auto e = take(readInt, 6, p.rainRows, kAny, {})) {
        return *e;
    }
    echoLine(echo, "  Number of col : ", p.rainCols, "  Number of row : ", p.rainRows);
    if (auto e = take(readDouble, 7, p.rainDx, kAny, {})) {
        return *e;
    }
    if (auto e = take(readDouble, 8, p.rainDy, kAny, {})) {
        return *e;
    }
    echoLine(echo, "  Input data grid size of x-direction : ", p.rainDx);
    echoLine(echo, "  Input data grid size of y-direction : ", p.rainDy);
    if (auto e = take(readDouble, 9, p.rainLon0, kAny, {})) {
        return *e;
    }
    echoLine(echo, "  West corner longitude of input data : ", p.rainLon0);
    if (auto e = take(readDouble, 10, p.rainLat0, kAny, {})) {
        return *e;
    }
    echoLine(echo, "  South corner latitude of input data : ", p.rainLat0);
    echoLine(echo, "3) Reading parameters for simuration duration.");
    if (auto e = take(readInt, 11, p.days, atLeast(0), kNotNegative)) {
        return *e;
    }
    echoLine(echo, "  Simulation duration (days) : ", p.days);
    if (map) {
        echoLine(echo);
    }
    return p;
}

std::optional<Error> gridSizeProblem(const EventParameters& p) {
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
    return std::nullopt;
}

std::optional<Error> latitudeProblem(const EventParameters& p) {
    const auto south = static_cast<double>(p.swLat);
    const double north = south + p.studyRows / 120.0;
    if (south >= -90.0 && north <= 90.0) {
        return std::nullopt;
    }
    std::ostringstream line;
    line << "param-event.dat: the study grid runs from latitude " << south << " to " << north
         << " degrees (value 4 and " << p.studyRows
         << " rows of 30 arc-seconds); latitudes must lie from -90 to 90.";
    return Error{line.str()};
}

}  // namespace hydro
