#include "runoff_sim/rank_split.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <memory>
#include <numeric>
#include <string>
#include <utility>

#include "runoff_sim/basin_state.h"
#include "runoff_sim/rank_stepper.h"
#include "runoff_sim/rank_transfer.h"
#include "tests/runoff_sim/engine_case.h"

namespace hydro::runoff {
namespace {

/// A run spread over `ranks` ranks inside one process: each rank gets its work, the routes and
/// the rainfall through their byte images, as rank 0 hands them out; each rank's stepper runs
/// its ticks, and the messages of a tick go from each sender's outbox to the receiver's inbox
/// before the next tick, as the parallel run moves them.
class RanksInProcess {
public:
    RanksInProcess(const test::PlannedCase& c, std::int32_t ranks, std::int64_t firstHour = 0)
        : RanksInProcess(c, c.plan, ranks, firstHour) {}
    /// The same, running `plan` (the case's plan with another initial state).
    RanksInProcess(const test::PlannedCase& c, const RoutingPlan& plan, std::int32_t ranks,
                   std::int64_t firstHour)
        : c_(&c),
          d_(decompose(readersOf(plan), ranks)),
          routes_(unpackRoutes(packRoutes(cutRoutes(d_)))),
          rain_(unpackRain(packRain(c.rain))) {
        for (std::int32_t r = 0; r < ranks; ++r) {
            works_.push_back(
                std::make_unique<RankWork>(unpackRankWork(packRankWork(rankWork(plan, d_, r)))));
        }
        for (std::int32_t r = 0; r < ranks; ++r) {
            steppers_.push_back(std::make_unique<RankStepper>(*works_[static_cast<std::size_t>(r)],
                                                              routes_, ranks, r, rain_, progress_,
                                                              firstHour));
        }
    }

    /// Before the first tick: the states to keep, and the whole hourly frames of the first
    /// day so far.
    void startWith(const RouteSchedule& schedule, std::span<const float> dayFrames) {
        for (auto& s : steppers_) {
            s->keepStates(schedule);
            s->seedDay(dayFrames);
        }
    }

    /// The states kept by frames(), as rank 0 puts them together.
    std::vector<BasinState> states;

    [[nodiscard]] const Decomposition& decomposition() const { return d_; }

    /// Moves the messages of tick - 1, then runs tick `tick` on every rank.
    void tick(std::int64_t tick) {
        for (auto& receiver : steppers_) {
            const auto& inbound = receiver->inbound();
            for (std::size_t i = 0; i < inbound.size() && tick > 0; ++i) {
                RankStepper& sender = *steppers_[static_cast<std::size_t>(inbound[i].rank)];
                const auto& outbound = sender.outbound();
                std::size_t j = 0;
                while (outbound[j].rank != rankOf(*receiver)) {
                    ++j;
                }
                const std::span<const SeriesValue> message = sender.outbox(j, tick - 1);
                ASSERT_EQ(message.size(), inbound[i].values);
                std::copy(message.begin(), message.end(), receiver->inbox(i).begin());
            }
            receiver->unpack(tick);
            ASSERT_EQ(receiver->runTick(tick), RunStatus::kComplete);
        }
    }

    /// Every frame of the event in the order the single-process sink receives them.
    test::EventFrames frames() {
        test::EventFrames out;
        const RankStepper& first = *steppers_.front();
        for (std::int64_t t = 0; t < first.ticks(); ++t) {
            tick(t);
            const auto hour = first.completedHour(t);
            if (!hour) {
                continue;
            }
            append(out, [&](const RankStepper& s) { return s.hourValues(*hour); });
            if (*hour % 24 == 23) {
                append(out, [&](const RankStepper& s) { return s.dayMeans(*hour / 24); });
                append(out, [&](const RankStepper& s) { return s.dayMaxima(*hour / 24); });
            }
            if (first.wantsState(*hour)) {
                states.push_back(stateOf(*hour));
            }
        }
        return out;
    }

    [[nodiscard]] RankStepper& stepper(std::size_t r) { return *steppers_[r]; }
    [[nodiscard]] std::size_t ranks() const { return steppers_.size(); }

private:
    [[nodiscard]] std::int32_t rankOf(const RankStepper& s) const {
        for (std::size_t r = 0; r < steppers_.size(); ++r) {
            if (steppers_[r].get() == &s) {
                return static_cast<std::int32_t>(r);
            }
        }
        return -1;
    }

