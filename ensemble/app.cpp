#include "ensemble/app.h"

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <optional>
#include <sstream>
#include <system_error>
#include <vector>

#include "case/basin_rainfall.h"
#include "case/case.h"
#include "case/channel_width.h"
#include "case/event_start.h"
#include "case/rain_grid.h"
#include "common/console.h"
#include "common/file_transaction.h"
#include "common/number_stream.h"
#include "ensemble/ensemble_netcdf.h"
#include "ensemble/member_sets.h"
#include "ensemble/quantiles.h"
#include "members/member_executor.h"
#include "members/member_runs.h"
#include "results/event_time.h"
#include "results/gauge_table.h"
#include "results/grid_netcdf.h"
#include "results/series.h"
#include "results/snapping.h"
#include "results/svg_plot.h"

namespace hydro::ensemble {

namespace fs = std::filesystem;
using members::MemberValues;
using results::Gauge;
using results::SnappedGauge;

namespace {

constexpr int kFailure = 1;
constexpr std::int64_t kLargestRadius = 100000;
constexpr std::int32_t kMostThreads = 1024;

constexpr const char* kUsage =
    "Usage: ensemble CASE_DIR [--rain FILE...] [--params SETS.csv] [--gauges GAUGES.csv] "
    "[--snap-radius N] [--exceedance Q] [--member-threads N] [--scheme linear|conservative] "
    "(ensemble --help tells more)";
constexpr const char* kHelp =
    R"(Usage: ensemble CASE_DIR [--rain FILE...] [--params SETS.csv] [--gauges GAUGES.csv]
                [--snap-radius N] [--exceedance Q] [--member-threads N]
                [--scheme linear|conservative] [--channel-width COEF,EXP]

Routes many members of one case in one process and writes their spread at the gauges. A
member is the case with rainfall of its own and/or values of its own:

  --rain FILE...     rainfall files in the case's rain.dat format, on the case's rain grid,
                     covering the case's days and starting when the case's event starts
  --params SETS.csv  a header naming some of manning-slope, manning-channel, initial-runoff
                     and rain-factor (optionally after a first column "member" that names
                     each row), then one row per member; a value not named, or an empty
                     cell, is the case's

With both, every parameter set runs with every rain file (member "<set>_<rain file stem>").
With --rain alone each file runs with the case's values, with --params alone each set with
the case's rain.

In a build with MPI, mpirun -n N ensemble ... spreads the members over N processes and writes
the same files as one process.

Writes into CASE_DIR/output/ensemble, all together or nothing:

