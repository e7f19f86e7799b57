#include "make_case/gauge_rain.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <numbers>
#include <set>
#include <sstream>
#include <system_error>

#include "case/case.h"
#include "case/event_start.h"
#include "case/rain_grid.h"
#include "case/time_parse.h"
#include "common/console.h"
#include "common/file_transaction.h"
#include "common/number_stream.h"
#include "common/option_hint.h"
#include "make_case/case_input.h"
#include "make_case/params_command.h"
#include "make_case/rain_limits.h"

namespace hydro::make_case {

namespace {

namespace fs = std::filesystem;
constexpr int kFailure = 1;
constexpr std::int64_t kSecondsPerHour = 3600;
constexpr double kEarthRadiusKm = 6371.0088;
constexpr double kOnGaugeKm = 0.001;

std::string trim(const std::string& s) {
    std::size_t b = 0;
    std::size_t e = s.size();
    while (b < e && isTokenSpace(s[b])) {
        ++b;
    }
    while (e > b && isTokenSpace(s[e - 1])) {
        --e;
    }
    return s.substr(b, e - b);
}

std::vector<std::string> splitComma(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t pos = 0;
    while (true) {
        const std::size_t comma = line.find(',', pos);
        fields.push_back(trim(line.substr(pos, comma - pos)));
        if (comma == std::string::npos) {
            return fields;
        }
        pos = comma + 1;
    }
}

}  // namespace

Result<std::vector<GaugeRecord>> readGaugeRecords(std::istream& in, const std::string& name) {
    std::string line;
    const bool read = static_cast<bool>(std::getline(in, line));
    if (in.bad()) {
        return Error{name + " cannot be read."};
    }
    if (!read || splitComma(line) != std::vector<std::string>{"time", "id", "lon", "lat", "mm"}) {
        return Error{name + ": the first line must be the header time,id,lon,lat,mm."};
    }
    std::vector<GaugeRecord> records;
    std::int64_t lineNo = 1;
    while (std::getline(in, line)) {
        ++lineNo;
        if (trim(line).empty()) {
            continue;
        }
        const std::string where = name + " line " + std::to_string(lineNo) + ": ";
        const std::vector<std::string> f = splitComma(line);
        if (f.size() != 5) {
            return Error{where + "expected 5 fields (time,id,lon,lat,mm), found "
                         + std::to_string(f.size()) + "."};
        }
        GaugeRecord r;
        const auto time = parseIsoInstant(f[0]);
        if (!time) {
            return Error{
                where + "the time \"" + quoteToken(f[0]) + "\" " + time.error().message
                + (time.error().message == kNotIsoTime ? " (such as 2022-10-18T05:00:00Z)." : ".")};
        }
        r.hourStart = *time;
        if (f[1].empty()) {
            return Error{where + "the gauge id is empty."};
        }
        r.id = f[1];
        const auto lon = parseDouble(f[2]);
        const auto lat = parseDouble(f[3]);
        if (!lon || !(*lon >= -180.0 && *lon <= 180.0) || !lat
            || !(*lat >= -90.0 && *lat <= 90.0)) {
            return Error{where + "longitude and latitude must be degrees within -180 to 180 and "
                                 "-90 to 90: \""
                         + quoteToken(f[2]) + "\", \"" + quoteToken(f[3]) + "\"."};
        }
        r.lon = *lon;
        r.lat = *lat;
        const auto mm = parseDouble(f[4]);
        if (!mm || !std::isfinite(*mm) || *mm < 0.0 || *mm > kMaxRainMmPerHour) {
            return Error{where + "the rain must be a number of mm from 0 to 1000: \""
                         + quoteToken(f[4]) + "\"."};
        }
        r.mm = *mm;
        records.push_back(std::move(r));
    }
    if (in.bad()) {
        return Error{name + " cannot be read."};
    }
    if (records.empty()) {
        return Error{name + " holds no records."};
    }
    return records;
}

double greatCircleKm(double lon1, double lat1, double lon2, double lat2) {
    constexpr double kRad = std::numbers::pi / 180.0;
    const double dLat = (lat2 - lat1) * kRad;
    const double dLon = (lon2 - lon1) * kRad;
    const double sLat = std::sin(dLat / 2.0);
    const double sLon = std::sin(dLon / 2.0);
    const double a = sLat * sLat + std::cos(lat1 * kRad) * std::cos(lat2 * kRad) * sLon * sLon;
    return 2.0 * kEarthRadiusKm * std::asin(std::min(1.0, std::sqrt(a)));
}

double inverseDistance(const std::vector<const GaugeRecord*>& gauges, double lon, double lat) {
    double onSum = 0.0;
    int onCount = 0;
    double weighted = 0.0;
    double weights = 0.0;
    for (const GaugeRecord* g : gauges) {
        const double d = greatCircleKm(lon, lat, g->lon, g->lat);
        if (d < kOnGaugeKm) {
            onSum += g->mm;
            ++onCount;
            continue;
        }
        const double w = 1.0 / (d * d);
        weighted += w * g->mm;
        weights += w;
    }
    if (onCount > 0) {
        return onSum / onCount;
    }
    return weights > 0.0 ? weighted / weights : 0.0;
}

Result<GaugeRain> gridGaugeRain(const std::vector<GaugeRecord>& records,
                                const EventParameters& study, double west, double south,
                                double spacing) {
    if (!(spacing >= 0.001 && spacing <= 10.0)) {
        return Error{"--spacing must be from 0.001 to 10 degrees."};
    }
    GaugeRain rain;
    rain.params = study;
    EventParameters& p = rain.params;
    const double width = study.studyCols / 120.0;
    const double height = study.studyRows / 120.0;
    const auto cols = static_cast<std::int64_t>(std::ceil(width / spacing - 1e-9));
    const auto rows = static_cast<std::int64_t>(std::ceil(height / spacing - 1e-9));
    if (std::max<std::int64_t>(cols, 1) * std::max<std::int64_t>(rows, 1) > kMaxRainPoints) {
        return Error{"--spacing " + shortestText(spacing) + " gives more than "
                     + std::to_string(kMaxRainPoints) + " rain points; take a wider spacing."};
    }
    p.rainCols = static_cast<std::int32_t>(std::max<std::int64_t>(cols, 1));
    p.rainRows = static_cast<std::int32_t>(std::max<std::int64_t>(rows, 1));
    // The file holds these as text and the simulator reads them back as single precision.
    p.rainDx = static_cast<float>(spacing);
    p.rainDy = static_cast<float>(spacing);
    p.rainLon0 = static_cast<float>(west + spacing / 2.0);
    p.rainLat0 = static_cast<float>(south + spacing / 2.0);

    std::int64_t first = records.front().hourStart;
    std::int64_t last = first;
    std::set<std::string> ids;
    for (const GaugeRecord& r : records) {
        first = std::min(first, r.hourStart);
        last = std::max(last, r.hourStart);
        ids.insert(r.id);
    }
    std::map<std::int64_t, std::vector<const GaugeRecord*>> byHour;
    for (const GaugeRecord& r : records) {
        if ((r.hourStart - first) % kSecondsPerHour != 0) {
            return Error{"The record of gauge " + quoteToken(r.id) + " at "
                         + fromUnixSeconds(r.hourStart).isoAfter(0)
                         + " is not a whole number of hours after the first record ("
                         + fromUnixSeconds(first).isoAfter(0) + ")."};
        }
        auto& hour = byHour[(r.hourStart - first) / kSecondsPerHour];
        for (const GaugeRecord* other : hour) {
            if (other->id == r.id) {
                return Error{"Gauge " + quoteToken(r.id) + " is listed twice for the hour starting "
                             + fromUnixSeconds(r.hourStart).isoAfter(0) + "."};
            }
        }
        hour.push_back(&r);
    }
    const std::int64_t hours = (last - first) / kSecondsPerHour + 1;
    if (hours > kMaxEventHours) {
        return Error{"The records span " + std::to_string(hours) + " hours; at most "
                     + std::to_string(kMaxEventHours) + " (a year) make one event."};
    }
    for (std::int64_t h = 0; h < hours; ++h) {
        if (!byHour.contains(h)) {
            return Error{"No gauge reports the hour starting "
                         + fromUnixSeconds(first + h * kSecondsPerHour).isoAfter(0)
                         + "; give every hour from the first record to the last."};
        }
    }
    p.days = static_cast<std::int32_t>((hours + 23) / 24);
    if (!instantPlus(first, (std::int64_t{p.days} * 24 - 1) * kSecondsPerHour)) {
        return Error{"The event's last day (from " + fromUnixSeconds(first).isoAfter(0) + ") "
                     + kOutsideYears + "."};
    }
    rain.start = first;
    rain.gaugeHours = static_cast<std::int32_t>(hours);
    rain.gauges = static_cast<std::int32_t>(ids.size());

    // The points where the simulator puts them, in its single precision.
    const RainGrid grid = placeRainPoints(p);
    const std::size_t points = grid.points.size();
    rain.values.assign(static_cast<std::size_t>(p.days) * 24U * points, 0.0F);
    for (const auto& [h, gauges] : byHour) {
        for (std::size_t k = 0; k < points; ++k) {
            const RainCell& c = grid.points[k];
            rain.values[static_cast<std::size_t>(h) * points + k] =
                static_cast<float>(inverseDistance(gauges, static_cast<double>(c.lonDeg),
                                                   static_cast<double>(c.latDeg)));
        }
    }
    return rain;
}

std::string rainFileText(const GaugeRain& rain) {
    const EventParameters& p = rain.params;
    const auto cols = static_cast<std::size_t>(p.rainCols);
    const std::size_t points = cols * static_cast<std::size_t>(p.rainRows);
    std::string text;
    const std::int64_t hours = std::int64_t{p.days} * 24;
    for (std::int64_t h = 0; h < hours; ++h) {
        const EventStart t = fromUnixSeconds(rain.start + h * kSecondsPerHour);
        text += std::to_string(t.year) + ' ' + std::to_string(t.month) + ' ' + std::to_string(t.day)
                + ' ' + std::to_string(t.hour) + ' ' + std::to_string(t.minute) + ' '
                + std::to_string(t.second) + '\n';
        const float* hour = rain.values.data() + static_cast<std::size_t>(h) * points;
        for (std::int32_t r = p.rainRows - 1; r >= 0; --r) {
            for (std::size_t c = 0; c < cols; ++c) {
                text += shortestText(hour[static_cast<std::size_t>(r) * cols + c]);
                text += c + 1 < cols ? ' ' : '\n';
            }
        }
    }
    return text;
}

namespace {

/// What `make_case rain-gauges` was asked to do.
struct GaugeRequest {
    fs::path csv;
    fs::path caseDir;
    double spacing = 0.05;
};

Result<GaugeRequest> parseRainGauges(const std::vector<std::string>& args) {
    GaugeRequest request;
    std::vector<std::string> positional;
    for (std::size_t k = 1; k < args.size(); ++k) {
        const std::string& a = args[k];
        if (a == "--spacing") {
            const auto v = k + 1 < args.size() ? parseDouble(args[k + 1]) : std::nullopt;
            if (!v) {
                return Error{"--spacing takes a number of degrees; see make_case --help."};
            }
            request.spacing = *v;
            ++k;
        } else if (a.starts_with("--")) {
            static constexpr std::array<std::string_view, 1> kKnown{"--spacing"};
            return Error{unknownOptionLine(a, kKnown, "make_case rain-gauges", "make_case --help")};
        } else {
            positional.push_back(a);
        }
    }
    if (positional.size() != 2) {
        return Error{
            "make_case rain-gauges takes a gauge file and a case folder: make_case "
            "rain-gauges RAIN_GAUGES.csv CASE [--spacing DEG]; see make_case --help."};
    }
    request.csv = positional[0];
    request.caseDir = positional[1];
    return request;
}

/// The gridded rain and the new text of param-event.dat.
struct GaugeCase {
    GaugeRain rain;
    std::string parameterText;
};

Result<GaugeCase> gaugeCaseOf(const GaugeRequest& request) {
    const fs::path parameters = CasePaths{request.caseDir}.parameters();
    const auto study = readCaseParameters(request.caseDir);
    if (!study) {
        return Error{parameters.string() + ": " + study.error().message
                     + " Run make_case terrain first, or correct the file."};
    }
    std::error_code folder;
    if (fs::is_directory(request.csv, folder)) {
        return Error{request.csv.string()
                     + " cannot be read: it is a folder, not a table of rain-gauge records "
                       "(time,id,lon,lat,mm)."};
    }
    std::ifstream in(request.csv, std::ios::binary);
    if (!in) {
        return Error{request.csv.string() + " cannot be opened."};
    }
    const auto records = readGaugeRecords(in, request.csv.string());
    if (!records) {
        return records.error();
    }
    // The corner as the file states it: the simulator's single-precision copy would put the
    // rain points a few micro-degrees off the round values the user expects.
    const auto corner = readOutputParameters(parameters, nullptr, EchoStyle::kSeries);
    if (!corner) {
        return corner.error();
    }
    const double spacing = request.spacing;
    auto rain = gridGaugeRain(*records, *study, corner->swLon, corner->swLat, spacing);
    if (!rain) {
        return Error{request.csv.string() + ": " + rain.error().message};
    }
    const EventParameters& p = rain->params;
    const auto text = readCaseParameterText(request.caseDir);
    const auto replaced =
        text ? replaceParameterValues(*text, {{5, std::to_string(p.rainCols)},
                                              {6, std::to_string(p.rainRows)},
                                              {7, shortestText(spacing)},
                                              {8, shortestText(spacing)},
                                              {9, shortestText(corner->swLon + spacing / 2.0)},
                                              {10, shortestText(corner->swLat + spacing / 2.0)},
                                              {11, std::to_string(p.days)}})
             : Result<std::string>(text.error());
    if (!replaced) {
        return Error{parameters.string() + " cannot be read."};
    }
    return GaugeCase{std::move(*rain), *replaced};
}

/// rain.dat and param-event.dat, committed together.
Status writeGaugeCase(const fs::path& caseDir, const GaugeCase& gauged) {
    const fs::path rainPath = CasePaths{caseDir}.rainfall();
    std::error_code ec;
    fs::create_directories(rainPath.parent_path(), ec);
    FileTransaction files;
    if (auto written = files.write(rainPath, rainFileText(gauged.rain)); !written) {
        return written;
    }
    const auto staged =
        stageParameterFile(files, caseDir, gauged.parameterText, "make_case rain-gauges: ");
    if (!staged) {
        return staged.error();
    }
    return files.commit();
}

}  // namespace

int runRainGauges(const std::vector<std::string>& args, std::ostream& out) {
    const auto request = parseRainGauges(args);
    if (!request) {
        sayLine(out, request.error().message);
        return kFailure;
    }
    const auto gauged = gaugeCaseOf(*request);
    if (!gauged) {
        sayLine(out, gauged.error().message);
        return kFailure;
    }
    if (const Status written = writeGaugeCase(request->caseDir, *gauged); !written) {
        sayLine(out, written.error().message);
        return kFailure;
    }
    const GaugeRain& rain = gauged->rain;
    const EventParameters& p = rain.params;
    double maxMm = 0.0;
    for (const float v : rain.values) {
        maxMm = std::max(maxMm, static_cast<double>(v));
    }
    const EventStart start = fromUnixSeconds(rain.start);
    sayLine(out, "Gauges: ", rain.gauges, "; hours with records: ", rain.gaugeHours, ", from ",
            start.isoAfter(0), " to ", start.isoAfter(std::int64_t{rain.gaugeHours} * 3600), ".");
    sayLine(out, "Rain grid: ", p.rainCols, " x ", p.rainRows, " points ",
            shortestText(request->spacing), " degrees apart; ", p.days, " day(s), the last ",
            std::int64_t{p.days} * 24 - rain.gaugeHours, " hour(s) dry; largest intensity ",
            shortestText(static_cast<float>(maxMm)), " mm/h.");
    sayLine(out, "Written ", CasePaths{request->caseDir}.rainfall().string(),
            " and the rain grid of ", CasePaths{request->caseDir}.parameters().string(), ".");
    return 0;
}

}  // namespace hydro::make_case
