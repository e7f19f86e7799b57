// The stage sequence as every process of a parallel run sees it, without MPI: a process that
// does not hold the case touches no file, and a stage that failed in another process ends the
// run at that stage with the line it was given, printed once.

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <sstream>
#include <string>

#include "runoff_sim/simulation.h"
#include "tests/runoff_sim/case_builder.h"
#include "tests/support/test_support.h"

namespace hydro::test {
namespace {

namespace fs = std::filesystem;
using runoff::Executor;

/// The stages in this process, with the engine of one process; the verdict on stage
/// `failingStage` (from 0) is a failure of another process, unless it is negative.
class TestExecutor final : public Executor {
public:
    TestExecutor(bool holdsCase, int failingStage)
        : holdsCase_(holdsCase), failingStage_(failingStage) {}

    [[nodiscard]] bool holdsCase() const override { return holdsCase_; }
    [[nodiscard]] Status agree(Status mine) override {
        if (agreements_++ == failingStage_) {
            return Error{"failed elsewhere"};
        }
        return mine;
    }
    [[nodiscard]] Status prepare(runoff::RoutingPlan plan, RainGrid rain,
                                 runoff::ProgressPacer& progress) override {
        plan_ = std::move(plan);
        rain_ = std::move(rain);
        engine_.emplace(plan_, rain_, progress);
        return success();
    }
    [[nodiscard]] runoff::RunStatus route(const runoff::FrameSink& sink,
                                          const runoff::RouteStart& /*start*/,
                                          const runoff::StateSink& /*states*/) override {
        return engine_->run(sink);
    }
    [[nodiscard]] Status gatherWater(std::vector<runoff::RiverTotals>& totals) override {
        if (holdsCase_) {
            const auto mine = runoff::finalTotals(plan_, *engine_);
            for (std::size_t r = 0; r < mine.size(); ++r) {
                totals[r].add(mine[r]);
            }
        }
        return success();
    }
    [[nodiscard]] int agreements() const { return agreements_; }

private:
    bool holdsCase_;
    int failingStage_;
    int agreements_ = 0;
    runoff::RoutingPlan plan_;
    RainGrid rain_;
    std::optional<runoff::RoutingEngine> engine_;
};

std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

TEST(StageSequence, AProcessWithoutTheCaseTouchesNoFile) {
    TempDir dir;  // no case at all
    TestExecutor executor(false, -1);
    std::ostringstream console;
    EXPECT_EQ(runoff::runSimulation(CasePaths{dir.path()}, console, executor), 0);
    EXPECT_TRUE(fs::is_empty(dir.path()));
    EXPECT_GT(executor.agreements(), 0);
}

TEST(StageSequence, AFailureElsewhereEndsEveryProcessAtThatStage) {
    int stages = 0;
    {
        TempDir dir;
        confluenceCase().write(dir.path());
        TestExecutor executor(true, -1);
        std::ostringstream console;
        ASSERT_EQ(runoff::runSimulation(CasePaths{dir.path()}, console, executor), 0);
        stages = executor.agreements();
    }
    for (int failing = 0; failing < stages; ++failing) {
        SCOPED_TRACE(failing);
        TempDir dir;
        confluenceCase().write(dir.path());
        writeText(dir / "output/dischargeHourly.bin", "earlier results");
        for (const bool holdsCase : {true, false}) {
            TestExecutor executor(holdsCase, failing);
            std::ostringstream console;
            EXPECT_EQ(runoff::runSimulation(CasePaths{dir.path()}, console, executor), 1);
            // No stage after the failed one, and its line once, at the end.
            EXPECT_EQ(executor.agreements(), failing + 1);
            EXPECT_EQ(occurrences(console.str(), "failed elsewhere"), 1U);
            EXPECT_TRUE(console.str().ends_with("failed elsewhere\n"));
            // Output is only touched once every process could create it.
            const bool started =
                console.str().find("Runoff simulation starts.") != std::string::npos;
            if (!started) {
                EXPECT_EQ(readText(dir / "output/dischargeHourly.bin"), "earlier results");
            }
        }
    }
}

}  // namespace
}  // namespace hydro::test