  gauge_ensemble.nc    every member's hourly discharge at the gauges (CF-1.8 timeSeries with
                       a realization axis), the members' names and values
  gauge_quantiles.csv  gauge,time,q05,q25,q50,q75,q95 per gauge and hour (linear
                       interpolation between the sorted members, type 7); with a gauge column
                       threshold_m3s also p_exceed, the share of members above it that hour
  fan_<id>.svg         each gauge's median with its 25-75 % and 5-95 % bands
  cell_exceedance.nc   with --exceedance Q: per cell, the share of members whose largest
                       hourly discharge exceeds Q m3/s

Options:
  --gauges GAUGES.csv   id,lon,lat and optionally area_km2, threshold_m3s (as gauge_series);
                        default CASE_DIR/gauges.csv
  --snap-radius N       half-width of the snapping window in cells (0 to 100000; default 1)
  --exceedance Q        discharge for cell_exceedance.nc, m3/s (0 or more)
  --member-threads N    members routed side by side (1 to 1024; default: by basin size)
  --scheme S            linear (default) or conservative, as runoff_sim
  --channel-width COEF,EXP
                        the width of channel cells B = COEF * A^EXP, B in m, A the upstream
                        area in km2, as runoff_sim (default: the model's law)
  --help                print this text
)";

struct Options {
    fs::path caseDir;
    std::vector<fs::path> rainFiles;
    std::optional<fs::path> paramsPath;
    std::optional<fs::path> gaugesPath;
    std::int64_t radius = 1;
    std::optional<double> exceedance;
    int memberThreads = 0;
    runoff::Scheme scheme = runoff::Scheme::kLinear;
    ChannelWidthLaw channelWidth;
};

Error badValue(const std::string& option, const std::string& what, const std::string& value) {
    return Error{option + " must be " + what + ", not \"" + quoteToken(value) + "\"."};
}

/// Reads the value of the option at `k` into `o`; false when `a` is no such option.
Result<bool> parseValued(const std::string& a, const std::string& v, Options& o) {
    if (a == "--params") {
        o.paramsPath = v;
    } else if (a == "--gauges") {
        o.gaugesPath = v;
    } else if (a == "--snap-radius") {
        const auto r = parseInt32(v);
        if (!r || *r < 0 || *r > kLargestRadius) {
            return badValue(a, "a whole number of cells from 0 to 100000", v);
        }
        o.radius = *r;
    } else if (a == "--exceedance") {
        const auto q = parseDouble(v);
        if (!q || !std::isfinite(*q) || *q < 0.0) {
            return badValue(a, "a discharge of 0 or more (m3/s)", v);
        }
        o.exceedance = *q;
    } else if (a == "--member-threads") {
        const auto n = parseInt32(v);
        if (!n || *n < 1 || *n > kMostThreads) {
            return badValue(a, "a whole number from 1 to 1024", v);
        }
        o.memberThreads = *n;
    } else if (a == "--channel-width") {
        auto law = parseChannelWidth(a, v);
        if (!law) {
            return law.error();
        }
        o.channelWidth = *law;
    } else if (a == "--scheme") {
        if (v != "linear" && v != "conservative") {
            return badValue(a, "linear or conservative", v);
        }
        o.scheme = v == "linear" ? runoff::Scheme::kLinear : runoff::Scheme::kConservative;
    } else {
        return false;
    }
    return true;
}

Result<Options> parseOptions(std::span<const std::string> args) {
    Options o;
    std::vector<std::string> positional;
    for (std::size_t k = 0; k < args.size(); ++k) {
        const std::string& a = args[k];
        if (a == "--rain") {
            while (k + 1 < args.size() && !args[k + 1].starts_with("--")) {
                o.rainFiles.emplace_back(args[++k]);
            }
            continue;
        }
        if (a.starts_with("--")) {
            if (k + 1 >= args.size()) {
                return Error{kUsage};
            }
            auto taken = parseValued(a, args[k + 1], o);
            if (!taken) {
                return taken.error();
            }
            if (!*taken) {
                return Error{kUsage};
            }
            ++k;
            continue;
        }
        positional.push_back(a);
    }
    if (positional.size() != 1) {
        return Error{kUsage};
    }
    o.caseDir = positional[0];
    if (o.rainFiles.empty() && !o.paramsPath) {
        return Error{"ensemble needs members: give --rain FILE... and/or --params SETS.csv."};
    }
    if (!o.gaugesPath) {
        o.gaugesPath = o.caseDir / "gauges.csv";
    }
    return o;
}

/// Everything the run reads, each input checked before anything is routed or written.
struct Inputs {
    CaseData data;
    RainGrid rain;
    EventStart start;
    std::string history;
    std::vector<Gauge> gauges;
    std::vector<RainGrid> rains;         ///< the --rain files, in order
    std::vector<std::string> rainNames;  ///< their file names
    std::vector<MemberPlan> members;
    std::int64_t hours = 0;
};

/// A rain file of a member: on the case's rain grid, its days and its start.
Result<RainGrid> readMemberRain(const fs::path& path, const Inputs& in) {
    const std::string name = path.filename().string();
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) {
        return Error{path.string() + " is no rainfall file."};
    }
    RainGrid grid = placeRainPoints(in.data.params);
    if (auto read = readRainfall(path, grid); !read) {
        return Error{name + ": " + read.error().message};
    }
    const auto start = readEventStart(path);
    if (!start) {
        return Error{name + ": " + start.error().message};
    }
    if (start->fallback != in.start.fallback || start->unixSeconds() != in.start.unixSeconds()) {
        return Error{name + " starts at " + start->isoAfter(0) + ", but the case's event at "
                     + in.start.isoAfter(0) + "."};
    }
    return grid;
}