    /// Every rank's snapshot of hour `hour`, cells sorted by frame position, totals added.
    BasinState stateOf(std::int64_t hour) {
        const std::size_t per = steppers_.front()->stateValuesPerCell();
        std::vector<std::pair<std::int64_t, std::vector<double>>> cells;
        BasinState s;
        s.hour = hour + 1;
        s.totals.resize(static_cast<std::size_t>(c_->plan.riverCount));
        for (std::size_t r = 0; r < steppers_.size(); ++r) {
            const RankStepper::Snapshot snap = steppers_[r]->takeSnapshot(hour);
            const auto& positions = works_[r]->framePositions;
            EXPECT_EQ(snap.values.size(), positions.size() * per);
            for (std::size_t i = 0; i < positions.size() && i * per < snap.values.size(); ++i) {
                const auto from = snap.values.begin() + static_cast<std::ptrdiff_t>(i * per);
                cells.emplace_back(
                    positions[i],
                    std::vector<double>(from, from + static_cast<std::ptrdiff_t>(per)));
            }
            for (std::size_t k = 0; k < s.totals.size(); ++k) {
                s.totals[k].add(snap.totals[k]);
            }
        }
        std::sort(cells.begin(), cells.end());
        for (const auto& [position, values] : cells) {
            s.positions.push_back(static_cast<std::int32_t>(position));
            s.values.insert(s.values.end(), values.begin(), values.end());
        }
        return s;
    }

    template <class Values>
    void append(test::EventFrames& out, Values values) {
        std::vector<float> frame = c_->plan.frameTemplate;
        for (std::size_t r = 0; r < steppers_.size(); ++r) {
            placeValues(works_[r]->framePositions, values(*steppers_[r]), frame);
        }
        for (const float v : frame) {
            out.bits.push_back(std::bit_cast<std::uint32_t>(v));
        }
    }

