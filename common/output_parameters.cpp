#include "common/output_parameters.h"

#include "common/console.h"
#include "common/parameter_tokens.h"

namespace hydro {

namespace {

/// Reads one value into `field`; false (after the message) when it is missing or malformed.
template <class T, class Read>
bool take(Read read, T& field) {
    const auto value = read();
    if (!value) {
        return false;
    }
    field = *value;
    return true;
}

}  // namespace

ParameterStatus readOutputParameters(const std::filesystem::path& path, std::ostream& console,
                                     EchoStyle style, OutputParameters& p) {
    sayLine(console, "Reading parameters for runoff simulation.");
    ParameterTokens in(console, "param-event.dat");
    if (!in.open(path)) {
        sayLine(console, "param-event.dat cannot open.");
        return ParameterStatus::kCannotOpen;
    }
    const bool map = style == EchoStyle::kMap;
    const auto count = [&](int index, const char* what, std::int32_t& field) {
        if (!take([&] { return in.readInt(index, what); }, field)) {
            return false;
        }
        if (field < 0) {
            in.refuse(index, what, "must not be negative", field);
            return false;
        }
        return true;
    };
    const auto integer = [&](int index, const char* what, std::int32_t& field) {
        return take([&] { return in.readInt(index, what); }, field);
    };
    const auto real = [&](int index, const char* what, double& field) {
        return take([&] { return in.readDouble(index, what); }, field);
    };

    if (map) {
        sayLine(console, "1) Reading parameters for study area.");
    }
    if (!count(1, "number of columns of the study area", p.studyCols)
        || !count(2, "number of rows of the study area", p.studyRows)) {
        return ParameterStatus::kBadValue;
    }
    sayLine(console, "  Number of col : ", p.studyCols, "  Number of row : ", p.studyRows);
    if (!real(3, "south-west corner longitude", p.swLon)
        || !real(4, "south-west corner latitude", p.swLat)) {
        return ParameterStatus::kBadValue;
    }
    sayLine(console, " Sorth West corner Longitude (degree) : ", p.swLon,
            " Latitude (deg) : ", p.swLat);
    if (map) {
        sayLine(console, "2) Reading parameters for input data.");
    }
    if (!integer(5, "number of columns of the input data", p.rainCols)
        || !integer(6, "number of rows of the input data", p.rainRows)) {
        return ParameterStatus::kBadValue;
    }
    sayLine(console, "  Number of col : ", p.rainCols, "  Number of row : ", p.rainRows);
    if (!real(7, "input data grid size of x-direction", p.rainDx)
        || !real(8, "input data grid size of y-direction", p.rainDy)) {
        return ParameterStatus::kBadValue;
    }
    sayLine(console, "  Input data grid size of x-direction : ", p.rainDx);
    sayLine(console, "  Input data grid size of y-direction : ", p.rainDy);
    if (!real(9, "west corner longitude of input data", p.rainLon0)) {
        return ParameterStatus::kBadValue;
    }
    sayLine(console, "  West corner longitude of input data : ", p.rainLon0);
    if (!real(10, "south corner latitude of input data", p.rainLat0)) {
        return ParameterStatus::kBadValue;
    }
    sayLine(console, "  South corner latitude of input data : ", p.rainLat0);
    sayLine(console, "3) Reading parameters for simuration duration.");
    if (!count(11, "simulation duration in days", p.days)) {
        return ParameterStatus::kBadValue;
    }
    sayLine(console, "  Simulation duration (days) : ", p.days);
    if (map) {
        sayLine(console);
    }
    return ParameterStatus::kOk;
}

}  // namespace hydro
