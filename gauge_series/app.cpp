#include "gauge_series/app.h"

#include <array>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <sstream>
#include <system_error>
#include <vector>

#include "case/case.h"
#include "common/console.h"
#include "common/number_stream.h"
#include "gauge_series/catchment.h"
#include "gauge_series/gauge_netcdf.h"
#include "gauge_series/skill.h"
#include "gauge_series/water_balance.h"
#include "results/event_time.h"
#include "results/gauge_table.h"
#include "results/grid_netcdf.h"
#include "results/series.h"
#include "results/snapping.h"
#include "results/svg_plot.h"

namespace hydro::gauges {

using results::Gauge;
using results::Observations;
using results::parseGauges;
using results::parseObservations;
using results::SnappedGauge;
using results::upstreamAreasM2;

namespace fs = std::filesystem;

std::string shortest(double v) {
    std::array<char, 64> buf{};
    const auto r = std::to_chars(buf.data(), buf.data() + buf.size(), v);
    return {buf.data(), r.ptr};
}

std::string shortest(float v) {
    std::array<char, 64> buf{};
    const auto r = std::to_chars(buf.data(), buf.data() + buf.size(), v);
    return {buf.data(), r.ptr};
}

namespace {

constexpr int kFailure = 1;
/// Far beyond any useful window, and small enough that the window's arithmetic cannot overflow.
constexpr std::int64_t kLargestRadius = 100000;
/// Gauge and observation tables larger than this are not tables of this kind.
constexpr std::uintmax_t kLargestTableBytes = std::uintmax_t{1} << 30U;

constexpr const char* kUsage =
    "Usage: gauge_series CASE_DIR GAUGES.csv [--observed OBS.csv] [--snap-radius N] "
    "(gauge_series --help tells more)";
constexpr const char* kHelp =
    R"(Usage: gauge_series CASE_DIR GAUGES.csv [--observed OBS.csv] [--snap-radius N]

Places each gauge of GAUGES.csv (columns id,lon,lat and optionally area_km2; degrees, km2)
on a cell of a listed river off the border, within N cells (default 1) of the cell that holds
it: the cell with the largest flow accumulation, or, with area_km2, the one whose upstream
area is closest to it. Then writes into CASE_DIR/output:

  gauge_cells.csv       id,column,row,lon,lat,upstream_km2,river of each gauge's cell
  gauge_discharge.csv   time,<id>,...: the hourly mean discharge (m3/s) at the end of each
                        hour, ISO 8601 UTC, values exactly as in dischargeHourly.bin
  gauge_discharge.nc    the same as a CF-1.8 timeSeries file
  gauge_<id>.svg        each gauge's hydrograph over the rain on its catchment
  water_balance.csv     per listed river: rain on its routed cells, outflow at its outlet,
                        their difference (m3) and the runoff coefficient

With --observed OBS.csv (columns time,<id>,...; the same time stamps; empty cells for missing
values) also gauge_observed.csv (the observations on the event's hours) and gauge_skill.csv
(n, NSE, KGE, KGE', percent bias, peaks, peak error and timing over the hours with both
values; an undefined score is left empty), and the observations dashed in the hydrographs.

Options:
  --observed OBS.csv   observed discharge, m3/s
  --snap-radius N      half-width of the snapping window in cells (0 to 100000; default 1)
  --help               print this text
)";

int fail(std::ostream& out, const std::string& line) {
    sayLine(out, line);
    return kFailure;
}

int fail(std::ostream& out, const Error& error) {
    return fail(out, error.message);
}

struct Options {
    fs::path caseDir;
    fs::path gaugesPath;
    std::optional<fs::path> observedPath;
    std::int64_t radius = 1;
};

/// Options from the arguments, or the line that says what is wrong with them.
Result<Options> parseOptions(std::span<const std::string> args) {
    Options o;
    std::vector<std::string> positional;
    for (std::size_t k = 0; k < args.size(); ++k) {
        const std::string& a = args[k];
        const bool hasValue = k + 1 < args.size();
        if (a == "--observed" && hasValue) {
            o.observedPath = args[++k];
        } else if (a == "--snap-radius" && hasValue) {
            const auto r = parseInt32(args[++k]);
            if (!r || *r < 0 || *r > kLargestRadius) {
                return Error{"--snap-radius must be a whole number of cells from 0 to "
                             + std::to_string(kLargestRadius) + ", not \"" + args[k] + "\"."};
            }
            o.radius = *r;
        } else if (a.starts_with("--")) {
            return Error{kUsage};
        } else {
            positional.push_back(a);
        }
    }
    if (positional.size() != 2) {
        return Error{kUsage};
    }
    o.caseDir = positional[0];
    o.gaugesPath = positional[1];
    return o;
}

Result<std::string> readTable(const fs::path& path) {
    std::error_code ec;
    if (fs::is_directory(path, ec)) {
        return Error{path.string() + " is a folder, not a table."};
    }
    const auto size = fs::file_size(path, ec);
    if (!ec && size > kLargestTableBytes) {
        return Error{path.string() + " is too large for a table."};
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return Error{path.string() + " cannot open."};
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) {
        return Error{path.string() + " cannot be read."};
    }
    return text.str();
}

/// Output files written under temporary names and renamed into place together at the end,
/// so that a failure leaves none of them half-written.
class OutputSet {
public:
    explicit OutputSet(fs::path dir) : dir_(std::move(dir)) {}
    OutputSet(const OutputSet&) = delete;
    OutputSet& operator=(const OutputSet&) = delete;
    OutputSet(OutputSet&&) = delete;
    OutputSet& operator=(OutputSet&&) = delete;
    ~OutputSet() {
        for (const auto& [temp, target] : files_) {
            std::error_code ignored;
            fs::remove(temp, ignored);
        }
    }

