#pragma once

// The mass-conserving kinematic wave of one cell: the continuity equation in storage form,
// dA/dt + dQ/dx = q, with A = (Q / alpha)^(3/5) per metre of flow path (Manning's exponent
// 5/3), on the nodes of the linear scheme and with its weight theta between the old and the
// new time level. docs/model.md states the scheme; in short:
//
// Node j (1..N) stands for the box of length dx upstream of it, which stores A_j * dx. Over a
// sub-step of dt the box takes in the flux F_(j-1) through its upstream face and the lateral
// inflow q * dx, and gives off through its downstream face
//
//     F_j = theta * Q_j(new) + (1 - theta) * Q_j(old) + K_j,
//
// where K_j, of the old level, is the limited antidiffusive flux of a second-order upwind
// scheme: 1/2 (1 - C) minmod(D_j, D_(j+1)), with D_j = Q_j - Q_(j-1) - q dx the change
// between nodes beyond what the lateral inflow adds (so that the steady profile of a steady
// rain stays exactly steady) and C the Courant number of the node; zero at extrema, where
// C >= 1, and never below -(1 - theta) Q_j(old) (at the last node the change behind stands
// for the one ahead). Without it the scheme is first order and spreads a passing wave over a
// few cells. The balance of the box,
//
//     A_j(new) * dx + dt * theta * Q_j(new) = A_j(old) * dx + dt * (F_(j-1) + q * dx
//                                             - (1 - theta) * Q_j(old) - K_j)      (= R),
//
// has a left side that grows with Q_j(new), so for R > 0 there is exactly one solution,
// found by Newton's method on u = A^(1/3) (the equation is then a polynomial,
// dx u^3 + dt theta alpha u^5 = R) with bisection as a safeguard. F_j is then taken from the
// box's balance itself, (water held and taken in - dx A_j(new)) / dt, so that storage,
// inflow, rain and outflow add up to round-off however closely Newton converged. When R <= 0
// (more would leave than the box holds) the box empties: Q_j(new) = 0 and F_j is all it had.
// The cell's outflow is F_N. Unconditionally stable for theta >= 0.5; no I/O here.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <span>

namespace hydro::runoff {

/// Constants of the conservative scheme shared by all cells of a run.
struct BoxScheme {
    double dt = 0.0;              ///< s
    double weight = 0.0;          ///< theta, 0.5 to 1
    double oneMinusWeight = 0.0;  ///< 1 - theta
    double inverseDt = 0.0;       ///< 1 / dt

    [[nodiscard]] static BoxScheme of(double dt, double weight) {
        return {dt, weight, 1.0 - weight, 1.0 / dt};
    }
};

/// Per-cell constants of the conservative scheme.
struct BoxCell {
    double dx = 0.0;             ///< space step, m
    double alpha = 0.0;          ///< of Q = alpha * A^(5/3)
    double inverseAlpha = 0.0;   ///< 1 / alpha
    double dtWeightAlpha = 0.0;  ///< dt * theta * alpha: the u^5 coefficient of a box
    double courantFactor = 0.0;  ///< 5/3 alpha dt / dx: the Courant number is this times u^2

