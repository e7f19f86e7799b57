#include "calibrate/app.h"

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iterator>
#include <map>
#include <sstream>

#include "calibrate/history.h"
#include "calibrate/options.h"
#include "case/basin_rainfall.h"
#include "case/parameter_text.h"
#include "common/console.h"
#include "common/file_transaction.h"
#include "common/number_stream.h"
#include "members/member_executor.h"
#include "members/member_runs.h"
#include "results/event_time.h"
#include "results/gauge_table.h"
#include "results/nice_scale.h"
#include "results/series.h"
#include "results/snapping.h"
#include "results/svg_plot.h"

namespace hydro::calibrate {

namespace fs = std::filesystem;
using results::fixedText;

namespace {

constexpr const char* kHelp =
    R"(Usage: calibrate CASE_DIR GAUGES.csv OBSERVED.csv --vary NAME=MIN:MAX[:log] ... [options]

Finds the values of the case that bring the simulated discharge at the gauges closest to the
observations, by running the case many times in this one process: the case is read and
planned once, each run changes only the values it varies and keeps only the gauges' series.
Gauges and observations are read and snapped as gauge_series reads and snaps them.
In a build with MPI, mpirun -n N calibrate ... spreads the runs of each batch over N
processes and writes the same files as one process; DDS gains from the ranks only with a
--batch of N or more, a Latin hypercube always.

Values that can vary (NAME):
  manning-slope     Manning's n of the slopes (param-event.dat value 15)
  manning-channel   Manning's n of the channels (value 16)
  initial-runoff    initial runoff, mm/h (value 18)
  rain-factor       multiplies every rain intensity (1 leaves the rain as it is)
:log samples a range uniformly in the logarithm of the value.

Writes into CASE_DIR/output/calibration/:
  history.csv      one row per run (appended as runs finish): the values, the objective and
                   per gauge n, NSE, KGE, KGE', percent bias, peak error and peak timing
  best.csv         the best run's row, with the objective's no-skill score
  objective.svg    the objective of every run and the best so far
  best_<id>.svg    each gauge's best hydrograph against its observations
  sensitivity.csv  with --algorithm lhs: each value's rank correlation with the objective and
                   with each gauge's peak timing

Options:
  --vary NAME=MIN:MAX[:log]  a value to vary and its range (repeat for more)
  --algorithm dds|lhs   Dynamically Dimensioned Search (default; perturbation 0.2) or a
                        Latin hypercube sweep of the ranges
  --budget N            runs (default 200)
  --objective kge|kge-prime|nse|log-nse   score to maximise (default kge), averaged over
                        the gauges
  --weights ID=W,...    weights of the gauges in the average (a gauge not named: 1)
  --seed S              the seed of the draws (default 1): the same seed gives the same
                        history at any thread count
  --warmup-hours H      hours left out of the scores (default 0)
  --snap-radius N       half-width of the snapping window in cells (default 1)
  --scheme linear|conservative   the simulator's scheme (default linear)
  --channel-width COEF,EXP   the width of channel cells B = COEF * A^EXP, B in m, A the
                        upstream area in km2, as runoff_sim (default: the model's law)
  --batch B             DDS proposals drawn from the same best values and run side by side
                        (default 1, the published algorithm)
  --member-threads N    runs side by side, each on one thread (default: chosen by the size of
                        the basin)
  --apply               write the best values into param-event.dat (all else kept)
  --resume              go on from output/calibration/history.csv
  --help                print this text
)";

int fail(std::ostream& out, const Error& error) {
    sayLine(out, error.message);
    return 1;
}

/// Everything read before the first run.
struct Inputs {
    CaseData data;
    RainGrid rain;
    EventStart start;
    std::vector<results::Gauge> gauges;
    results::Observations observed;
    std::vector<results::SnappedGauge> snapped;
    std::vector<double> weights;
};

Status readTables(const Options& o, Inputs& in, std::int64_t hours) {
    const auto gaugeText = results::readTableFile(o.gaugesPath);
    if (!gaugeText) {
        return gaugeText.error();
    }
    auto gauges = results::parseGauges(*gaugeText, o.gaugesPath.filename().string());
    if (!gauges) {
        return gauges.error();
    }
    in.gauges = std::move(*gauges);
    const auto obsText = results::readTableFile(o.observedPath);
    if (!obsText) {
        return obsText.error();
    }
    auto observed = results::parseObservations(*obsText, o.observedPath.filename().string(),
                                               in.gauges, in.start, hours);
    if (!observed) {
        return observed.error();
    }
    in.observed = std::move(*observed);
    in.weights.assign(in.gauges.size(), 1.0);
    for (const auto& [id, w] : o.weights) {
        std::size_t g = 0;
        while (g < in.gauges.size() && in.gauges[g].id != id) {
            ++g;
        }
        if (g == in.gauges.size()) {
            return Error{"--weights names \"" + quoteToken(id) + "\", which is no gauge of "
                         + o.gaugesPath.filename().string() + "."};
        }
        in.weights[g] = w;
    }
    // Every gauge that counts needs observations to score against.
    for (std::size_t g = 0; g < in.gauges.size(); ++g) {
        std::int64_t n = 0;
        const auto& series = in.observed.series[g];
        for (auto h = static_cast<std::size_t>(o.warmupHours); h < series.size(); ++h) {
            n += series[h] ? 1 : 0;
        }
        if (in.weights[g] > 0.0 && n < 2) {
            return Error{o.observedPath.filename().string() + ": gauge " + in.gauges[g].id
                         + " has fewer than 2 observations in hours "
                         + std::to_string(o.warmupHours + 1) + " to " + std::to_string(hours)
                         + " of the event."};
        }
    }
    return success();
}

Result<Inputs> readInputs(const Options& o) {
    Inputs in;
    auto event = readCaseEvent(o.caseDir);
    if (!event) {
        return event.error();
    }
    in.data = std::move(event->data);
    in.data.params.channelWidth = o.channelWidth;
    in.rain = std::move(event->rain);
    in.start = event->start;
    const std::int64_t hours = std::int64_t{in.data.params.days} * 24;
    if (o.warmupHours >= hours) {
        return Error{"--warmup-hours must be below the event's " + std::to_string(hours)
                     + " hours."};
    }
    if (Status tables = readTables(o, in, hours); !tables) {
        return tables.error();
    }
    const std::vector<double> upstream = upstreamAreasM2(in.data.grid);
    for (const results::Gauge& g : in.gauges) {
        auto s =
            results::snapGauge(g, in.data.grid, in.data.rivers, in.data.params, upstream, o.radius);
        if (!s) {
            return s.error();
        }
        in.snapped.push_back(*s);
    }
    return in;
}

/// A run's values and what came of it.
struct RunResult {
    std::vector<double> values;  ///< per range
    std::vector<GaugeScore> scores;
    std::optional<double> objective;
};

/// The calibration under way: its search, history and the runs so far.
class Calibration {
public:
    Calibration(const Options& o, const Inputs& in, const members::MemberRunner& runner,
                members::MemberExecutor& executor, std::ostream& progress)
        : o_(o), in_(in), runner_(runner), executor_(executor), progress_(progress) {}

