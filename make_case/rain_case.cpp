#include "make_case/rain_case.h"

#include <gdal_priv.h>
#include <gdal_utils.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <iomanip>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <sstream>

#include "case/case_folder.h"
#include "case/time_parse.h"
#include "common/console.h"
#include "common/file_transaction.h"
#include "common/number_stream.h"
#include "common/option_hint.h"
#include "make_case/case_input.h"
#include "make_case/case_writer.h"
#include "make_case/error_line.h"
#include "make_case/rain_limits.h"
#include "make_case/rain_source.h"

namespace hydro::make_case {

namespace {

namespace fs = std::filesystem;
constexpr int kFailure = 1;

std::string isoText(std::int64_t unix) {
    return fromUnixSeconds(0).isoAfter(unix);
}

/// A rain grid holding only the placed points (no hourly values).
RainGrid pointsOnly(std::int32_t rows, std::int32_t cols, float dx, float dy, float lon0,
                    float lat0) {
    RainGrid g;
    g.rows = rows;
    g.cols = cols;
    g.points.resize(static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols));
    for (std::int32_t r = 0; r < rows; ++r) {
        const float lat = static_cast<float>(r) * dy + lat0;
        for (std::int32_t c = 0; c < cols; ++c) {
            const float lon = static_cast<float>(c) * dx + lon0;
            g.points[static_cast<std::size_t>(g.index(r, c))].initRainCell(lat, lon, c, r);
        }
    }
    return g;
}

std::string pointText(const RainSeries& s, std::size_t row, std::size_t col) {
    std::ostringstream t;
    t.precision(6);
    t << "latitude " << s.lat[row] << ", longitude " << s.lon[col];
    return t.str();
}

/// The curve number of each window point: the raster averaged over the point's cell.
Result<std::vector<double>> curveNumbers(const fs::path& path, const RainWindow& w) {
    GDALAllRegister();
    std::unique_ptr<GDALDataset> src(GDALDataset::Open(
        path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY, nullptr, nullptr, nullptr));
    if (!src) {
        return Error{path.string() + ": cannot be opened as a raster."};
    }
    const auto dx = static_cast<double>(w.dx);
    const auto dy = static_cast<double>(w.dy);
    const double west = static_cast<double>(w.lon0) - dx / 2.0;
    const double south = static_cast<double>(w.lat0) - dy / 2.0;
    std::vector<std::string> args{"-t_srs",
                                  "EPSG:4326",
                                  "-te",
                                  shortestText(west),
                                  shortestText(south),
                                  shortestText(west + dx * w.cols),
                                  shortestText(south + dy * w.rows),
                                  "-ts",
                                  std::to_string(w.cols),
                                  std::to_string(w.rows)};
    const std::unique_ptr<GDALDataset> warped = averageInMemory(*src, std::move(args));
    if (!warped) {
        return Error{path.string() + ": cannot be averaged onto the rain points."};
    }
    std::vector<double> v(static_cast<std::size_t>(w.rows) * static_cast<std::size_t>(w.cols));
    if (warped->GetRasterBand(1)->RasterIO(GF_Read, 0, 0, w.cols, w.rows, v.data(), w.cols, w.rows,
                                           GDT_Float64, 0, 0, nullptr)
        != CE_None) {
        return Error{path.string() + ": cannot be read."};
    }
    // The warped rows run from the north; the window's from the south.
    std::vector<double> cn(v.size());
    for (std::int32_t r = 0; r < w.rows; ++r) {
        for (std::int32_t c = 0; c < w.cols; ++c) {
            cn[static_cast<std::size_t>(r) * static_cast<std::size_t>(w.cols)
               + static_cast<std::size_t>(c)] =
                v[static_cast<std::size_t>(w.rows - 1 - r) * static_cast<std::size_t>(w.cols)
                  + static_cast<std::size_t>(c)];
        }
    }
    return cn;
}

/// The extent of cells, degrees (cell edges).
struct Extent {
    double west = std::numeric_limits<double>::infinity();
    double east = -std::numeric_limits<double>::infinity();
    double south = std::numeric_limits<double>::infinity();
    double north = -std::numeric_limits<double>::infinity();
};

/// The extent of the case's simulated cells (on a listed river, off the border); nothing when
/// there are none.
std::optional<Extent> simulatedExtent(const CaseData& data) {
    Extent e;
    const double half = 0.5 / 120.0;
    for (const GridCell& cell : data.grid.cells) {
        if (!isRouted(cell, data.rivers)) {
            continue;
        }
        const double lon = static_cast<double>(cell.lonSec) / 3600.0;
        const double lat = static_cast<double>(cell.latSec) / 3600.0;
        e.west = std::min(e.west, lon - half);
        e.east = std::max(e.east, lon + half);
        e.south = std::min(e.south, lat - half);
        e.north = std::max(e.north, lat + half);
    }
    if (!(e.west <= e.east)) {
        return std::nullopt;
    }
    return e;
}

/// Why the product's points, `dLon` x `dLat` apart, do not reach a whole cell of theirs beyond
/// each edge of the simulated cells' extent `e`: the side, and the edge needed and the edge
/// available in degrees. Nothing when they do.
std::optional<std::string> coverageGap(const RainSeries& s, const Extent& e, double dLon,
                                       double dLat) {
    const char* side = nullptr;
    double needed = 0.0;
    double available = 0.0;
    const double fileWest = s.lon.front() - dLon / 2.0;
    const double fileEast = s.lon.back() + dLon / 2.0;
    const double fileSouth = s.lat.front() - dLat / 2.0;
    const double fileNorth = s.lat.back() + dLat / 2.0;
    if (fileWest > e.west - dLon) {
        side = "west";
        needed = e.west - dLon;
        available = fileWest;
    } else if (fileEast < e.east + dLon) {
        side = "east";
        needed = e.east + dLon;
        available = fileEast;
    } else if (fileSouth > e.south - dLat) {
        side = "south";
        needed = e.south - dLat;
        available = fileSouth;
    } else if (fileNorth < e.north + dLat) {
        side = "north";
        needed = e.north + dLat;
        available = fileNorth;
    }
    if (side == nullptr) {
        return std::nullopt;
    }
    const bool alongLon = side[0] == 'w' || side[0] == 'e';
    std::ostringstream line;
    line.imbue(std::locale::classic());
    line << "does not cover the simulated cells on their " << side
         << " side with a margin of one of its cells: it needs to reach "
         << (alongLon ? "longitude " : "latitude ") << needed << ", but its cells end at "
         << available << " (degrees).";
    return line.str();
}

}  // namespace