/// The stem of each rain file, made unique by its position where two share one.
std::vector<std::string> rainStems(const std::vector<fs::path>& files) {
    std::vector<std::string> stems;
    for (std::size_t k = 0; k < files.size(); ++k) {
        std::string stem = files[k].stem().string();
        for (std::size_t j = 0; j < k; ++j) {
            if (files[j].stem().string() == stem) {
                stem += "-" + std::to_string(k + 1);
                break;
            }
        }
        stems.push_back(stem);
    }
    return stems;
}

Status readMembers(const Options& options, Inputs& in, const MemberValues& caseValues) {
    std::vector<ParameterSet> sets;
    if (options.paramsPath) {
        const auto text = results::readTableFile(*options.paramsPath);
        if (!text) {
            return text.error();
        }
        auto parsed =
            parseParameterSets(*text, options.paramsPath->filename().string(), caseValues);
        if (!parsed) {
            return parsed.error();
        }
        sets = std::move(*parsed);
    }
    for (const fs::path& file : options.rainFiles) {
        auto rain = readMemberRain(file, in);
        if (!rain) {
            return rain.error();
        }
        in.rains.push_back(std::move(*rain));
        in.rainNames.push_back(file.filename().string());
    }
    in.members = crossMembers(sets, rainStems(options.rainFiles), caseValues);
    return success();
}

Result<Inputs> readInputs(const Options& options, std::span<const std::string> args,
                          std::ostream& out) {
    Inputs in;
    auto event = readCaseEvent(options.caseDir);
    if (!event) {
        return event.error();
    }
    in.data = std::move(event->data);
    in.data.params.channelWidth = options.channelWidth;
    in.rain = std::move(event->rain);
    in.start = event->start;
    in.hours = std::int64_t{in.data.params.days} * 24;
    in.history = results::commandHistory("ensemble", args, in.start);
    if (in.start.fallback) {
        sayLine(out, "Note: ", results::kFallbackNote);
    }
    const auto gaugeText = results::readTableFile(*options.gaugesPath);
    if (!gaugeText) {
        return gaugeText.error();
    }
    auto gauges = results::parseGauges(*gaugeText, options.gaugesPath->filename().string());
    if (!gauges) {
        return gauges.error();
    }
    in.gauges = std::move(*gauges);
    const EventParameters& p = in.data.params;
    const MemberValues caseValues{p.manningSlope, p.manningChannel, p.initialRunoff, 1.0};
    if (auto read = readMembers(options, in, caseValues); !read) {
        return read.error();
    }
    return in;
}

/// What the members gave.
struct Computed {
    std::vector<SnappedGauge> snapped;
    /// series[m][g]: member m at gauge g, hours 1..H.
    std::vector<std::vector<std::vector<float>>> series;
    std::vector<std::size_t> exceeding;  ///< per frame position, members above --exceedance
    std::vector<float> frameTemplate;    ///< the first member's peaks: -9999 where no data
    std::vector<std::string> stamps;
};

Result<std::vector<SnappedGauge>> snapGauges(const Inputs& in, std::int64_t radius) {
    const std::vector<double> upstream = upstreamAreasM2(in.data.grid);
    std::vector<SnappedGauge> snapped;
    for (const Gauge& g : in.gauges) {
        auto s =
            results::snapGauge(g, in.data.grid, in.data.rivers, in.data.params, upstream, radius);
        if (!s) {
            return s.error();
        }
        snapped.push_back(*s);
    }
    return snapped;
}

/// A member's series must be finite: the first value that is not names the member.
Status checkFinite(const MemberPlan& member, const std::vector<Gauge>& gauges,
                   const members::MemberOutput& output) {
    for (std::size_t g = 0; g < output.series.size(); ++g) {
        for (std::size_t h = 0; h < output.series[g].size(); ++h) {
            if (!std::isfinite(output.series[g][h])) {
                return Error{"Member " + member.name + " gives a discharge that is not a number "
                             + "at gauge " + gauges[g].id + " in hour " + std::to_string(h + 1)
                             + "."};
            }
        }
    }
    return success();
}