    /// Runs the whole budget, appending to `history` (whose first `recorded` rows stand for
    /// their runs).
    Status run(std::ofstream& history, const std::vector<RecordedRun>& recorded);
    [[nodiscard]] const std::vector<std::optional<double>>& objectives() const {
        return objectives_;
    }
    [[nodiscard]] const std::vector<std::vector<double>>& values() const { return values_; }
    [[nodiscard]] const std::vector<std::string>& rows() const { return rows_; }
    [[nodiscard]] std::int64_t bestRun() const;

    [[nodiscard]] members::MemberValues memberOf(const std::vector<double>& values) const {
        members::MemberValues v = runner_.caseValues();
        for (std::size_t d = 0; d < o_.ranges.size(); ++d) {
            v.set(o_.ranges[d].parameter, values[d]);
        }
        return v;
    }
    [[nodiscard]] RunResult score(const std::vector<double>& values,
                                  const members::MemberOutput& out) const;

private:
    Status runPoints(const std::vector<Point>& points, std::ofstream& history,
                     const std::vector<RecordedRun>& recorded,
                     std::vector<std::optional<double>>& objectives);
    void report();

    const Options& o_;
    const Inputs& in_;
    const members::MemberRunner& runner_;
    members::MemberExecutor& executor_;
    std::ostream& progress_;
    std::vector<std::optional<double>> objectives_;
    std::vector<std::vector<double>> values_;
    std::vector<std::string> rows_;
    std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point lastReport_ = started_;
    std::int64_t ranHere_ = 0;
};

RunResult Calibration::score(const std::vector<double>& values,
                             const members::MemberOutput& out) const {
    RunResult r;
    r.values = values;
    for (std::size_t g = 0; g < in_.gauges.size(); ++g) {
        r.scores.push_back(scoreGauge(out.series[g], in_.observed.series[g], o_.warmupHours));
    }
    r.objective = combine(o_.objective, r.scores, in_.weights);
    return r;
}

std::int64_t Calibration::bestRun() const {
    std::int64_t best = 1;
    for (std::size_t k = 0; k < objectives_.size(); ++k) {
        const auto& f = objectives_[k];
        const auto& b = objectives_[static_cast<std::size_t>(best - 1)];
        if (f && (!b || *f > *b)) {
            best = static_cast<std::int64_t>(k) + 1;
        }
    }
    return best;
}

void Calibration::report() {
    const auto now = std::chrono::steady_clock::now();
    const auto done = static_cast<std::int64_t>(objectives_.size());
    if (done < o_.budget && now - lastReport_ < std::chrono::seconds(5)) {
        return;
    }
    lastReport_ = now;
    const auto& best = objectives_[static_cast<std::size_t>(bestRun() - 1)];
    std::string line = "calibrate: run " + std::to_string(done) + " of " + std::to_string(o_.budget)
                       + ", best " + objectiveLabel(o_.objective) + " "
                       + (best ? fixedText(*best, 3) : std::string("-"));
    if (ranHere_ > 0 && done < o_.budget) {
        const double seconds = std::chrono::duration<double>(now - started_).count();
        const double left =
            seconds / static_cast<double>(ranHere_) * static_cast<double>(o_.budget - done);
        line += ", about " + std::to_string(static_cast<std::int64_t>(std::ceil(left))) + " s left";
    }
    progress_ << line << std::endl;
}

Status Calibration::runPoints(const std::vector<Point>& points, std::ofstream& history,
                              const std::vector<RecordedRun>& recorded,
                              std::vector<std::optional<double>>& objectives) {
    const auto first = objectives_.size();
    std::vector<std::vector<double>> values;
    std::vector<members::MemberJob> jobs;
    std::vector<std::size_t> jobOf;
    for (std::size_t k = 0; k < points.size(); ++k) {
        std::vector<double> v;
        for (std::size_t d = 0; d < o_.ranges.size(); ++d) {
            v.push_back(o_.ranges[d].valueAt(points[k][d]));
        }
        const std::size_t run = first + k;  // from 0
        if (run < recorded.size()) {
            if (recorded[run].valuesText != valuesText(v)) {
                return Error{"history.csv row " + std::to_string(run + 1)
                             + " holds other values than these options give; remove it or run "
                               "without --resume."};
            }
        } else {
            jobOf.push_back(k);
            jobs.push_back({memberOf(v), nullptr});
        }
        values.push_back(std::move(v));
    }
    std::vector<std::string> rows(points.size());
    objectives.assign(points.size(), std::nullopt);
    for (std::size_t k = 0; k < points.size() && first + k < recorded.size(); ++k) {
        rows[k] = recorded[first + k].line;
        objectives[k] = recorded[first + k].objective;
    }
    Status failed = success();
    executor_.runAll(runner_, jobs, o_.memberThreads,
                     [&](std::size_t j, Result<members::MemberOutput> out) {
                         if (!out) {
                             failed = out.error();
                             return;
                         }
                         const std::size_t k = jobOf[j];
                         const RunResult r = score(values[k], *out);
                         objectives[k] = r.objective;
                         rows[k] = historyRow(static_cast<std::int64_t>(first + k) + 1, r.values,
                                              r.objective, r.scores);
                     });
    if (!failed) {
        return failed;
    }
    // Every rank keeps the runs; the writing rank alone appends them to history.csv.
    for (std::size_t k = 0; k < points.size(); ++k) {
        if (first + k >= recorded.size()) {
            if (executor_.writes()) {
                history << rows[k] << '\n' << std::flush;
            }
            ++ranHere_;
        }
        objectives_.push_back(objectives[k]);
        values_.push_back(values[k]);
        rows_.push_back(rows[k]);
    }
    const bool written = !executor_.writes() || static_cast<bool>(history);
    if (Status s = executor_.agree(written ? success() : Error{"history.csv cannot be written."});
        !s) {
        return s;
    }
    report();
    return success();
}

Status Calibration::run(std::ofstream& history, const std::vector<RecordedRun>& recorded) {
    std::vector<std::optional<double>> objectives;
    if (o_.algorithm == Algorithm::kLhs) {
        const std::vector<Point> design = latinHypercube(o_.ranges.size(), o_.budget, o_.seed);
        // Rows reach history.csv chunk by chunk; each rank runs 8 members of a chunk.
        const std::size_t chunk = 8 * static_cast<std::size_t>(executor_.ranks());
        for (std::size_t from = 0; from < design.size(); from += chunk) {
            const std::vector<Point> part(
                design.begin() + static_cast<std::ptrdiff_t>(from),
                design.begin()
                    + static_cast<std::ptrdiff_t>(std::min(from + chunk, design.size())));
            if (Status s = runPoints(part, history, recorded, objectives); !s) {
                return s;
            }
        }
        return success();
    }
    Dds dds(o_.ranges, o_.budget, o_.seed, 0.2, o_.batch);
    // The search starts from the case's own values where they lie inside the ranges.
    const members::MemberValues own = runner_.caseValues();
    Point start;
    for (const Range& r : o_.ranges) {
        const double v = own.get(r.parameter);
        start.push_back(v >= r.min && v <= r.max ? r.unitOf(v) : 0.5);
    }
    dds.startAt(start);
    for (std::vector<Point> batch = dds.propose(); !batch.empty(); batch = dds.propose()) {
        if (Status s = runPoints(batch, history, recorded, objectives); !s) {
            return s;
        }
        dds.accept(objectives);
    }
    return success();
}

/// The best run's hydrograph at gauge `g` against the observations.
std::string bestPlot(const Inputs& in, std::size_t g, std::int64_t run,
                     const std::vector<float>& series, const std::string& objectiveText) {
    results::HydrographPlot plot;
    plot.title = "Gauge " + in.gauges[g].id + ": best run " + std::to_string(run) + " ("
                 + objectiveText + ")";
    plot.discharge.assign(series.begin(), series.end());
    plot.observed = in.observed.series[g];
    if (const auto peak = results::findPeak(plot.discharge)) {
        plot.peakIndex = peak->index;
        plot.peakLabel =
            "Peak " + shortestText(series[peak->index]) + " m\xC2\xB3/s, "
            + results::isoHourEnd(in.start, static_cast<std::int64_t>(peak->index) + 1);
    }
    return results::renderHydrographSvg(plot);
}

/// sensitivity.csv: each value's Spearman rank correlation with the objective and with each
/// gauge's peak timing over the runs.
std::string sensitivityCsv(const Options& o, const Inputs& in, const Calibration& c,
                           const std::vector<std::vector<std::optional<double>>>& timing) {
    std::string text = "parameter,rho_objective";
    for (const results::Gauge& g : in.gauges) {
        text += ",rho_peak_timing_" + g.id;
    }
    text += "\n";
    for (std::size_t d = 0; d < o.ranges.size(); ++d) {
        std::vector<double> x;
        for (const auto& v : c.values()) {
            x.push_back(v[d]);
        }
        const auto rho = spearman(x, c.objectives());
        text += std::string(members::parameterName(o.ranges[d].parameter)) + ","
                + (rho ? shortestText(*rho) : std::string());
        for (const auto& t : timing) {
            const auto r = spearman(x, t);
            text += "," + (r ? shortestText(*r) : std::string());
        }
        text += "\n";
    }
    return text;
}

/// Stages param-event.dat with the best values in place of the case's (all else kept byte for
/// byte) and says what it changes; a rain factor is not a value of that file.
Status stageApply(const Options& o, const std::vector<double>& best, FileTransaction& files,
                  std::ostream& out) {
    const fs::path target = CasePaths{o.caseDir}.parameters();
    std::ifstream in(target, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) {
        return Error{target.string() + " cannot be read."};
    }
    std::string said;
    for (std::size_t d = 0; d < o.ranges.size(); ++d) {
        const members::Parameter p = o.ranges[d].parameter;
        const char* name = members::parameterName(p);
        if (p == members::Parameter::kRainFactor) {
            sayLine(out, "Not applied: rain-factor ", shortestText(best[d]),
                    " scales the rain, which param-event.dat does not hold.");
            continue;
        }
        const std::size_t number = p == members::Parameter::kManningSlope     ? kManningSlopeValue
                                   : p == members::Parameter::kManningChannel ? kManningChannelValue
                                                                              : kInitialRunoffValue;
        const std::string value = shortestText(best[d]);
        auto replaced = replaceValues(text, number - 1, std::span<const std::string>(&value, 1));
        if (!replaced) {
            return Error{target.string() + " " + replaced.error().message};
        }
        text = std::move(*replaced);
        said += std::string(said.empty() ? "" : ", ") + name + " " + value;
    }
    if (said.empty()) {
        return success();
    }
    if (Status written = files.write(target, text); !written) {
        return written;
    }
    if (auto check = readEventParameters(temporaryPathOf(target)); !check) {
        return Error{"The best values cannot be applied: " + check.error().message};
    }
    sayLine(out, "Applied to ", target.string(), ": ", said, ".");
    return success();
}

struct Finished {
    std::int64_t bestRun = 0;
    RunResult best;
    members::MemberOutput bestOutput;
};

Status writeResults(const Options& o, const Inputs& in, const Calibration& c, const Finished& f,
                    const std::string& header, std::ostream& out) {
    const fs::path dir = o.caseDir / "output" / "calibration";
    FileTransaction files;
    const double noSkill = noSkillScore(o.objective);
    Status s = files.write(dir / "best.csv", header + ",no_skill\n"
                                                 + c.rows()[static_cast<std::size_t>(f.bestRun - 1)]
                                                 + "," + shortestText(noSkill) + "\n");
    results::ProgressPlot progress;
    progress.title = std::string("Calibration: ") + objectiveLabel(o.objective) + " of each run";
    progress.objectiveName = objectiveLabel(o.objective);
    progress.objective = c.objectives();
    progress.noSkill = noSkill;
    s = s ? files.write(dir / "objective.svg", results::renderProgressSvg(progress)) : s;
    const std::string objectiveText =
        std::string(objectiveLabel(o.objective)) + " "
        + (f.best.objective ? fixedText(*f.best.objective, 3) : std::string("undefined"));
    for (std::size_t g = 0; s && g < in.gauges.size(); ++g) {
        s = files.write(dir / ("best_" + in.gauges[g].id + ".svg"),
                        bestPlot(in, g, f.bestRun, f.bestOutput.series[g], objectiveText));
    }
    if (s && o.algorithm == Algorithm::kLhs) {
        std::vector<std::vector<std::optional<double>>> timing(in.gauges.size());
        for (const std::string& row : c.rows()) {
            const std::vector<std::string> cells = results::splitCsvLine(row);
            for (std::size_t g = 0; g < in.gauges.size(); ++g) {
                const std::string& cell = cells[o.ranges.size() + 2 + g * 7 + 6];
                timing[g].push_back(cell.empty() ? std::nullopt : parseDouble(cell));
            }
        }
        s = files.write(dir / "sensitivity.csv", sensitivityCsv(o, in, c, timing));
    }
    if (s && o.apply) {
        s = stageApply(o, f.best.values, files, out);
    }
    return s ? files.commit() : s;
}

void printBest(std::ostream& out, const Options& o, const Inputs& in, const Finished& f) {
    sayLine(out, "Calibration by ", o.algorithm == Algorithm::kDds ? "DDS" : "Latin hypercube",
            ": ", o.budget, " runs, objective ", objectiveLabel(o.objective),
            in.gauges.size() > 1 ? " (weighted mean over the gauges)" : "", ", seed ", o.seed,
            o.warmupHours > 0 ? ", warm-up hours left out: " + std::to_string(o.warmupHours) : "");
    sayLine(out, "Best run ", f.bestRun, ": ", objectiveLabel(o.objective), " ",
            f.best.objective ? fixedText(*f.best.objective, 3) : std::string("undefined"),
            " (no skill, the mean flow as the simulation: ",
            fixedText(noSkillScore(o.objective), 3), ")");
    for (std::size_t d = 0; d < o.ranges.size(); ++d) {
        sayLine(out, "  ", std::left, std::setw(18), members::parameterName(o.ranges[d].parameter),
                shortestText(f.best.values[d]));
    }
    sayLine(out, std::left, std::setw(16), "gauge", std::right, std::setw(6), "n", std::setw(9),
            "NSE", std::setw(9), "KGE", std::setw(9), "KGE'", std::setw(10), "pbias_%",
            std::setw(10), "peak_%", std::setw(8), "peak_h");
    const auto f3 = [](const std::optional<double>& v, int d) {
        return v ? fixedText(*v, d) : std::string("-");
    };
    for (std::size_t g = 0; g < in.gauges.size(); ++g) {
        const gauges::Skill& s = f.best.scores[g].skill;
        sayLine(out, std::left, std::setw(16), in.gauges[g].id, std::right, std::setw(6), s.n,
                std::setw(9), f3(s.nse, 3), std::setw(9), f3(s.kge, 3), std::setw(9),
                f3(s.kgePrime, 3), std::setw(10), f3(s.pbiasPct, 1), std::setw(10),
                f3(s.peakErrorPct, 1), std::setw(8),
                s.peakTimingH ? std::to_string(*s.peakTimingH) : std::string("-"));
    }
}

/// What else than the drawn values decides a run's row: a history goes on only under the
/// same settings.
std::string settingsText(const Options& o) {
    std::string text =
        "algorithm=" + std::string(o.algorithm == Algorithm::kDds ? "dds" : "lhs")
        + "\nbudget=" + std::to_string(o.budget) + "\nbatch=" + std::to_string(o.batch)
        + "\nseed=" + std::to_string(o.seed) + "\nobjective=" + objectiveName(o.objective)
        + "\nwarmup-hours=" + std::to_string(o.warmupHours)
        + "\nsnap-radius=" + std::to_string(o.radius) + "\nscheme=" + runoff::schemeName(o.scheme)
        + "\nchannel-width=" + channelWidthValue(o.channelWidth) + "\nweights=";
    for (const auto& [id, w] : o.weights) {
        text += id + "=" + shortestText(w) + ",";
    }
    text += "\n";
    for (const Range& r : o.ranges) {
        text += std::string("vary=") + members::parameterName(r.parameter) + "="
                + shortestText(r.min) + ":" + shortestText(r.max) + (r.logarithmic ? ":log" : "")
                + "\n";
    }
    return text;
}

/// The first line in which two settings texts differ.
std::string firstDifference(const std::string& was, const std::string& now) {
    std::istringstream a(was);
    std::istringstream b(now);
    std::string x;
    std::string y;
    while (std::getline(b, y)) {
        if (!std::getline(a, x) || x != y) {
            return y;
        }
    }
    return "the settings";
}

/// The complete rows of the history.csv this calibration goes on with (a row cut short by the
/// stop is dropped), none without --resume; read on every rank.
Result<std::vector<RecordedRun>> readRecorded(const Options& o, const fs::path& path,
                                              const std::string& header) {
    std::vector<RecordedRun> recorded;
    std::error_code ec;
    const fs::path settingsPath = path.parent_path() / "settings.txt";
    const std::string settings = settingsText(o);
    if (o.resume && fs::exists(path, ec)) {
        std::ifstream in(settingsPath, std::ios::binary);
        const std::string was((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
        if (was != settings) {
            return Error{path.filename().string() + " was written with other settings ("
                         + firstDifference(was, settings)
                         + " differs); remove it or run without --resume."};
        }
        auto read = readHistory(path, header, o.ranges.size());
        if (!read) {
            return read.error();
        }
        recorded = std::move(*read);
        if (recorded.size() > static_cast<std::size_t>(o.budget)) {
            recorded.resize(static_cast<std::size_t>(o.budget));
        }
    }
    return recorded;
}

/// history.csv written afresh with the header and the `recorded` rows, then opened to append;
/// settings.txt beside it records what the rows are computed with (a history goes on only
/// under the same settings).
Status openHistory(const fs::path& path, const std::string& header, const std::string& settings,
                   const std::vector<RecordedRun>& recorded, std::ofstream& history) {
    std::string kept = header + "\n";
    for (const RecordedRun& r : recorded) {
        kept += r.line + "\n";
    }
    FileTransaction start;
    Status written = start.write(path, kept);
    written = written ? start.write(path.parent_path() / "settings.txt", settings) : written;
    if (!written) {
        return written;
    }
    if (Status s = start.commit(); !s) {
        return s;
    }
    history.open(path, std::ios::binary | std::ios::app);
    if (!history) {
        return Error{path.string() + " cannot open."};
    }
    return success();
}

/// The runs history.csv already holds, once every rank has read them and the writing rank has
/// made output/calibration/ and opened history.csv in `history`.
Result<std::vector<RecordedRun>> startHistory(const Options& o, const std::string& header,
                                              members::MemberExecutor& executor,
                                              std::ofstream& history) {
    const fs::path output = o.caseDir / "output";
    const fs::path dir = output / "calibration";
    std::error_code ec;
    Result<std::vector<RecordedRun>> recorded =
        fs::is_directory(output, ec)
            ? readRecorded(o, dir / "history.csv", header)
            : Error{output.string() + " is not a folder; create it with: mkdir -p "
                    + output.string()};
    if (Status read = executor.agree(recorded ? success() : Status{recorded.error()}); !read) {
        return read.error();
    }
    Status opened = success();
    if (executor.writes()) {
        fs::create_directory(dir, ec);
        opened = openHistory(dir / "history.csv", header, settingsText(o), *recorded, history);
    }
    if (Status s = executor.agree(opened); !s) {
        return s.error();
    }
    return recorded;
}

/// On the writing rank: the best run again for its series, its table, and the files.
Status finish(const Options& o, const Inputs& in, const members::MemberRunner& runner,
              const Calibration& calibration, const std::string& header, std::ostream& out) {
    Finished f;
    f.bestRun = calibration.bestRun();
    const std::vector<double>& best = calibration.values()[static_cast<std::size_t>(f.bestRun - 1)];
    auto bestOutput = runner.run({calibration.memberOf(best), nullptr});
    if (!bestOutput) {
        return bestOutput.error();
    }
    f.bestOutput = std::move(*bestOutput);
    f.best = calibration.score(best, f.bestOutput);
    printBest(out, o, in, f);
    return writeResults(o, in, calibration, f, header, out);
}

}  // namespace

int runCalibrate(std::span<const std::string> args, std::ostream& out, std::ostream& progress) {
    members::LocalExecutor here;
    return runCalibrate(args, out, progress, here);
}

int runCalibrate(std::span<const std::string> args, std::ostream& out, std::ostream& progress,
                 members::MemberExecutor& executor) {
    const auto options = parseOptions(args);
    if (!options) {
        return fail(out, options.error());
    }
    const Options& o = *options;
    if (o.help) {
        out << kHelp << std::flush;
        return 0;
    }
    const auto inputs = readInputs(o);
    if (Status read = executor.agree(inputs ? success() : Status{inputs.error()}); !read) {
        return fail(out, read.error());
    }
    const Inputs& in = *inputs;
    std::vector<CellIndex> watched;
    for (const results::SnappedGauge& s : in.snapped) {
        watched.push_back(s.cell);
    }
    auto runner = members::MemberRunner::create(in.data, in.rain, o.scheme, watched);
    if (!runner) {
        return fail(out, runner.error());
    }
    std::vector<std::string> ids;
    for (const results::Gauge& g : in.gauges) {
        ids.push_back(g.id);
    }
    const std::string header = historyHeader(o.ranges, ids);
    std::ofstream history;
    const auto recorded = startHistory(o, header, executor, history);
    if (!recorded) {
        return fail(out, recorded.error());
    }
    results::printSnappedGauges(out, in.gauges, in.snapped, o.radius);
    Calibration calibration(o, in, *runner, executor, progress);
    if (Status s = calibration.run(history, *recorded); !s) {
        return fail(out, s.error());
    }
    history.close();
    const Status finished =
        executor.writes() ? finish(o, in, *runner, calibration, header, out) : success();
    if (Status s = executor.agree(finished); !s) {
        return fail(out, s.error());
    }
    sayLine(out, "Wrote history.csv, best.csv, objective.svg and ", in.gauges.size(),
            " best hydrograph(s) to ", (o.caseDir / "output" / "calibration").string());
    return 0;
}

}  // namespace hydro::calibrate
