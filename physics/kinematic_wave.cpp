#include "physics/kinematic_wave.h"

namespace hydro::runoff {

double flowLengthOf(std::int32_t flowDir, float cellWidth) {
    switch (flowDir) {
        case 1:
        case 5:
            return kCellHeight;
        case 3:
        case 7:
            return static_cast<double>(cellWidth);
        default: {
            // The east-west square stays a single-precision product.
            const float widthSquared = cellWidth * cellWidth;
            return std::sqrt(kCellHeight * kCellHeight + static_cast<double>(widthSquared));
        }
    }
}

RoutingParameters routingParametersOf(const EventParameters& p) {
    return {p.manningSlope, p.manningChannel, p.channelArea, p.spaceSteps,
            p.timeStep,     p.weight,         p.channelWidth};
}

RoutingSetup setupRouting(const GridCell& cell, const GridCell* downstream,
                          const RoutingParameters& p) {
    RoutingSetup s;
    s.flowLength = flowLengthOf(cell.flowDir, cell.cellWidth);

    double tanSlope = 0.0;
    if (downstream != nullptr) {
        const auto drop = static_cast<double>(cell.elevation - downstream->elevation);
        const double ratio = drop / s.flowLength;
        tanSlope = std::tan(ratio);
        if (tanSlope < 1e-5) {
            tanSlope = 1e-5;
        }
    } else {
        tanSlope = static_cast<double>(0.001F);
    }
    s.slope = std::sin(std::atan(tanSlope));

    if (cell.flowAcc > p.channelArea) {
        const double area = static_cast<double>(cell.flowAcc) * kCellHeight / 1000
                            * static_cast<double>(cell.cellWidth) / 1000;
        s.channelWidth = std::pow(area, p.channelWidth.exponent) * p.channelWidth.coefficient;
        s.manningN = p.manningChannel;
    } else {
        s.channelWidth = static_cast<double>(cell.cellWidth) * kCellHeight / s.flowLength;
        s.manningN = p.manningSlope;
    }

    s.spaceSteps = p.spaceSteps;
    s.weight = p.weight;
    s.dt = p.timeStep;
    s.dx = s.flowLength / p.spaceSteps;
    s.inverseWidth = 1.0 / s.channelWidth;
    s.exponentFactor = 1.0;
    s.exponentM = exponentMOf(s.exponentFactor);
    s.alpha = (1.0 / s.manningN) * std::pow(s.inverseWidth, s.exponentM - 1.0) * std::sqrt(s.slope);
    return s;
}

void setInitialDischarge(const GridCell& cell, const RoutingSetup& setup, double initialRunoff,
                         std::span<double> q) {
    const double r = initialRunoff;
    const double qUp = r * 0.001 / 3600.0 * static_cast<double>(std::int64_t{cell.flowAcc} - 1)
                       * kCellHeight * static_cast<double>(cell.cellWidth);
    const double qAll =
        r * 0.001 / 3600.0 * cell.flowAcc * kCellHeight * static_cast<double>(cell.cellWidth);
    const std::int32_t n = setup.spaceSteps;
    for (std::int32_t i = 0; i <= n; ++i) {
        q[static_cast<std::size_t>(i)] = ((n - i) * qUp + i * qAll) / n;
    }
}

}  // namespace hydro::runoff
