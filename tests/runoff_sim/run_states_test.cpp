// Runs that go on: a warm start from the state a shorter run left equals the run that never
// stopped, a run cut off anywhere and resumed gives the uninterrupted bytes, every state that
// does not fit is refused before an output changes, and a dry spin-up recedes.

#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "case/run_state.h"
#include "runoff_sim/driver.h"
#include "tests/runoff_sim/case_builder.h"
#include "tests/runoff_sim/engine_case.h"
#include "tests/support/test_support.h"

namespace hydro::test {
namespace {

namespace fs = std::filesystem;
using runoff::RunOptions;
using runoff::Scheme;

std::string bytesOf(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct SimRun {
    int status = -1;
    std::string console;
};

SimRun simulate(const fs::path& dir, const RunOptions& options, int threads = 1) {
    const int saved = omp_get_max_threads();
    omp_set_num_threads(threads);
    std::ostringstream console;
    SimRun r;
    r.status = runoff::runRunoffSim(dir, console, options);
    r.console = console.str();
    omp_set_num_threads(saved);
    return r;
}

/// The example basin as a case of `days` days from day `first` of its two (the parameter
/// file's days and the rain blocks of those days), with sub-steps of 10 minutes instead of
/// one so that the runs take seconds.
void writeExamplePart(const fs::path& dir, int first, int days) {
    const fs::path example(HYDRO_EXAMPLE_DIR);
    fs::create_directories(dir / "output");
    fs::copy(example / "topoData", dir / "topoData", fs::copy_options::recursive);
    std::istringstream params(readText(example / "param-event.dat"));
    std::ostringstream out;
    std::string line;
    for (int n = 1; std::getline(params, line); ++n) {
        // The days are on the sixth line, the time step on the seventh.
        out << (n == 6 ? std::to_string(days) : n == 7 ? "600" : line) << '\n';
    }
    writeText(dir / "param-event.dat", out.str());
    std::istringstream rain(readText(example / "input" / "rain.dat"));
    std::ostringstream part;
    const int linesPerDay = 240;
    for (int n = 0; std::getline(rain, line); ++n) {
        if (n >= (first - 1) * linesPerDay && n < (first - 1 + days) * linesPerDay) {
            part << line << '\n';
        }
    }
    writeText(dir / "input" / "rain.dat", part.str());
}

/// Bytes [from, to) of frames of `frameBytes`.
std::string frames(const std::string& grid, std::size_t frameBytes, std::size_t from,
                   std::size_t to) {
    return grid.substr(from * frameBytes, (to - from) * frameBytes);
}

constexpr std::size_t kExampleFrame = 199U * 107U * 4U;

TEST(RunStates, WarmStartFromAShorterRunEqualsTheRunThatNeverStopped) {
    struct Setting {
        Scheme scheme;
        int firstThreads;
        int secondThreads;
    };
    for (const Setting& setting :
         {Setting{Scheme::kLinear, 1, 2}, Setting{Scheme::kConservative, 2, 1}}) {
        SCOPED_TRACE(runoff::schemeName(setting.scheme));
        // The example basin: 2 days at once, and 1 + 1.
        TempDir tmp;
        writeExamplePart(tmp / "whole", 1, 2);
        writeExamplePart(tmp / "first", 1, 1);
        writeExamplePart(tmp / "second", 2, 1);
        RunOptions options;
        options.scheme = setting.scheme;
        ASSERT_EQ(simulate(tmp / "whole", options).status, 0);
        RunOptions first = options;
        first.writeState = tmp / "day1.bin";
        ASSERT_EQ(simulate(tmp / "first", first, setting.firstThreads).status, 0);
        RunOptions second = options;
        second.warmStart = tmp / "day1.bin";
        const SimRun run = simulate(tmp / "second", second, setting.secondThreads);
        ASSERT_EQ(run.status, 0) << run.console;
        EXPECT_NE(run.console.find("Warm start from day1.bin: the initial runoff of "
                                   "param-event.dat is not used.\nNumber of rivers"),
                  std::string::npos);
        const std::string whole = bytesOf(tmp / "whole" / "output" / "dischargeHourly.bin");
        EXPECT_TRUE(frames(whole, kExampleFrame, 24, 48)
                    == bytesOf(tmp / "second" / "output" / "dischargeHourly.bin"));
        for (const char* daily : {"dischargeDaily.bin", "dischargeHourlyMaxInDay.bin"}) {
            EXPECT_TRUE(frames(bytesOf(tmp / "whole" / "output" / daily), kExampleFrame, 1, 2)
                        == bytesOf(tmp / "second" / "output" / daily))
                << daily;
        }
    }
}

TEST(RunStates, WarmStartsChainOnARandomBasin) {
    // Four days at once against two days, then two more from its state, on a random basin
    // whose rain falls every day (so the hour before the warm start is wet).
    for (const Scheme scheme : {Scheme::kLinear, Scheme::kConservative}) {
        SCOPED_TRACE(runoff::schemeName(scheme));
        TempDir tmp;
        SimCase c = randomBasin(7, 14, 17);
        c.timeStep = 300;
        c.days = 4;
        c.write(tmp / "whole");
        c.days = 2;
        c.write(tmp / "first");
        c.startDay = 3;
        c.write(tmp / "second");
        RunOptions options;
        options.scheme = scheme;
        ASSERT_EQ(simulate(tmp / "whole", options, 2).status, 0);
        RunOptions first = options;
        first.writeState = tmp / "first.bin";
        ASSERT_EQ(simulate(tmp / "first", first, 1).status, 0);
        RunOptions second = options;
        second.warmStart = tmp / "first.bin";
        ASSERT_EQ(simulate(tmp / "second", second, 2).status, 0);
        const std::size_t frame = 14U * 17U * 4U;
        EXPECT_TRUE(frames(bytesOf(tmp / "whole" / "output" / "dischargeHourly.bin"), frame, 48, 96)
                    == bytesOf(tmp / "second" / "output" / "dischargeHourly.bin"));
        EXPECT_TRUE(frames(bytesOf(tmp / "whole" / "output" / "dischargeDaily.bin"), frame, 2, 4)
                    == bytesOf(tmp / "second" / "output" / "dischargeDaily.bin"));
        // The water carried over is the first run's final storage.
        EXPECT_NE(readText(tmp / "second" / "output" / "water_balance.csv"), "");
    }
}

/// Cuts a run's results back as a process killed after `hours` hours might leave them: the
/// hourly grid with `extra` bytes of the next frame, the daily grids at the day in progress,
/// and no state beyond that hour.
void interrupt(const fs::path& caseDir, const fs::path& states, std::size_t frameBytes,
               std::size_t hours, std::size_t extra, std::size_t keptState) {
    const fs::path out = caseDir / "output";
    fs::resize_file(out / "dischargeHourly.bin", hours * frameBytes + extra);
    for (const char* daily : {"dischargeDaily.bin", "dischargeHourlyMaxInDay.bin"}) {
        fs::resize_file(out / daily, hours / 24 * frameBytes);
    }
    fs::remove(out / "water_balance.csv");
    for (const auto& e : fs::directory_iterator(states)) {
        const auto state = readState(e.path());
        ASSERT_TRUE(state);
        if (static_cast<std::size_t>(state->run.hoursRun) > keptState) {
            fs::remove(e.path());
        }
    }
}

TEST(RunStates, ResumedRunsGiveTheUninterruptedBytes) {
    TempDir tmp;
    writeExamplePart(tmp / "case", 1, 2);
    RunOptions options;
    options.scheme = Scheme::kConservative;
    options.stateEvery = 5;
    options.stateDir = tmp / "states";
    ASSERT_EQ(simulate(tmp / "case", options, 2).status, 0);
    std::vector<std::string> reference;
    const std::vector<std::string> names{"dischargeDaily.bin", "dischargeHourlyMaxInDay.bin",
                                         "dischargeHourly.bin", "water_balance.csv"};
    for (const auto& n : names) {
        reference.push_back(bytesOf(tmp / "case" / "output" / n));
    }
    std::mt19937 random(3);
    // Cut at a state, between states, within a day, just before the end; the newest state
    // damaged or missing; once with no state at all.
    struct Cut {
        std::size_t hours;
        std::size_t extra;
        std::size_t keptState;
        bool damageNewest;
    };
    for (const Cut cut : {Cut{30, 0, 30, false}, Cut{33, 1000, 30, false}, Cut{47, 7, 45, true},
                          Cut{26, kExampleFrame - 1, 25, false}, Cut{4, 12, 0, false}}) {
        SCOPED_TRACE("cut after hour " + std::to_string(cut.hours));
        interrupt(tmp / "case", tmp / "states", kExampleFrame, cut.hours, cut.extra, cut.keptState);
        if (cut.damageNewest) {
            const fs::path newest = tmp / "states" / "state_2000-01-02T21:00:00Z.bin";
            fs::resize_file(newest, fs::file_size(newest) - 1);
        }
        RunOptions resume;
        resume.scheme = Scheme::kConservative;
        resume.resume = tmp / "states";
        const SimRun run = simulate(tmp / "case", resume, 1 + static_cast<int>(random() % 2));
        ASSERT_EQ(run.status, 0) << run.console;
        for (std::size_t f = 0; f < names.size(); ++f) {
            EXPECT_TRUE(bytesOf(tmp / "case" / "output" / names[f]) == reference[f]) << names[f];
        }
        if (cut.damageNewest) {
            EXPECT_NE(run.console.find("Passed over state_2000-01-02T21:00:00Z.bin"),
                      std::string::npos);
            EXPECT_NE(run.console.find("Resuming from state_2000-01-02T16:00:00Z.bin: hours 1 "
                                       "to 40 of 48 are done."),
                      std::string::npos);
        }
        if (cut.keptState == 0) {
            EXPECT_NE(run.console.find("the run starts from the beginning"), std::string::npos);
        }
    }
    // The states kept go on every 5 hours; --keep-states prunes the oldest.
    RunOptions keep = options;
    keep.keepStates = 2;
    ASSERT_EQ(simulate(tmp / "case", keep).status, 0);
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(tmp / "states")) {
        left.push_back(e.path().filename().string());
    }
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"state_2000-01-02T16:00:00Z.bin",
                                              "state_2000-01-02T21:00:00Z.bin"}));
}

