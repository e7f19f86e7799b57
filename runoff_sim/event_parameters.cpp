#include "runoff_sim/event_parameters.h"

#include <limits>

#include "common/console.h"
#include "common/parameter_tokens.h"

namespace hydro::runoff {

namespace {

constexpr std::int32_t kSecondsPerHour = 3600;

}  // namespace

std::optional<EventParameters> readEventParameters(const std::filesystem::path& path,
                                                   std::ostream& console) {
    sayLine(console, "Reading parameters for runoff simulation.");
    ParameterTokens in(console, "param-event.dat");
    if (!in.open(path)) {
        sayLine(console, "param-event.dat cannot open.");
        return std::nullopt;
    }
    EventParameters p;

    // Each reader stores the value and tells whether it was wholly a number in range.
    const auto atLeastOne = [&](int index, const char* what, std::int32_t& field) {
        const auto v = in.readInt(index, what);
        if (!v) {
            return false;
        }
        if (*v < 1) {
            in.refuse(index, what, "must be at least 1", *v);
            return false;
        }
        field = *v;
        return true;
    };
    const auto single = [&](int index, const char* what, float& field) {
        const auto v = in.readFloat(index, what);
        if (v) {
            field = *v;
        }
        return v.has_value();
    };
    // Values read at double precision and echoed as read, then held in single precision.
    const auto narrowed = [&](int index, const char* what, const char* label, float& field) {
        const auto v = in.readDouble(index, what);
        if (!v) {
            return false;
        }
        sayLine(console, label, *v);
        field = static_cast<float>(*v);
        return true;
    };
    const auto positive = [&](int index, const char* what, double& field) {
        const auto v = in.readDouble(index, what);
        if (!v) {
            return false;
        }
        if (!(*v > 0.0)) {
            in.refuse(index, what, "must be above 0", *v);
            return false;
        }
        field = *v;
        return true;
    };

    sayLine(console, "1) Reading parameters for study area.");
    if (!atLeastOne(1, "number of columns of the study area", p.studyCols)
        || !atLeastOne(2, "number of rows of the study area", p.studyRows)) {
        return std::nullopt;
    }
    sayLine(console, "  Number of col : ", p.studyCols, "  Number of row : ", p.studyRows);
    if (!single(3, "south-west corner longitude", p.swLon)
        || !single(4, "south-west corner latitude", p.swLat)) {
        return std::nullopt;
    }
    sayLine(console, " Sorth West corner Longitude (degree) : ", static_cast<double>(p.swLon),
            " Latitude (deg) : ", static_cast<double>(p.swLat));

    sayLine(console, "2) Reading parameters for input data.");
    if (!atLeastOne(5, "number of columns of the input data", p.rainCols)
        || !atLeastOne(6, "number of rows of the input data", p.rainRows)) {
        return std::nullopt;
    }
    sayLine(console, "  Number of col : ", p.rainCols, "  Number of row : ", p.rainRows);
    if (!narrowed(7, "input data grid size of x-direction",
                  "  Input data grid size of x-direction : ", p.rainDx)
        || !narrowed(8, "input data grid size of y-direction",
                     "  Input data grid size of y-direction : ", p.rainDy)
        || !narrowed(9, "longitude of the south-west point of the input data",
                     "  Longitude of the center of the Southwest corner of input data (degree) : ",
                     p.rainLon0)
        || !narrowed(10, "latitude of the south-west point of the input data",
                     "  Latitude of the center of the Southwest corner of input data (degree) : ",
                     p.rainLat0)) {
        return std::nullopt;
    }

    sayLine(console, "3) Reading parameters for simuration duration.");
    if (!atLeastOne(11, "simulation duration in days", p.days)) {
        return std::nullopt;
    }
    sayLine(console, "  Simulation duration (days) : ", p.days);

    sayLine(console, "4) Reading parameters for finite difference condition.");
    {
        const char* what = "finite difference time step in seconds";
        const auto v = in.readInt(12, what);
        if (!v) {
            return std::nullopt;
        }
        if (*v < 1 || *v > kSecondsPerHour) {
            in.refuse(12, what, "must be from 1 to 3600", *v);
            return std::nullopt;
        }
        p.timeStep = *v;
    }
    sayLine(console, "  Finite difference time step (sec) : ", p.timeStep);
    if (!atLeastOne(13, "finite difference space steps", p.spaceSteps)) {
        return std::nullopt;
    }
    sayLine(console, "  Finite difference space step : ", p.spaceSteps);
    {
        const auto v = in.readDouble(14, "finite difference weight");
        if (!v) {
            return std::nullopt;
        }
        p.weight = *v;
    }
    sayLine(console, "  Finite difference weight : ", p.weight);
    p.subStepsPerHour = kSecondsPerHour / p.timeStep;

    sayLine(console, "5) Reading parameters for kinematic wave model.");
    if (!positive(15, "Manning roughness for slope", p.manningSlope)) {
        return std::nullopt;
    }
    sayLine(console, "  Manning roughmess coefficient for slope [m/s] : ", p.manningSlope);
    if (!positive(16, "Manning roughness for channel", p.manningChannel)) {
        return std::nullopt;
    }
    sayLine(console, "  Manning roughmess coefficient for channel [m/s] : ", p.manningChannel);
    {
        const auto v = in.readInt(17, "area to classify slope and channel");
        if (!v) {
            return std::nullopt;
        }
        p.channelArea = *v;
    }
    sayLine(console, "  Area to classify slope and channel : ", p.channelArea);

    sayLine(console, "6) Reading itinial discharge for kinematic wave model.");
    {
        const char* what = "initial runoff height";
        const auto v = in.readDouble(18, what);
        if (!v) {
            return std::nullopt;
        }
        if (!(*v >= 0.0)) {
            in.refuse(18, what, "must be 0 or more", *v);
            return std::nullopt;
        }
        p.initialRunoff = *v;
    }
    sayLine(console, "  Initial runoff height [mm/hr] : ", p.initialRunoff);
    return p;
}

std::optional<std::string> gridSizeProblem(const EventParameters& p) {
    constexpr std::int64_t kMaxCells = std::numeric_limits<std::int32_t>::max();
    const std::int64_t studyCells = std::int64_t{p.studyRows} * p.studyCols;
    const std::int64_t rainPoints = std::int64_t{p.rainRows} * p.rainCols;
    if (studyCells > kMaxCells) {
        return "param-event.dat: a study grid of " + std::to_string(p.studyCols) + " x "
               + std::to_string(p.studyRows) + " cells is too large (at most "
               + std::to_string(kMaxCells) + " cells).";
    }
    // Rainfall intensities: (days + 1) x 24 per point.
    const std::int64_t rainValues = (std::int64_t{p.days} + 1) * 24;
    if (rainPoints > kMaxCells
        || rainValues > std::numeric_limits<std::int64_t>::max() / 4 / rainPoints) {
        return "param-event.dat: a rainfall grid of " + std::to_string(p.rainCols) + " x "
               + std::to_string(p.rainRows) + " points over " + std::to_string(p.days)
               + " days is too large.";
    }
    return std::nullopt;
}

}  // namespace hydro::runoff
