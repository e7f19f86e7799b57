#include "case/discharge_grid.h"

namespace hydro {

Status checkWholeFrames(const std::string& name, std::uint64_t fileBytes, const GridShape& shape) {
    const std::uint64_t frameBytes = static_cast<std::uint64_t>(shape.cellCount()) * 4U;
    if (frameBytes == 0 || fileBytes % frameBytes == 0) {
        return success();
    }
    return Error{name + " holds " + std::to_string(fileBytes)
                 + " bytes, not a whole number of frames of " + std::to_string(shape.cols)
                 + " columns x " + std::to_string(shape.rows) + " rows ("
                 + std::to_string(frameBytes)
                 + " bytes each): it was written for another grid than param-event.dat describes."};
}

Status DischargeGrid::open(const std::filesystem::path& path, const GridShape& shape,
                           std::uint64_t framesNeeded) {
    name_ = path.filename().string();
    shape_ = shape;
    if (!reader_.open(path)) {
        return Error{name_ + " cannot open.", ErrorKind::kCannotOpen};
    }
    const auto values = reader_.valueCount();
    if (!values) {
        return Error{name_ + " is not a regular file: its frames cannot be told."};
    }
    std::error_code ec;
    const auto bytes = std::filesystem::file_size(path, ec);
    if (const Status problem = checkWholeFrames(name_, ec ? *values * 4U : bytes, shape);
        !problem) {
        return problem.error();
    }
    const auto frameValues = static_cast<std::uint64_t>(shape.cellCount());
    frames_ = frameValues == 0 ? 0 : *values / frameValues;
    if (frames_ < framesNeeded) {
        return Error{name_ + " holds " + std::to_string(frames_) + " frames of "
                     + std::to_string(shape.cols) + " columns x " + std::to_string(shape.rows)
                     + " rows, but " + std::to_string(framesNeeded) + " are needed."};
    }
    return success();
}

Error DischargeGrid::readError() const {
    return Error{name_ + " cannot be read."};
}

Status DischargeGrid::readFrame(std::uint64_t frame, std::span<float> out) {
    const auto frameValues = static_cast<std::uint64_t>(shape_.cellCount());
    if (!reader_.seekValue(frame * frameValues) || reader_.read(out) != out.size()) {
        return readError();
    }
    return success();
}

Status DischargeGrid::readValues(std::uint64_t frame, std::uint64_t position,
                                 std::span<float> out) {
    const auto frameValues = static_cast<std::uint64_t>(shape_.cellCount());
    if (!reader_.seekValue(frame * frameValues + position) || reader_.read(out) != out.size()) {
        return readError();
    }
    return success();
}

Result<std::vector<float>> DischargeGrid::readCellSeries(std::int64_t position,
                                                         std::uint64_t count) {
    const auto frameValues = static_cast<std::uint64_t>(shape_.cellCount());
    std::vector<float> series(static_cast<std::size_t>(count));
    for (std::uint64_t f = 0; f < count; ++f) {
        if (!reader_.seekValue(f * frameValues + static_cast<std::uint64_t>(position))
            || reader_.read(std::span<float>(&series[static_cast<std::size_t>(f)], 1)) != 1) {
            return readError();
        }
    }
    return series;
}

}  // namespace hydro
