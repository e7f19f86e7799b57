#include "calibrate/search.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <numeric>

namespace hydro::calibrate {

namespace {

std::uint64_t splitmix(std::uint64_t& x) {
    std::uint64_t z = (x += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30U)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27U)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31U);
}

std::uint64_t rotl(std::uint64_t x, int k) {
    return (x << static_cast<unsigned>(k)) | (x >> static_cast<unsigned>(64 - k));
}

/// Ranks from 1, ties sharing their mean rank.
std::vector<double> ranks(std::span<const double> v) {
    std::vector<std::size_t> order(v.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return v[a] < v[b]; });
    std::vector<double> rank(v.size());
    for (std::size_t i = 0; i < order.size();) {
        std::size_t j = i;
        while (j + 1 < order.size() && v[order[j + 1]] == v[order[i]]) {
            ++j;
        }
        const double mean = (static_cast<double>(i) + static_cast<double>(j)) / 2.0 + 1.0;
        for (std::size_t k = i; k <= j; ++k) {
            rank[order[k]] = mean;
        }
        i = j + 1;
    }
    return rank;
}

}  // namespace

Random::Random(std::uint64_t seed) {
    for (std::uint64_t& s : s_) {
        s = splitmix(seed);
    }
}

std::uint64_t Random::next() {
    const std::uint64_t result = rotl(s_[1] * 5, 7) * 9;
    const std::uint64_t t = s_[1] << 17U;
    s_[2] ^= s_[0];
    s_[3] ^= s_[1];
    s_[1] ^= s_[2];
    s_[0] ^= s_[3];
    s_[2] ^= t;
    s_[3] = rotl(s_[3], 45);
    return result;
}

double Random::uniform() {
    return static_cast<double>(next() >> 11U) * 0x1.0p-53;
}

double Random::normal() {
    const double u1 = 1.0 - uniform();  // (0, 1]
    const double u2 = uniform();
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * std::numbers::pi * u2);
}

std::uint64_t Random::below(std::uint64_t n) {
    // Rejection keeps every value equally likely.
    const std::uint64_t limit = ~std::uint64_t{0} - (~std::uint64_t{0} % n);
    std::uint64_t x = next();
    while (x >= limit) {
        x = next();
    }
    return x % n;
}

double Range::valueAt(double u) const {
    if (logarithmic) {
        return std::exp(std::log(min) + u * (std::log(max) - std::log(min)));
    }
    return min + u * (max - min);
}

double Range::unitOf(double value) const {
    const double u = logarithmic
                         ? (std::log(value) - std::log(min)) / (std::log(max) - std::log(min))
                         : (value - min) / (max - min);
    return std::clamp(u, 0.0, 1.0);
}

Dds::Dds(std::span<const Range> ranges, std::int64_t budget, std::uint64_t seed, double r,
         std::int64_t batch)
    : ranges_(ranges.begin(), ranges.end()),
      budget_(budget),
      r_(r),
      batch_(std::max<std::int64_t>(batch, 1)),
      random_(seed) {}

void Dds::startAt(const Point& start) {
    start_ = start;
}

Point Dds::perturb(std::int64_t run) {
    // Each dimension is perturbed with probability 1 - ln(i) / ln(m), i the runs before this
    // one, m the budget; at least one always is.
    const double chance =
        1.0 - std::log(static_cast<double>(run - 1)) / std::log(static_cast<double>(budget_));
    Point x = best_;
    std::vector<std::size_t> chosen;
    for (std::size_t d = 0; d < x.size(); ++d) {
        if (random_.uniform() < chance) {
            chosen.push_back(d);
        }
    }
    if (chosen.empty()) {
        chosen.push_back(static_cast<std::size_t>(random_.below(x.size())));
    }
    for (const std::size_t d : chosen) {
        double v = best_[d] + r_ * random_.normal();
        // Reflected once at a bound; a value still outside goes to the bound it left by.
        if (v < 0.0) {
            v = -v;
            if (v > 1.0) {
                v = 0.0;
            }
        } else if (v > 1.0) {
            v = 2.0 - v;
            if (v < 0.0) {
                v = 1.0;
            }
        }
        x[d] = v;
    }
    return x;
}

std::vector<Point> Dds::propose() {
    pending_.clear();
    if (done_ >= budget_) {
        return pending_;
    }
    if (done_ == 0) {
        if (!start_) {
            Point p(ranges_.size());
            for (double& u : p) {
                u = random_.uniform();
            }
            start_ = p;
        }
        pending_.push_back(*start_);
        return pending_;
    }
    const std::int64_t count = std::min(batch_, budget_ - done_);
    for (std::int64_t k = 0; k < count; ++k) {
        pending_.push_back(perturb(done_ + 1 + k));
    }
    return pending_;
}

void Dds::accept(std::span<const std::optional<double>> objectives) {
    for (std::size_t k = 0; k < pending_.size(); ++k) {
        const std::optional<double>& f = k < objectives.size() ? objectives[k] : std::nullopt;
        const bool first = done_ == 0 && k == 0;
        if (first || (f && (!bestObjective_ || *f >= *bestObjective_))) {
            best_ = pending_[k];
            if (f || first) {
                bestObjective_ = f;
                bestRun_ = done_ + 1 + static_cast<std::int64_t>(k);
            }
        }
    }
    done_ += static_cast<std::int64_t>(pending_.size());
    pending_.clear();
}

std::vector<Point> latinHypercube(std::size_t dimensions, std::int64_t runs, std::uint64_t seed) {
    Random random(seed);
    const auto n = static_cast<std::size_t>(runs);
    std::vector<Point> points(n, Point(dimensions));
    std::vector<std::size_t> strata(n);
    for (std::size_t d = 0; d < dimensions; ++d) {
        std::iota(strata.begin(), strata.end(), std::size_t{0});
        for (std::size_t i = n; i > 1; --i) {
            std::swap(strata[i - 1], strata[static_cast<std::size_t>(random.below(i))]);
        }
        for (std::size_t k = 0; k < n; ++k) {
            points[k][d] =
                (static_cast<double>(strata[k]) + random.uniform()) / static_cast<double>(n);
        }
    }
    return points;
}

std::optional<double> spearman(std::span<const double> x,
                               std::span<const std::optional<double>> y) {
    std::vector<double> a;
    std::vector<double> b;
    for (std::size_t k = 0; k < x.size() && k < y.size(); ++k) {
        if (y[k]) {
            a.push_back(x[k]);
            b.push_back(*y[k]);
        }
    }
    if (a.size() < 3) {
        return std::nullopt;
    }
    const std::vector<double> ra = ranks(a);
    const std::vector<double> rb = ranks(b);
    const double mean = (static_cast<double>(a.size()) + 1.0) / 2.0;
    double sab = 0.0;
    double saa = 0.0;
    double sbb = 0.0;
    for (std::size_t k = 0; k < ra.size(); ++k) {
        sab += (ra[k] - mean) * (rb[k] - mean);
        saa += (ra[k] - mean) * (ra[k] - mean);
        sbb += (rb[k] - mean) * (rb[k] - mean);
    }
    if (saa == 0.0 || sbb == 0.0) {
        return std::nullopt;
    }
    return sab / std::sqrt(saa * sbb);
}

}  // namespace hydro::calibrate
