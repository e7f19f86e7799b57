#include "runoff_sim/driver.h"

#include <optional>
#include <utility>

#include "runoff_sim/basin_state.h"

namespace hydro::runoff {

namespace {

/// The stages in this process alone: nothing to agree on, and the engine runs the plan.
class LocalExecutor final : public Executor {
public:
    [[nodiscard]] bool holdsCase() const override { return true; }
    [[nodiscard]] Status agree(Status mine) override { return mine; }
    [[nodiscard]] Status prepare(RoutingPlan plan, RainGrid rain,
                                 ProgressPacer& progress) override {
        plan_ = std::move(plan);
        rain_ = std::move(rain);
        engine_.emplace(plan_, rain_, progress);
        slots_.clear();
        return success();
    }
    [[nodiscard]] RunStatus route(const FrameSink& sink, const RouteStart& start,
                                  const StateSink& states) override {
        return engine_->run(sink, start.schedule, start.dayFrames, [&](std::int64_t hour) {
            return states(basinStateOf(plan_, *engine_, hour, slots_));
        });
    }
    [[nodiscard]] Status gatherWater(std::vector<RiverTotals>& totals) override {
        const std::vector<RiverTotals> mine = finalTotals(plan_, *engine_);
        for (std::size_t r = 0; r < mine.size(); ++r) {
            totals[r].add(mine[r]);
        }
        return success();
    }

private:
    RoutingPlan plan_;
    RainGrid rain_;
    std::optional<RoutingEngine> engine_;
    std::vector<std::int32_t> slots_;  ///< each cell's place in a state, made at the first
};

}  // namespace

int runRunoffSim(const std::filesystem::path& caseDir, std::ostream& console,
                 const RunOptions& options) {
    LocalExecutor executor;
    return runSimulation(CasePaths{caseDir}, console, executor, options);
}

}  // namespace hydro::runoff