    /// A temporary path for `name`, to be renamed into place by `commit`.
    fs::path reserve(const std::string& name) {
        const fs::path target = dir_ / name;
        files_.emplace_back(results::temporaryPath(target), target);
        return files_.back().first;
    }

    /// Writes `text` as `name`; returns what went wrong.
    std::optional<std::string> text(const std::string& name, const std::string& content) {
        const fs::path temp = reserve(name);
        std::FILE* file = std::fopen(temp.c_str(), "wbx");
        if (file == nullptr) {
            return name + " cannot be created in " + dir_.string() + " ("
                   + std::error_code(errno, std::generic_category()).message() + ").";
        }
        bool ok = std::fwrite(content.data(), 1, content.size(), file) == content.size();
        ok = std::fflush(file) == 0 && ok;
        ok = std::fclose(file) == 0 && ok;
        if (!ok) {
            return name + " cannot be written completely.";
        }
        return std::nullopt;
    }

    /// Renames every file into place; returns what went wrong.
    std::optional<std::string> commit() {
        for (const auto& [temp, target] : files_) {
            if (auto problem = results::putInPlace(temp, target)) {
                return problem;
            }
        }
        files_.clear();
        return std::nullopt;
    }

    [[nodiscard]] std::vector<fs::path> targets() const {
        std::vector<fs::path> t;
        for (const auto& f : files_) {
            t.push_back(f.second);
        }
        return t;
    }

private:
    fs::path dir_;
    std::vector<std::pair<fs::path, fs::path>> files_;
};

std::string optionalText(const std::optional<double>& v) {
    return v ? shortest(*v) : std::string();
}

std::string fixed(double v, int decimals) {
    std::ostringstream s;
    s.imbue(std::locale::classic());
    s << std::fixed << std::setprecision(decimals) << v;
    return s.str();
}

void printSnapped(std::ostream& out, const std::vector<Gauge>& gauges,
                  const std::vector<SnappedGauge>& snapped, std::int64_t radius) {
    sayLine(out, "Gauges (snapped within ", radius, " cells; column from the west, ",
            "row from the south, both from 1):");
    sayLine(out, std::left, std::setw(16), "id", std::right, std::setw(8), "column", std::setw(6),
            "row", std::setw(10), "distance", std::setw(14), "upstream_km2", std::setw(12),
            "given_km2");
    for (std::size_t k = 0; k < snapped.size(); ++k) {
        const SnappedGauge& s = snapped[k];
        const auto& given = gauges[k].areaKm2;
        sayLine(out, std::left, std::setw(16), gauges[k].id, std::right, std::setw(8), s.column,
                std::setw(6), s.row, std::setw(10), s.distance, std::setw(14),
                fixed(s.upstreamKm2, 1), std::setw(12), given ? fixed(*given, 1) : "-");
    }
}

std::string cellsCsv(const std::vector<Gauge>& gauges, const std::vector<SnappedGauge>& snapped) {
    std::string cells = "id,column,row,lon,lat,upstream_km2,river\n";
    for (std::size_t k = 0; k < snapped.size(); ++k) {
        const SnappedGauge& s = snapped[k];
        cells += gauges[k].id + "," + std::to_string(s.column) + "," + std::to_string(s.row) + ","
                 + shortest(s.lon) + "," + shortest(s.lat) + "," + fixed(s.upstreamKm2, 3) + ","
                 + std::to_string(s.riverNum) + "\n";
    }
    return cells;
}

std::string seriesCsv(const std::string& header, const std::vector<std::string>& stamps,
                      const std::vector<std::vector<float>>& values) {
    std::string series = header;
    for (std::size_t h = 0; h < stamps.size(); ++h) {
        series += stamps[h];
        for (const auto& v : values) {
            series += "," + shortest(v[h]);
        }
        series += "\n";
    }
    return series;
}

std::string observedCsv(const std::string& header, const std::vector<std::string>& stamps,
                        const Observations& observations) {
    std::string observed = header;
    for (std::size_t h = 0; h < stamps.size(); ++h) {
        observed += stamps[h];
        for (const auto& o : observations.series) {
            observed += ",";
            if (!o.empty() && o[h]) {
                observed += shortest(*o[h]);
            }
        }
        observed += "\n";
    }
    return observed;
}

/// The skill table; the scores are also appended to `skills` for the console.
std::string skillCsv(const std::vector<Gauge>& gauges,
                     const std::vector<std::vector<float>>& values,
                     const Observations& observations, std::vector<Skill>& skills) {
    std::string skill =
        "id,n,nse,kge,kge_prime,pbias_pct,peak_sim,peak_obs,peak_error_pct,peak_timing_h\n";
    for (std::size_t k = 0; k < gauges.size(); ++k) {
        const std::vector<double> sim(values[k].begin(), values[k].end());
        const auto& o = observations.series[k];
        const Skill s = o.empty() ? Skill{} : computeSkill(sim, o);
        skills.push_back(s);
        skill += gauges[k].id + "," + std::to_string(s.n) + "," + optionalText(s.nse) + ","
                 + optionalText(s.kge) + "," + optionalText(s.kgePrime) + ","
                 + optionalText(s.pbiasPct) + "," + optionalText(s.peakSim) + ","
                 + optionalText(s.peakObs) + "," + optionalText(s.peakErrorPct) + ","
                 + (s.peakTimingH ? std::to_string(*s.peakTimingH) : "") + "\n";
    }
    return skill;
}

std::string waterBalanceCsv(const StudyGrid& grid, const std::vector<RiverBalance>& balance) {
    std::string wb =
        "river,cells,outlet_column,outlet_row,rain_m3,outflow_m3,difference_m3,"
        "runoff_coefficient\n";
    for (const RiverBalance& b : balance) {
        wb += std::to_string(b.river) + "," + std::to_string(b.cells) + ","
              + std::to_string(grid.columnOf(b.outlet) + 1) + ","
              + std::to_string(grid.rows - grid.rowOf(b.outlet)) + "," + shortest(b.rainM3) + ","
              + shortest(b.outflowM3) + "," + shortest(b.differenceM3()) + ","
              + optionalText(b.runoffCoefficient()) + "\n";
    }
    return wb;
}

void printSummary(std::ostream& out, const std::vector<Gauge>& gauges,
                  const std::optional<Observations>& observations, const std::vector<Skill>& skills,
                  const std::vector<RiverBalance>& balance) {
    if (observations) {
        if (observations->rowsOutsideEvent > 0) {
            sayLine(out, "Note: ", observations->rowsOutsideEvent,
                    " rows of the observations lie outside the event's hours and were skipped.");
        }
        for (const std::string& id : observations->unknownIds) {
            sayLine(out, "Note: the observations' column ", id, " names no gauge.");
        }
        sayLine(out, "Skill against the observations (hours with both values):");
        sayLine(out, std::left, std::setw(16), "id", std::right, std::setw(6), "n", std::setw(9),
                "NSE", std::setw(9), "KGE", std::setw(9), "KGE'", std::setw(10), "pbias %");
        for (std::size_t k = 0; k < skills.size(); ++k) {
            const Skill& s = skills[k];
            const auto f = [](const std::optional<double>& v, int d) {
                return v ? fixed(*v, d) : std::string("-");
            };
            sayLine(out, std::left, std::setw(16), gauges[k].id, std::right, std::setw(6), s.n,
                    std::setw(9), f(s.nse, 3), std::setw(9), f(s.kge, 3), std::setw(9),
                    f(s.kgePrime, 3), std::setw(10), f(s.pbiasPct, 1));
        }
    }
    sayLine(out, "Water balance of the listed rivers (m3):");
    sayLine(out, std::setw(6), "river", std::setw(16), "rain", std::setw(16), "outflow",
            std::setw(16), "difference", std::setw(13), "runoff coef.");
    for (const RiverBalance& b : balance) {
        const auto c = b.runoffCoefficient();
        sayLine(out, std::setw(6), b.river, std::setw(16), fixed(b.rainM3, 0), std::setw(16),
                fixed(b.outflowM3, 0), std::setw(16), fixed(b.differenceM3(), 0), std::setw(13),
                c ? fixed(*c, 4) : "-");
    }
}

/// The hourly series of the gauges' cells, read from the hourly discharge; the rivers' outlets
/// are read too, for the outflow volumes of `balance`.
Result<std::vector<std::vector<float>>> readGaugeSeries(const CasePaths& paths,
                                                        const StudyGrid& grid, std::int64_t hours,
                                                        const std::vector<SnappedGauge>& snapped,
                                                        std::vector<RiverBalance>& balance,
                                                        std::ostream& progress) {
    DischargeGrid hourly;
    if (auto open = hourly.open(paths.hourlyDischarge(), grid, static_cast<std::uint64_t>(hours));
        !open) {
        return open.error();
    }
    std::vector<CellIndex> wanted;
    wanted.reserve(snapped.size() + balance.size());
    for (const SnappedGauge& s : snapped) {
        wanted.push_back(s.cell);
    }
    for (const RiverBalance& b : balance) {
        wanted.push_back(b.outlet);
    }
    std::vector<std::vector<float>> values;
    values.reserve(wanted.size());
    for (std::size_t k = 0; k < wanted.size(); ++k) {
        auto series =
            hourly.readCellSeries(grid.filePosition(wanted[k]), static_cast<std::uint64_t>(hours));
        if (!series) {
            return series.error();
        }
        values.push_back(std::move(*series));
        if (hours >= 2400) {
            progress << "gauge_series: series " << k + 1 << " of " << wanted.size() << std::endl;
        }
    }
    for (std::size_t b = 0; b < balance.size(); ++b) {
        double volume = 0.0;
        for (const float q : values[snapped.size() + b]) {
            volume += static_cast<double>(q) * 3600.0;
        }
        balance[b].outflowM3 = volume;
    }
    values.resize(snapped.size());
    return values;
}

results::HydrographPlot gaugePlot(const Gauge& gauge, const SnappedGauge& s,
                                  const std::vector<float>& values,
                                  const std::vector<std::string>& stamps,
                                  std::vector<double> rainfall,
                                  const std::vector<std::optional<double>>* observed) {
    results::HydrographPlot plot;
    plot.title = "Gauge " + gauge.id + ": river " + std::to_string(s.riverNum) + ", column "
                 + std::to_string(s.column) + ", row " + std::to_string(s.row);
    plot.discharge.assign(values.begin(), values.end());
    plot.rainfall = std::move(rainfall);
    if (observed != nullptr) {
        plot.observed = *observed;
    }
    if (const auto peak = results::findPeak(plot.discharge)) {
        plot.peakIndex = peak->index;
        plot.peakLabel =
            "Peak " + shortest(values[peak->index]) + " m\xC2\xB3/s, " + stamps[peak->index];
    }
    return plot;
}

}  // namespace

int runGaugeSeries(std::span<const std::string> args, std::ostream& out, std::ostream& progress) {
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        out << kHelp << std::flush;
        return 0;
    }
    const auto options = parseOptions(args);
    if (!options) {
        return fail(out, options.error());
    }
    const fs::path& caseDir = options->caseDir;

