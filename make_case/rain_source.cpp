#include "make_case/rain_source.h"

#include <gdal_priv.h>
#include <gdal_utils.h>
#include <ogr_spatialref.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <memory>
#include <numeric>
#include <sstream>

#include "case/event_start.h"
#include "case/time_parse.h"
#include "common/memory_headroom.h"
#include "common/number_stream.h"
#include "make_case/netcdf_header.h"
#include "make_case/rain_limits.h"

namespace hydro::make_case {

namespace {

namespace fs = std::filesystem;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr std::int64_t kHour = 3600;

Error bad(const fs::path& path, const std::string& what) {
    return Error{path.string() + ": " + what};
}

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

std::string trim(const std::string& s) {
    const auto b = s.find_first_not_of(" \t");
    const auto e = s.find_last_not_of(" \t");
    return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

std::string isoText(std::int64_t unix) {
    return fromUnixSeconds(0).isoAfter(unix);
}

/// What one step's value means.
enum class Kind { kIntensity, kAccumulation };

/// The product as read, step by step, before it is made hourly.
struct Steps {
    std::vector<double> lat;  ///< as in the file
    std::vector<double> lon;
    std::vector<std::int64_t> t0;  ///< period of each step, seconds since 1970
    std::vector<std::int64_t> t1;
    std::vector<std::vector<float>> values;  ///< each lat.size() x lon.size(), mm or mm/h
    Kind kind = Kind::kAccumulation;
};

/// Point centres that step evenly by `d` (the first difference), within rounding of the
/// single-precision coordinates files often hold.
bool isRegular(const std::vector<double>& v) {
    if (v.size() < 2) {
        return false;
    }
    const double d = v[1] - v[0];
    if (d == 0.0) {
        return false;
    }
    const double tolerance = 1e-4 * std::fabs(d) + 1e-7;
    for (std::size_t k = 1; k < v.size(); ++k) {
        if (std::fabs((v[k] - v[k - 1]) - d) > tolerance) {
            return false;
        }
    }
    return true;
}

/// Reorders the grid to rows from the south and columns from the west, longitudes within 180
/// degrees of the study area's centre (the values of `steps` too); then checks the spacing.
Result<RainSeries> orientGrid(const fs::path& path, Steps& steps, const RainReadOptions& o) {
    const auto offGlobe = [](double lat) { return !(lat >= -90.0 && lat <= 90.0); };
    if (std::any_of(steps.lat.begin(), steps.lat.end(), offGlobe)) {
        return bad(path, "a latitude of the grid is not a number from -90 to 90.");
    }
    const auto notFinite = [](double lon) { return !std::isfinite(lon); };
    if (std::any_of(steps.lon.begin(), steps.lon.end(), notFinite)) {
        return bad(path, "a longitude of the grid is not a number.");
    }
    const double centre = 0.5 * (o.west + o.east);
    std::vector<double> lon = steps.lon;
    for (double& x : lon) {
        x -= 360.0 * std::floor((x - centre + 180.0) / 360.0);
    }
    std::vector<std::size_t> colOrder(lon.size());
    std::iota(colOrder.begin(), colOrder.end(), std::size_t{0});
    std::stable_sort(colOrder.begin(), colOrder.end(),
                     [&](std::size_t a, std::size_t b) { return lon[a] < lon[b]; });
    std::vector<std::size_t> rowOrder(steps.lat.size());
    std::iota(rowOrder.begin(), rowOrder.end(), std::size_t{0});
    if (steps.lat.size() > 1 && steps.lat.front() > steps.lat.back()) {
        std::reverse(rowOrder.begin(), rowOrder.end());
    }
    RainSeries s;
    for (const std::size_t c : colOrder) {
        s.lon.push_back(lon[c]);
    }
    for (const std::size_t r : rowOrder) {
        s.lat.push_back(steps.lat[r]);
    }
    if (!isRegular(s.lat) || !isRegular(s.lon)) {
        return bad(path, std::string("the ") + (isRegular(s.lat) ? "longitudes" : "latitudes")
                             + " of the grid are not evenly spaced (at least two points in each "
                               "direction, one spacing); a regular grid is needed.");
    }
    const std::size_t cols = s.lon.size();
    const std::size_t inCols = steps.lon.size();
    for (auto& grid : steps.values) {
        std::vector<float> out(grid.size());
        for (std::size_t r = 0; r < rowOrder.size(); ++r) {
            for (std::size_t c = 0; c < cols; ++c) {
                out[r * cols + c] = grid[rowOrder[r] * inCols + colOrder[c]];
            }
        }
        grid = std::move(out);
    }

    return s;
}

/// Checks that the steps tile the hours without gaps; returns whether some are longer than an
/// hour (to be spread).
Result<bool> checkSteps(const fs::path& path, const Steps& steps, const RainReadOptions& o) {
    bool spread = false;
    const std::size_t n = steps.t0.size();
    if (n == 0) {
        return bad(path, "it holds no time steps.");
    }
    for (std::size_t k = 0; k < n; ++k) {
        const std::int64_t len = steps.t1[k] - steps.t0[k];
        if (len <= 0 || (len < kHour && kHour % len != 0) || (len > kHour && len % kHour != 0)) {
            return bad(path, "a step of " + std::to_string(len) + " s (from " + isoText(steps.t0[k])
                                 + ") does not tile the hour; steps must divide an hour or be "
                                   "whole hours.");
        }
        if (len > kHour && !o.spreadEvenly) {
            return bad(path, "its steps are " + std::to_string(len / kHour)
                                 + " hours long; give --spread-evenly to spread each step's "
                                   "rain evenly over its hours.");
        }
        if (k > 0 && steps.t0[k] != steps.t1[k - 1]) {
            return bad(path, "the step from " + isoText(steps.t0[k])
                                 + " does not follow the one before it (a gap, an overlap or "
                                   "steps out of order).");
        }
        spread = spread || len > kHour;
    }
    return spread;
}

/// The start of the event: --start, which must begin a step, or the first step's.
Result<std::int64_t> eventStart(const fs::path& path, const Steps& steps,
                                const RainReadOptions& o) {
    const std::size_t n = steps.t0.size();
    const std::int64_t start = o.start.value_or(steps.t0.front());
    bool startFound = false;
    for (std::size_t k = 0; k < n && !startFound; ++k) {
        const std::int64_t len = steps.t1[k] - steps.t0[k];
        const std::int64_t stride = len > kHour ? kHour : len;
        startFound =
            start >= steps.t0[k] && start < steps.t1[k] && (start - steps.t0[k]) % stride == 0;
    }
    if (!startFound) {
        return bad(path, "--start " + isoText(start) + " is not the start of a step between "
                             + isoText(steps.t0.front()) + " and " + isoText(steps.t1.back())
                             + ".");
    }
    return start;
}

/// The hours of step `k` from `start` that fall before hour `cap`: the first and one past the
/// last of its sub-hours (a step longer than an hour has one per hour, a shorter one only one).
std::pair<std::int64_t, std::int64_t> subHoursWanted(const Steps& steps, std::size_t k,
                                                     std::int64_t start, std::int64_t cap) {
    const std::int64_t len = steps.t1[k] - steps.t0[k];
    if (len <= kHour) {
        return {0, steps.t0[k] >= start && (steps.t0[k] - start) / kHour < cap ? 1 : 0};
    }
    // Sub-hour j starts at t0 + j hours; keep those from `start` to before hour `cap`, so that
    // a step of many years costs only the hours wanted.
    const std::int64_t e = start - steps.t0[k];
    const std::int64_t hoursUp = e >= 0 ? (e + kHour - 1) / kHour : -(-e / kHour);
    const std::int64_t first = std::max<std::int64_t>(0, hoursUp);
    const std::int64_t end = std::min(len / kHour, hoursUp + cap);
    return {first, std::max(first, end)};
}

/// The hourly intensities from `start`, steps longer than an hour spread over their hours and
/// shorter ones gathered into theirs; only whole hours are kept, at most --hours of them and
/// never more than an event may hold.
Result<std::vector<std::vector<float>>> hourlyValues(const fs::path& path, const Steps& steps,
                                                     const RainReadOptions& o, std::int64_t start,
                                                     std::size_t points) {
    const std::size_t n = steps.t0.size();
    // One hour beyond the limit is gathered, to tell a product that runs on.
    const std::int64_t cap = o.hours ? *o.hours : kMaxEventHours + 1;
    std::vector<std::vector<double>> sums;
    std::vector<std::int64_t> covered;
    std::vector<std::int32_t> parts;
    for (std::size_t k = 0; k < n; ++k) {
        const std::int64_t len = steps.t1[k] - steps.t0[k];
        if (steps.t1[k] <= start) {
            continue;
        }
        const std::int64_t subHours = len > kHour ? len / kHour : 1;
        const auto [jFirst, jEnd] = subHoursWanted(steps, k, start, cap);
        for (std::int64_t j = jFirst; j < jEnd; ++j) {
            const std::int64_t from = steps.t0[k] + j * (len > kHour ? kHour : 0);
            const auto h = static_cast<std::size_t>((from - start) / kHour);
            if (sums.size() <= h) {
                sums.resize(h + 1, std::vector<double>(points, 0.0));
                covered.resize(h + 1, 0);
                parts.resize(h + 1, 0);
            }
            const std::vector<float>& v = steps.values[k];
            std::vector<double>& sum = sums[h];
            for (std::size_t p = 0; p < points; ++p) {
                auto x = static_cast<double>(v[p]);
                if (len > kHour && steps.kind == Kind::kAccumulation) {
                    x /= static_cast<double>(subHours);
                }
                sum[p] += x;
            }
            covered[h] += len > kHour ? kHour : len;
            ++parts[h];
        }
    }
    std::size_t complete = 0;
    while (complete < covered.size() && covered[complete] == kHour) {
        ++complete;
    }
    std::size_t wanted = complete;
    if (o.hours) {
        wanted = static_cast<std::size_t>(*o.hours);
        if (wanted > complete) {
            return bad(path, "it holds " + std::to_string(complete) + " whole hours from "
                                 + isoText(start) + ", fewer than --hours "
                                 + std::to_string(*o.hours) + ".");
        }
    } else if (complete > static_cast<std::size_t>(kMaxEventHours)) {
        return bad(path, "it holds more than " + std::to_string(kMaxEventHours)
                             + " whole hours (a year) from " + isoText(start)
                             + ", more than one event may; choose them with --start and --hours.");
    }
    if (wanted == 0) {
        return bad(path, "it holds no whole hour from " + isoText(start) + ".");
    }
    std::vector<std::vector<float>> hours;
    for (std::size_t h = 0; h < wanted; ++h) {
        std::vector<float> hour(points);
        for (std::size_t p = 0; p < points; ++p) {
            double x = sums[h][p];
            if (steps.kind == Kind::kIntensity) {
                x /= static_cast<double>(parts[h]);  // intensities: the mean over the hour
            }
            hour[p] = static_cast<float>(x);  // accumulations: the sum, mm in the hour = mm/h
        }
        hours.push_back(std::move(hour));
    }
    return hours;
}

/// The grid oriented and the steps turned into hours from the event's start.
Result<RainSeries> orient(const fs::path& path, Steps steps, const RainReadOptions& o) {
    auto s = orientGrid(path, steps, o);
    if (!s) {
        return s;
    }
    for (std::size_t k = 0; k < steps.t0.size(); ++k) {
        if (!instantPlus(steps.t0[k], 0) || !instantPlus(steps.t1[k], 0)) {
            return bad(path, "the time step " + std::to_string(k + 1) + " " + kOutsideYears + ".");
        }
    }
    const auto spread = checkSteps(path, steps, o);
    if (!spread) {
        return spread.error();
    }
    s->spread = *spread;
    const auto start = eventStart(path, steps, o);
    if (!start) {
        return start.error();
    }
    auto hours = hourlyValues(path, steps, o, *start, s->lat.size() * s->lon.size());
    if (!hours) {
        return hours.error();
    }
    // rain.dat heads every hour of whole days with its date.
    const auto lastHour = static_cast<std::int64_t>((hours->size() + 23) / 24 * 24 - 1);
    if (!instantPlus(*start, lastHour * kHour)) {
        return bad(path,
                   "the event's last day (from " + isoText(*start) + ") " + kOutsideYears + ".");
    }
    s->hours = std::move(*hours);
    s->startUnix = *start;
    return s;
}

// ---------------------------------------------------------------- CF-NetCDF

using ArrayPtr = std::shared_ptr<GDALMDArray>;

std::string stringAttribute(const ArrayPtr& a, const char* name) {
    const auto attr = a->GetAttribute(name);
    if (!attr) {
        return {};
    }
    const char* s = attr->ReadAsString();
    return s != nullptr ? std::string(s) : std::string();
}

std::optional<double> numberAttribute(const ArrayPtr& a, const char* name) {
    const auto attr = a->GetAttribute(name);
    if (!attr || attr->GetDataType().GetClass() != GEDTC_NUMERIC) {
        return std::nullopt;
    }
    return attr->ReadAsDouble();
}

enum class Axis { kNone, kTime, kLat, kLon };

Axis axisOf(const std::shared_ptr<GDALDimension>& dim) {
    const std::string name = lower(dim->GetName());
    std::string units;
    std::string standard;
    if (const auto var = dim->GetIndexingVariable()) {
        units = lower(stringAttribute(var, "units"));
        standard = lower(stringAttribute(var, "standard_name"));
    }
    if (name == "time" || standard == "time" || units.find(" since ") != std::string::npos) {
        return Axis::kTime;
    }
    if (name == "lat" || name == "latitude" || standard == "latitude"
        || units.starts_with("degree_n") || units.starts_with("degrees_n")) {
        return Axis::kLat;
    }
    if (name == "lon" || name == "longitude" || standard == "longitude"
        || units.starts_with("degree_e") || units.starts_with("degrees_e")) {
        return Axis::kLon;
    }
    return Axis::kNone;
}

std::optional<std::vector<double>> readAll(const ArrayPtr& a) {
    std::size_t total = 1;
    std::vector<GUInt64> start;
    std::vector<std::size_t> count;
    for (const auto& d : a->GetDimensions()) {
        start.push_back(0);
        count.push_back(static_cast<std::size_t>(d->GetSize()));
        total *= count.back();
    }
    std::vector<double> v(total);
    if (!a->Read(start.data(), count.data(), nullptr, nullptr,
                 GDALExtendedDataType::Create(GDT_Float64), v.data())) {
        return std::nullopt;
    }
    return v;
}

// One pass over the variable's axes, units and steps; its parts share a dozen locals.
/// The rainfall variable: --variable, or the only one with time, latitude and longitude
/// dimensions.
Result<std::string> rainVariable(const fs::path& path, const std::shared_ptr<GDALGroup>& root,
                                 const RainReadOptions& o) {
    std::vector<std::string> candidates;
    for (const std::string& name : root->GetMDArrayNames()) {
        const auto a = root->OpenMDArray(name);
        if (!a || a->GetDimensionCount() != 3) {
            continue;
        }
        int seen = 0;
        for (const auto& d : a->GetDimensions()) {
            seen |= 1 << static_cast<int>(axisOf(d));
        }
        if (seen == 0b1110) {
            candidates.push_back(name);
        }
    }
    std::string name;
    if (o.variable) {
        name = *o.variable;
        if (std::find(candidates.begin(), candidates.end(), name) == candidates.end()) {
            return bad(path, "has no variable \"" + name
                                 + "\" with time, latitude and longitude dimensions.");
        }
    } else if (candidates.size() == 1) {
        name = candidates.front();
    } else if (candidates.empty()) {
        return bad(path, "has no variable with time, latitude and longitude dimensions.");
    } else {
        std::string list;
        for (const auto& c : candidates) {
            list += (list.empty() ? "" : ", ") + quoteToken(c);
        }
        return bad(path,
                   "has several rainfall variables (" + list + "); choose one with --variable.");
    }
    return name;
}

/// The steps' start and end times from the CF time coordinate `times`, its units, calendar and
/// optional bounds.
Status netCdfTimes(const fs::path& path, const std::shared_ptr<GDALGroup>& root,
                   const ArrayPtr& timeVar, const std::vector<double>& times,
                   const RainReadOptions& o, Steps& steps) {
    const std::string calendar = lower(stringAttribute(timeVar, "calendar"));
    if (!isGregorianCalendar(calendar)) {
        return bad(path, "the time calendar \"" + quoteToken(calendar)
                             + "\" is not known (standard, gregorian or proleptic_gregorian).");
    }
    const std::string tUnits = stringAttribute(timeVar, "units");
    const auto tu = parseCfTimeUnits(tUnits);
    if (!tu) {
        return bad(path,
                   "the time units \"" + quoteToken(tUnits) + "\" " + tu.error().message + ".");
    }
    // A value that is no number, or whose instant lies outside the years 1 to 9999.
    std::optional<std::string> fault;
    const auto toUnix = [&](double v) -> std::optional<std::int64_t> {
        auto t = cfInstant(*tu, v);
        if (!t) {
            fault = "the time value " + shortestText(v) + " (" + quoteToken(tUnits) + ") "
                    + t.error().message + ".";
            return std::nullopt;
        }
        return *t;
    };
    const std::string boundsName = stringAttribute(timeVar, "bounds");
    if (!boundsName.empty()) {
        const auto bv = root->OpenMDArray(boundsName);
        auto b = bv ? readAll(bv) : std::nullopt;
        if (!b || b->size() != 2 * times.size()) {
            return bad(path, "the time bounds \"" + quoteToken(boundsName) + "\" cannot be read.");
        }
        for (std::size_t k = 0; k < times.size(); ++k) {
            const auto a = toUnix((*b)[2 * k]);
            const auto e = toUnix((*b)[2 * k + 1]);
            if (!a || !e) {
                return bad(path, "a time bound: " + *fault);
            }
            steps.t0.push_back(*a);
            steps.t1.push_back(*e);
        }
    } else {
        if (times.size() < 2) {
            return bad(path, "one time step without time bounds: its length is not known.");
        }
        std::vector<std::int64_t> t;
        for (const double v : times) {
            const auto u = toUnix(v);
            if (!u) {
                return bad(path, *fault);
            }
            t.push_back(*u);
        }
        // Both within the years 1 to 9999, so no sum below overflows.
        const std::int64_t len = t[1] - t[0];
        for (const std::int64_t x : t) {
            steps.t0.push_back(o.timeIsEnd ? x - len : x);
            steps.t1.push_back(o.timeIsEnd ? x : x + len);
        }
    }

    return success();
}

/// What the values of `var` measure, and the factor that turns them into mm/h or mm.
Result<std::pair<Kind, double>> netCdfUnits(const fs::path& path, const ArrayPtr& var,
                                            const std::string& name, const std::string& units,
                                            const RainReadOptions& o) {
    Kind kind = Kind::kIntensity;
    const std::string methods = lower(stringAttribute(var, "cell_methods"));
    const std::string u = lower(units);
    double factor = 1.0;
    if (u == "mm h-1" || u == "mm/h" || u == "mm hr-1" || u == "mm/hr") {
        kind = Kind::kIntensity;
    } else if (u == "kg m-2 s-1" || u == "mm s-1" || u == "mm/s") {
        kind = Kind::kIntensity;
        factor = 3600.0;
    } else if (u == "m" || u == "mm") {
        if (methods.find("time: sum") == std::string::npos && !o.accumulated) {
            return bad(path, "the units of " + quoteToken(name) + " are \"" + quoteToken(units)
                                 + "\" without cell_methods \"time: sum\"; give --accumulated if "
                                   "the values are sums over each step.");
        }
        kind = Kind::kAccumulation;
        factor = u == "m" ? 1000.0 : 1.0;
    } else {
        return bad(path, "the units of " + quoteToken(name) + " are \"" + quoteToken(units)
                             + "\", not one of mm h-1, mm/h, kg m-2 s-1, mm s-1, or m or mm "
                               "summed over each step.");
    }
    return std::make_pair(kind, factor * o.scale);
}

/// The values of `var` unpacked and scaled, one grid per step, rows and columns as the file
/// holds them; fill and missing values become NaN.
Status netCdfValues(const fs::path& path, const ArrayPtr& var, const std::string& name,
                    const std::array<std::size_t, 3>& position,
                    const std::array<std::size_t, 3>& size, double factor, Steps& steps) {
    bool hasFill = false;
    const double fill = var->GetNoDataValueAsDouble(&hasFill);
    const auto missing = numberAttribute(var, "missing_value");
    bool hasScale = false;
    bool hasOffset = false;
    const double packScale = var->GetScale(&hasScale);
    const double packOffset = var->GetOffset(&hasOffset);
    const auto raw = readAll(var);
    if (!raw) {
        return bad(path, "the values of " + quoteToken(name) + " cannot be read.");
    }
    std::array<std::size_t, 3> stride{};
    {
        std::size_t s = 1;
        for (std::size_t k = 3; k-- > 0;) {
            for (std::size_t axis = 0; axis < 3; ++axis) {
                if (position[axis] == k) {
                    stride[axis] = s;
                    s *= size[axis];
                }
            }
        }
    }
    for (std::size_t t = 0; t < size[0]; ++t) {
        std::vector<float> grid(size[1] * size[2]);
        for (std::size_t r = 0; r < size[1]; ++r) {
            for (std::size_t c = 0; c < size[2]; ++c) {
                double v = (*raw)[t * stride[0] + r * stride[1] + c * stride[2]];
                if ((hasFill && v == fill) || (missing && v == *missing) || std::isnan(v)) {
                    v = kNaN;
                } else {
                    v = (hasScale ? v * packScale : v) + (hasOffset ? packOffset : 0.0);
                    v *= factor;
                }
                grid[r * size[2] + c] = static_cast<float>(v);
            }
        }
        steps.values.push_back(std::move(grid));
    }
    return success();
}

Result<RainSeries> readNetCdf(const fs::path& path, const RainReadOptions& o) {
    if (const Status header = checkNetCdfHeader(path); !header) {
        return header.error();
    }
    std::unique_ptr<GDALDataset> ds(GDALDataset::Open(
        path.c_str(), GDAL_OF_MULTIDIM_RASTER | GDAL_OF_READONLY, nullptr, nullptr, nullptr));
    if (!ds) {
        return bad(path, "cannot be opened as NetCDF.");
    }
    const auto root = ds->GetRootGroup();
    if (!root) {
        return bad(path, "holds no variables.");
    }
    const auto variable = rainVariable(path, root, o);
    if (!variable) {
        return variable.error();
    }
    const std::string& name = *variable;
    const auto var = root->OpenMDArray(name);
    const auto dims = var->GetDimensions();
    std::array<std::size_t, 3> position{};  // position of time, lat, lon among the dimensions
    std::array<std::size_t, 3> size{};
    for (std::size_t k = 0; k < 3; ++k) {
        const auto axis = static_cast<std::size_t>(axisOf(dims[k])) - 1;
        position[axis] = k;
        size[axis] = static_cast<std::size_t>(dims[k]->GetSize());
    }
    Steps steps;
    std::array<std::vector<double>, 3> coords;
    for (std::size_t axis = 0; axis < 3; ++axis) {
        const auto iv = dims[position[axis]]->GetIndexingVariable();
        auto v = iv ? readAll(iv) : std::nullopt;
        if (!v) {
            return bad(path, "the dimension " + quoteToken(dims[position[axis]]->GetName())
                                 + " has no coordinate values.");
        }
        coords[axis] = std::move(*v);
    }
    steps.lat = coords[1];
    steps.lon = coords[2];

    const auto timeVar = dims[position[0]]->GetIndexingVariable();
    if (const Status timed = netCdfTimes(path, root, timeVar, coords[0], o, steps); !timed) {
        return timed.error();
    }
    const std::string units = trim(stringAttribute(var, "units"));
    const auto kind = netCdfUnits(path, var, name, units, o);
    if (!kind) {
        return kind.error();
    }
    steps.kind = kind->first;
    if (const Status read = netCdfValues(path, var, name, position, size, kind->second, steps);
        !read) {
        return read.error();
    }
    auto series = orient(path, std::move(steps), o);
    if (series.ok()) {
        series->description = quoteToken(name) + " (" + quoteToken(units) + ")";
    }
    return series;
}

// ---------------------------------------------------------------- other rasters

/// Whether points of `srs` can be transformed to WGS 84 longitude and latitude.
bool reachesLatLon(const OGRSpatialReference& srs) {
    OGRSpatialReference wgs84;
    wgs84.SetWellKnownGeogCS("WGS84");
    wgs84.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    const std::unique_ptr<OGRCoordinateTransformation, void (*)(OGRCoordinateTransformation*)> ct(
        OGRCreateCoordinateTransformation(&srs, &wgs84), OGRCoordinateTransformation::DestroyCT);
    return ct != nullptr;
}

/// A number as GDAL's options take it: six decimals when they hold it exactly, else every
/// digit it needs.
std::string exactText(double v) {
    std::string text = std::to_string(v);
    if (std::strtod(text.c_str(), nullptr) != v) {
        std::ostringstream s;
        s.precision(17);
        s << v;
        text = s.str();
    }
    return text;
}

std::optional<std::int64_t> timeFromName(const fs::path& path, const std::string& format) {
    std::tm tm{};
    const std::string name = path.filename().string();
    const char* end = strptime(name.c_str(), format.c_str(), &tm);
    if (end == nullptr) {
        return std::nullopt;
    }
    return civilInstant(std::int64_t{tm.tm_year} + 1900, std::int64_t{tm.tm_mon} + 1, tm.tm_mday,
                        tm.tm_hour, tm.tm_min, tm.tm_sec);
}

/// One band on a latitude-longitude grid: the raster's own cells when it is geographic,
/// otherwise averaged onto a grid of `spacing` degrees around the study area.
Result<std::pair<Steps, std::vector<std::vector<float>>>> readRasterBands(
    const fs::path& path, const RainReadOptions& o) {
    if (const Status header = checkNetCdfHeader(path); !header) {
        return header.error();
    }
    std::unique_ptr<GDALDataset> src(GDALDataset::Open(
        path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY, nullptr, nullptr, nullptr));
    if (!src) {
        return bad(path, "cannot be opened as a raster.");
    }
    OGRSpatialReference srs;
    if (o.crs) {
        if (srs.SetFromUserInput(o.crs->c_str()) != OGRERR_NONE) {
            return Error{"--crs \"" + quoteToken(*o.crs) + "\" is not a CRS GDAL knows."};
        }
    } else if (const OGRSpatialReference* own = src->GetSpatialRef()) {
        srs = *own;
    } else {
        return bad(path, "names no CRS; give it with --crs.");
    }
    srs.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    if (!reachesLatLon(srs)) {
        return o.crs ? Error{"--crs \"" + quoteToken(*o.crs)
                             + "\" cannot be transformed to WGS 84 longitude and latitude."}
                     : bad(path, "its CRS cannot be transformed to WGS 84 longitude and latitude.");
    }
    std::array<double, 6> gt{};
    if (src->GetGeoTransform(gt.data()) != CE_None || gt[2] != 0.0 || gt[4] != 0.0) {
        return bad(path, "has no north-up geotransform.");
    }
    std::unique_ptr<GDALDataset> warped;
    GDALDataset* ds = src.get();
    if (srs.IsGeographic() == 0) {
        const double sp = o.spacing;
        const double w = (std::floor(o.west / sp) - 2.0) * sp;
        const double s = (std::floor(o.south / sp) - 2.0) * sp;
        const double e = (std::ceil(o.east / sp) + 2.0) * sp;
        const double n = (std::ceil(o.north / sp) + 2.0) * sp;
        const double points = std::round((e - w) / sp) * std::round((n - s) / sp);
        if (!(points <= static_cast<double>(kMaxRainPoints))) {
            std::ostringstream line;
            line << "--spacing " << sp << " makes a grid of " << points
                 << " rain points around the study area, more than " << kMaxRainPoints
                 << "; take a wider spacing.";
            return Error{line.str()};
        }
        char* wkt = nullptr;
        srs.exportToWkt(&wkt);
        const std::string srcWkt = wkt != nullptr ? wkt : "";
        CPLFree(wkt);
        std::vector<std::string> args{"-s_srs",
                                      srcWkt,
                                      "-t_srs",
                                      "EPSG:4326",
                                      "-te",
                                      std::to_string(w),
                                      std::to_string(s),
                                      std::to_string(e),
                                      std::to_string(n),
                                      "-tr",
                                      exactText(sp),
                                      exactText(sp)};
        warped = averageInMemory(*src, std::move(args));
        if (!warped) {
            return bad(path, "cannot be averaged onto latitude-longitude: \""
                                 + quoteToken(CPLGetLastErrorMsg()) + "\".");
        }
        ds = warped.get();
        ds->GetGeoTransform(gt.data());
    }
    const int cols = ds->GetRasterXSize();
    const int rows = ds->GetRasterYSize();
    Steps steps;
    for (int c = 0; c < cols; ++c) {
        steps.lon.push_back(gt[0] + (c + 0.5) * gt[1]);
    }
    for (int r = 0; r < rows; ++r) {
        steps.lat.push_back(gt[3] + (r + 0.5) * gt[5]);
    }
    std::vector<std::vector<float>> bands;
    for (int b = 1; b <= ds->GetRasterCount(); ++b) {
        GDALRasterBand* band = ds->GetRasterBand(b);
        int hasNoData = 0;
        const double noData = band->GetNoDataValue(&hasNoData);
        std::vector<double> v(static_cast<std::size_t>(cols) * static_cast<std::size_t>(rows));
        if (band->RasterIO(GF_Read, 0, 0, cols, rows, v.data(), cols, rows, GDT_Float64, 0, 0,
                           nullptr)
            != CE_None) {
            return bad(path, "band " + std::to_string(b) + " cannot be read.");
        }
        std::vector<float> grid(v.size());
        for (std::size_t k = 0; k < v.size(); ++k) {
            const bool none = std::isnan(v[k]) || (hasNoData != 0 && v[k] == noData);
            grid[k] = static_cast<float>(none ? kNaN : v[k] * o.scale);
        }
        bands.push_back(std::move(grid));
    }
    return std::make_pair(std::move(steps), std::move(bands));
}

Result<RainSeries> readRasters(const RainReadOptions& o) {
    Steps steps;
    steps.kind = Kind::kAccumulation;
    std::vector<std::pair<std::int64_t, std::size_t>> order;  // hour start, path index
    if (o.paths.size() > 1 && !o.timeFormat) {
        return Error{
            "Several rainfall files need --time-format to take their times from their names."};
    }
    std::vector<std::vector<std::vector<float>>> perFile;
    for (std::size_t k = 0; k < o.paths.size(); ++k) {
        const fs::path& path = o.paths[k];
        auto read = readRasterBands(path, o);
        if (!read.ok()) {
            return read.error();
        }
        if (k == 0) {
            steps.lat = read->first.lat;
            steps.lon = read->first.lon;
        } else if (read->first.lat != steps.lat || read->first.lon != steps.lon) {
            return bad(path, "its grid differs from that of " + o.paths[0].string() + ".");
        }
        std::int64_t t = 0;
        if (o.timeFormat) {
            const auto named = timeFromName(path, *o.timeFormat);
            if (!named) {
                return bad(path,
                           "its name does not match --time-format \"" + *o.timeFormat + "\".");
            }
            t = o.timeIsEnd ? *named - kHour : *named;
        } else if (o.start) {
            t = *o.start;
        } else {
            return bad(path, "a raster without times needs --start for its first band.");
        }
        order.emplace_back(t, k);
        perFile.push_back(std::move(read->second));
    }
    std::sort(order.begin(), order.end());
    for (const auto& [t, k] : order) {
        for (std::size_t b = 0; b < perFile[k].size(); ++b) {
            steps.t0.push_back(t + static_cast<std::int64_t>(b) * kHour);
            steps.t1.push_back(t + static_cast<std::int64_t>(b + 1) * kHour);
            steps.values.push_back(std::move(perFile[k][b]));
        }
    }
    RainReadOptions inner = o;
    if (!o.timeFormat) {
        inner.start.reset();
    }
    auto series = orient(o.paths[0], std::move(steps), inner);
    if (series.ok()) {
        series->description = std::to_string(o.paths.size()) + " raster file(s), mm per hour";
    }
    return series;
}

bool isNetCdf(const fs::path& path) {
    GDALDriverH driver = GDALIdentifyDriver(path.c_str(), nullptr);
    return driver != nullptr && std::string(GDALGetDriverShortName(driver)) == "netCDF";
}

}  // namespace

std::unique_ptr<GDALDataset> averageInMemory(GDALDataset& src, std::vector<std::string> args) {
    for (const char* a : {"-r", "average", "-ot", "Float64", "-dstnodata", "nan", "-of", "MEM"}) {
        args.emplace_back(a);
    }
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    GDALWarpAppOptions* options = GDALWarpAppOptionsNew(argv.data(), nullptr);
    GDALDatasetH handle = GDALDataset::ToHandle(&src);
    int usageError = 0;
    std::unique_ptr<GDALDataset> warped(
        GDALDataset::FromHandle(GDALWarp("", nullptr, 1, &handle, options, &usageError)));
    GDALWarpAppOptionsFree(options);
    return warped;
}

Result<RainSeries> readRainSeries(const RainReadOptions& o) {
    requireHeadroom();
    GDALAllRegister();
    CPLPushErrorHandler(CPLQuietErrorHandler);
    struct Pop {
        Pop() = default;
        Pop(const Pop&) = delete;
        Pop& operator=(const Pop&) = delete;
        Pop(Pop&&) = delete;
        Pop& operator=(Pop&&) = delete;
        ~Pop() { CPLPopErrorHandler(); }
    } pop;
    if (o.paths.size() == 1 && isNetCdf(o.paths[0])) {
        return readNetCdf(o.paths[0], o);
    }
    return readRasters(o);
}

}  // namespace hydro::make_case
