#pragma once

// Volumes summed exactly: each value is rounded once to a whole number of 2^-32 m³ and the
// sums are 128-bit integers, so that a sum is the same whatever the order of its terms (the
// threads and ranks of a run add cells in any order) and never loses what it summed.

#include <cmath>
#include <cstdint>

namespace hydro {

/// A sum of volumes in m³, exact in units of 2^-32 m³ (about 2.3e-10 m³). A value that is not
/// a finite number or is beyond 2^64 m³ makes the sum undefined (finite() false) instead of
/// wrapping round; 2^30 values of that size still fit.
class ExactVolume {
public:
    void add(double m3) {
        const double scaled = m3 * kUnitsPerM3;
        if (!(std::abs(scaled) < kLimit)) {
            finite_ = false;
            return;
        }
        units_ += static_cast<Units>(std::nearbyint(scaled));
    }
    void add(const ExactVolume& other) {
        units_ += other.units_;
        finite_ = finite_ && other.finite_;
    }
    void subtract(const ExactVolume& other) {
        units_ -= other.units_;
        finite_ = finite_ && other.finite_;
    }
    [[nodiscard]] bool finite() const { return finite_; }
    /// The sum in m³, rounded once.
    [[nodiscard]] double m3() const { return static_cast<double>(units_) / kUnitsPerM3; }

    __extension__ using Units = __int128;
    /// The sum as it is held, for storing it without loss, and back.
    [[nodiscard]] Units units() const { return units_; }
    [[nodiscard]] static ExactVolume ofUnits(Units units, bool finite) {
        ExactVolume v;
        v.units_ = units;
        v.finite_ = finite;
        return v;
    }

private:
    static constexpr double kUnitsPerM3 = 0x1p32;
    /// Far enough below 2^127 that a sum of 2^30 such values cannot overflow.
    static constexpr double kLimit = 0x1p96;
    Units units_ = 0;
    bool finite_ = true;
};

}  // namespace hydro
