#include "physics/kinematic_wave.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <vector>

#include "routing/rain_cell.h"

namespace hydro::runoff {
namespace {

GridCell riverCell(std::int32_t flowDir, std::int32_t flowAcc, float width, float elevation) {
    GridCell c;
    c.flowDir = flowDir;
    c.flowAcc = flowAcc;
    c.cellWidth = width;
    c.elevation = elevation;
    c.riverNum = 1;
    return c;
}

const RoutingParameters kParams{0.6, 0.03, 50, 4, 60, 0.6, {}};

TEST(KinematicWave, FlowLengthOfEveryCode) {
    EXPECT_NEAR(flowLengthOf(2, 800.0F), 1224.168109, 5e-7);
    const double diagonal = std::sqrt(926.6 * 926.6 + static_cast<double>(800.0F * 800.0F));
    for (std::int32_t code : {0, 2, 4, 6, 8}) {
        SCOPED_TRACE(code);
        EXPECT_EQ(flowLengthOf(code, 800.0F), diagonal);
    }
    EXPECT_EQ(flowLengthOf(1, 759.15F), 926.6);
    EXPECT_EQ(flowLengthOf(5, 759.15F), 926.6);
    EXPECT_EQ(flowLengthOf(3, 759.15F), static_cast<double>(759.15F));
    EXPECT_EQ(flowLengthOf(7, 759.15F), static_cast<double>(759.15F));
    // The width's square is a single-precision product.
    const float w = 759.1522F;
    EXPECT_EQ(flowLengthOf(4, w), std::sqrt(926.6 * 926.6 + static_cast<double>(w * w)));
}

TEST(KinematicWave, ChannelAndSlopeCells) {
    const GridCell down = riverCell(5, 1, 800.0F, 90.0F);
    const GridCell channel = riverCell(2, 1000, 800.0F, 100.0F);
    const RoutingSetup s = setupRouting(channel, &down, kParams);
    // 741.28 km2 of basin give a flow width of 98.21587000 m.
    EXPECT_NEAR(s.channelWidth, 98.21587000, 5e-9);
    EXPECT_EQ(s.manningN, 0.03);
    // The drop ratio g of 10 m over the diagonal goes through the tangent and back through
    // the arctangent, so the slope is sin(g); leaving out the tangent, or taking the arctangent
    // in its place, is off by 1.8e-7 or more here.
    EXPECT_NEAR(s.slope, std::sin(10.0 / s.flowLength), 1e-15);
    // The model's exponent is 0.666667 + 1, not 5/3.
    EXPECT_NEAR(s.exponentM, 1.666667, 1e-15);
    // alpha turns Manning's law for a wide reach into Q = alpha * A^m: water 0.4 m deep over
    // the width B carries (1/n) * B * y^m * sqrt(S), with y as the hydraulic radius.
    const double depth = 0.4;
    const double manningQ =
        (1.0 / 0.03) * s.channelWidth * std::pow(depth, 1.666667) * std::sqrt(s.slope);
    EXPECT_NEAR(s.alpha * std::pow(s.channelWidth * depth, s.exponentM), manningQ,
                1e-12 * manningQ);
    EXPECT_NEAR(s.dx * 4, 1224.168109, 5e-7);
    EXPECT_EQ(s.dt, 60);
    EXPECT_EQ(s.weight, 0.6);

    // flowAcc equal to the threshold is a slope cell: the cell area over the flow length.
    const RoutingSetup atThreshold = setupRouting(riverCell(3, 50, 800.0F, 95.0F), &down, kParams);
    EXPECT_EQ(atThreshold.manningN, 0.6);
    // Flowing east, the reach is as long as the cell is wide: the flow width is 926.6 m.
    EXPECT_NEAR(atThreshold.channelWidth, 926.6, 1e-12);
    const RoutingSetup above = setupRouting(riverCell(3, 51, 800.0F, 95.0F), &down, kParams);
    EXPECT_EQ(above.manningN, 0.03);
}

TEST(KinematicWave, CelerityIsTheSlopeOfTheRatingCurve) {
    // The celerity the scheme and make_case's Courant check share is dQ/dA of Q = alpha * A^m:
    // checked against a central difference of the rating curve, for a channel and a slope cell.
    const GridCell down = riverCell(5, 1, 800.0F, 90.0F);
    for (const std::int32_t acc : {1000, 20}) {
        SCOPED_TRACE(acc);
        const RoutingSetup s = setupRouting(riverCell(2, acc, 800.0F, 100.0F), &down, kParams);
        EXPECT_EQ(celerityOf(s, 0.0), 0.0);
        for (const double q : {0.01, 1.0, 250.0}) {
            const double area = std::pow(q / s.alpha, 1.0 / s.exponentM);
            const double h = area * 1e-6;
            const double slope = (s.alpha * std::pow(area + h, s.exponentM)
                                  - s.alpha * std::pow(area - h, s.exponentM))
                                 / (2.0 * h);
            EXPECT_NEAR(celerityOf(s, q), slope, 1e-6 * slope) << "q " << q;
        }
        // More water travels faster (m > 1).
        EXPECT_LT(celerityOf(s, 1.0), celerityOf(s, 2.0));
    }
}

TEST(KinematicWave, SlopeFloorAndNoDownstream) {
    const GridCell up = riverCell(5, 3, 760.0F, 100.0F);
    // Level and uphill links take the floor of 1e-5.
    for (float downElevation : {100.0F, 100.5F}) {
        SCOPED_TRACE(downElevation);
        const GridCell down = riverCell(5, 1, 760.0F, downElevation);
        EXPECT_EQ(setupRouting(up, &down, kParams).slope, std::sin(std::atan(1e-5)));
    }
    const RoutingSetup none = setupRouting(riverCell(0, 3, 760.0F, 100.0F), nullptr, kParams);
    EXPECT_NEAR(none.slope, 0.000999999547497755, 1e-18);
    EXPECT_EQ(none.slope, std::sin(std::atan(static_cast<double>(0.001F))));
}

TEST(KinematicWave, InitialProfileIsTheSteadyRunoff) {
    const GridCell cell = riverCell(5, 1, 800.0F, 0.0F);
    const RoutingSetup s = setupRouting(cell, nullptr, kParams);
    std::vector<double> q(5);
    // 0.1 mm/hr over one cell of 926.6 m x 800 m: 74.128 m3 an hour at the outlet, nothing
    // entering at the upstream end, linear in between.
    setInitialDischarge(cell, s, 0.1, q);
    EXPECT_EQ(q[0], 0.0);
    EXPECT_NEAR(q[4], 0.0205911111111, 1e-13);
    EXPECT_NEAR(q[2], 0.0205911111111 / 2, 1e-13);

    // Seven cells at 2.5 mm/hr: six cells' runoff enters, seven cells' leaves, in equal steps.
    const GridCell big = riverCell(5, 7, 800.0F, 0.0F);
    setInitialDischarge(big, s, 2.5, q);
    EXPECT_NEAR(q[0], 3.08866666667, 1e-11);
    EXPECT_NEAR(q[4], 3.60344444444, 1e-11);
    for (std::size_t j = 1; j < q.size(); ++j) {
        EXPECT_NEAR(q[j] - q[j - 1], (3.60344444444 - 3.08866666667) / 4, 1e-11);
    }
}

TEST(KinematicWave, WorkedSubSteps) {
    const double m = 1.666667;
    const WaveScheme w = WaveScheme::of(2, 60, 0.5, m);
    const WaveCell cell{std::pow(1.0, 1.0 / m) * m, 463.3, 60.0 / 463.3};
    std::array<double, 3> q{1.0, 1.0, 1.0};
    EXPECT_EQ(routeSubStep(w, cell, 0.0, 2.0, q), q[2]);
    EXPECT_EQ(q[0], 2.0);
    EXPECT_NEAR(q[1], 1.105083599, 5e-10);
    EXPECT_NEAR(q[2], 1.010331584, 5e-10);

    q = {0.0, 0.0, 0.0};
    routeSubStep(w, cell, 0.001, 0.0, q);
    EXPECT_EQ(q[0], 0.0);
    EXPECT_NEAR(q[1], 0.03535256804, 5e-12);
    EXPECT_NEAR(q[2], 0.03723376149, 5e-12);
}

/// The sub-step written out with all four powers, as the model states it.
void literalSubStep(const WaveScheme& w, double alpha, double m, double dx, double qLat,
                    double inflow, std::vector<double>& qOld) {
    std::vector<double> qNew(qOld.size());
    const auto celerity = [&](double q) {
        return std::pow(alpha, 1.0 / m) * m * std::pow(q, (m - 1.0) / m);
    };
    const double dt = w.dt;
    const double theta = w.weight;
    qNew[0] = inflow;
    for (std::size_t j = 1; j < qOld.size(); ++j) {
        const double c1 = celerity(qOld[j - 1]);
        const double est = (qOld[j - 1] + qNew[j - 1]) * 0.5 + qLat * dx;
        const double qStar = est > qOld[j] ? est : qOld[j];
        const double c2 = celerity(qStar);
        const double c = (c1 + c2) * 0.5;
        const double num = theta * c * (dt / dx * qNew[j - 1] + dt * qLat) + qOld[j]
                           - (1 - theta) * c * dt * ((qOld[j] - qOld[j - 1]) / dx - qLat);
        const double den = theta * c * dt / dx + 1;
        qNew[j] = num / den;
        if (qNew[j] < 0) {
            qNew[j] = 0;
        }
    }
    qOld = qNew;
}

TEST(KinematicWave, SavedPowersChangeNoBit) {
    const double m = exponentMOf(1.0);
    for (double theta : {0.0, 0.6, 1.0}) {
        for (double alpha : {0.37, 2.9}) {
            SCOPED_TRACE(theta);
            const WaveScheme w = WaveScheme::of(4, 60, theta, m);
            const WaveCell cell{std::pow(alpha, 1.0 / m) * m, 231.4, 60.0 / 231.4};
            std::vector<double> literal{0.5, 0.0, 0.7, 0.7, 2.0};
            std::vector<double> fast = literal;
            for (int s = 0; s < 500; ++s) {
                // Rain on, then off; inflow rising, steady, then zero.
                const double qLat = (s / 50) % 2 == 0 ? 0.0004 : 0.0;
                const double inflow = s < 100 ? 0.01 * s : (s < 300 ? 1.0 : 0.0);
                literalSubStep(w, alpha, m, 231.4, qLat, inflow, literal);
                routeSubStep(w, cell, qLat, inflow, fast);
                ASSERT_EQ(fast, literal) << "sub-step " << s;
            }
        }
    }
}

TEST(KinematicWave, ExplicitFormForZeroWeight) {
    const double m = exponentMOf(1.0);
    const WaveScheme w = WaveScheme::of(1, 30, 0.0, m);
    const WaveCell cell{std::pow(0.8, 1.0 / m) * m, 900.0, 30.0 / 900.0};
    std::array<double, 2> q{0.3, 0.6};
    const double c1 = cell.celerityFactor * std::pow(0.3, (m - 1.0) / m);
    const double est = (0.3 + 0.4) * 0.5 + 0.0002 * 900.0;
    const double c2 = cell.celerityFactor * std::pow(est > 0.6 ? est : 0.6, (m - 1.0) / m);
    const double c = (c1 + c2) * 0.5;
    routeSubStep(w, cell, 0.0002, 0.4, q);
    EXPECT_EQ(q[1], 0.6 - c * 30.0 * ((0.6 - 0.3) / 900.0 - 0.0002));
}

TEST(KinematicWave, ZeroStaysZeroAndSteadyStaysSteady) {
    const double m = exponentMOf(1.0);
    const WaveScheme w = WaveScheme::of(4, 60, 0.6, m);
    const GridCell cell = riverCell(5, 12, 760.0F, 0.0F);
    const RoutingSetup s = setupRouting(cell, nullptr, kParams);
    const WaveCell wc = WaveCell::of(s);
    std::vector<double> zero(5, 0.0);
    for (int k = 0; k < 100; ++k) {
        EXPECT_EQ(routeSubStep(w, wc, 0.0, 0.0, zero), 0.0);
    }
    // The initial profile under the same runoff as lateral inflow, fed the upstream runoff.
    std::vector<double> q(5);
    setInitialDischarge(cell, s, 3.0, q);
    const std::vector<double> start = q;
    const double qLat = lateralInflow(3.0F, cell.cellWidth, s.flowLength);
    for (int k = 0; k < 1000; ++k) {
        routeSubStep(w, wc, qLat, start[0], q);
    }
    for (std::size_t j = 0; j < q.size(); ++j) {
        EXPECT_NEAR(q[j], start[j], 1e-12 * start[4]);
    }
}

TEST(KinematicWave, ConstantRainReachesTheEquilibriumOutflow) {
    const double m = exponentMOf(1.0);
    for (std::int32_t steps : {4, 8}) {
        SCOPED_TRACE(steps);
        RoutingParameters p = kParams;
        p.spaceSteps = steps;
        const GridCell cell = riverCell(2, 1, 755.0F, 10.0F);
        const GridCell down = riverCell(2, 1, 755.0F, 5.0F);
        const RoutingSetup s = setupRouting(cell, &down, p);
        const WaveScheme w = WaveScheme::of(steps, 60, 0.6, m);
        const WaveCell wc = WaveCell::of(s);
        std::vector<double> q(static_cast<std::size_t>(steps) + 1, 0.0);
        const float rain = 20.0F;  // mm/hr
        const double qLat = lateralInflow(rain, cell.cellWidth, s.flowLength);
        float out = 0.0F;
        for (int k = 0; k < 60 * 24 * 20; ++k) {
            out = static_cast<float>(routeSubStep(w, wc, qLat, 0.0, q));
        }
        // Rain intensity times the cell's area.
        const double expected = 20.0 * 0.001 / 3600.0 * 926.6 * 755.0;
        EXPECT_EQ(out, static_cast<float>(expected));
    }
}

}  // namespace
}  // namespace hydro::runoff