/// Progress on standard error: members done and the time left at the pace so far.
class Pacer {
public:
    Pacer(std::ostream& out, std::size_t total) : out_(out), total_(total) {}
    void done(std::size_t count) {
        const double spent =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - begin_).count();
        const double left =
            spent / static_cast<double>(count) * static_cast<double>(total_ - count);
        out_ << "ensemble: " << count << " of " << total_ << " members done, about "
             << static_cast<std::int64_t>(std::ceil(left)) << " s left" << std::endl;
    }

private:
    std::ostream& out_;
    std::size_t total_;
    std::chrono::steady_clock::time_point begin_ = std::chrono::steady_clock::now();
};

Result<Computed> compute(const Inputs& in, const Options& options, std::ostream& progress,
                         members::MemberExecutor& executor) {
    Computed c;
    auto snapped = snapGauges(in, options.radius);
    if (!snapped) {
        return snapped.error();
    }
    c.snapped = std::move(*snapped);
    std::vector<CellIndex> watched;
    for (const SnappedGauge& s : c.snapped) {
        watched.push_back(s.cell);
    }
    auto runner = members::MemberRunner::create(in.data, in.rain, options.scheme, watched,
                                                options.exceedance.has_value());
    if (!runner) {
        return runner.error();
    }
    std::vector<members::MemberJob> jobs;
    for (const MemberPlan& m : in.members) {
        jobs.push_back({m.values, m.rain == kCaseRain ? nullptr : &in.rains[m.rain]});
    }
    c.series.resize(jobs.size());
    Status failure = success();
    Pacer pacer(progress, jobs.size());
    executor.runAll(
        *runner, jobs, options.memberThreads,
        [&](std::size_t k, Result<members::MemberOutput> result) {
            if (!failure) {
                return;
            }
            if (!result) {
                failure = result.error();
                return;
            }
            failure = checkFinite(in.members[k], in.gauges, *result);
            if (options.exceedance) {
                if (c.exceeding.empty()) {
                    c.exceeding.assign(result->cellPeaks.size(), 0);
                    c.frameTemplate = result->cellPeaks;
                }
                for (std::size_t i = 0; i < result->cellPeaks.size(); ++i) {
                    c.exceeding[i] +=
                        static_cast<double>(result->cellPeaks[i]) > *options.exceedance ? 1U : 0U;
                }
            }
            c.series[k] = std::move(result->series);
            pacer.done(k + 1);
        });
    if (!failure) {
        return failure.error();
    }
    for (std::int64_t h = 1; h <= in.hours; ++h) {
        c.stamps.push_back(results::isoHourEnd(in.start, h));
    }
    return c;
}

/// The quantile table: gauge,time,q05..q95 and, when any gauge has a threshold, p_exceed
/// (empty for a gauge without one).
std::string quantilesCsv(const Inputs& in, const Computed& c) {
    bool thresholds = false;
    for (const Gauge& g : in.gauges) {
        thresholds = thresholds || g.thresholdM3s.has_value();
    }
    std::string text = "gauge,time,q05,q25,q50,q75,q95";
    text += thresholds ? ",p_exceed\n" : "\n";
    for (std::size_t g = 0; g < in.gauges.size(); ++g) {
        std::vector<const std::vector<float>*> series;
        for (const auto& member : c.series) {
            series.push_back(&member[g]);
        }
        const auto q = hourlyQuantiles(series);
        const std::optional<double>& threshold = in.gauges[g].thresholdM3s;
        const std::vector<double> shares =
            threshold ? hourlyExceedance(series, *threshold) : std::vector<double>{};
        for (std::size_t h = 0; h < q.size(); ++h) {
            text += in.gauges[g].id + "," + c.stamps[h];
            for (const double v : q[h]) {
                text += "," + shortestText(v);
            }
            if (thresholds) {
                text += threshold ? "," + shortestText(shares[h]) : ",";
            }
            text += "\n";
        }
    }
    return text;
}

