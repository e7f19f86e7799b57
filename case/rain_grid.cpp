#include "case/rain_grid.h"

#include <cmath>
#include <limits>
#include <string>

#include "common/console.h"
#include "common/number_stream.h"

namespace hydro {

void RainCell::initRainCell(float lat, float lon, std::int32_t column, std::int32_t row) {
    latDeg = lat;
    lonDeg = lon;
    if (static_cast<double>(lonDeg) > 180.0) {
        lonDeg = static_cast<float>(static_cast<double>(lonDeg) - 360.0);
    }
    colNo = column + 1;
    rowNo = row + 1;
}

RainGrid placeRainPoints(const EventParameters& p) {
    RainGrid grid;
    grid.rows = p.rainRows;
    grid.cols = p.rainCols;
    grid.days = p.days;
    const std::size_t points =
        static_cast<std::size_t>(p.rainRows) * static_cast<std::size_t>(p.rainCols);
    // The intensities first: by far the larger table, it is the one to fail when memory is short.
    grid.rain.assign(points * (static_cast<std::size_t>(p.days) + 1U) * 24U, 0.0F);
    grid.points.resize(points);
    for (std::int32_t row = 0; row < p.rainRows; ++row) {
        const float lat = static_cast<float>(row) * p.rainDy + p.rainLat0;
        for (std::int32_t column = 0; column < p.rainCols; ++column) {
            const float lon = static_cast<float>(column) * p.rainDx + p.rainLon0;
            grid.points[static_cast<std::size_t>(grid.index(row, column))].initRainCell(
                lat, lon, column, row);
        }
    }
    return grid;
}

Status readRainfall(const std::filesystem::path& path, RainGrid& grid, std::ostream* echo) {
    if (echo != nullptr) {
        sayLine(*echo, "Read ./input/rain.dat");
    }
    TokenReader tokens;
    if (!tokens.open(path)) {
        return Error{"ROF file cannot open.", ErrorKind::kCannotOpen};
    }
    for (std::int32_t day = 1; day <= grid.days; ++day) {
        for (std::int32_t hourIndex = 0; hourIndex < 24; ++hourIndex) {
            const auto fail = [&](std::optional<std::string_view> tok) {
                const std::string block = "in the block of day " + std::to_string(day) + ", hour "
                                          + std::to_string(hourIndex + 1) + ".";
                if (tok) {
                    return Error{"rain.dat holds \"" + quoteToken(*tok)
                                 + "\" where a number belongs, " + block};
                }
                return Error{"rain.dat ends early, " + block};
            };
            for (int k = 0; k < 6; ++k) {
                const auto tok = tokens.next();
                if (!tok || !parseInt32(*tok)) {
                    return fail(tok);
                }
            }
            for (std::int32_t row = grid.rows - 1; row >= 0; --row) {
                for (std::int32_t column = 0; column < grid.cols; ++column) {
                    const auto tok = tokens.next();
                    const auto value = tok ? parseFloat(*tok) : std::nullopt;
                    if (!value) {
                        return fail(tok);
                    }
                    grid.rain[grid.rainIndex(grid.index(row, column), day, hourIndex)] = *value;
                }
            }
        }
    }
    return success();
}

std::int32_t findNearestRainCell(float latSec, float lonSec, const RainGrid& grid) {
    // Points share their latitude along a row and their longitude along a column, so the
    // squared distance is a row term plus a column term. Rounded addition and the square
    // root never decrease when a term grows, so the least distance comes from the least row
    // and column terms, and only rows whose least distance equals it can hold the point that
    // the full scan keeps (the first of the nearest in scan order).
    const double la = static_cast<double>(latSec) / 3600.0;
    const double lo = static_cast<double>(lonSec) / 3600.0;
    const auto square = [](double x) { return x * x; };
    const auto point = [&](std::int32_t r, std::int32_t c) -> const RainCell& {
        return grid.points[static_cast<std::size_t>(grid.index(r, c))];
    };
    constexpr double kInf = std::numeric_limits<double>::infinity();
    double bestRowTerm = kInf;
    bool anyRow = false;
    for (std::int32_t r = 0; r < grid.rows; ++r) {
        const double a = square(la - static_cast<double>(point(r, 0).latDeg));
        if (a <= bestRowTerm) {
            bestRowTerm = a;
            anyRow = true;
        }
    }
    double bestColumnTerm = kInf;
    bool anyColumn = false;
    for (std::int32_t c = 0; c < grid.cols; ++c) {
        const double b = square(lo - static_cast<double>(point(0, c).lonDeg));
        if (b <= bestColumnTerm) {
            bestColumnTerm = b;
            anyColumn = true;
        }
    }
    if (!anyRow || !anyColumn) {
        return -1;  // every term is not a number
    }
    const double least = std::sqrt(bestRowTerm + bestColumnTerm);
    if (!(1e29 > least)) {
        return -1;
    }
    for (std::int32_t r = 0; r < grid.rows; ++r) {
        const double a = square(la - static_cast<double>(point(r, 0).latDeg));
        if (!(std::sqrt(a + bestColumnTerm) == least)) {
            continue;
        }
        for (std::int32_t c = 0; c < grid.cols; ++c) {
            const double b = square(lo - static_cast<double>(point(r, c).lonDeg));
            if (std::sqrt(a + b) == least) {
                return grid.index(r, c);
            }
        }
    }
    return -1;  // not reached: the least row holds the least distance
}

}  // namespace hydro
