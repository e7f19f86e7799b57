#pragma once

// The one-dimensional kinematic wave of one cell: Q = alpha * A^m with Manning friction,
// solved node after node with weighted implicit finite differences. Every formula is
// evaluated left to right exactly as the model defines it: regrouping changes result bits.
// No I/O here.

#include <cmath>
#include <cstdint>
#include <span>

#include "case/event_parameters.h"
#include "case/grid_cell.h"

namespace hydro::runoff {

/// The event settings that every cell's set-up takes.
struct RoutingParameters {
    double manningSlope = 0.0;
    double manningChannel = 0.0;
    std::int32_t channelArea = 0;  ///< flow accumulation above which a cell is a channel
    std::int32_t spaceSteps = 0;
    std::int32_t timeStep = 0;     ///< s
    double weight = 0.0;           ///< theta of the scheme
    ChannelWidthLaw channelWidth;  ///< the flow width of channel cells
};

/// The routing settings of event parameters `p`.
[[nodiscard]] RoutingParameters routingParametersOf(const EventParameters& p);

/// The hydraulic constants of one cell.
struct RoutingSetup {
    double flowLength = 0.0;    ///< m, across the cell towards its downstream neighbour
    double slope = 0.0;         ///< sine of the bed slope angle
    double channelWidth = 0.0;  ///< flow width, m
    double manningN = 0.0;
    double inverseWidth = 0.0;
    double exponentFactor = 0.0;
    double exponentM = 0.0;  ///< m of Q = alpha * A^m
    double alpha = 0.0;
    std::int32_t spaceSteps = 0;
    double dx = 0.0;      ///< m
    std::int32_t dt = 0;  ///< s
    double weight = 0.0;
};

/// Flow length of a D8 code: 926.6 m north-south, `cellWidth` east-west, the diagonal for
/// the diagonal codes and for 0 (no downstream neighbour). Codes outside 0..8 are never
/// routed (the topology pass refuses them) and give the diagonal here.
[[nodiscard]] double flowLengthOf(std::int32_t flowDir, float cellWidth);

/// Derives a cell's hydraulic constants. `downstream` is the cell it drains into, or null.
[[nodiscard]] RoutingSetup setupRouting(const GridCell& cell, const GridCell* downstream,
                                        const RoutingParameters& p);

/// Fills `q` (spaceSteps + 1 nodes) with the steady profile of a uniform runoff
/// `initialRunoff` (mm/hr): the runoff of the flowAcc - 1 upstream cells at node 0, of all
/// flowAcc cells at the outlet, linear in between.
void setInitialDischarge(const GridCell& cell, const RoutingSetup& setup, double initialRunoff,
                         std::span<double> q);

/// The kinematic-wave exponent every cell gets: 0.666667 * 1.0 + 1.0.
[[nodiscard]] inline double exponentMOf(double exponentFactor) {
    return 0.666667 * exponentFactor + 1.0;
}

/// Constants of the scheme shared by all cells of a run.
struct WaveScheme {
    std::int32_t spaceSteps = 0;
    double dt = 0.0;              ///< time step as a double, s
    double weight = 0.0;          ///< theta
    double oneMinusWeight = 0.0;  ///< 1 - theta
    double powExponent = 0.0;     ///< (m - 1) / m of the celerity

    [[nodiscard]] static WaveScheme of(std::int32_t spaceSteps, std::int32_t timeStep,
                                       double weight, double exponentM) {
        return {spaceSteps, static_cast<double>(timeStep), weight, 1.0 - weight,
                (exponentM - 1.0) / exponentM};
    }
};

/// Per-cell constants of the scheme.
struct WaveCell {
    double celerityFactor = 0.0;  ///< pow(alpha, 1 / m) * m, the celerity's leading factor
    double dx = 0.0;              ///< space step, m
    double dtOverDx = 0.0;        ///< dt / dx

