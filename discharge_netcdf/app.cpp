#include "discharge_netcdf/app.h"

#include <array>
#include <chrono>
#include <filesystem>
#include <iomanip>
#include <locale>
#include <optional>
#include <sstream>
#include <vector>

#include "case/case.h"
#include "case/case_folder.h"
#include "case/case_note.h"
#include "case/state_check.h"
#include "common/console.h"
#include "common/number_stream.h"
#include "common/option_hint.h"
#include "discharge_netcdf/state_netcdf.h"
#include "results/event_time.h"
#include "results/grid_netcdf.h"
#include "results/run_record.h"

namespace hydro::results {

namespace {

namespace fs = std::filesystem;

constexpr const char* kUsage =
    "Usage: discharge_netcdf CASE_DIR [OUT], or discharge_netcdf CASE_DIR --state FILE OUT.nc "
    "(discharge_netcdf --help tells more)";
constexpr const char* kHelp =
    R"(Usage: discharge_netcdf CASE_DIR [OUT] [--deflate LEVEL] [--chunks LAYOUT]
                                [--significant-digits N] [--format netcdf|zarr]
       discharge_netcdf CASE_DIR --state FILE OUT.nc [--deflate LEVEL]

Writes OUT (by default CASE_DIR/output/discharge.nc, or discharge.zarr with --format zarr),
a CF-1.8 NetCDF-4 (classic model) file or Zarr store, from the simulator's output/dischargeHourly.bin, dischargeDaily.bin and dischargeHourlyMaxInDay.bin
and the case's param-event.dat and input/rain.dat:

  discharge             (time, lat, lon)  hourly mean discharge, m3 s-1
  discharge_daily_mean  (day, lat, lon)   daily mean of the hourly means
  discharge_daily_max   (day, lat, lon)   largest hourly mean of each day
  discharge_event_max   (lat, lon)        largest hourly mean of the event
  time_of_peak          (lat, lon)        end of the hour of that largest mean

Times are hours since the event start, the date in rain.dat's first block header (UTC);
cells outside the simulated rivers hold the fill value -9999. The global attributes scheme
and scheme_description name the run's routing scheme, from output/water_balance.csv.

With --state, writes OUT.nc instead from FILE, a state runoff_sim wrote, after holding it
against the case as make_case check --state does (a state that does not fit is refused):

  discharge             (lat, lon)  discharge at the outlet of each routed cell, m3 s-1
  storage               (lat, lon)  water held in the cell's channel, m3
  lateral_inflow        (lat, lon)  lateral inflow per metre of flow path over the last
                                    hour, m2 s-1
  time                  ()          the state's time, seconds since 1970-01-01 00:00:00

Cells the state does not hold are -9999. The global attributes scheme, state_file and
state_time (ISO 8601 UTC) say what the state is.

Options:
  --state FILE      a state of runoff_sim instead of the discharge grids
  --deflate LEVEL   zlib level of the grids, 0 (none: fastest, largest) to 9; default 1;
                    the chunks are deflated on every core (OMP_NUM_THREADS threads)
  --chunks LAYOUT   frames (default): one chunk per hour or day, quick to read as maps;
                    time-series: tiles of every hour (or day) x 64 x 64 cells, quick to
                    read as the series of a cell
  --significant-digits N
                    keep N (1 to 6) significant decimal digits of the discharges (granular
                    bit rounding; LOSSY, for smaller files; never the default); the
                    attribute _QuantizeGranularBitRoundNumberOfSignificantDigits says so
  --format FORMAT   netcdf (default) or zarr: a Zarr store (a folder) written through the
                    NetCDF library's NCZarr mode, with the same variables and attributes,
                    not deflated
  --help            print this text
)";

/// `CASE --state FILE OUT.nc`: the state held against the case, then written.
int runStateNetcdf(const fs::path& caseDir, const fs::path& statePath, const fs::path& target,
                   int level, std::ostream& out) {
    const auto check = checkStateAgainstCase(caseDir, statePath, std::nullopt);
    if (!check) {
        sayLine(out, check.error().message);
        return 1;
    }
    if (!check->misfits.empty()) {
        sayLine(out, check->misfits.front());
        return 1;
    }
    StateNetcdfJob job;
    job.target = target;
    job.stateName = statePath.filename().string();
    job.history = isoNow() + " discharge_netcdf " + caseDir.string() + " --state "
                  + statePath.string() + " " + target.string();
    job.deflateLevel = level;
    if (const Status written = writeStateNetcdf(job, check->state, check->data); !written) {
        sayLine(out, written.error().message);
        return 1;
    }
    const std::size_t cells = check->state.positions.size();
    sayLine(out, "Wrote ", target.string(), ": the ", stateSchemeName(check->state.origin.scheme),
            " scheme's state at ", stateTimeText(check->state.time), ", ", cells,
            cells == 1 ? " cell." : " cells.");
    return 0;
}

/// The command line.
struct Options {
    std::vector<std::string> positional;
    int level = kDeflateLevel;
    std::optional<fs::path> state;
    StoreFormat format = StoreFormat::kNetcdf;
    ChunkLayout chunks = ChunkLayout::kFrames;
    std::optional<int> significantDigits;
    bool gridOptions = false;  ///< any of the options for the grids only
    std::string wrongOption;   ///< what is wrong with one of them, said with the target
};

/// Reads the value of `--format`, `--chunks` or `--significant-digits`.
void gridOption(Options& o, const std::string& option, const std::string& value) {
    o.gridOptions = true;
    std::string wrong;
    if (option == "--format") {
        if (value == "netcdf" || value == "zarr") {
            o.format = value == "zarr" ? StoreFormat::kZarr : StoreFormat::kNetcdf;
        } else {
            wrong = "--format must be netcdf or zarr";
        }
    } else if (option == "--chunks") {
        if (value == "frames" || value == "time-series") {
            o.chunks = value == "frames" ? ChunkLayout::kFrames : ChunkLayout::kTimeSeries;
        } else {
            wrong = "--chunks must be frames or time-series";
        }
    } else {
        const auto digits = parseInt32(value);
        if (digits && *digits >= 1 && *digits <= kMaxSignificantDigits) {
            o.significantDigits = *digits;
        } else {
            wrong = "--significant-digits must be a whole number from 1 to 6";
        }
    }
    if (!wrong.empty() && o.wrongOption.empty()) {
        o.wrongOption = wrong + ", not \"" + quoteToken(value) + "\".";
    }
}

/// Reads the arguments into `o`; an exit status when the program ends here (help, usage or
/// a wrong deflate level, said on `out`).
std::optional<int> parseArguments(std::span<const std::string> args, Options& o,
                                  std::ostream& out) {
    for (std::size_t k = 0; k < args.size(); ++k) {
        const bool valued = k + 1 < args.size();
        if (args[k] == "--state" && valued && !o.state) {
            o.state = args[++k];
        } else if (args[k] == "--deflate" && valued) {
            const auto v = parseInt32(args[++k]);
            if (!v || *v < 0 || *v > 9) {
                sayLine(out, "--deflate must be a whole number from 0 to 9, not \"",
                        quoteToken(args[k]), "\".");
                return 1;
            }
            o.level = *v;
        } else if ((args[k] == "--format" || args[k] == "--chunks"
                    || args[k] == "--significant-digits")
                   && valued) {
            gridOption(o, args[k], args[k + 1]);
            ++k;
        } else if (args[k].starts_with("-")) {
            static constexpr std::array<std::string_view, 6> kKnown{
                "--state", "--deflate", "--format", "--chunks", "--significant-digits", "--help"};
            sayLine(out, nearestOption(args[k], kKnown)
                             ? unknownOptionLine(args[k], kKnown, "", "discharge_netcdf --help")
                             : std::string(kUsage));
            return 1;
        } else {
            o.positional.push_back(args[k]);
        }
    }
    const bool fits = o.state ? o.positional.size() == 2 && !o.gridOptions
                              : !o.positional.empty() && o.positional.size() <= 2;
    if (!fits) {
        sayLine(out, kUsage);
        return 1;
    }
    return std::nullopt;
}

}  // namespace

