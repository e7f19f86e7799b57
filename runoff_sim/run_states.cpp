#include "runoff_sim/run_states.h"

#include <algorithm>
#include <system_error>

namespace hydro::runoff {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kPrefix = "state_";
constexpr std::string_view kSuffix = ".bin";

/// The state files of a folder, oldest first (their names sort by time).
std::vector<fs::path> periodicStates(const fs::path& dir) {
    std::vector<fs::path> files;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.starts_with(kPrefix) && name.ends_with(kSuffix) && it->is_regular_file(ec)) {
            files.push_back(it->path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace

Result<RunState> readWarmStart(const fs::path& path, const StateContext& run) {
    auto state = readState(path);
    if (!state) {
        return state.error();
    }
    const std::string name = path.filename().string();
    if (Status fits = checkStateOrigin(name, state->origin, run.origin); !fits) {
        return fits.error();
    }
    if (state->time != run.eventStart) {
        return Error{name + " holds the state at " + stateTimeText(state->time)
                     + ", but the event in rain.dat starts at " + stateTimeText(run.eventStart)
                     + "."};
    }
    return state;
}

Result<std::optional<ResumePoint>> findResumeState(const fs::path& dir, const StateContext& run,
                                                   std::int64_t hoursOnDisk,
                                                   std::vector<std::string>& passedOver) {
    const std::vector<fs::path> files = periodicStates(dir);
    // The newest first.
    for (std::size_t k = files.size(); k-- > 0;) {
        const fs::path& file = files[k];
        const std::string name = file.filename().string();
        auto state = readState(file);
        if (!state) {
            passedOver.push_back(name);
            continue;
        }
        if (Status fits = checkStateOrigin(name, state->origin, run.origin); !fits) {
            return fits.error();
        }
        const StateRun& r = state->run;
        if (r.eventStart != run.eventStart || r.days != run.days || r.rain != run.rain) {
            return Error{name + " belongs to another run (its event, length or rain.dat "
                         + "differs); --warm-start starts a new event from a state."};
        }
        if (r.hoursRun > hoursOnDisk || r.hoursRun < 1) {
            // The grids lost frames after this state was written: an older one may do.
            continue;
        }
        return std::optional<ResumePoint>(ResumePoint{file, std::move(*state)});
    }
    return std::optional<ResumePoint>{};
}

fs::path periodicStatePath(const fs::path& dir, std::int64_t time) {
    return dir / (std::string(kPrefix) + stateTimeText(time) + std::string(kSuffix));
}

RunState runStateOf(const StateContext& run, BasinState&& basin,
                    const std::vector<std::int32_t>& riverNumbers,
                    const std::vector<RiverTotals>& baseline, const NonFiniteTally& nonFinite) {
    RunState s;
    s.origin = run.origin;
    s.time = run.eventStart + basin.hour * 3600;
    s.positions = std::move(basin.positions);
    s.values = std::move(basin.values);
    StateRun& r = s.run;
    r.eventStart = run.eventStart;
    r.hoursRun = basin.hour;
    r.days = run.days;
    r.stateEvery = run.every;
    r.keepStates = run.keep;
    r.rain = run.rain;
    r.nonFiniteCount = nonFinite.count();
    r.firstNonFinitePosition = nonFinite.firstPosition();
    r.firstNonFiniteDay = nonFinite.firstDay();
    r.firstNonFiniteHour = nonFinite.firstHour();
    r.rivers.resize(riverNumbers.size());
    for (std::size_t k = 0; k < riverNumbers.size(); ++k) {
        RiverTotals t = baseline[k];
        if (k < basin.totals.size()) {
            t.add(basin.totals[k]);
        }
        StateRiver& river = r.rivers[k];
        river.number = riverNumbers[k];
        river.cells = t.cells;
        river.rain = t.rain;
        river.leaving = t.leaving;
        river.toOtherRivers = t.toOtherRivers;
        river.inflow = t.inflow;
        river.initialStorage = t.initialStorage;
    }
    return s;
}

Status writePeriodicState(const StateContext& run, const RunState& state) {
    if (Status written = writeState(periodicStatePath(run.dir, state.time), state); !written) {
        return written;
    }
    if (run.keep > 0) {
        std::vector<fs::path> files = periodicStates(run.dir);
        const auto keep = static_cast<std::size_t>(run.keep);
        for (std::size_t k = 0; k + keep < files.size(); ++k) {
            std::error_code ignored;
            fs::remove(files[k], ignored);
        }
    }
    return success();
}

Result<std::vector<RiverTotals>> totalsOfState(const std::string& name, const RunState& state,
                                               const std::vector<std::int32_t>& riverNumbers) {
    std::vector<RiverTotals> totals(riverNumbers.size());
    if (state.run.rivers.size() != riverNumbers.size()) {
        return Error{name + " holds the water of another set of rivers."};
    }
    for (std::size_t k = 0; k < riverNumbers.size(); ++k) {
        const StateRiver& river = state.run.rivers[k];
        if (river.number != riverNumbers[k]) {
            return Error{name + " holds the water of another set of rivers."};
        }
        RiverTotals& t = totals[k];
        t.cells = river.cells;
        t.rain = river.rain;
        t.leaving = river.leaving;
        t.toOtherRivers = river.toOtherRivers;
        t.inflow = river.inflow;
        t.initialStorage = river.initialStorage;
    }
    return totals;
}

}  // namespace hydro::runoff
