#include "runoff_sim/discharge_output.h"

#include <fstream>
#include <vector>

#include "common/console.h"

namespace hydro::runoff {

namespace fs = std::filesystem;

float hourlyMeanDischarge(std::span<const float> subStepOutflows) {
    float sum = 0.0F;
    for (float v : subStepOutflows) {
        sum += v;
    }
    return sum / static_cast<float>(subStepOutflows.size());
}

float dailyMeanDischarge(std::span<const float, 24> hourlyMeans) {
    float total = 0.0F;
    for (float v : hourlyMeans) {
        total += v;
    }
    return total / 24.0F;
}

float dailyMaxHourlyDischarge(std::span<const float, 24> hourlyMeans) {
    float best = 0.0F;
    for (float v : hourlyMeans) {
        if (v >= best) {
            best = v;
        }
    }
    return best;
}

bool checkOutputFiles(const fs::path& outputDir, std::ostream& console) {
    std::vector<const char*> names(kOutputNames.begin(), kOutputNames.end());
    names.insert(names.end(), kVrtNames.begin(), kVrtNames.end());
    std::vector<fs::path> created;
    for (const char* name : names) {
        const fs::path path = outputDir / name;
        std::error_code ec;
        const bool existed = fs::exists(fs::symlink_status(path, ec));
        // Opening for appending creates a missing file and leaves an existing one as it is.
        std::ofstream probe(path, std::ios::binary | std::ios::app);
        if (!probe) {
            for (const auto& p : created) {
                fs::remove(p, ec);
            }
            sayLine(console, name, " cannot open.");
            return false;
        }
        if (!existed) {
            created.push_back(path);
        }
    }
    return true;
}

bool DischargeFiles::open(const fs::path& outputDir, const GridFrameLayout& layout,
                          std::int32_t days, std::ostream& console) {
    layout_ = layout;
    days_ = days;
    for (std::size_t f = 0; f < files_.size(); ++f) {
        if (!files_[f].open(outputDir / kOutputNames[f])) {
            sayLine(console, kOutputNames[f], " cannot open.");
            return false;
        }
    }
    // A description left from an earlier run must not present the grids being rewritten.
    for (std::size_t f = 0; f < vrtFiles_.size(); ++f) {
        vrtFiles_[f].open(outputDir / kVrtNames[f], std::ios::binary | std::ios::trunc);
        if (!vrtFiles_[f]) {
            sayLine(console, kVrtNames[f], " cannot open.");
            return false;
        }
    }
    return true;
}

bool DischargeFiles::writeHour(std::span<const float> frame) {
    return files_[2].write(frame) && files_[2].flush();
}

bool DischargeFiles::writeDay(std::span<const float> dailyMean, std::span<const float> dailyMax) {
    return files_[0].write(dailyMean) && files_[0].flush() && files_[1].write(dailyMax)
           && files_[1].flush();
}

bool DischargeFiles::finish(std::ostream& console) {
    for (std::size_t f = 0; f < files_.size(); ++f) {
        sayLine(console, "Write ./output/", kOutputNames[f]);
        if (!files_[f].close()) {
            sayLine(console, kOutputNames[f], " cannot be written.");
            return false;
        }
    }
    const std::array<std::vector<std::string>, 3> bands{
        dailyBandNames(days_), dailyBandNames(days_), hourlyBandNames(days_)};
    for (std::size_t f = 0; f < vrtFiles_.size(); ++f) {
        writeGridVrt(vrtFiles_[f], kOutputNames[f], layout_, bands[f]);
        vrtFiles_[f].close();
        if (!vrtFiles_[f]) {
            sayLine(console, kVrtNames[f], " cannot be written.");
            return false;
        }
    }
    return true;
}

void DischargeFiles::reportFailure(std::ostream& console) const {
    for (std::size_t f = 0; f < files_.size(); ++f) {
        if (files_[f].failed()) {
            sayLine(console, kOutputNames[f], " cannot be written.");
            return;
        }
    }
}

}  // namespace hydro::runoff
