#include "gauge_series/app.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <sstream>
#include <system_error>
#include <vector>

#include "case/basin_rainfall.h"
#include "case/case.h"
#include "case/case_folder.h"
#include "case/snap_report.h"
#include "common/console.h"
#include "common/file_transaction.h"
#include "common/number_stream.h"
#include "common/option_hint.h"
#include "gauge_series/catchment.h"
#include "gauge_series/gauge_netcdf.h"
#include "results/discharge_value.h"
#include "results/event_time.h"
#include "results/gauge_table.h"
#include "results/run_record.h"
#include "results/series.h"
#include "results/skill.h"
#include "results/snapping.h"
#include "results/svg_plot.h"

namespace hydro::gauges {

using results::Gauge;
using results::Observations;
using results::parseGauges;
using results::parseObservations;
using results::SnappedGauge;

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

With --observed OBS.csv (columns time,<id>,...; the same time stamps; empty cells for missing
values) also gauge_observed.csv (the observations on the event's hours) and gauge_skill.csv
(n, NSE, KGE, KGE', percent bias, peaks, peak error and timing over the hours with both
values; an undefined score is left empty), and the observations dashed in the hydrographs.

The console shows each listed river's water balance from the simulator's
output/water_balance.csv: rain, inflow from other listed rivers, outflow, channel storage at
the start and at the end, the residual the scheme made or lost as a share of the rain, and the
runoff coefficient, outflow / (rain + inflow); and, where rivers drain into others, the same
for each river's catchment (the river and every river upstream of it), whose runoff
coefficient is its outflow / its rain.

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
                             + std::to_string(kLargestRadius) + ", not \"" + quoteToken(args[k])
                             + "\"."};
            }
            o.radius = *r;
        } else if (a.starts_with("--")) {
            static constexpr std::array<std::string_view, 3> kKnown{"--observed", "--snap-radius",
                                                                    "--help"};
            if (nearestOption(a, kKnown)) {
                return Error{unknownOptionLine(a, kKnown, "", "gauge_series --help")};
            }
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

std::string optionalText(const std::optional<double>& v) {
    return v ? shortest(*v) : std::string();
}

std::string fixed(double v, int decimals) {
    std::ostringstream s;
    s.imbue(std::locale::classic());
    s << std::fixed << std::setprecision(decimals) << v;
    return s.str();
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

/// One row of the console's water balance.
void printBalanceRow(std::ostream& out, const std::string& river, const results::BalanceRow& b) {
    const std::string share = b.residualShare ? fixed(*b.residualShare * 100.0, 2) : "-";
    sayLine(out, std::setw(6), river, std::setw(16), fixed(b.rain, 0), std::setw(16),
            fixed(b.inflow, 0), std::setw(16), fixed(b.outflow, 0), std::setw(16),
            fixed(b.initialStorage, 0), std::setw(16), fixed(b.finalStorage, 0), std::setw(12),
            share, std::setw(13), b.runoffCoefficient ? fixed(*b.runoffCoefficient, 4) : "-");
}

/// One row of the console's catchment balance.
void printCatchmentRow(std::ostream& out, const std::string& river, std::size_t rivers,
                       const results::CatchmentBalance& c) {
    sayLine(out, std::setw(6), river, std::setw(8), rivers, std::setw(16), fixed(c.rain, 0),
            std::setw(16), fixed(c.outflow, 0), std::setw(16), fixed(c.initialStorage, 0),
            std::setw(16), fixed(c.finalStorage, 0), std::setw(12),
            c.residualShare ? fixed(*c.residualShare * 100.0, 2) : "-", std::setw(13),
            c.runoffCoefficient ? fixed(*c.runoffCoefficient, 4) : "-");
}

/// The balance of the catchments of the rivers that others drain into, when there are any.
void printCatchments(std::ostream& out, const results::WaterBalance& balance) {
    const bool nested = std::any_of(balance.rivers.begin(), balance.rivers.end(), [](auto& b) {
        return b.catchment && !b.upstreamRivers.empty();
    });
    if (!nested) {
        return;
    }
    sayLine(out,
            "Water balance of each river's catchment: the river and the rivers upstream of "
            "it (m3):");
    sayLine(out, std::setw(6), "river", std::setw(8), "rivers", std::setw(16), "rain",
            std::setw(16), "outflow", std::setw(16), "storage start", std::setw(16), "storage end",
            std::setw(12), "residual %", std::setw(13), "runoff coef.");
    for (const results::BalanceRow& b : balance.rivers) {
        if (b.catchment) {
            printCatchmentRow(out, std::to_string(b.river), b.upstreamRivers.size() + 1,
                              *b.catchment);
        }
    }
    sayLine(out, "Runoff coefficient of a catchment: its outflow / its rain.");
}

/// The simulator's water balance of the listed rivers, or the note that there is none.
void printWaterBalance(std::ostream& out, const results::RecordedBalance& recorded) {
    if (!recorded.balance) {
        sayLine(out, "No water balance: output/", results::kWaterBalanceFile,
                recorded.earlierGaugeTable ? " holds gauge_series' earlier table, not the "
                                             "simulator's"
                                           : " is missing",
                "; runoff_sim writes it at the end of every run.");
        return;
    }
    const results::WaterBalance& balance = *recorded.balance;
    sayLine(out, "Water balance of the listed rivers (m3):");
    sayLine(out, std::setw(6), "river", std::setw(16), "rain", std::setw(16), "inflow",
            std::setw(16), "outflow", std::setw(16), "storage start", std::setw(16), "storage end",
            std::setw(12), "residual %", std::setw(13), "runoff coef.");
    for (const results::BalanceRow& b : balance.rivers) {
        printBalanceRow(out, std::to_string(b.river), b);
    }
    printBalanceRow(out, "all", balance.all);
    sayLine(out,
            "Inflow: from other listed rivers. Residual: in % of the rain. Runoff "
            "coefficient: outflow / (rain + inflow).");
    printCatchments(out, balance);
}

void printSummary(std::ostream& out, const std::vector<Gauge>& gauges,
                  const std::optional<Observations>& observations, const std::vector<Skill>& skills,
                  const results::RecordedBalance& balance) {
    if (observations) {
        if (observations->rowsOutsideEvent > 0) {
            sayLine(out, "Note: ", observations->rowsOutsideEvent,
                    " rows of the observations lie outside the event's hours and were skipped.");
        }
        for (const std::string& id : observations->unknownIds) {
            sayLine(out, "Note: the observations' column ", quoteToken(id), " names no gauge.");
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
    printWaterBalance(out, balance);
}

/// The hourly series of the gauges' cells, read from the hourly discharge.
Result<std::vector<std::vector<float>>> readGaugeSeries(const CasePaths& paths,
                                                        const StudyGrid& grid, std::int64_t hours,
                                                        const std::vector<SnappedGauge>& snapped,
                                                        std::ostream& progress) {
    DischargeGrid hourly;
    if (auto open = hourly.open(paths.hourlyDischarge(), grid, static_cast<std::uint64_t>(hours));
        !open) {
        return open.error();
    }
    std::vector<std::vector<float>> values;
    values.reserve(snapped.size());
    for (std::size_t k = 0; k < snapped.size(); ++k) {
        auto series = hourly.readCellSeries(grid.filePosition(snapped[k].cell),
                                            static_cast<std::uint64_t>(hours));
        if (!series) {
            return series.error();
        }
        const std::int64_t position = grid.filePosition(snapped[k].cell);
        for (std::size_t h = 0; h < series->size(); ++h) {
            if (auto fault = results::nonFiniteDischarge("dischargeHourly.bin", "hour", grid, h,
                                                         position, (*series)[h])) {
                return *fault;
            }
        }
        values.push_back(std::move(*series));
        if (hours >= 2400) {
            progress << "gauge_series: series " << k + 1 << " of " << snapped.size() << std::endl;
        }
    }
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

/// Everything the run reads, each input checked before anything is written.
struct Inputs {
    CaseData data;
    RainGrid rain;
    EventStart start;
    std::string history;  ///< the NetCDF `history` attribute
    std::vector<Gauge> gauges;
    std::optional<Observations> observations;
    /// The simulator's balance of the run, if it wrote one.
    results::RecordedBalance balance;
    std::int64_t hours = 0;
};

/// The gauge list and, when given, the observations against it.
Status readGaugeTables(const Options& options, Inputs& in) {
    const auto gaugeText = results::readTableFile(options.gaugesPath);
    if (!gaugeText) {
        return gaugeText.error();
    }
    auto gauges = parseGauges(*gaugeText, options.gaugesPath.filename().string());
    if (!gauges) {
        return gauges.error();
    }
    in.gauges = std::move(*gauges);
    if (!options.observedPath) {
        return success();
    }
    const auto obsText = results::readTableFile(*options.observedPath);
    if (!obsText) {
        return obsText.error();
    }
    auto parsed = parseObservations(*obsText, options.observedPath->filename().string(), in.gauges,
                                    in.start, in.hours);
    if (!parsed) {
        return parsed.error();
    }
    in.observations = std::move(*parsed);
    return success();
}

/// Case, gauges, observations and the simulator's water balance. The note on a stand-in event start
/// goes to `out` as soon as it is known, before anything else can fail.
Result<Inputs> readInputs(const Options& options, std::span<const std::string> args,
                          std::ostream& out) {
    Inputs in;
    auto event = readCaseEvent(options.caseDir);
    if (!event) {
        return event.error();
    }
    in.data = std::move(event->data);
    in.rain = std::move(event->rain);
    in.start = event->start;
    in.hours = std::int64_t{in.data.params.days} * 24;
    in.history = results::commandHistory("gauge_series", args, in.start);
    if (in.start.fallback) {
        sayLine(out, "Note: ", results::kFallbackNote);
    }
    if (auto tables = readGaugeTables(options, in); !tables) {
        return tables.error();
    }
    auto balance = results::readWaterBalance(options.caseDir / "output");
    if (!balance) {
        return balance.error();
    }
    in.balance = std::move(*balance);
    return in;
}

/// Each gauge on its cell.
Result<std::vector<SnappedGauge>> snapGauges(const Inputs& in, std::int64_t radius) {
    const std::vector<double> upstream = upstreamAreasM2(in.data.grid);
    std::vector<SnappedGauge> snapped;
    for (const Gauge& g : in.gauges) {
        auto s = snapGauge(g, in.data.grid, in.data.rivers, in.data.params, upstream, radius);
        if (!s) {
            return s.error();
        }
        snapped.push_back(*s);
    }
    return snapped;
}

/// What the run computed from the inputs, for the files and the console.
struct Computed {
    std::vector<SnappedGauge> snapped;
    std::vector<std::int32_t> rainPoints;    ///< the rain point nearest to each cell
    std::vector<std::vector<float>> values;  ///< per gauge, hours 1..H
    std::vector<std::string> stamps;         ///< the end of each hour, ISO 8601
    std::vector<Skill> skills;               ///< per gauge, with observations only
};

/// Snaps the gauges and reads their series.
Result<Computed> compute(const Inputs& in, const Options& options, std::ostream& progress) {
    Computed c;
    auto snapped = snapGauges(in, options.radius);
    if (!snapped) {
        return snapped.error();
    }
    c.snapped = std::move(*snapped);
    auto points = nearestRainPoints(in.data.grid, in.rain);
    if (!points) {
        return points.error();
    }
    c.rainPoints = std::move(*points);
    auto read =
        readGaugeSeries(CasePaths{options.caseDir}, in.data.grid, in.hours, c.snapped, progress);
    if (!read) {
        return read.error();
    }
    c.values = std::move(*read);
    for (std::int64_t h = 1; h <= in.hours; ++h) {
        c.stamps.push_back(results::isoHourEnd(in.start, h));
    }
    return c;
}

/// The first line of the series tables: "time" and the gauge ids.
std::string seriesHeader(const std::vector<Gauge>& gauges) {
    std::string header = "time";
    for (const Gauge& g : gauges) {
        header += "," + g.id;
    }
    return header + "\n";
}

/// Writes the files within `files` while nothing has failed, keeping the first failure.
class TableWriter {
public:
    TableWriter(FileTransaction& files, fs::path dir) : files_(files), dir_(std::move(dir)) {}

    void operator()(const std::string& name, const std::string& text) {
        if (status_) {
            status_ = files_.write(dir_ / name, text);
        }
    }
    [[nodiscard]] const Status& status() const { return status_; }

private:
    FileTransaction& files_;
    fs::path dir_;
    Status status_ = success();
};

/// The observation tables and the hydrographs; the skill scores are left in `c.skills`.
void writeScoresAndPlots(TableWriter& write, const Inputs& in, Computed& c) {
    if (in.observations) {
        const std::string header = seriesHeader(in.gauges);
        write("gauge_observed.csv", observedCsv(header, c.stamps, *in.observations));
        write("gauge_skill.csv", skillCsv(in.gauges, c.values, *in.observations, c.skills));
    }
    const StudyGrid& grid = in.data.grid;
    for (std::size_t k = 0; k < in.gauges.size() && write.status(); ++k) {
        const SnappedGauge& s = c.snapped[k];
        const results::HydrographPlot plot =
            gaugePlot(in.gauges[k], s, c.values[k], c.stamps,
                      meanRainfall(grid, in.rain, c.rainPoints, upstreamCells(grid, s.cell)),
                      in.observations ? &in.observations->series[k] : nullptr);
        write("gauge_" + in.gauges[k].id + ".svg", results::renderHydrographSvg(plot));
    }
}

/// Every output file, put in place together once all are complete.
Status writeOutputs(const fs::path& dir, const Inputs& in, Computed& c) {
    FileTransaction files;
    TableWriter write(files, dir);
    write("gauge_cells.csv", cellsCsv(in.gauges, c.snapped));
    write("gauge_discharge.csv", seriesCsv(seriesHeader(in.gauges), c.stamps, c.values));
    if (!write.status()) {
        return write.status();
    }
    GaugeNetcdfJob job;
    job.file = files.add(dir / "gauge_discharge.nc");
    job.name = "gauge_discharge.nc";
    job.params = in.data.params;
    job.start = in.start;
    job.history = in.history;
    if (in.balance.balance) {
        job.scheme = in.balance.balance->scheme;
        job.params.channelWidth = in.balance.balance->channelWidth;
    }
    job.gauges = &in.gauges;
    job.snapped = &c.snapped;
    job.series = &c.values;
    if (auto written = writeGaugeNetcdf(job); !written) {
        return written;
    }
    writeScoresAndPlots(write, in, c);
    if (!write.status()) {
        return write.status();
    }
    return files.commit();
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
    if (const Status folder = checkCaseFolder(options->caseDir); !folder) {
        return fail(out, folder.error());
    }
    if (const Status output = checkOutputFolder(options->caseDir / "output"); !output) {
        return fail(out, output.error());
    }
    // Every input is checked before anything is written.
    const auto inputs = readInputs(*options, args, out);
    if (!inputs) {
        return fail(out, inputs.error());
    }
    auto computed = compute(*inputs, *options, progress);
    if (!computed) {
        return fail(out, computed.error());
    }
    const fs::path outputDir = options->caseDir / "output";
    if (auto written = writeOutputs(outputDir, *inputs, *computed); !written) {
        return fail(out, written.error());
    }
    // Where the gauges went is printed only once everything is read and written, so that a
    // failing run prints its one error line alone.
    results::printSnappedGauges(out, inputs->gauges, computed->snapped, options->radius);
    printSummary(out, inputs->gauges, inputs->observations, computed->skills, inputs->balance);
    sayLine(out, "Wrote ", inputs->gauges.size(), " gauge series of ", inputs->hours,
            " hours (from ", computed->stamps.front(), ") to ", outputDir.string());
    return 0;
}

}  // namespace hydro::gauges
