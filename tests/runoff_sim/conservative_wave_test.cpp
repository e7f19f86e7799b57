// The box scheme of one cell: the storage solve over the whole range of box sizes, sub-steps and
// volumes a run can meet, and the sweep's balance of storage, inflow, rain and outflow at every
// sub-step.

#include "physics/conservative_wave.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "physics/kinematic_wave.h"
#include "routing/rain_cell.h"

namespace hydro::runoff {
namespace {

/// f(u) = dx u^3 + c u^5 - r.
double boxResidual(double dx, double c, double r, double u) {
    return dx * u * u * u + c * u * u * u * u * u - r;
}

/// The root to round-off: bisection in long double on a bracket of both a priori bounds.
double referenceRoot(double dx, double c, double r) {
    const auto dxL = static_cast<long double>(dx);
    const auto cL = static_cast<long double>(c);
    const auto rL = static_cast<long double>(r);
    long double lo = 0.0L;
    long double hi = std::cbrt(rL / dxL);
    for (int i = 0; i < 400 && lo < hi; ++i) {
        const long double mid = 0.5L * (lo + hi);
        const long double f = dxL * mid * mid * mid + cL * mid * mid * mid * mid * mid - rL;
        (f > 0 ? hi : lo) = mid;
    }
    return static_cast<double>(0.5L * (lo + hi));
}

TEST(ConservativeWave, SolveBoxFindsTheRootFromAnyGuess) {
    const std::vector<double> range{1e-12, 1e-6, 1e-2, 1.0, 1e3, 1e9};
    int cases = 0;
    for (const double dx : range) {
        for (const double c : range) {
            for (const double r : range) {
                const double root = referenceRoot(dx, c, r);
                const double bound = std::cbrt(r / dx);
                for (const double guess : {0.0, root * 1e-6, root * 1e-2, root * 0.9, root * 1.1,
                                           root * 1e2, root * 1e6}) {
                    SCOPED_TRACE("dx " + std::to_string(dx) + " c " + std::to_string(c) + " r "
                                 + std::to_string(r) + " guess/root "
                                 + std::to_string(guess / root));
                    const double u = solveBox(dx, c, r, guess);
                    ASSERT_TRUE(std::isfinite(u));
                    ASSERT_GE(u, 0.0);
                    ASSERT_LE(u, bound * (1.0 + 1e-12));
                    // Converged to the tolerance on u: f changes by at most 5 r per unit of
                    // relative change in u.
                    EXPECT_NEAR(u, root, 2e-9 * root);
                    EXPECT_LE(std::abs(boxResidual(dx, c, r, u)), 1e-8 * r);
                    ++cases;
                }
            }
        }
    }
    EXPECT_EQ(cases, 216 * 7);
}

/// A cell of the kind a run sets up: its rating curve's alpha from the routing set-up.
struct TestCell {
    RoutingSetup setup;
    BoxScheme scheme;
    BoxCell box;
};

TestCell makeCell(float elevationDrop, std::int32_t flowAcc, std::int32_t spaceSteps,
                  std::int32_t dt, double weight) {
    GridCell cell;
    cell.flowDir = 3;
    cell.flowAcc = flowAcc;
    cell.cellWidth = 760.0F;
    cell.elevation = 100.0F + elevationDrop;
    GridCell down = cell;
    down.elevation = 100.0F;
    const RoutingParameters p{0.6, 0.03, 50, spaceSteps, dt, weight, {}};
    TestCell t;
    t.setup = setupRouting(cell, &down, p);
    t.scheme = BoxScheme::of(static_cast<double>(dt), weight);
    t.box = BoxCell::of(t.scheme, t.setup.dx, t.setup.alpha);
    return t;
}

double storageOf(const BoxCell& cell, const std::vector<double>& u) {
    double total = 0.0;
    for (std::size_t j = 1; j < u.size(); ++j) {
        total += boxAreaOf(u[j]) * cell.dx;
    }
    return total;
}

/// One sub-step across the cell; returns the outflow.
double sweep(const TestCell& t, std::vector<double>& q, double qLat, double inflow) {
    BoxSweep s(t.scheme, t.box, q);
    s.start(qLat, inflow);
    for (std::size_t j = 1; j < q.size(); ++j) {
        s.node(j);
    }
    return s.outlet();
}

TEST(ConservativeWave, DryCellsStayExactlyDry) {
    for (const double weight : {0.5, 0.6, 1.0}) {
        const TestCell t = makeCell(0.0F, 1, 4, 3600, weight);
        std::vector<double> q(5, 0.0);
        for (int k = 0; k < 50; ++k) {
            EXPECT_EQ(sweep(t, q, 0.0, 0.0), 0.0);
        }
        EXPECT_EQ(q, std::vector<double>(5, 0.0));
        EXPECT_EQ(boxStateOf(t.box, 0.0), 0.0);
        EXPECT_EQ(boxStateOf(t.box, -1.0), 0.0);
    }
}

TEST(ConservativeWave, SteadyProfileUnderSteadyRainStaysSteady) {
    for (const double weight : {0.5, 0.6, 1.0}) {
        for (const std::int32_t dt : {1, 60, 3600}) {
            SCOPED_TRACE("weight " + std::to_string(weight) + ", dt " + std::to_string(dt));
            const TestCell t = makeCell(5.0F, 200, 10, dt, weight);
            const double qLat = lateralInflow(30.0F, 760.0F, t.setup.flowLength);
            const double inflow = 12.5;
            std::vector<double> steady(11);
            std::vector<double> state(11);
            for (std::size_t j = 0; j < steady.size(); ++j) {
                steady[j] = inflow + qLat * t.box.dx * static_cast<double>(j);
                state[j] = j == 0 ? steady[j] : boxStateOf(t.box, steady[j]);
            }
            for (int k = 0; k < 200; ++k) {
                const double out = sweep(t, state, qLat, inflow);
                ASSERT_NEAR(out, steady.back(), 1e-12 * steady.back()) << "sub-step " << k;
            }
            for (std::size_t j = 0; j < steady.size(); ++j) {
                const double q = j == 0 ? state[j] : boxDischargeOf(t.box, state[j]);
                EXPECT_NEAR(q, steady[j], 1e-12 * steady[j]) << "node " << j;
            }
        }
    }
}

TEST(ConservativeWave, EverySubStepBalancesStorageInflowRainAndOutflow) {
    // Storms of up to 500 mm/hr and upstream floods that come and go on a steep and a flat
    // (slope floor) cell, at every weight and sub-step: the storage changes by exactly what
    // came in less what went out, and nothing goes negative or stops being a number.
    std::mt19937 random(7);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    int subSteps = 0;
    for (const double weight : {0.5, 0.6, 1.0}) {
        for (const std::int32_t dt : {1, 60, 3600}) {
            for (const float drop : {20.0F, 0.0F}) {
                for (const std::int32_t acc : {1, 400}) {
                    SCOPED_TRACE("weight " + std::to_string(weight) + ", dt " + std::to_string(dt)
                                 + ", drop " + std::to_string(drop) + ", acc "
                                 + std::to_string(acc));
                    const TestCell t = makeCell(drop, acc, 8, dt, weight);
                    std::vector<double> q(9, 0.0);
                    for (int k = 0; k < 300; ++k) {
                        // Rain and inflow switch on and off in bursts, some of them dry.
                        const bool wet = (k / 25) % 3 != 2;
                        const double rain = wet ? 500.0 * unit(random) : 0.0;
                        const double qLat =
                            lateralInflow(static_cast<float>(rain), 760.0F, t.setup.flowLength);
                        const double inflow = (k / 40) % 2 == 0 ? 300.0 * unit(random) : 0.0;
                        const double before = storageOf(t.box, q);
                        const double out = sweep(t, q, qLat, inflow);
                        const double after = storageOf(t.box, q);
                        ASSERT_TRUE(std::isfinite(out));
                        ASSERT_GE(out, 0.0);
                        for (const double v : q) {
                            ASSERT_TRUE(std::isfinite(v));
                            ASSERT_GE(v, 0.0);
                        }
                        const double gain = (inflow + qLat * t.box.dx * 8.0 - out) * dt;
                        const double scale = before + after + (inflow + out) * dt;
                        ASSERT_NEAR(after - before, gain, 1e-13 * scale) << "sub-step " << k;
                        ++subSteps;
                    }
                }
            }
        }
    }
    EXPECT_EQ(subSteps, 3 * 3 * 2 * 2 * 300);
}

}  // namespace
}  // namespace hydro::runoff