TEST(RunStates, StatesThatDoNotFitAreRefusedBeforeAnyOutputChanges) {
    TempDir tmp;
    writeExamplePart(tmp / "first", 1, 1);
    writeExamplePart(tmp / "second", 2, 1);
    RunOptions first;
    first.writeState = tmp / "s.bin";
    ASSERT_EQ(simulate(tmp / "first", first).status, 0);
    ASSERT_EQ(simulate(tmp / "second", {}).status, 0);
    const auto outputsOf = [&] {
        std::string all;
        for (const auto& e : fs::directory_iterator(tmp / "second" / "output")) {
            if (e.is_regular_file()) {
                all += e.path().filename().string() + bytesOf(e.path());
            }
        }
        return all;
    };
    const std::string before = outputsOf();
    const std::string good = bytesOf(tmp / "s.bin");
    const auto refused = [&](const std::string& stateBytes, const RunOptions& options,
                             const std::string& line) {
        writeText(tmp / "t.bin", stateBytes);
        const SimRun run = simulate(tmp / "second", options);
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.console.find("\n" + line + "\n"), std::string::npos) << run.console;
        EXPECT_EQ(run.console.find("Runoff simulation starts."), std::string::npos);
        EXPECT_TRUE(outputsOf() == before) << line;
    };
    RunOptions warm;
    warm.warmStart = tmp / "t.bin";
    refused(good.substr(0, good.size() - 9), warm, "t.bin is truncated or corrupted.");
    std::string flipped = good;
    flipped[good.size() / 2] ^= 1;
    refused(flipped, warm, "t.bin is truncated or corrupted.");
    std::string version = good;
    version[8] = 9;
    refused(version, warm,
            "t.bin is a state of format version 9; this program reads versions 1 and 2.");
    RunOptions otherScheme = warm;
    otherScheme.scheme = Scheme::kConservative;
    refused(good, otherScheme,
            "t.bin was written with the linear scheme; this run uses the conservative scheme.");
    // Not when the event starts: the first day's own start.
    std::string early = good;
    std::int32_t missing = 0;
    {
        const auto state = readState(tmp / "s.bin");
        ASSERT_TRUE(state);
        RunState moved = *state;
        moved.time -= 3600;
        ASSERT_TRUE(writeState(tmp / "moved.bin", moved));
        early = bytesOf(tmp / "moved.bin");
        // A cell missing.
        RunState fewer = *state;
        missing = fewer.positions.back();
        fewer.positions.pop_back();
        fewer.values.resize(fewer.values.size() - fewer.valuesPerCell());
        ASSERT_TRUE(writeState(tmp / "fewer.bin", fewer));
    }
    refused(early, warm,
            "t.bin holds the state at 2000-01-01T23:00:00Z, but the event in rain.dat starts at "
            "2000-01-02T00:00:00Z.");
    const std::string fewer = bytesOf(tmp / "fewer.bin");
    refused(fewer, warm,
            "t.bin holds no state of the routed cell at frame position " + std::to_string(missing)
                + " (and maybe others).");
    // Another topography or setting.
    // (the lowest bit of the first elevation: a valid grid, one part in ten million higher)
    const std::string dem = bytesOf(tmp / "second" / "topoData" / "modDem.bin");
    std::string changed = dem;
    changed[0] ^= 1;
    writeText(tmp / "second" / "topoData" / "modDem.bin", changed);
    refused(good, warm, "t.bin was written for another modDem.bin (its SHA-256 differs).");
    writeText(tmp / "second" / "topoData" / "modDem.bin", dem);
    const std::string params = readText(tmp / "second" / "param-event.dat");
    std::string slower = params;
    slower.replace(slower.find("\n600\n"), 5, "\n1200\n");
    writeText(tmp / "second" / "param-event.dat", slower);
    refused(good, warm, "t.bin was written with a time step of 600 s; this run has 1200 s.");
    writeText(tmp / "second" / "param-event.dat", params);
    // A final state that would replace a folder.
    RunOptions toFolder;
    toFolder.writeState = tmp / "first";
    refused(good, toFolder, "first is not a regular file, so it is not replaced.");
    // Resuming a folder whose states belong to another run.
    fs::create_directories(tmp / "dir");
    fs::copy_file(tmp / "s.bin", tmp / "dir" / "state_2000-01-02T00:00:00Z.bin");
    RunOptions resume;
    resume.resume = tmp / "dir";
    refused(good, resume,
            "state_2000-01-02T00:00:00Z.bin belongs to another run (its event, length or "
            "rain.dat differs); --warm-start starts a new event from a state.");
    // And with a good state the same case runs.
    writeText(tmp / "t.bin", good);
    EXPECT_EQ(simulate(tmp / "second", warm).status, 0);
}

