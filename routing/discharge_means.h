#pragma once

// The means the output frames hold: an hour's mean of its sub-step outflows, a day's mean and
// maximum of its hourly means, each summed in single precision in time order.

#include <cstdint>
#include <span>

namespace hydro::runoff {

/// Running sum of one hour's sub-step outflows: single precision, in sub-step order.
class HourlyMeanAccumulator {
public:
    /// Adds the outflow of the next sub-step, m³/s.
    void add(float outflow) { sum_ += outflow; }
    /// Mean outflow of the hour, m³/s: the sum divided by the number of sub-steps, both in
    /// single precision.
    [[nodiscard]] float mean(std::int32_t subSteps) const {
        return sum_ / static_cast<float>(subSteps);
    }

private:
    float sum_ = 0.0F;
};

/// Running daily mean and daily maximum of one cell's hourly means, fed in hour order.
class DailyDischargeAccumulator {
public:
    /// Adds the mean of the next hour, m³/s. The maximum starts at 0 and takes a mean that is
    /// at least as large, so a mean that is not a number never wins.
    void addHour(float hourlyMean) {
        total_ += hourlyMean;
        if (hourlyMean >= best_) {
            best_ = hourlyMean;
        }
    }
    /// Mean of the day's 24 hourly means, m³/s: their single-precision sum divided by 24.
    [[nodiscard]] float mean() const { return total_ / 24.0F; }
    /// Largest hourly mean of the day, m³/s, never below 0.
    [[nodiscard]] float max() const { return best_; }

private:
    float total_ = 0.0F;
    float best_ = 0.0F;
};

/// Mean of one hour's sub-step outflows: a single-precision sum in sub-step order divided by
/// the number of sub-steps.
[[nodiscard]] float hourlyMeanDischarge(std::span<const float> subStepOutflows);
/// Mean of a day's 24 hourly means, summed in hour order in single precision.
[[nodiscard]] float dailyMeanDischarge(std::span<const float, 24> hourlyMeans);
/// Largest of a day's hourly means, never below 0; a mean that is not a number never wins.
[[nodiscard]] float dailyMaxHourlyDischarge(std::span<const float, 24> hourlyMeans);

}  // namespace hydro::runoff