    const test::PlannedCase* c_;
    Decomposition d_;
    std::vector<CutRoute> routes_;
    RainGrid rain_;
    ProgressPacer progress_{0, 0, [](std::int64_t) {}};
    std::vector<std::unique_ptr<RankWork>> works_;
    std::vector<std::unique_ptr<RankStepper>> steppers_;
};

test::EventFrames wholeRun(const test::PlannedCase& c) {
    ProgressPacer progress(0, 0, [](std::int64_t) {});
    RoutingEngine engine(c.plan, c.rain, progress);
    return test::collectFrames(engine);
}

TEST(RankSplit, PiecesGoInLevelOrderToRunsOfEqualCells) {
    // In order: level 0 by size (pieces 1, 3, 0), then level 1 (2, 4); 18 cells. A piece goes
    // to the run that holds its middle: 9 cells a rank at 2 ranks; at 8 ranks some stay idle.
    const std::vector<std::int64_t> cells{3, 5, 3, 4, 3};
    const std::vector<std::int32_t> level{0, 0, 1, 0, 1};
    EXPECT_EQ(assignDownstream(cells, level, 2), (std::vector<std::int32_t>{1, 0, 1, 0, 1}));
    EXPECT_EQ(assignDownstream(cells, level, 8), (std::vector<std::int32_t>{4, 1, 6, 3, 7}));
    EXPECT_EQ(assignDownstream(cells, level, 1), (std::vector<std::int32_t>{0, 0, 0, 0, 0}));
    EXPECT_TRUE(assignDownstream({}, {}, 3).empty());
}

TEST(RankSplit, ConfluencesAreCutTributariesFirstAndChainsStayWhole) {
    // Post-order forest: 0 -> 2, 1 -> 2, 2 -> 7; the stem 3 -> 4 -> 5 -> 6 -> 7; 7 a root;
    // and the chain 8 -> 9 -> 10. The confluence at 7 gathers 8 cells: with a target of 5 the
    // tributary (cells 0-2) is cut and the stem's 5 cells fit.
    const std::vector<std::int32_t> reader{2, 2, 7, 4, 5, 6, 7, -1, 9, 10, -1};
    std::vector<bool> roots = cutAtConfluences(reader, 5);
    EXPECT_EQ(roots, (std::vector<bool>{false, false, true, false, false, false, false, true, false,
                                        false, true}));
    // With a target of 2 the stem is cut as well, and at 2 the later of two equal branches;
    // the chain of three has no confluence and stays whole.
    roots = cutAtConfluences(reader, 2);
    EXPECT_EQ(roots, (std::vector<bool>{false, true, true, false, false, false, true, true, false,
                                        false, true}));
    // Nothing exceeds a large target: only the roots of the trees.
    roots = cutAtConfluences(reader, 100);
    EXPECT_EQ(std::count(roots.begin(), roots.end(), true), 2);
}

TEST(RankSplit, PiecesFitTheirLevelsAndOneRankCutsNothing) {
    const auto c = test::planCase(test::branchingCase(9, 14));
    ASSERT_NE(c, nullptr);
    const std::vector<std::int32_t> reader = readersOf(c->plan);
    const Decomposition one = decompose(reader, 1);
    EXPECT_TRUE(one.cuts.empty());
    EXPECT_EQ(one.levels, 1);
    for (const std::int32_t ranks : {2, 3, 4, 7}) {
        const Decomposition d = decompose(reader, ranks);
        ASSERT_FALSE(d.cuts.empty()) << ranks;
        EXPECT_GT(d.levels, 2) << ranks;
        // Each cut feeds a piece of a higher level on the same rank or a higher one; each
        // cell's reader is in its own piece unless the cell is a cut.
        for (const CutRoute& route : cutRoutes(d)) {
            EXPECT_LE(route.fromRank, route.toRank);
        }
        for (std::size_t i = 0; i < d.cuts.size(); ++i) {
            const auto u = static_cast<std::size_t>(d.cuts[i]);
            EXPECT_NE(d.pieceOf[u], d.cutInto[i]);
            EXPECT_EQ(d.pieceOf[static_cast<std::size_t>(reader[u])], d.cutInto[i]);
            EXPECT_LT(d.pieceLevel[static_cast<std::size_t>(d.pieceOf[u])],
                      d.pieceLevel[static_cast<std::size_t>(d.cutInto[i])]);
        }
        for (std::size_t cell = 0; cell < reader.size(); ++cell) {
            const bool cut =
                std::binary_search(d.cuts.begin(), d.cuts.end(), static_cast<std::int32_t>(cell));
            if (reader[cell] >= 0 && !cut) {
                EXPECT_EQ(d.pieceOf[cell], d.pieceOf[static_cast<std::size_t>(reader[cell])]);
            }
        }
        // Rank 0 of a run places every rank's values where that rank's own work says.
        std::vector<std::int32_t> counts;
        const std::vector<std::int64_t> all = framePositionsByRank(c->plan, d, counts);
        std::size_t at = 0;
        for (std::int32_t r = 0; r < ranks; ++r) {
            const RankWork work = rankWork(c->plan, d, r);
            EXPECT_EQ(static_cast<std::size_t>(counts[static_cast<std::size_t>(r)]),
                      work.framePositions.size());
            EXPECT_TRUE(std::equal(work.framePositions.begin(), work.framePositions.end(),
                                   all.begin() + static_cast<std::ptrdiff_t>(at)));
            at += work.framePositions.size();
        }
        // Every rank has work, and the spread is within a piece of the average.
        std::int64_t largest = 0;
        for (const std::int64_t cells : d.pieceCells) {
            largest = std::max(largest, cells);
        }
        const double average = static_cast<double>(reader.size()) / ranks;
        EXPECT_LE(loadImbalance(d), 1.0 + static_cast<double>(largest) / average) << ranks;
    }
}

TEST(RankSplit, TheReaderOfACutGetsTheSeriesOfOneProcess) {
    const auto c = test::planCase(test::branchingCase(9, 14));
    ASSERT_NE(c, nullptr);
    for (const std::int32_t ranks : {2, 3, 5}) {
        RanksInProcess run(*c, ranks);
        const Decomposition& d = run.decomposition();
        // The whole plan in one engine, each cut's root also handing out its series.
        RoutingPlan tapped = c->plan;
        for (std::size_t i = 0; i < d.cuts.size(); ++i) {
            tapped.cells[static_cast<std::size_t>(d.cuts[i])].exportSlot =
                static_cast<std::int32_t>(i);
        }
        tapped.exportCount = static_cast<std::int32_t>(d.cuts.size());
        ProgressPacer progress(0, 0, [](std::int64_t) {});
        RoutingEngine whole(tapped, c->rain, progress);
        whole.start();
        std::vector<std::vector<SeriesValue>> series;  // per hour, every cut's series in turn
        for (std::int32_t h = 0; h < tapped.days * 24; ++h) {
            ASSERT_EQ(whole.advance(h / 24 + 1, h % 24 + 1), RunStatus::kComplete);
            series.emplace_back();
            for (std::size_t i = 0; i < d.cuts.size(); ++i) {
                const auto s = whole.exportSeries(static_cast<std::int32_t>(i));
                series.back().insert(series.back().end(), s.begin(), s.end());
            }
        }
        const auto steps = static_cast<std::size_t>(c->plan.subStepsPerHour);
        std::size_t compared = 0;
        for (std::int64_t t = 0; t < run.stepper(0).ticks(); ++t) {
            run.tick(t);
            for (std::size_t r = 0; r < run.ranks(); ++r) {
                RankStepper& s = run.stepper(r);
                for (std::int32_t k = 0; k < s.levels(); ++k) {
                    const std::int64_t hour = t - k;
                    if (hour < 0 || hour >= s.hours()) {
                        continue;
                    }
                    for (std::int32_t slot = 0; slot < s.importCount(k); ++slot) {
                        const std::span<const SeriesValue> got = s.importedSeries(k, slot);
                        const auto cut = static_cast<std::size_t>(s.importCut(k, slot));
                        const auto* want =
                            series[static_cast<std::size_t>(hour)].data() + cut * steps;
                        for (std::size_t j = 0; j < steps; ++j) {
                            ASSERT_EQ(std::bit_cast<std::uint64_t>(got[j]),
                                      std::bit_cast<std::uint64_t>(want[j]))
                                << ranks << " ranks, cut " << cut << ", hour " << hour;
                        }
                        ++compared;
                    }
                }
            }
        }
        EXPECT_EQ(compared, d.cuts.size() * static_cast<std::size_t>(c->plan.days) * 24U);
    }
}

TEST(RankSplit, AnImageCutShortOrLeftLongIsRefused) {
    const auto c = test::planCase(test::branchingCase(9, 14));
    ASSERT_NE(c, nullptr);
    const Decomposition d = decompose(readersOf(c->plan), 3);
    std::vector<std::byte> image = packRankWork(rankWork(c->plan, d, 1));
    const RankWork back = unpackRankWork(image);
    EXPECT_EQ(back.framePositions, rankWork(c->plan, d, 1).framePositions);
    for (const std::size_t cut :
         {std::size_t{0}, std::size_t{7}, image.size() / 2, image.size() - 1}) {
        EXPECT_THROW(static_cast<void>(unpackRankWork(std::span(image).first(cut))),
                     std::invalid_argument)
            << cut;
    }
    image.push_back(std::byte{0});
    EXPECT_THROW(static_cast<void>(unpackRankWork(image)), std::invalid_argument);
    std::vector<std::byte> rain = packRain(c->rain);
    rain.pop_back();
    EXPECT_THROW(static_cast<void>(unpackRain(rain)), std::invalid_argument);
}

TEST(RankSplit, AnyRankCountGivesTheBytesOfTheWholeRun) {
    for (const auto& made : {test::forestCase(5), test::chainCase(6), test::branchingCase(9, 14),
                             test::branchingCase(7, 40), test::inconsistentBranchingCase()}) {
        const auto c = test::planCase(made);
        ASSERT_NE(c, nullptr);
        if (made.studyCols == 24) {
            // The inconsistent case does read some routed cells as zeros.
            std::int32_t zeros = 0;
            for (const RoutedCell& rc : c->plan.cells) {
                zeros += rc.sourceCount - rc.readCount;
            }
            ASSERT_GT(zeros, 0);
        }
        const test::EventFrames whole = wholeRun(*c);
        for (const std::int32_t ranks : {1, 2, 3, 4, 6}) {
            RanksInProcess run(*c, ranks);
            EXPECT_EQ(run.frames().bits, whole.bits) << ranks << " ranks";
        }
    }
}

/// A whole run in one engine with a state every `every` hours: its frames, each hour's frame
/// and the bits of the frames up to the end of each hour (from 1).
struct StatedRun {
    test::EventFrames frames;
    std::vector<std::vector<float>> hourly;
    std::vector<std::size_t> bitsAfter{0};
    std::vector<BasinState> states;
};

StatedRun statedRun(const test::PlannedCase& c, std::int32_t every) {
    ProgressPacer progress(0, 0, [](std::int64_t) {});
    RoutingEngine engine(c.plan, c.rain, progress);
    StatedRun run;
    const auto keep = [&](std::span<const float> frame) {
        for (const float v : frame) {
            run.frames.bits.push_back(std::bit_cast<std::uint32_t>(v));
        }
    };
    const FrameSink sink{
        [&](std::int32_t, std::int32_t, std::span<const float> frame) {
            keep(frame);
            run.hourly.emplace_back(frame.begin(), frame.end());
            run.bitsAfter.push_back(run.frames.bits.size());
            return true;
        },
        [&](std::int32_t, std::span<const float> mean, std::span<const float> max) {
            keep(mean);
            keep(max);
            run.bitsAfter.back() = run.frames.bits.size();
            return true;
        }};
    std::vector<std::int32_t> slots;
    run.frames.status = engine.run(sink, {0, every, true}, {}, [&](std::int64_t hour) {
        run.states.push_back(basinStateOf(c.plan, engine, hour, slots));
        return true;
    });
    return run;
}

void expectSameState(const BasinState& a, const BasinState& b, const std::string& what) {
    EXPECT_EQ(a.hour, b.hour) << what;
    EXPECT_EQ(a.positions, b.positions) << what;
    ASSERT_EQ(a.values.size(), b.values.size()) << what;
    for (std::size_t i = 0; i < a.values.size(); ++i) {
        ASSERT_EQ(std::bit_cast<std::uint64_t>(a.values[i]),
                  std::bit_cast<std::uint64_t>(b.values[i]))
            << what << ", value " << i;
    }
    ASSERT_EQ(a.totals.size(), b.totals.size()) << what;
    for (std::size_t r = 0; r < a.totals.size(); ++r) {
        const auto units = [](const RiverTotals& t) {
            return std::array{t.rain.units(), t.leaving.units(), t.toOtherRivers.units(),
                              t.inflow.units()};
        };
        EXPECT_EQ(units(a.totals[r]), units(b.totals[r])) << what << ", river " << r;
    }
}

TEST(RankSplit, StatesAndRunsFromThemMatchTheWholeRunOnAnyRankCount) {
    for (const Scheme scheme : {Scheme::kLinear, Scheme::kConservative}) {
        const auto c = test::planCase(test::branchingCase(9, 14), scheme);
        ASSERT_NE(c, nullptr);
        // States every 5 hours: more often than some rank counts have levels, and at hours
        // within a day, at a day's end and at the event's end.
        const StatedRun whole = statedRun(*c, 5);
        ASSERT_EQ(whole.frames.status, RunStatus::kComplete);
        ASSERT_EQ(whole.states.size(), 10U);
        for (const std::int32_t ranks : {1, 2, 3, 5}) {
            RanksInProcess run(*c, ranks);
            run.startWith({0, 5, true}, {});
            EXPECT_EQ(run.frames().bits, whole.frames.bits) << ranks << " ranks";
            ASSERT_EQ(run.states.size(), whole.states.size()) << ranks << " ranks";
            for (std::size_t i = 0; i < whole.states.size(); ++i) {
                expectSameState(run.states[i], whole.states[i],
                                std::to_string(ranks) + " ranks, state " + std::to_string(i));
            }
        }
        // Going on from states within the first day (hour 20) and the second (hour 30).
        for (const std::size_t at : {std::size_t{5}, std::size_t{3}}) {
            const BasinState& from = whole.states[at];
            RoutingPlan plan = c->plan;
            const std::vector<std::int32_t> slots = stateSlots(plan);
            const std::size_t nodes = static_cast<std::size_t>(plan.scheme.spaceSteps) + 1;
            plan.initialLateral.resize(plan.cells.size());
            for (std::size_t cell = 0; cell < plan.cells.size(); ++cell) {
                const auto v = from.values.begin()
                               + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(slots[cell])
                                                             * (nodes + 1));
                std::copy_n(v, nodes,
                            plan.initialNodes.begin() + static_cast<std::ptrdiff_t>(cell * nodes));
                plan.initialLateral[cell] = v[static_cast<std::ptrdiff_t>(nodes)];
            }
            std::vector<float> dayFrames;
            for (std::int64_t h = from.hour / 24 * 24; h < from.hour; ++h) {
                const auto& f = whole.hourly[static_cast<std::size_t>(h)];
                dayFrames.insert(dayFrames.end(), f.begin(), f.end());
            }
            const std::vector<std::uint32_t> rest(
                whole.frames.bits.begin()
                    + static_cast<std::ptrdiff_t>(
                        whole.bitsAfter[static_cast<std::size_t>(from.hour)]),
                whole.frames.bits.end());
            for (const std::int32_t ranks : {2, 4}) {
                RanksInProcess run(*c, plan, ranks, from.hour);
                run.startWith({from.hour, 0, true}, dayFrames);
                EXPECT_EQ(run.frames().bits, rest) << ranks << " ranks from hour " << from.hour;
                ASSERT_EQ(run.states.size(), 1U);
                EXPECT_EQ(run.states.front().positions, whole.states.back().positions);
                EXPECT_EQ(run.states.front().values, whole.states.back().values)
                    << ranks << " ranks from hour " << from.hour;
            }
        }
    }
}

}  // namespace
}  // namespace hydro::runoff
