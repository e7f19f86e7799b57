#pragma once

// Many runs of one case in one process. The case is read and planned once; a member changes
// only what it varies (the Manning values and the initial runoff re-derive each cell's
// hydraulic constants and initial state, a rain factor or a rain file of its own replaces the
// rainfall), routes the whole event with the simulator's engine and keeps only the hourly
// series of chosen cells (and, when asked, each cell's largest hourly discharge). A member's
// series are the very floats the simulator writes into dischargeHourly.bin for the same values.

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "case/case.h"
#include "common/result.h"
#include "routing/routing_engine.h"

namespace hydro::members {

/// A value a member may change.
enum class Parameter {
    kManningSlope,    ///< Manning's n of the slopes (param-event.dat value 15)
    kManningChannel,  ///< Manning's n of the channels (value 16)
    kInitialRunoff,   ///< mm/h (value 18)
    kRainFactor,      ///< multiplies every rain intensity; 1 leaves the rain as it is
};
inline constexpr std::size_t kParameterCount = 4;

/// The name on the command line and in the files: "manning-slope", "manning-channel",
/// "initial-runoff", "rain-factor".
[[nodiscard]] const char* parameterName(Parameter parameter);
/// The parameter called `name`, if any.
[[nodiscard]] std::optional<Parameter> parameterNamed(std::string_view name);

/// The values of one member.
struct MemberValues {
    double manningSlope = 0.0;
    double manningChannel = 0.0;
    double initialRunoff = 0.0;
    double rainFactor = 1.0;

    [[nodiscard]] double get(Parameter parameter) const;
    void set(Parameter parameter, double value);
};

/// `rain` with every intensity v replaced by float(double(v) * factor): the rainfall a case
/// whose rain.dat holds those floats gives the simulator.
[[nodiscard]] RainGrid scaledRain(const RainGrid& rain, double factor);

/// One member to run: its values and, optionally, a rainfall of its own (on the case's rain
/// grid, covering the case's event) in place of the case's.
struct MemberJob {
    MemberValues values;
    const RainGrid* rain = nullptr;
};

/// What a member leaves behind.
struct MemberOutput {
    /// Per watched cell, its hourly mean discharge of hours 1..24 * days, m³/s.
    std::vector<std::vector<float>> series;
    /// Per frame position, the largest hourly mean discharge of the event (only when asked
    /// for; -9999 and 0 where the frames hold them).
    std::vector<float> cellPeaks;
};

/// Runs members of the case it was made for.
class MemberRunner {
public:
    /// Plans the routing of `data` with `rain` (its rainfall) and `scheme`, to watch the cells
    /// `watched` (each on a routed or listed cell). Without `cellPeaks` a member routes only
    /// the cells the watched ones depend on (those upstream of them), which gives them the
    /// very series the whole basin's run gives; with it, every cell, and every member keeps
    /// each cell's largest hourly mean. The error is the planning's (a cell without rain).
    [[nodiscard]] static Result<MemberRunner> create(CaseData data, RainGrid rain,
                                                     runoff::Scheme scheme,
                                                     const std::vector<CellIndex>& watched,
                                                     bool cellPeaks = false);

    /// The values of the case itself (rain factor 1).
    [[nodiscard]] MemberValues caseValues() const;
    [[nodiscard]] const CaseData& caseData() const { return data_; }
    [[nodiscard]] const RainGrid& rain() const { return rain_; }
    [[nodiscard]] std::int64_t hours() const { return std::int64_t{data_.params.days} * 24; }
    /// The cells a member routes.
    [[nodiscard]] std::size_t routedCells() const { return plan_.cells.size(); }

    /// Runs one member on the threads the caller's OpenMP settings give. Fails with a line
    /// only when memory runs out; non-finite values are kept for the caller to judge.
    [[nodiscard]] Result<MemberOutput> run(const MemberJob& job) const;

    /// Runs `jobs`, `concurrent` members at a time (each then on one thread; 1 runs one member
    /// at a time over every thread; 0 chooses by the size of the basin), handing each result
    /// to `done` in job order, as soon as it and every job before it have finished. Every
    /// member gives the same floats whichever way it ran.
    void runAll(std::span<const MemberJob> jobs, int concurrent,
                const std::function<void(std::size_t, Result<MemberOutput>)>& done) const;

    /// The members run at once by runAll with `concurrent` 0, for `jobs` jobs.
    [[nodiscard]] int chosenConcurrency(std::size_t jobs) const;

private:
    MemberRunner() = default;
    CaseData data_;
    RainGrid rain_;
    runoff::RoutingPlan plan_;
    std::vector<std::int64_t> watchedPositions_;
    bool cellPeaks_ = false;
};

/// Routed cells up to which members run side by side on their own threads: measured on the
/// example basins, a member of a small basin keeps one core busy better than the engine's
/// hour-by-hour team does.
inline constexpr std::size_t kSideBySideCells = 200000;

}  // namespace hydro::members