    [[nodiscard]] static BoxCell of(const BoxScheme& w, double dx, double alpha) {
        return {dx, alpha, 1.0 / alpha, w.dt * w.weight * alpha, 5.0 / 3.0 * alpha * w.dt / dx};
    }
};

/// Newton's method stops once a step changes u by no more than this share of u: quadratic
/// convergence then leaves an error of the order of its square, 1e-12 of u.
inline constexpr double kBoxTolerance = 1e-6;
/// Steps after which the solve settles for its bracket's middle (never reached in practice:
/// the safeguarded iteration converges in a handful).
inline constexpr int kBoxMaxSteps = 200;

/// The state the scheme keeps at a node: u = A^(1/3) = (Q / alpha)^(1/5) of a discharge Q
/// (m³/s); zero for no discharge. Keeping u instead of Q spares every node update a power
/// function: the area is u^3 and the discharge alpha u^5.
[[nodiscard]] inline double boxStateOf(const BoxCell& cell, double q) {
    return q > 0.0 ? std::pow(q * cell.inverseAlpha, 0.2) : 0.0;
}

/// Flow area per metre of flow path (m²) of a node state u.
[[nodiscard]] inline double boxAreaOf(double u) {
    return u * u * u;
}

/// Discharge (m³/s) of a node state u.
[[nodiscard]] inline double boxDischargeOf(const BoxCell& cell, double u) {
    const double u2 = u * u;
    return cell.alpha * (u2 * u2 * u);
}

/// Where the lower of the two terms of dx u^3 + c u^5 alone reaches r: an upper bound of the
/// root, and at most 2^(1/3) times it (at the root the larger term holds at least r / 2).
[[nodiscard]] inline double boxBound(double dx, double c, double r) {
    return std::min(std::cbrt(r / dx), std::pow(r / c, 0.2));
}

/// The u >= 0 with dx u^3 + c u^5 = r for r > 0, starting from `guess` (u of the old level).
/// f(u) = dx u^3 + c u^5 - r is increasing and convex for u > 0, so Newton's method from a
/// point above the root falls monotonically onto it, and a step from below lands above it. A
/// start from a dry box, or from a guess where one term alone exceeds r, goes on from
/// boxBound; a step that leaves the bracket known to hold the root is replaced by bisection
/// (by boxBound while no upper bound is known), so the solve never diverges. It stops once
/// Newton's step changes u by no more than kBoxTolerance of u.
[[nodiscard]] inline double solveBox(double dx, double c, double r, double guess) {
    double lo = 0.0;
    double hi = -1.0;  // no upper bound known yet
    double u = guess > 0.0 ? guess : boxBound(dx, c, r);
    for (int step = 0; step < kBoxMaxSteps; ++step) {
        const double u2 = u * u;
        const double u3 = u2 * u;
        const double storage = dx * u3;
        const double flux = c * u3 * u2;
        const double f = storage + flux - r;
        if (f > 0.0) {
            if (hi < 0.0 && (storage > r || flux > r)) {
                // Far above the root, where Newton's method would creep down: restart from
                // the bound.
                u = boxBound(dx, c, r);
                hi = u;
                continue;
            }
            hi = u;
        } else if (f < 0.0) {
            lo = u;
        } else {
            return u;
        }
        const double slope = 3.0 * dx * u2 + 5.0 * c * u2 * u2;
        double next = u - f / slope;
        // Tested before the bracket: at the root to round-off the step vanishes, and `next`
        // equals the end of the bracket it was taken from.
        if (std::abs(next - u) <= kBoxTolerance * next) {
            return next;
        }
        if (!(next > lo && (hi < 0.0 || next < hi))) {
            next = hi < 0.0 ? boxBound(dx, c, r) : 0.5 * (lo + hi);
        }
        u = next;
    }
    return hi < 0.0 ? u : 0.5 * (lo + hi);
}

/// One sub-step across one cell, node after node, in place. `nodes` holds the cell's state:
/// node 0 the inflow of the last sub-step (m³/s), nodes 1..N their u (boxStateOf); the old
/// level on entry, the new one on return. Returns the cell's outflow: the mean flux through
/// its downstream face over the sub-step, m³/s.
class BoxSweep {
public:
    BoxSweep(const BoxScheme& w, const BoxCell& cell, std::span<double> nodes)
        : w_(&w), cell_(&cell), u_(nodes) {}

    /// `qLat` is the lateral inflow per metre (m²/s), `inflow` the summed outflow of the
    /// upstream cells (m³/s).
    void start(double qLat, double inflow) {
        boxRain_ = qLat * cell_->dx;
        flux_ = inflow;
        oldPrev_ = u_[0];
        u_[0] = inflow;
        oldHere_ = u_.size() > 1 ? boxDischargeOf(*cell_, u_[1]) : 0.0;
    }

    void node(std::size_t j) {
        const BoxScheme& w = *w_;
        const BoxCell& cell = *cell_;
        const double uOld = u_[j];
        const double qOld = oldHere_;
        const double qNext = j + 1 < u_.size() ? boxDischargeOf(cell, u_[j + 1]) : 0.0;
        // The antidiffusive flux K_j of the old level.
        double correction = 0.0;
        const double back = (qOld - oldPrev_) - boxRain_;
        const double ahead = j + 1 < u_.size() ? (qNext - qOld) - boxRain_ : back;
        const double courant = cell.courantFactor * (uOld * uOld);
        if (courant < 1.0 && back * ahead > 0.0) {
            const double slope = std::abs(back) < std::abs(ahead) ? back : ahead;
            correction = 0.5 * (1.0 - courant) * slope;
            const double floor = -w.oneMinusWeight * qOld;
            if (correction < floor) {
                correction = floor;
            }
        }
        oldPrev_ = qOld;
        oldHere_ = qNext;
        const double stored = cell.dx * boxAreaOf(uOld);
        const double available = stored + w.dt * (flux_ + boxRain_);
        const double r = available - w.dt * (w.oneMinusWeight * qOld + correction);
        if (r <= 0.0) {
            // The box gives off all it has and more would leave than there is.
            u_[j] = 0.0;
            flux_ = available * w.inverseDt;
            return;
        }
        const double u = solveBox(cell.dx, cell.dtWeightAlpha, r, uOld);
        u_[j] = u;
        const double out = (available - cell.dx * boxAreaOf(u)) * w.inverseDt;
        flux_ = out > 0.0 ? out : 0.0;
    }

    /// The flux through the face of the last node swept: the cell's outflow once every node
    /// is done.
    [[nodiscard]] double outlet() const { return flux_; }

private:
    const BoxScheme* w_;
    const BoxCell* cell_;
    std::span<double> u_;
    double boxRain_ = 0.0;
    double flux_ = 0.0;
    double oldPrev_ = 0.0;  // discharge of node j - 1, old level
    double oldHere_ = 0.0;  // discharge of node j, old level
};

}  // namespace hydro::runoff