/// The fan chart of gauge `g`: the median as the line, 5-95 % and 25-75 % as bands.
std::string fanSvg(const Inputs& in, const Computed& c, std::size_t g) {
    std::vector<const std::vector<float>*> series;
    for (const auto& member : c.series) {
        series.push_back(&member[g]);
    }
    const auto q = hourlyQuantiles(series);
    results::HydrographPlot plot;
    const SnappedGauge& s = c.snapped[g];
    plot.title = "Gauge " + in.gauges[g].id + ": " + std::to_string(c.series.size())
                 + " members, river " + std::to_string(s.riverNum) + ", column "
                 + std::to_string(s.column) + ", row " + std::to_string(s.row);
    results::DischargeBand outer{{}, {}, "5-95 % of the members", 0.2};
    results::DischargeBand inner{{}, {}, "25-75 % of the members", 0.3};
    for (const auto& hour : q) {
        outer.low.push_back(hour[0]);
        inner.low.push_back(hour[1]);
        plot.discharge.push_back(hour[2]);
        inner.high.push_back(hour[3]);
        outer.high.push_back(hour[4]);
    }
    plot.bands = {std::move(outer), std::move(inner)};
    if (const auto peak = results::findPeak(plot.discharge)) {
        plot.peakIndex = peak->index;
        plot.peakLabel = "Median peak " + shortestText(plot.discharge[peak->index])
                         + " m\xC2\xB3/s, " + c.stamps[peak->index];
    }
    return results::renderHydrographSvg(plot);
}

NetcdfHeader headerFor(const fs::path& file, const std::string& name, const Inputs& in,
                       const Options& options) {
    return NetcdfHeader{file,     name,       in.data.params,
                        in.start, in.history, runoff::schemeName(options.scheme)};
}

Status writeNetcdfs(FileTransaction& files, const fs::path& dir, const Inputs& in,
                    const Computed& c, const Options& options) {
    std::vector<std::string> names;
    std::vector<MemberValues> values;
    std::vector<std::string> rains;
    for (const MemberPlan& m : in.members) {
        names.push_back(m.name);
        values.push_back(m.values);
        rains.push_back(m.rain == kCaseRain ? "case" : in.rainNames[m.rain]);
    }
    EnsembleNetcdfJob job;
    job.header = headerFor(files.add(dir / "gauge_ensemble.nc"), "gauge_ensemble.nc", in, options);
    job.gauges = &in.gauges;
    job.snapped = &c.snapped;
    job.memberNames = &names;
    job.memberValues = &values;
    job.memberRain = &rains;
    job.series = &c.series;
    if (auto written = writeEnsembleNetcdf(job); !written) {
        return written;
    }
    if (!options.exceedance) {
        return success();
    }
    std::vector<float> share(c.exceeding.size());
    for (std::size_t i = 0; i < share.size(); ++i) {
        share[i] = c.frameTemplate[i] == results::kNoData
                       ? results::kNoData
                       : static_cast<float>(static_cast<double>(c.exceeding[i])
                                            / static_cast<double>(in.members.size()));
    }
    ExceedanceNetcdfJob grid;
    grid.header =
        headerFor(files.add(dir / "cell_exceedance.nc"), "cell_exceedance.nc", in, options);
    grid.threshold = *options.exceedance;
    grid.members = in.members.size();
    grid.share = &share;
    return writeExceedanceNetcdf(grid);
}

/// Every output file, put in place together once all are complete.
Result<std::vector<std::string>> writeOutputs(const fs::path& dir, const Inputs& in,
                                              const Computed& c, const Options& options) {
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) {
        return Error{dir.string() + " cannot be created (" + ec.message() + ")."};
    }
    FileTransaction files;
    std::vector<std::string> written{"gauge_ensemble.nc"};
    if (auto nc = writeNetcdfs(files, dir, in, c, options); !nc) {
        return nc.error();
    }
    if (options.exceedance) {
        written.emplace_back("cell_exceedance.nc");
    }
    if (auto csv = files.write(dir / "gauge_quantiles.csv", quantilesCsv(in, c)); !csv) {
        return csv.error();
    }
    written.emplace_back("gauge_quantiles.csv");
    for (std::size_t g = 0; g < in.gauges.size(); ++g) {
        const std::string name = "fan_" + in.gauges[g].id + ".svg";
        if (auto svg = files.write(dir / name, fanSvg(in, c, g)); !svg) {
            return svg.error();
        }
        written.push_back(name);
    }
    if (auto committed = files.commit(); !committed) {
        return committed.error();
    }
    return written;
}