std::string floatText(float v) {
    std::array<char, 64> buf{};
    const auto r = std::to_chars(buf.data(), buf.data() + buf.size(), v);
    std::string text(buf.data(), r.ptr);
    // Some values are read at double precision and then narrowed: keep the short text only
    // when that path gives the same float back.
    double back = 0.0;
    std::from_chars(text.data(), text.data() + text.size(), back);
    if (static_cast<float>(back) != v) {
        text = shortestText(static_cast<double>(v));
    }
    return text;
}

std::vector<double> initialConstantLoss(std::span<const double> rain, double initialLoss,
                                        double constantLoss) {
    std::vector<double> out;
    double store = initialLoss;
    for (const double p : rain) {
        const double first = std::min(p, store);
        store -= first;
        const double rest = p - first;
        out.push_back(rest - std::min(rest, constantLoss));
    }
    return out;
}

std::vector<double> curveNumberLoss(std::span<const double> rain, double cn) {
    const double s = 25400.0 / cn - 254.0;
    const double ia = 0.2 * s;
    const auto pe = [&](double p) { return p > ia ? (p - ia) * (p - ia) / (p + 0.8 * s) : 0.0; };
    std::vector<double> out;
    double total = 0.0;
    for (const double p : rain) {
        const double before = pe(total);
        total += p;
        out.push_back(pe(total) - before);
    }
    return out;
}