    // Case, gauges and observations: every input is checked before anything is written.
    const CasePaths paths{caseDir};
    const auto data = readCase(caseDir);
    if (!data) {
        return fail(out, data.error());
    }
    const EventParameters& params = data->params;
    const RiverList& rivers = data->rivers;
    const StudyGrid& grid = data->grid;
    const auto rain = readCaseRainfall(caseDir, params);
    if (!rain) {
        return fail(out, rain.error());
    }
    const auto start = readEventStart(paths.rainfall());
    if (!start) {
        return fail(out, start.error());
    }
    const std::int64_t hours = std::int64_t{params.days} * 24;
    std::string history = results::isoNow() + " gauge_series";
    for (const std::string& a : args) {
        history += " " + a;
    }
    if (start->fallback) {
        sayLine(out, "Note: ", results::kFallbackNote);
        history += std::string("\n") + results::kFallbackNote;
    }

    const auto gaugeText = readTable(options->gaugesPath);
    if (!gaugeText) {
        return fail(out, gaugeText.error());
    }
    const auto gauges = parseGauges(*gaugeText, options->gaugesPath.filename().string());
    if (!gauges) {
        return fail(out, gauges.error());
    }
    std::optional<Observations> observations;
    if (options->observedPath) {
        const auto obsText = readTable(*options->observedPath);
        if (!obsText) {
            return fail(out, obsText.error());
        }
        auto parsed = parseObservations(*obsText, options->observedPath->filename().string(),
                                        *gauges, *start, hours);
        if (!parsed) {
            return fail(out, parsed.error());
        }
        observations = std::move(*parsed);
    }

