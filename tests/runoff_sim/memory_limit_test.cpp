// The simulator under address-space limits from far too small to ample: every run either
// completes with the bytes of an unlimited run or ends with the one memory line and exit
// status 1, wherever the allocation fails (while reading, planning, starting the threads or
// growing the outflow stores inside the parallel time loop); never with a signal. A run that
// fails before the simulation starts leaves the earlier results untouched.

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/runoff_sim/case_builder.h"
#include "tests/support/test_support.h"

namespace hydro::test {
namespace {

namespace fs = std::filesystem;

using Outcome = test::ShellOutcome;

Outcome runLimited(const fs::path& dir, std::int64_t bytes) {
    return test::runShell("cd '" + dir.string() + "' && prlimit --as=" + std::to_string(bytes)
                          + " '" RUNOFF_SIM_PROGRAM "' 2>stderr.txt");
}

std::string lastLine(const std::string& text) {
    const std::size_t end = text.find_last_not_of('\n');
    if (end == std::string::npos) {
        return "";
    }
    const std::size_t start = text.find_last_of('\n', end);
    return text.substr(start == std::string::npos ? 0 : start + 1, end - start);
}

constexpr std::array<const char*, 3> kGrids{"dischargeDaily.bin", "dischargeHourlyMaxInDay.bin",
                                            "dischargeHourly.bin"};

TEST(MemoryLimits, EveryRunCompletesOrSaysSoAndNeverDiesOfASignal) {
    // A one-second time step: each hour's outflow store holds 3600 values, and the stores grow
    // in large blocks inside the time loop.
    SimCase c;
    c.studyRows = 3;
    c.studyCols = 8;
    c.elevation.assign(24, 100.0F);
    c.flowDir.assign(24, 3);
    c.flowAcc.assign(24, 1);
    c.riverNum.assign(24, 1);
    for (int col = 0; col < 8; ++col) {
        c.elevation[8U + static_cast<std::size_t>(col)] = 100.0F - static_cast<float>(col);
        c.flowAcc[8U + static_cast<std::size_t>(col)] = col;
    }
    c.timeStep = 1;
    c.spaceSteps = 1;
    c.rain = [](int, int h, int, int) { return static_cast<float>(h % 5); };
    TempDir dir;
    c.write(dir.path());

    const Outcome ample = runLimited(dir.path(), std::int64_t{4} << 30);
    ASSERT_EQ(ample.status, 0) << ample.console;
    std::array<std::string, 3> reference;
    for (std::size_t f = 0; f < kGrids.size(); ++f) {
        reference[f] = readText(dir / "output" / kGrids[f]);
    }

    int completed = 0;
    int failedInRun = 0;
    int failedBefore = 0;
    // Every MiB up to 32 (the program needs some 15 to 20), then a few ample ones.
    std::vector<std::int64_t> limits;
    for (std::int64_t mib = 1; mib <= 32; ++mib) {
        limits.push_back(mib);
    }
    limits.insert(limits.end(), {64, 1024});
    for (const std::int64_t mib : limits) {
        const std::int64_t limit = mib << 20;
        SCOPED_TRACE(std::to_string(mib) + " MiB");
        const Outcome r = runLimited(dir.path(), limit);
        ASSERT_EQ(r.signal, 0) << r.console;
        if (r.status == 127 && r.console.empty()) {
            continue;  // too small for the dynamic loader: the program never started
        }
        if (r.status == 1 && r.console.empty()
            && readText(dir / "stderr.txt").find("libgomp: Out of memory") != std::string::npos) {
            continue;  // the OpenMP runtime could not set itself up as it loaded, before main
        }
        const bool started = r.console.find("Runoff simulation starts.") != std::string::npos;
        if (r.status == 0) {
            ++completed;
        } else {
            ASSERT_EQ(r.status, 1) << r.console;
            ASSERT_EQ(lastLine(r.console), "Not enough memory for this run.") << r.console;
            ++(started ? failedInRun : failedBefore);
        }
        if (r.status != 0 && started) {
            // The failed run truncated the grids; put the reference back for the next one.
            for (std::size_t f = 0; f < kGrids.size(); ++f) {
                writeText(dir / "output" / kGrids[f], reference[f]);
            }
            continue;
        }
        {
            for (std::size_t f = 0; f < kGrids.size(); ++f) {
                EXPECT_TRUE(readText(dir / "output" / kGrids[f]) == reference[f]) << kGrids[f];
            }
        }
    }
    // The sweep reached every kind of outcome, or it proves less than it claims.
    EXPECT_GT(completed, 0);
    EXPECT_GT(failedInRun, 0);
    EXPECT_GT(failedBefore, 0);
}

}  // namespace
}  // namespace hydro::test