Result<RainWindow> chooseWindow(const RainSeries& s, const CaseData& data,
                                const std::string& source) {
    const auto rows = static_cast<std::int32_t>(s.lat.size());
    const auto cols = static_cast<std::int32_t>(s.lon.size());
    const double dLon = (s.lon.back() - s.lon.front()) / (cols - 1);
    const double dLat = (s.lat.back() - s.lat.front()) / (rows - 1);
    const std::optional<Extent> simulated = simulatedExtent(data);
    if (!simulated) {
        return Error{
            "The case has no simulated cells (no listed river off the border): nothing "
            "to take rain for."};
    }
    if (auto gap = coverageGap(s, *simulated, dLon, dLat)) {
        return Error{source + ": " + *gap};
    }
    RainWindow w;
    w.dx = static_cast<float>(dLon);
    w.dy = static_cast<float>(dLat);
    const auto lon0 = static_cast<float>(s.lon.front());
    const auto lat0 = static_cast<float>(s.lat.front());
    const RainGrid full = pointsOnly(rows, cols, w.dx, w.dy, lon0, lat0);
    std::vector<std::int32_t> fullNearest;
    std::int32_t r0 = rows;
    std::int32_t r1 = -1;
    std::int32_t c0 = cols;
    std::int32_t c1 = -1;
    for (CellIndex i = 0; i < static_cast<CellIndex>(data.grid.cells.size()); ++i) {
        const GridCell& cell = data.grid[i];
        if (!isRouted(cell, data.rivers)) {
            continue;
        }
        const std::int32_t k = findNearestRainCell(cell.latSec, cell.lonSec, full);
        if (k < 0) {
            return Error{source + ": no rain point lies near the cell at "
                         + data.grid.userCellName(i) + "."};
        }
        w.cells.push_back(i);
        fullNearest.push_back(k);
        r0 = std::min(r0, k / cols);
        r1 = std::max(r1, k / cols);
        c0 = std::min(c0, k % cols);
        c1 = std::max(c1, k % cols);
    }
    // A window placed from its own corner rounds its points in single precision a little
    // differently from the full grid: widen it until every cell keeps its point.
    for (int grow = 0;; ++grow) {
        w.row0 = std::max(0, r0 - grow);
        w.col0 = std::max(0, c0 - grow);
        w.rows = std::min(rows - 1, r1 + grow) - w.row0 + 1;
        w.cols = std::min(cols - 1, c1 + grow) - w.col0 + 1;
        w.lon0 = static_cast<float>(w.col0) * w.dx + lon0;
        w.lat0 = static_cast<float>(w.row0) * w.dy + lat0;
        const RainGrid part = pointsOnly(w.rows, w.cols, w.dx, w.dy, w.lon0, w.lat0);
        w.nearest.clear();
        bool same = true;
        for (std::size_t k = 0; k < w.cells.size() && same; ++k) {
            const GridCell& cell = data.grid[w.cells[k]];
            const std::int32_t n = findNearestRainCell(cell.latSec, cell.lonSec, part);
            const std::int32_t fr = fullNearest[k] / cols - w.row0;
            const std::int32_t fc = fullNearest[k] % cols - w.col0;
            same = n == fr * w.cols + fc;
            w.nearest.push_back(n);
        }
        const bool whole = w.row0 == 0 && w.col0 == 0 && w.rows == rows && w.cols == cols;
        if (same) {
            return w;
        }
        if (whole) {
            // Not reached: the full grid is placed from the same corner.
            return Error{source + ": the rain points cannot be placed consistently."};
        }
    }
}

namespace {

/// The product cut to the window of the case.
struct RainProduct {
    RainSeries series;
    RainWindow window;
    std::string source;  ///< the first file, for the messages

