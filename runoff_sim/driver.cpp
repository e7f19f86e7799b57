#include "runoff_sim/driver.h"

#include <optional>
#include <utility>

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
        return success();
    }
    [[nodiscard]] RunStatus route(const FrameSink& sink) override { return engine_->run(sink); }
    [[nodiscard]] Status gatherWater(std::vector<CellWater>& out) override {
        out.reserve(plan_.cells.size());
        collectCellWater(
            plan_, *engine_, [&](std::size_t i) { return plan_.cells[i].framePosition; }, out);
        return success();
    }

private:
    RoutingPlan plan_;
    RainGrid rain_;
    std::optional<RoutingEngine> engine_;
};

}  // namespace

int runRunoffSim(const std::filesystem::path& caseDir, std::ostream& console,
                 const RunOptions& options) {
    LocalExecutor executor;
    return runSimulation(CasePaths{caseDir}, console, executor, options);
}

}  // namespace hydro::runoff