std::string fixed(double v, int decimals) {
    std::ostringstream s;
    s.imbue(std::locale::classic());
    s << std::fixed << std::setprecision(decimals) << v;
    return s.str();
}

void printGauges(std::ostream& out, const Inputs& in, const Computed& c, std::int64_t radius) {
    sayLine(out, "Gauges (snapped within ", radius, " cells; column from the west, ",
            "row from the south, both from 1):");
    sayLine(out, std::left, std::setw(16), "id", std::right, std::setw(8), "column", std::setw(6),
            "row", std::setw(10), "distance", std::setw(14), "upstream_km2", std::setw(14),
            "threshold_m3s");
    for (std::size_t k = 0; k < c.snapped.size(); ++k) {
        const SnappedGauge& s = c.snapped[k];
        const auto& threshold = in.gauges[k].thresholdM3s;
        sayLine(out, std::left, std::setw(16), in.gauges[k].id, std::right, std::setw(8), s.column,
                std::setw(6), s.row, std::setw(10), s.distance, std::setw(14),
                fixed(s.upstreamKm2, 1), std::setw(14), threshold ? shortestText(*threshold) : "-");
    }
}

void printMembers(std::ostream& out, const Inputs& in, const Computed& c) {
    sayLine(out, "Members (peak hourly discharge at each gauge, m3/s):");
    std::string header = "member";
    header.resize(24, ' ');
    for (const Gauge& g : in.gauges) {
        header +=
            " " + std::string(std::max<std::size_t>(12, g.id.size()) - g.id.size(), ' ') + g.id;
    }
    sayLine(out, header);
    for (std::size_t m = 0; m < in.members.size(); ++m) {
        std::string line = in.members[m].name;
        line.resize(std::max<std::size_t>(line.size(), 24), ' ');
        for (std::size_t g = 0; g < in.gauges.size(); ++g) {
            float peak = 0.0F;
            for (const float v : c.series[m][g]) {
                peak = std::max(peak, v);
            }
            const std::string text = shortestText(peak);
            const std::size_t width = std::max<std::size_t>(12, in.gauges[g].id.size());
            line += " " + std::string(width > text.size() ? width - text.size() : 0, ' ') + text;
        }
        sayLine(out, line);
    }
}

int fail(std::ostream& out, const Error& error) {
    sayLine(out, error.message);
    return kFailure;
}

}  // namespace

int runEnsemble(std::span<const std::string> args, std::ostream& out, std::ostream& progress) {
    members::LocalExecutor here;
    return runEnsemble(args, out, progress, here);
}

int runEnsemble(std::span<const std::string> args, std::ostream& out, std::ostream& progress,
                members::MemberExecutor& executor) {
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        out << kHelp << std::flush;
        return 0;
    }
    const auto options = parseOptions(args);
    if (!options) {
        return fail(out, options.error());
    }
    const auto inputs = readInputs(*options, args, out);
    if (Status read = executor.agree(inputs ? success() : Status{inputs.error()}); !read) {
        return fail(out, read.error());
    }
    const auto computed = compute(*inputs, *options, progress, executor);
    if (!computed) {
        return fail(out, computed.error());
    }
    // Every rank holds the members' series; the writing rank alone writes the files.
    const fs::path dir = options->caseDir / "output" / "ensemble";
    const auto written = executor.writes()
                             ? writeOutputs(dir, *inputs, *computed, *options)
                             : Result<std::vector<std::string>>{std::vector<std::string>{}};
    if (Status s = executor.agree(written ? success() : Status{written.error()}); !s) {
        return fail(out, s.error());
    }
    printGauges(out, *inputs, *computed, options->radius);
    printMembers(out, *inputs, *computed);
    std::string files;
    for (const std::string& name : *written) {
        files += (files.empty() ? "" : ", ") + name;
    }
    sayLine(out, "Wrote ", inputs->members.size(), " members at ", inputs->gauges.size(),
            " gauges over ", inputs->hours, " hours to ", dir.string(), ": ", files);
    return 0;
}

}  // namespace hydro::ensemble