    [[nodiscard]] std::size_t points() const {
        return static_cast<std::size_t>(window.rows) * static_cast<std::size_t>(window.cols);
    }
    [[nodiscard]] std::size_t hours() const { return series.hours.size(); }
    /// Row and column in the product's grid of window point `k`.
    [[nodiscard]] std::size_t rowOf(std::size_t k) const {
        return static_cast<std::size_t>(window.row0) + k / static_cast<std::size_t>(window.cols);
    }
    [[nodiscard]] std::size_t columnOf(std::size_t k) const {
        return static_cast<std::size_t>(window.col0) + k % static_cast<std::size_t>(window.cols);
    }
    /// The product's value at window point `k` in hour `h`.
    [[nodiscard]] float at(std::size_t h, std::size_t k) const {
        return series.hours[h][rowOf(k) * series.lon.size() + columnOf(k)];
    }
    [[nodiscard]] std::string pointName(std::size_t k) const {
        return pointText(series, rowOf(k), columnOf(k));
    }
    [[nodiscard]] std::string hourName(std::size_t h) const {
        return isoText(series.startUnix + static_cast<std::int64_t>(h) * 3600);
    }
};

/// Reads the product over the study area and cuts its window; names what it reads on
/// `progress`.
Result<RainProduct> readProduct(const RainOptions& o, const CaseData& data,
                                std::ostream& progress) {
    RainReadOptions read = o.read;
    const EventParameters& p = data.params;
    read.west = static_cast<double>(p.swLon);
    read.south = static_cast<double>(p.swLat);
    read.east = read.west + p.studyCols / 120.0;
    read.north = read.south + p.studyRows / 120.0;
    sayLine(progress, "reading ",
            o.read.paths.size() == 1 ? o.read.paths[0].string()
                                     : std::to_string(o.read.paths.size()) + " files");
    auto series = readRainSeries(read);
    if (!series.ok()) {
        return series.error();
    }
    const std::string source = o.read.paths[0].string();
    auto window = chooseWindow(*series, data, source);
    if (!window.ok()) {
        return window.error();
    }
    return RainProduct{std::move(*series), std::move(*window), source};
}

/// Window points that simulated cells take.
std::vector<std::uint8_t> usedPoints(const RainProduct& product) {
    std::vector<std::uint8_t> used(product.points(), 0);
    for (const std::int32_t k : product.window.nearest) {
        used[static_cast<std::size_t>(k)] = 1;
    }
    return used;
}

/// Missing values on the points simulated cells take, and negative, non-finite or implausible
/// values anywhere in the window, hour by hour, in the order rows from the south.
Status checkValues(const RainProduct& product, std::span<const std::uint8_t> used) {
    for (std::size_t h = 0; h < product.hours(); ++h) {
        for (std::size_t k = 0; k < product.points(); ++k) {
            const float v = product.at(h, k);
            if (used[k] != 0 && std::isnan(v)) {
                return errorLine(product.source, ": no value for the hour from ",
                                 product.hourName(h), " at ", product.pointName(k),
                                 ", which simulated cells take.");
            }
            if (v < 0.0F) {
                return errorLine(product.source, ": a negative value (", v, ") for the hour from ",
                                 product.hourName(h), " at ", product.pointName(k), ".");
            }
            if (static_cast<double>(v) > kMaxRainMmPerHour) {
                return errorLine(product.source, ": ", v, " mm of rain in the hour from ",
                                 product.hourName(h), " at ", product.pointName(k),
                                 "; rain must be finite and at most ", kMaxRainMmPerHour,
                                 " mm in an hour (check the units and --scale).");
            }
        }
    }
    return success();
}

/// Hourly rain (mm) of every window point, and the effective rain after losses.
struct PointRain {
    std::vector<std::vector<double>> rain;
    std::vector<std::vector<double>> effective;
};

/// The curve number of every window point, when the loss takes them.
Result<std::vector<double>> pointCurveNumbers(const RainProduct& product, const LossOptions& loss) {
    if (loss.method != LossMethod::kCurveNumber) {
        return std::vector<double>{};
    }
    if (loss.curveNumberRaster) {
        return curveNumbers(*loss.curveNumberRaster, product.window);
    }
    return std::vector<double>(product.points(), *loss.curveNumber);
}

Result<PointRain> pointRain(const RainProduct& product, const LossOptions& loss,
                            std::span<const std::uint8_t> used) {
    const auto cn = pointCurveNumbers(product, loss);
    if (!cn.ok()) {
        return cn.error();
    }
    const std::size_t points = product.points();
    const std::size_t hours = product.hours();
    PointRain r;
    r.rain.resize(points);
    r.effective.resize(points);
    for (std::size_t k = 0; k < points; ++k) {
        for (std::size_t h = 0; h < hours; ++h) {
            const float v = product.at(h, k);
            r.rain[k].push_back(std::isnan(v) ? 0.0 : static_cast<double>(v));
        }
        switch (loss.method) {
            case LossMethod::kNone:
                r.effective[k] = r.rain[k];
                break;
            case LossMethod::kInitialConstant:
                r.effective[k] =
                    initialConstantLoss(r.rain[k], loss.initialLoss, loss.constantLoss);
                break;
            case LossMethod::kCurveNumber:
                if (!((*cn)[k] > 0.0 && (*cn)[k] <= 100.0)) {
                    if (used[k] != 0) {
                        return errorLine(
                            loss.curveNumberRaster->string(),
                            ": no curve number from above 0 to 100 over the rain point at ",
                            product.pointName(k), ".");
                    }
                    r.effective[k].assign(hours, 0.0);
                } else {
                    r.effective[k] = curveNumberLoss(r.rain[k], (*cn)[k]);
                }
                break;
        }
    }
    return r;
}

/// Whole days of the event: the product's hours, then `thenDry` dry hours, then dry hours to
/// the end of the last day.
std::int32_t daysOf(const RainProduct& product, std::int32_t thenDry) {
    return static_cast<std::int32_t>((product.hours() + static_cast<std::size_t>(thenDry) + 23)
                                     / 24);
}

/// The text of rain.dat: per hour its start, then the effective rain from the north row.
std::string rainText(const RainProduct& product, const PointRain& r, std::int32_t days) {
    const RainWindow& w = product.window;
    const std::size_t hours = product.hours();
    std::string text;
    text.reserve(static_cast<std::size_t>(days) * 24U * (product.points() * 4U + 32U));
    for (std::size_t h = 0; h < static_cast<std::size_t>(days) * 24U; ++h) {
        const EventStart t =
            fromUnixSeconds(product.series.startUnix + static_cast<std::int64_t>(h) * 3600);
        text += std::to_string(t.year) + ' ' + std::to_string(t.month) + ' ' + std::to_string(t.day)
                + ' ' + std::to_string(t.hour) + ' ' + std::to_string(t.minute) + ' '
                + std::to_string(t.second) + '\n';
        for (std::int32_t row = w.rows - 1; row >= 0; --row) {
            for (std::int32_t c = 0; c < w.cols; ++c) {
                const auto k = static_cast<std::size_t>(row) * static_cast<std::size_t>(w.cols)
                               + static_cast<std::size_t>(c);
                const float v = h < hours ? static_cast<float>(r.effective[k][h]) : 0.0F;
                text += floatText(v);
                text += c + 1 < w.cols ? ' ' : '\n';
            }
        }
    }
    return text;
}

/// rain.dat and the rain-grid values and days of param-event.dat, committed together.
Status writeRainCase(const fs::path& caseDir, const RainProduct& product, std::int32_t days,
                     const std::string& rainFile) {
    const RainWindow& w = product.window;
    const CasePaths paths{caseDir};
    const auto paramText = readCaseParameterText(caseDir);
    const std::array<std::string, 7> values{
        std::to_string(w.cols), std::to_string(w.rows), floatText(w.dx),     floatText(w.dy),
        floatText(w.lon0),      floatText(w.lat0),      std::to_string(days)};
    const auto newParams =
        paramText.ok() ? replaceValues(*paramText, 4, values) : Result<std::string>(paramText);
    if (!newParams) {
        return Error{paths.parameters().string() + " cannot be read."};
    }
    std::error_code ec;
    fs::create_directories(paths.rainfall().parent_path(), ec);
    FileTransaction files;
    if (!files.write(paths.rainfall(), rainFile) || !files.write(paths.parameters(), *newParams)) {
        return Error{paths.rainfall().string() + " cannot be written."};
    }
    const auto check = readEventParameters(temporaryPathOf(paths.parameters()));
    if (!check.ok()) {
        return Error{paths.parameters().string() + ": " + check.error().message};
    }
    return files.commit();
}

/// Totals over the simulated cells, each with the rain of its point: the basin, then each
/// river; printed on `out` after the lines on the product and the rain points.
void printRainSummary(const CaseData& data, const RainProduct& product, const PointRain& r,
                      std::int32_t thenDry, std::ostream& out) {
    struct Total {
        std::size_t cells = 0;
        double area = 0.0;  // m2
        double rainM3 = 0.0;
        double effectiveM3 = 0.0;
    };
    const RainWindow& w = product.window;
    const RainSeries& series = product.series;
    const std::size_t hours = product.hours();
    Total basin;
    std::map<std::int32_t, Total> perRiver;
    for (std::size_t j = 0; j < w.cells.size(); ++j) {
        const GridCell& cell = data.grid[w.cells[j]];
        const double a = kCellHeight * static_cast<double>(cell.cellWidth);
        const auto k = static_cast<std::size_t>(w.nearest[j]);
        double total = 0.0;
        double net = 0.0;
        for (std::size_t h = 0; h < hours; ++h) {
            total += r.rain[k][h];
            net += r.effective[k][h];
        }
        for (Total* t : {&basin, &perRiver[cell.riverNum]}) {
            ++t->cells;
            t->area += a;
            t->rainM3 += total / 1000.0 * a;
            t->effectiveM3 += net / 1000.0 * a;
        }
    }
    sayLine(out, "Rainfall: ", series.description, ", ", hours, " hours from ",
            isoText(series.startUnix), " to ",
            isoText(series.startUnix + static_cast<std::int64_t>(hours) * 3600), ".");
    if (series.spread) {
        sayLine(out, "Steps longer than an hour were spread evenly over their hours.");
    }
    if (thenDry > 0) {
        const std::int64_t end = series.startUnix + static_cast<std::int64_t>(hours) * 3600;
        sayLine(out, "Assumed, not data: ", thenDry,
                " dry hour(s) with no rain after the rainfall (--then-dry), to ",
                isoText(end + std::int64_t{thenDry} * 3600), ".");
    }
    sayLine(out, "Rain points: ", w.cols, " x ", w.rows, ", spacing ", floatText(w.dx), " x ",
            floatText(w.dy), " degrees, south-west point at longitude ", floatText(w.lon0),
            ", latitude ", floatText(w.lat0), "; ", daysOf(product, thenDry), " day(s) written.");
    const auto totalLine = [&](const std::string& what, const Total& t) {
        std::ostringstream line;
        line.setf(std::ios::fixed);
        line << what << " (" << t.cells << " simulated cells, " << std::setprecision(2)
             << t.area / 1e6 << " km2): rain " << t.rainM3 / t.area * 1000.0 << " mm ("
             << std::setprecision(0) << t.rainM3 << " m3), effective rain " << std::setprecision(2)
             << t.effectiveM3 / t.area * 1000.0 << " mm (" << std::setprecision(0) << t.effectiveM3
             << " m3).";
        sayLine(out, line.str());
    };
    totalLine("Over the basin", basin);
    if (perRiver.size() > 1) {
        for (const auto& [number, t] : perRiver) {
            totalLine("  river " + std::to_string(number), t);
        }
    }
}

/// The product, its rain on the window points and the two files; prints nothing but the
/// progress line of `readProduct`.
struct RainDone {
    CaseData data;
    RainProduct product;
    PointRain rain;
};
Result<RainDone> makeRain(const RainOptions& o, std::ostream& progress) {
    if (const Status folder = checkCaseFolder(o.caseDir); !folder) {
        return folder.error();
    }
    auto data = readCase(o.caseDir);
    if (!data.ok()) {
        return Error{o.caseDir.string() + ": " + data.error().message};
    }
    auto product = readProduct(o, *data, progress);
    if (!product.ok()) {
        return product.error();
    }
    const auto eventHours = static_cast<std::int64_t>(product->hours()) + o.thenDry;
    if (eventHours > kMaxEventHours) {
        return Error{"--then-dry " + std::to_string(o.thenDry) + " makes the event "
                     + std::to_string(eventHours) + " hours long, more than "
                     + std::to_string(kMaxEventHours) + " (a year)."};
    }
    const std::vector<std::uint8_t> used = usedPoints(*product);
    if (const Status values = checkValues(*product, used); !values) {
        return values.error();
    }
    auto rain = pointRain(*product, o.loss, used);
    if (!rain.ok()) {
        return rain.error();
    }
    const std::int32_t days = daysOf(*product, o.thenDry);
    const Status written =
        writeRainCase(o.caseDir, *product, days, rainText(*product, *rain, days));
    if (!written) {
        return written.error();
    }
    return RainDone{std::move(*data), std::move(*product), std::move(*rain)};
}

}  // namespace