TEST(RunStates, ADrySpinUpRecedesAndNeverGoesNegative) {
    for (const Scheme scheme : {Scheme::kLinear, Scheme::kConservative}) {
        SCOPED_TRACE(runoff::schemeName(scheme));
        TempDir tmp;
        SimCase c = randomBasin(11, 12, 13);
        c.rain = [](int, int, int, int) { return 0.0F; };
        c.days = 6;
        c.initialRunoff = "2.0";
        c.write(tmp / "case");
        RunOptions options;
        options.scheme = scheme;
        options.writeState = tmp / "spun.bin";
        ASSERT_EQ(simulate(tmp / "case", options, 2).status, 0);
        const std::vector<float> hourly =
            readFloats(tmp / "case" / "output" / "dischargeHourly.bin");
        const std::size_t frame = 12U * 13U;
        ASSERT_EQ(hourly.size(), frame * 144);
        for (std::size_t cell = 0; cell < frame; ++cell) {
            if (hourly[cell] == -9999.0F) {
                continue;
            }
            for (std::size_t h = 0; h < 144; ++h) {
                const float q = hourly[h * frame + cell];
                ASSERT_GE(q, 0.0F) << "cell " << cell << ", hour " << h;
                // After the first day's adjustment every cell only recedes.
                if (h > 24) {
                    ASSERT_LE(q, hourly[(h - 1) * frame + cell])
                        << "cell " << cell << ", hour " << h;
                }
            }
        }
        const auto state = readState(tmp / "spun.bin");
        ASSERT_TRUE(state);
        for (const double v : state->values) {
            ASSERT_GE(v, 0.0);
        }
    }
}

}  // namespace
}  // namespace hydro::test

