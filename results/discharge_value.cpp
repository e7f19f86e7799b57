#include "results/discharge_value.h"

#include <cmath>

namespace hydro::results {

std::optional<Error> nonFiniteDischarge(const std::string& fileName, const char* frameUnit,
                                        const GridShape& shape, std::uint64_t frame,
                                        std::int64_t position, float value) {
    if (std::isfinite(value)) {
        return std::nullopt;
    }
    const char* what = std::isnan(value) ? "NaN" : (value > 0.0F ? "inf" : "-inf");
    return Error{fileName + " holds " + what + " in " + frameUnit + " " + std::to_string(frame + 1)
                 + " at " + shape.userCellName(shape.indexOfFilePosition(position))
                 + ": the run that wrote it failed, or the file is damaged."};
}

}  // namespace hydro::results
