// The water balance of nested rivers: a river whose basin holds others counts what they hand
// it, every row closes, and each river's catchment (itself and the rivers upstream of it) is
// the sum of its rivers, with the outflow at its own outlet.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "results/run_record.h"
#include "runoff_sim/driver.h"
#include "tests/runoff_sim/case_builder.h"
#include "tests/support/test_support.h"

namespace hydro::test {
namespace {

using results::BalanceRow;
using runoff::Scheme;

/// The 5 x 5 confluence with two chains of three cells, west and east, into the centre
/// column: river 1 the centre column (and the border), river 2 the lower two cells of the west
/// chain, river 4 the top one above it, river 3 the east chain. So 4 drains into 2, and 2 and
/// 3 into 1.
SimCase nestedCase() {
    SimCase c = confluenceCase();
    c.flowDir = {
        5, 5, 5, 5, 5,  //
        5, 5, 5, 5, 5,  //
        5, 5, 5, 5, 5,  //
        5, 3, 5, 7, 5,  //
        5, 5, 5, 5, 5,  //
    };
    c.flowAcc = {
        1, 1, 1,  1, 1,  //
        1, 1, 1,  1, 1,  //
        1, 2, 2,  2, 1,  //
        1, 3, 9,  3, 1,  //
        1, 1, 10, 1, 1,  //
    };
    c.riverNum = {
        1, 1, 1, 1, 1,  //
        1, 4, 1, 3, 1,  //
        1, 2, 1, 3, 1,  //
        1, 2, 1, 3, 1,  //
        1, 1, 1, 1, 1,  //
    };
    c.riverList =
        "1 0 0 0 0 0 0.0 0.0\n2 0 0 0 0 0 0.0 0.0\n3 0 0 0 0 0 0.0 0.0\n"
        "4 0 0 0 0 0 0.0 0.0\n";
    c.days = 2;
    return c;
}

results::WaterBalance runNested(Scheme scheme, const TempDir& dir) {
    nestedCase().write(dir.path());
    std::ostringstream console;
    runoff::RunOptions options;
    options.scheme = scheme;
    EXPECT_EQ(runoff::runRunoffSim(dir.path(), console, options), 0) << console.str();
    const auto balance =
        results::parseWaterBalance(readText(dir / "output/water_balance.csv"), "balance");
    EXPECT_TRUE(balance) << balance.error().message;
    return balance ? *balance : results::WaterBalance{};
}

/// Within round-off of the volumes `scale` stands for.
void expectNear(double a, double b, double scale) {
    EXPECT_NEAR(a, b, 1e-12 * scale);
}

/// Rain, inflow and the water at the start are the outflow, the water at the end and the
/// residual; the conservative scheme's residual is round-off.
void expectCloses(const BalanceRow& r, Scheme scheme) {
    SCOPED_TRACE("river " + std::to_string(r.river));
    const double in = r.rain + r.inflow + r.initialStorage;
    expectNear(in, r.outflow + r.finalStorage - r.residual, in);
    if (scheme == Scheme::kConservative) {
        EXPECT_LE(std::abs(r.residual), 1e-9 * r.rain);
    }
    ASSERT_TRUE(r.runoffCoefficient.has_value());
    EXPECT_DOUBLE_EQ(*r.runoffCoefficient, r.outflow / (r.rain + r.inflow));
    ASSERT_TRUE(r.catchment.has_value());
    const results::CatchmentBalance& c = *r.catchment;
    const double catchmentIn = c.rain + c.initialStorage;
    expectNear(catchmentIn, c.outflow + c.finalStorage - c.residual, catchmentIn);
    ASSERT_TRUE(c.runoffCoefficient.has_value());
    EXPECT_DOUBLE_EQ(*c.runoffCoefficient, c.outflow / c.rain);
}

/// The catchment of `outer` against its rivers `parts` summed.
void expectSumOf(const BalanceRow& outer, const std::vector<const BalanceRow*>& parts) {
    SCOPED_TRACE("catchment of river " + std::to_string(outer.river));
    ASSERT_TRUE(outer.catchment.has_value());
    const results::CatchmentBalance& c = *outer.catchment;
    std::int64_t cells = 0;
    double rain = 0.0;
    double start = 0.0;
    double end = 0.0;
    double residual = 0.0;
    for (const BalanceRow* p : parts) {
        cells += p->cells;
        rain += p->rain;
        start += p->initialStorage;
        end += p->finalStorage;
        residual += p->residual;
    }
    EXPECT_EQ(c.cells, cells);
    expectNear(c.rain, rain, rain);
    expectNear(c.initialStorage, start, start);
    expectNear(c.finalStorage, end, end);
    expectNear(c.residual, residual, rain);
    // What leaves the catchment is what leaves its outer river: the rest changed hands inside.
    EXPECT_EQ(c.outflow, outer.outflow);
}

TEST(NestedBalance, EveryRowClosesAndEachCatchmentIsTheSumOfItsRivers) {
    for (const Scheme scheme : {Scheme::kLinear, Scheme::kConservative}) {
        SCOPED_TRACE(scheme == Scheme::kLinear ? "linear" : "conservative");
        const TempDir dir;
        const results::WaterBalance b = runNested(scheme, dir);
        ASSERT_EQ(b.rivers.size(), 4U);
        const BalanceRow& r1 = b.rivers[0];
        const BalanceRow& r2 = b.rivers[1];
        const BalanceRow& r3 = b.rivers[2];
        const BalanceRow& r4 = b.rivers[3];
        for (const BalanceRow* r : {&r1, &r2, &r3, &r4, &b.all}) {
            expectCloses(*r, scheme);
        }
        EXPECT_EQ(r1.upstreamRivers, (std::vector<std::int32_t>{2, 3, 4}));
        EXPECT_EQ(r2.upstreamRivers, (std::vector<std::int32_t>{4}));
        EXPECT_TRUE(r3.upstreamRivers.empty());
        EXPECT_TRUE(r4.upstreamRivers.empty());
        EXPECT_TRUE(b.all.upstreamRivers.empty());

        // The outer river's outflow holds its nested rivers' water, which its row counts as
        // inflow: what they handed on, to the bit.
        EXPECT_GT(r1.inflow, 0.0);
        EXPECT_EQ(r1.inflow, *r2.toOtherRivers + *r3.toOtherRivers);
        EXPECT_EQ(r2.inflow, *r4.toOtherRivers);
        EXPECT_EQ(*r1.toOtherRivers, 0.0);
        EXPECT_EQ(r3.inflow, 0.0);
        EXPECT_EQ(r3.outflow, *r3.toOtherRivers);

        expectSumOf(r1, {&r1, &r2, &r3, &r4});
        expectSumOf(r2, {&r2, &r4});
        expectSumOf(r3, {&r3});
        expectSumOf(b.all, {&r1, &r2, &r3, &r4});
        EXPECT_EQ(r1.catchment->outflow, b.all.outflow);
        EXPECT_EQ(r1.catchment->rain, b.all.rain);
        EXPECT_EQ(*r1.catchment->runoffCoefficient, *b.all.runoffCoefficient);
    }
}

}  // namespace
}  // namespace hydro::test