    // Snapping.
    const std::vector<double> upstream = upstreamAreasM2(grid);
    std::vector<SnappedGauge> snapped;
    for (const Gauge& g : *gauges) {
        auto s = snapGauge(g, grid, rivers, params, upstream, options->radius);
        if (!s) {
            return fail(out, s.error());
        }
        snapped.push_back(*s);
    }
    printSnapped(out, *gauges, snapped, options->radius);

    // Rain points, water balance plan.
    const auto points = nearestRainPoints(grid, *rain);
    if (!points) {
        return fail(out, points.error());
    }
    std::vector<RiverBalance> balance = planWaterBalance(grid, rivers, *rain, *points);

    auto read = readGaugeSeries(paths, grid, hours, snapped, balance, progress);
    if (!read) {
        return fail(out, read.error());
    }
    const std::vector<std::vector<float>>& values = *read;

    // The files, all under temporary names until every one is complete.
    const fs::path outputDir = caseDir / "output";
    OutputSet files(outputDir);
    std::vector<std::string> stamps;
    for (std::int64_t h = 1; h <= hours; ++h) {
        stamps.push_back(results::isoHourEnd(*start, h));
    }
    std::optional<std::string> problem;
    const auto write = [&](const std::string& name, const std::string& text) {
        if (!problem) {
            problem = files.text(name, text);
        }
    };

