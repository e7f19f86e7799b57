#include "runoff_sim/discharge_output.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace hydro::runoff {

namespace fs = std::filesystem;

namespace {

/// The error "<name> cannot <what>." of an output file.
Error cannot(const char* name, const std::string& what) {
    return Error{std::string(name) + " cannot " + what + ".",
                 what == "open" ? ErrorKind::kCannotOpen : ErrorKind::kInvalid};
}

}  // namespace

void NonFiniteTally::addHour(std::int32_t day, std::int32_t hour, std::span<const float> frame) {
    for (std::size_t k = 0; k < frame.size(); ++k) {
        if (!std::isfinite(frame[k])) {
            if (count_ == 0) {
                firstPosition_ = static_cast<std::int64_t>(k);
                firstDay_ = day;
                firstHour_ = hour;
            }
            ++count_;
        }
    }
}

Status NonFiniteTally::check(std::int32_t columns, double weight) const {
    if (count_ == 0) {
        return success();
    }
    // The explicit end of the scheme is stable only while a wave crosses at most a space step
    // per time step; otherwise only values beyond single precision overflow.
    const char* cause = weight < 0.5
                            ? "the time step may be too long for the explicit scheme at this "
                              "weight; try a shorter time step or a weight of 0.5 or more."
                            : "the rainfall, the initial runoff or the elevations may be too "
                              "large for single precision.";
    std::ostringstream line;
    line << count_ << " hourly discharge values are not finite numbers, the first at column "
         << firstPosition_ % columns + 1 << ", row " << firstPosition_ / columns + 1
         << " (counted from 1 from the west and from the south) on day " << firstDay_ << ", hour "
         << firstHour_ << ": " << cause;
    return Error{line.str()};
}

Status checkOutputFiles(const fs::path& outputDir) {
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
            return cannot(name, "open");
        }
        if (!existed) {
            created.push_back(path);
        }
    }
    return success();
}

namespace {

/// Frames the grid `name` keeps of a run `hoursDone` hours in.
std::int64_t framesKept(std::size_t grid, std::int64_t hoursDone) {
    return grid == 2 ? hoursDone : hoursDone / 24;
}

std::uintmax_t sizeOf(const fs::path& path) {
    std::error_code ec;
    const std::uintmax_t size = fs::file_size(path, ec);
    return ec ? 0 : size;
}

}  // namespace

std::int64_t hoursOnDisk(const fs::path& outputDir, std::size_t frameValues) {
    const std::uintmax_t frameBytes = frameValues * sizeof(float);
    if (frameBytes == 0) {
        return 0;
    }
    const auto hours = static_cast<std::int64_t>(sizeOf(outputDir / kOutputNames[2]) / frameBytes);
    const auto days = static_cast<std::int64_t>(
        std::min(sizeOf(outputDir / kOutputNames[0]), sizeOf(outputDir / kOutputNames[1]))
        / frameBytes);
    return std::min(hours, days * 24 + 23);
}

Result<std::vector<float>> dayFramesOnDisk(const fs::path& outputDir, std::size_t frameValues,
                                           std::int64_t hoursDone) {
    const std::int64_t frames = hoursDone % 24;
    std::vector<float> values(static_cast<std::size_t>(frames) * frameValues);
    if (values.empty()) {
        return values;
    }
    std::ifstream in(outputDir / kOutputNames[2], std::ios::binary);
    in.seekg(static_cast<std::streamoff>((hoursDone - frames)
                                         * static_cast<std::int64_t>(frameValues) * 4));
    in.read(reinterpret_cast<char*>(values.data()),
            static_cast<std::streamsize>(values.size() * sizeof(float)));
    if (!in) {
        return Error{std::string(kOutputNames[2]) + " cannot be read."};
    }
    std::span<std::uint32_t> words(reinterpret_cast<std::uint32_t*>(values.data()), values.size());
    littleEndianInPlace(words);
    return values;
}

Status DischargeFiles::open(const fs::path& outputDir, const results::GridFrameLayout& layout,
                            std::int32_t days, std::int64_t hoursDone) {
    layout_ = layout;
    days_ = days;
    const auto frameBytes = static_cast<std::uintmax_t>(layout.cols)
                            * static_cast<std::uintmax_t>(layout.rows) * sizeof(float);
    for (std::size_t f = 0; f < files_.size(); ++f) {
        const fs::path path = outputDir / kOutputNames[f];
        if (hoursDone > 0) {
            // The frames of the hours done stay; a frame in the making is cut off.
            std::error_code ec;
            fs::resize_file(path,
                            static_cast<std::uintmax_t>(framesKept(f, hoursDone)) * frameBytes, ec);
            if (ec) {
                return cannot(kOutputNames[f], "open");
            }
        }
        if (!files_[f].open(path, hoursDone > 0)) {
            return cannot(kOutputNames[f], "open");
        }
    }
    // A description left from an earlier run must not present the grids being rewritten.
    for (std::size_t f = 0; f < vrtFiles_.size(); ++f) {
        vrtFiles_[f].open(outputDir / kVrtNames[f], std::ios::binary | std::ios::trunc);
        if (!vrtFiles_[f]) {
            return cannot(kVrtNames[f], "open");
        }
    }
    return success();
}

bool DischargeFiles::writeHour(std::span<const float> frame) {
    return files_[2].write(frame) && files_[2].flush();
}

bool DischargeFiles::writeDay(std::span<const float> dailyMean, std::span<const float> dailyMax) {
    return files_[0].write(dailyMean) && files_[0].flush() && files_[1].write(dailyMax)
           && files_[1].flush();
}

Status DischargeFiles::closeGrid(std::size_t grid) {
    if (!files_.at(grid).close()) {
        return cannot(kOutputNames.at(grid), "be written");
    }
    return success();
}

Status DischargeFiles::writeDescriptions() {
    const std::array<std::vector<std::string>, 3> bands{results::dailyBandNames(days_),
                                                        results::dailyBandNames(days_),
                                                        results::hourlyBandNames(days_)};
    for (std::size_t f = 0; f < vrtFiles_.size(); ++f) {
        results::writeGridVrt(vrtFiles_[f], kOutputNames[f], layout_, bands[f]);
        vrtFiles_[f].close();
        if (!vrtFiles_[f]) {
            return cannot(kVrtNames[f], "be written");
        }
    }
    return success();
}

Error DischargeFiles::writeFailure() const {
    for (std::size_t f = 0; f < files_.size(); ++f) {
        if (files_[f].failed()) {
            return cannot(kOutputNames[f], "be written");
        }
    }
    return cannot(kOutputNames[2], "be written");
}

}  // namespace hydro::runoff