int runDischargeNetcdf(std::span<const std::string> args, std::ostream& out,
                       std::ostream& progress) {
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        out << kHelp << std::flush;
        return 0;
    }
    Options o;
    if (const auto status = parseArguments(args, o, out)) {
        return *status;
    }
    if (const Status folder = checkCaseFolder(o.positional[0]); !folder) {
        sayLine(out, folder.error().message);
        return 1;
    }
    if (o.state) {
        return runStateNetcdf(o.positional[0], *o.state, o.positional[1], o.level, out);
    }
    const fs::path caseDir = o.positional[0];
    const CasePaths paths{caseDir};
    const fs::path target =
        o.positional.size() == 2
            ? fs::path(o.positional[1])
            : paths.output() / (o.format == StoreFormat::kZarr ? "discharge.zarr" : "discharge.nc");
    if (!o.wrongOption.empty()) {
        sayLine(out, "Cannot write ", target.string(), ": ", o.wrongOption);
        return 1;
    }
    if (const Status output = checkOutputFolder(paths.output()); !output) {
        sayLine(out, output.error().message);
        return 1;
    }
    const auto started = std::chrono::steady_clock::now();
    auto params = readEventParameters(paths.parameters());
    if (!params) {
        sayLine(out, params.error().message);
        return 1;
    }
    if (const Status tooLarge = checkGridSize(*params); !tooLarge) {
        sayLine(out, tooLarge.error().message);
        return 1;
    }
    auto start = readEventStart(paths.rainfall());
    if (!start) {
        sayLine(out, start.error().message);
        return 1;
    }
    // The scheme of the run, from the simulator's water balance when it wrote one.
    const auto balance = readWaterBalance(paths.output());
    if (!balance) {
        sayLine(out, balance.error().message);
        return 1;
    }
    auto note = readCaseNote(caseDir);
    if (!note) {
        sayLine(out, note.error().message);
        return 1;
    }
    const std::string history = commandHistory("discharge_netcdf", args, *start);
    if (start->fallback) {
        sayLine(out, "Note: ", kFallbackNote);
    }
    GridNetcdfJob job;
    job.outputDir = paths.output();
    job.target = target;
    job.params = *params;
    job.start = *start;
    job.history = history;
    job.comment = *note;
    if (balance->balance) {
        job.scheme = balance->balance->scheme;
        job.params.channelWidth = balance->balance->channelWidth;
    }
    job.progress = &progress;
    job.deflateLevel = o.level;
    job.chunks = o.chunks;
    job.significantDigits = o.significantDigits;
    job.format = o.format;
    if (const Status written = writeGridNetcdf(job); !written) {
        sayLine(out, written.error().message);
        return 1;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::ostringstream took;
    took.imbue(std::locale::classic());
    took << std::fixed << std::setprecision(2) << seconds;
    sayLine(out, "Wrote ", job.target.string(), ": ", params->days * 24, " hours from ",
            isoHourEnd(*start, 0), ", ", params->studyCols, " x ", params->studyRows, " cells (",
            took.str(), " s).");
    return 0;
}

}  // namespace hydro::results