    write("gauge_cells.csv", cellsCsv(*gauges, snapped));

    std::string header = "time";
    for (const Gauge& g : *gauges) {
        header += "," + g.id;
    }
    header += "\n";
    write("gauge_discharge.csv", seriesCsv(header, stamps, values));

    if (!problem) {
        GaugeNetcdfJob job;
        job.file = files.reserve("gauge_discharge.nc");
        job.params = params;
        job.start = *start;
        job.history = history;
        job.gauges = &*gauges;
        job.snapped = &snapped;
        job.series = &values;
        problem = writeGaugeNetcdf(job);
    }

    std::vector<Skill> skills;
    if (observations) {
        write("gauge_observed.csv", observedCsv(header, stamps, *observations));
        write("gauge_skill.csv", skillCsv(*gauges, values, *observations, skills));
    }

    for (std::size_t k = 0; k < gauges->size() && !problem; ++k) {
        const SnappedGauge& s = snapped[k];
        const results::HydrographPlot plot =
            gaugePlot((*gauges)[k], s, values[k], stamps,
                      meanRainfall(grid, *rain, *points, upstreamCells(grid, s.cell)),
                      observations ? &observations->series[k] : nullptr);
        write("gauge_" + (*gauges)[k].id + ".svg", results::renderHydrographSvg(plot));
    }

    write("water_balance.csv", waterBalanceCsv(grid, balance));

    if (!problem) {
        problem = files.commit();
    }
    if (problem) {
        return fail(out, *problem);
    }

    printSummary(out, *gauges, observations, skills, balance);
    sayLine(out, "Wrote ", gauges->size(), " gauge series of ", hours, " hours (from ",
            stamps.front(), ") and the water balance to ", outputDir.string());
    return 0;
}

}  // namespace hydro::gauges