    [[nodiscard]] static WaveCell of(const RoutingSetup& s) {
        return {std::pow(s.alpha, 1.0 / s.exponentM) * s.exponentM, s.dx,
                static_cast<double>(s.dt) / s.dx};
    }
};

/// pow(q, exponent) as the celerity needs it; pow of zero is zero for the positive exponent,
/// so the library call is saved there.
[[nodiscard]] inline double celerityPower(double q, double exponent) {
    return q == 0.0 ? 0.0 : std::pow(q, exponent);
}

/// The wave celerity of a cell, m/s, from the power of its discharge that `celerityPower` gives
/// (the sweep keeps those powers from node to node).
[[nodiscard]] inline double celerityOfPower(const WaveCell& cell, double power) {
    return cell.celerityFactor * power;
}

/// The wave celerity of a cell at discharge `q` (m3/s), m/s, as the sweep takes it:
/// pow(alpha, 1 / m) * m * pow(q, (m - 1) / m).
[[nodiscard]] inline double celerity(const WaveScheme& w, const WaveCell& cell, double q) {
    return celerityOfPower(cell, celerityPower(q, w.powExponent));
}

/// `celerity` straight from a cell's hydraulic constants.
[[nodiscard]] inline double celerityOf(const RoutingSetup& s, double q) {
    return celerity(WaveScheme::of(s.spaceSteps, s.dt, s.weight, s.exponentM), WaveCell::of(s), q);
}

/// One sub-step across one cell, node after node. `start` takes the lateral inflow per metre
/// and the summed outflow of the upstream cells; each `node(j)` for j = 1..spaceSteps then
/// turns the previous sub-step's discharge at node j (qOld) into this sub-step's (qNew), in
/// place. Two sweeps of independent cells may be interleaved node by node: their arithmetic
/// does not mix, and the processor overlaps the library calls of one with the other's.
class NodeSweep {
public:
    NodeSweep(const WaveScheme& w, const WaveCell& cell, std::span<double> q)
        : w_(&w), cell_(&cell), q_(q) {}

    void start(double qLat, double inflow) {
        qLat_ = qLat;
        dtQLat_ = w_->dt * qLat;
        lateralStep_ = qLat * cell_->dx;
        oldPrev_ = q_[0];
        newPrev_ = inflow;
        q_[0] = inflow;
        powOldPrev_ = celerityPower(oldPrev_, w_->powExponent);
    }

    void node(std::size_t j) {
        const WaveScheme& w = *w_;
        const double dt = w.dt;
        const double dx = cell_->dx;
        const double oldJ = q_[j];
        const double c1 = celerityOfPower(*cell_, powOldPrev_);
        const double est = (oldPrev_ + newPrev_) * 0.5 + lateralStep_;
        double powStar = 0.0;
        double powOldJ = 0.0;
        if (est > oldJ) {
            powStar = celerityPower(est, w.powExponent);
            if (j < q_.size() - 1) {
                powOldJ = celerityPower(oldJ, w.powExponent);
            }
        } else {
            // qStar is qOld[j] itself: its power serves the next node's c1 as well.
            powStar = celerityPower(oldJ, w.powExponent);
            powOldJ = powStar;
        }
        const double c2 = celerityOfPower(*cell_, powStar);
        const double c = (c1 + c2) * 0.5;
        const double numerator = w.weight * c * (cell_->dtOverDx * newPrev_ + dtQLat_) + oldJ
                                 - w.oneMinusWeight * c * dt * ((oldJ - oldPrev_) / dx - qLat_);
        const double denominator = w.weight * c * dt / dx + 1.0;
        double qNew = numerator / denominator;
        if (qNew < 0.0) {
            qNew = 0.0;
        }
        q_[j] = qNew;
        oldPrev_ = oldJ;
        newPrev_ = qNew;
        powOldPrev_ = powOldJ;
    }

    /// Discharge at the last node swept: the outlet once every node is done.
    [[nodiscard]] double outlet() const { return newPrev_; }

private:
    const WaveScheme* w_;
    const WaveCell* cell_;
    std::span<double> q_;
    double qLat_ = 0.0;
    double dtQLat_ = 0.0;
    double lateralStep_ = 0.0;
    double oldPrev_ = 0.0;     // qOld[j - 1]
    double newPrev_ = 0.0;     // qNew[j - 1]
    double powOldPrev_ = 0.0;  // pow(qOld[j - 1], (m - 1) / m)
};

/// One sub-step across one cell. On entry `q` holds the node discharges of the previous
/// sub-step (qOld), on return those of this sub-step (qNew); `inflow` is the summed outflow of
/// the upstream cells and `qLat` the lateral inflow per metre. Returns the outlet discharge.
inline double routeSubStep(const WaveScheme& w, const WaveCell& cell, double qLat, double inflow,
                           std::span<double> q) {
    NodeSweep sweep(w, cell, q);
    sweep.start(qLat, inflow);
    for (std::size_t j = 1; j < q.size(); ++j) {
        sweep.node(j);
    }
    return sweep.outlet();
}

}  // namespace hydro::runoff
