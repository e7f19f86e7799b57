#pragma once

// The two ways a calibration chooses the values it runs: Dynamically Dimensioned Search
// (Tolson and Shoemaker, 2007), which perturbs the best values so far in fewer dimensions as
// the budget runs out, and a Latin hypercube sweep of the whole ranges for sensitivity.
// Both work in unit space (each parameter's range mapped onto [0, 1], linearly or
// logarithmically) and draw from one generator of their own, so that a seed fixes every value
// on every machine, at any thread or rank count.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "members/member_runs.h"

namespace hydro::calibrate {

/// xoshiro256** seeded through splitmix64: the same numbers from the same seed everywhere.
class Random {
public:
    explicit Random(std::uint64_t seed);
    [[nodiscard]] std::uint64_t next();
    /// Uniform on [0, 1), 53 bits.
    [[nodiscard]] double uniform();
    /// Standard normal (Box-Muller, one value per two uniforms).
    [[nodiscard]] double normal();
    /// Uniform integer on [0, n), n > 0.
    [[nodiscard]] std::uint64_t below(std::uint64_t n);

private:
    std::uint64_t s_[4]{};
};

/// A varied parameter and its range.
struct Range {
    members::Parameter parameter = members::Parameter::kManningSlope;
    double min = 0.0;
    double max = 0.0;
    bool logarithmic = false;  ///< sampled uniformly in log(value); min > 0

    /// The value at unit coordinate u in [0, 1].
    [[nodiscard]] double valueAt(double u) const;
    /// The unit coordinate of `value` (inside the range).
    [[nodiscard]] double unitOf(double value) const;
};

/// One proposal: its unit coordinates, one per range.
using Point = std::vector<double>;

/// DDS over `ranges` with a budget of `budget` runs (>= 1) and neighbourhood perturbation `r`
/// (0.2 as published). Run 1 is the start point; the proposals of later runs are perturbations
/// of the best point so far, `batch` of them from the same best point (1 as published; a
/// larger batch lets runs go side by side and changes the sequence, not its quality much), the
/// best point taking each in run order when its objective is at least as good.
class Dds {
public:
    Dds(std::span<const Range> ranges, std::int64_t budget, std::uint64_t seed, double r = 0.2,
        std::int64_t batch = 1);
    /// Sets run 1's point (the case's own values, each inside its range); otherwise it is drawn.
    void startAt(const Point& start);
    /// The points of the next batch (empty once the budget is spent), runs numbered from
    /// `nextRun()`.
    [[nodiscard]] std::vector<Point> propose();
    /// Takes the objectives of the batch proposed last, in its order; an empty objective (not
    /// defined for that run) never wins.
    void accept(std::span<const std::optional<double>> objectives);
    [[nodiscard]] std::int64_t nextRun() const { return done_ + 1; }
    [[nodiscard]] std::int64_t bestRun() const { return bestRun_; }

private:
    [[nodiscard]] Point perturb(std::int64_t run);

    std::vector<Range> ranges_;
    std::int64_t budget_;
    double r_;
    std::int64_t batch_;
    Random random_;
    std::optional<Point> start_;
    Point best_;
    std::optional<double> bestObjective_;
    std::int64_t bestRun_ = 0;
    std::int64_t done_ = 0;
    std::vector<Point> pending_;
};

/// A Latin hypercube of `runs` points over `dimensions` unit coordinates: each coordinate's
/// runs fall one in each of `runs` equal strata, the strata shuffled per coordinate.
[[nodiscard]] std::vector<Point> latinHypercube(std::size_t dimensions, std::int64_t runs,
                                                std::uint64_t seed);

/// Spearman's rank correlation of `x` and `y` over the pairs where y has a value (ties get
/// their mean rank); empty with fewer than 3 pairs or a constant side.
[[nodiscard]] std::optional<double> spearman(std::span<const double> x,
                                             std::span<const std::optional<double>> y);

}  // namespace hydro::calibrate