namespace hydro::test {
namespace {

TEST(RunStates, RunsKilledAtRandomMomentsResumeToTheSameBytes) {
    // The program itself, killed with SIGKILL at random moments (with a state every hour,
    // many of them fall into a state or a frame being written), then started again with the
    // same command until it completes.
    TempDir tmp;
    writeExamplePart(tmp / "case", 1, 2);
    const std::string program = RUNOFF_SIM_PROGRAM;
    const std::string command =
        "cd '" + (tmp / "case").string() + "' && " + program + " --state-every 1 states";
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(runShell(command + " > /dev/null").status, 0);
    // Kill times scale with the uninterrupted run (sanitizer builds are several times slower):
    // the first of each round anywhere in it, the later ones late enough to get on.
    const double whole =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::vector<std::string> reference;
    const std::vector<std::string> names{"dischargeDaily.bin", "dischargeHourlyMaxInDay.bin",
                                         "dischargeHourly.bin", "water_balance.csv"};
    for (const auto& n : names) {
        reference.push_back(bytesOf(tmp / "case" / "output" / n));
    }
    std::mt19937 random(20261208);
    int allKills = 0;
    for (int round = 0; round < 4; ++round) {
        fs::remove_all(tmp / "case" / "states");
        fs::remove_all(tmp / "case" / "output");
        fs::create_directories(tmp / "case" / "output");
        int kills = 0;
        for (int attempt = 0; attempt < 40; ++attempt) {
            const double share = static_cast<double>(random() % 1000) / 1000.0;
            const double seconds = whole * (attempt == 0 ? 0.02 + 0.48 * share : 0.3 + 0.6 * share);
            const ShellOutcome run =
                runShell("timeout -s KILL " + std::to_string(seconds) + " sh -c \"" + command
                         + " --resume states\" > /dev/null");
            if (run.status == 0) {
                break;
            }
            ++kills;
        }
        SCOPED_TRACE("round " + std::to_string(round) + ", " + std::to_string(kills) + " kills");
        allKills += kills;
        for (std::size_t f = 0; f < names.size(); ++f) {
            EXPECT_TRUE(bytesOf(tmp / "case" / "output" / names[f]) == reference[f]) << names[f];
        }
    }
    // (A round whose first run outpaced its kill tests nothing new; not all of them can.)
    EXPECT_GT(allKills, 0);
}

}  // namespace
}  // namespace hydro::test