int runRain(const RainOptions& o, std::ostream& out, std::ostream& progress) {
    const auto done = makeRain(o, progress);
    if (!done.ok()) {
        sayLine(out, done.error().message);
        return kFailure;
    }
    printRainSummary(done->data, done->product, done->rain, o.thenDry, out);
    const CasePaths paths{o.caseDir};
    sayLine(out, "Written ", paths.rainfall().string(), " and the rain grid of ",
            paths.parameters().string(), ".");
    return 0;
}

namespace {

/// The options of `rain` that take a value.
const std::array<std::string, 12> kValued{"--variable",      "--start",        "--hours",
                                          "--crs",           "--scale",        "--spacing",
                                          "--time-format",   "--loss",         "--initial-loss",
                                          "--constant-loss", "--curve-number", "--then-dry"};

/// The loss options as given, checked together once all are read.
struct LossArgs {
    std::optional<std::string> loss;
    std::optional<double> initialLoss;
    std::optional<double> constantLoss;
    std::optional<std::string> curveNumber;
};

/// Takes the value `v` of option `a` into the options.
Status takeRainOption(const std::string& a, const std::string& v, RainOptions& o, LossArgs& l) {
    if (a == "--variable") {
        o.read.variable = v;
    } else if (a == "--start") {
        const auto start = parseIsoInstant(v, DateAlone::kAccepted);
        if (!start) {
            return errorLine("--start takes an ISO 8601 time such as 2022-10-18T00:00:00Z: \"",
                             quoteToken(v), "\" ", start.error().message, ".");
        }
        o.read.start = *start;
    } else if (a == "--hours") {
        const auto n = parseInt32(v);
        if (!n || *n < 1 || *n > kMaxEventHours) {
            return errorLine("--hours takes a whole number from 1 to ", kMaxEventHours,
                             " (a year): \"", quoteToken(v), "\".");
        }
        o.read.hours = *n;
    } else if (a == "--then-dry") {
        const auto n = parseInt32(v);
        if (!n || *n < 0 || *n > kMaxEventHours) {
            return errorLine("--then-dry takes a whole number of hours from 0 to ", kMaxEventHours,
                             ": \"", quoteToken(v), "\".");
        }
        o.thenDry = *n;
    } else if (a == "--crs") {
        o.read.crs = v;
    } else if (a == "--time-format") {
        if (v.find('%') == std::string::npos) {
            return errorLine(
                "--time-format takes a strptime pattern with the fields of the time "
                "in the file names, such as RW_%Y%m%d-%H%M.asc: \"",
                quoteToken(v), "\" has none.");
        }
        o.read.timeFormat = v;
    } else if (a == "--loss") {
        l.loss = v;
    } else if (a == "--curve-number") {
        l.curveNumber = v;
    } else {
        const bool strict = a == "--scale" || a == "--spacing";
        const double least = 0.0;
        const auto d = parseDouble(v);
        if (!d || !std::isfinite(*d) || (strict ? !(*d > least) : !(*d >= least))) {
            return errorLine(a, " takes a number ", strict ? "above " : "from ", least, ": \"", v,
                             "\".");
        }
        if (a == "--scale") {
            o.read.scale = *d;
        } else if (a == "--spacing") {
            o.read.spacing = *d;
        } else if (a == "--initial-loss") {
            l.initialLoss = d;
        } else {
            l.constantLoss = d;
        }
    }
    return success();
}

/// The loss method the loss options describe.
Result<LossOptions> lossOf(const LossArgs& l) {
    LossOptions loss;
    if (!l.loss) {
        if (l.initialLoss || l.constantLoss || l.curveNumber) {
            return Error{"--initial-loss, --constant-loss and --curve-number go with --loss."};
        }
    } else if (*l.loss == "initial-constant") {
        if (!l.initialLoss || !l.constantLoss || l.curveNumber) {
            return Error{
                "--loss initial-constant takes --initial-loss MM and --constant-loss "
                "MM_PER_H."};
        }
        loss.method = LossMethod::kInitialConstant;
        loss.initialLoss = *l.initialLoss;
        loss.constantLoss = *l.constantLoss;
    } else if (*l.loss == "curve-number") {
        if (!l.curveNumber || l.initialLoss || l.constantLoss) {
            return Error{"--loss curve-number takes --curve-number CN (a number or a raster)."};
        }
        loss.method = LossMethod::kCurveNumber;
        const auto cn = parseDouble(*l.curveNumber);
        if (cn) {
            if (!(*cn > 0.0 && *cn <= 100.0)) {
                return Error{"--curve-number takes a number above 0 up to 100: \"" + *l.curveNumber
                             + "\"."};
            }
            loss.curveNumber = *cn;
        } else {
            loss.curveNumberRaster = *l.curveNumber;
        }
    } else {
        return Error{"--loss is initial-constant or curve-number, not \"" + *l.loss + "\"."};
    }
    return loss;
}

/// Parses the arguments after `rain`.
Result<RainOptions> parseRain(const std::vector<std::string>& args) {
    RainOptions o;
    LossArgs l;
    std::vector<std::string> positional;
    for (std::size_t k = 1; k < args.size(); ++k) {
        const std::string& a = args[k];
        if (a == "--time-is-end" || a == "--accumulated" || a == "--spread-evenly") {
            (a == "--time-is-end"   ? o.read.timeIsEnd
             : a == "--accumulated" ? o.read.accumulated
                                    : o.read.spreadEvenly) = true;
            continue;
        }
        if (!a.starts_with("--")) {
            positional.push_back(a);
            continue;
        }
        if (std::find(kValued.begin(), kValued.end(), a) == kValued.end()) {
            std::vector<std::string_view> known(kValued.begin(), kValued.end());
            known.insert(known.end(), {"--time-is-end", "--accumulated", "--spread-evenly"});
            return Error{unknownOptionLine(a, known, "", "make_case --help")};
        }
        if (k + 1 >= args.size()) {
            return Error{a + " needs a value; see make_case --help."};
        }
        if (const Status taken = takeRainOption(a, args[++k], o, l); !taken) {
            return taken.error();
        }
    }
    if (positional.size() < 2) {
        return Error{
            "make_case rain takes the rainfall file(s) and a case folder: make_case rain "
            "PRECIP... CASE [options]; see make_case --help."};
    }
    o.caseDir = positional.back();
    positional.pop_back();
    for (const std::string& path : positional) {
        o.read.paths.emplace_back(path);
    }
    auto loss = lossOf(l);
    if (!loss) {
        return loss.error();
    }
    o.loss = std::move(*loss);
    return o;
}

}  // namespace

int runRainCommand(const std::vector<std::string>& args, std::ostream& out,
                   std::ostream& progress) {
    const auto options = parseRain(args);
    if (!options) {
        sayLine(out, options.error().message);
        return kFailure;
    }
    return runRain(*options, out, progress);
}

}  // namespace hydro::make_case
