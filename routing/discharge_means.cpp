#include "routing/discharge_means.h"

namespace hydro::runoff {

float hourlyMeanDischarge(std::span<const float> subStepOutflows) {
    HourlyMeanAccumulator sum;
    for (float v : subStepOutflows) {
        sum.add(v);
    }
    return sum.mean(static_cast<std::int32_t>(subStepOutflows.size()));
}

namespace {

DailyDischargeAccumulator accumulateDay(std::span<const float, 24> hourlyMeans) {
    DailyDischargeAccumulator day;
    for (float v : hourlyMeans) {
        day.addHour(v);
    }
    return day;
}

}  // namespace

float dailyMeanDischarge(std::span<const float, 24> hourlyMeans) {
    return accumulateDay(hourlyMeans).mean();
}

float dailyMaxHourlyDischarge(std::span<const float, 24> hourlyMeans) {
    return accumulateDay(hourlyMeans).max();
}

}  // namespace hydro::runoff
