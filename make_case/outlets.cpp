#include "make_case/outlets.h"

#include <array>
#include <cmath>
#include <fstream>
#include <iomanip>
#include <limits>
#include <map>
#include <sstream>

#include "case/snap_report.h"
#include "common/console.h"
#include "common/number_stream.h"
#include "common/option_hint.h"
#include "make_case/error_line.h"

namespace hydro::make_case {

namespace {

std::vector<std::string> splitCsv(const std::string& line) {
    std::vector<std::string> fields;
    std::string field;
    std::istringstream s(line);
    while (std::getline(s, field, ',')) {
        const auto first = field.find_first_not_of(" \t\r");
        const auto last = field.find_last_not_of(" \t\r");
        fields.push_back(first == std::string::npos ? std::string{}
                                                    : field.substr(first, last - first + 1));
    }
    if (!line.empty() && line.back() == ',') {
        fields.emplace_back();
    }
    return fields;
}

/// Whether the grid holds the point (`lon`, `lat`), degrees.
bool holdsPoint(const GridSpec& gridSpec, double lon, double lat) {
    if (lon < gridSpec.westDeg()) {
        lon += 360.0;
    }
    const double col = std::floor(lon * 120.0 - static_cast<double>(gridSpec.westCells));
    const double row =
        std::floor(static_cast<double>(gridSpec.southCells + gridSpec.rows) - lat * 120.0);
    return col >= 0.0 && col < gridSpec.cols && row >= 0.0 && row < gridSpec.rows;
}

/// The smallest window radius around (row0, col0) that holds an inside cell off the border
/// whose upstream area is within the tolerance of `givenKm2`, if the grid has one.
std::optional<std::int64_t> reachingRadius(const GridSpec& gridSpec,
                                           std::span<const std::uint8_t> outside,
                                           std::span<const double> areaKm2, std::int32_t row0,
                                           std::int32_t col0, double givenKm2) {
    std::optional<std::int64_t> nearest;
    for (std::int32_t r = 1; r < gridSpec.rows - 1; ++r) {
        for (std::int32_t c = 1; c < gridSpec.cols - 1; ++c) {
            const auto i = static_cast<std::size_t>(r) * static_cast<std::size_t>(gridSpec.cols)
                           + static_cast<std::size_t>(c);
            if (outside[i] != 0 || !areaWithinTolerance(areaKm2[i], givenKm2)) {
                continue;
            }
            const std::int64_t d = snapDistanceCells(c - col0, r - row0);
            if (!nearest || d < *nearest) {
                nearest = d;
            }
        }
    }
    return nearest;
}

}  // namespace

Result<std::vector<OutletRequest>> readOutlets(const std::filesystem::path& path) {
    const std::string name = path.string();
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        return errorLine(name, " is a folder, not a table of outlets (id,lon,lat[,area_km2]).");
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return errorLine(name, " cannot open.");
    }
    std::ostringstream text;
    text << file.rdbuf();
    if (file.bad()) {
        return errorLine(name, " cannot be read.");
    }
    return parseOutlets(text.view(), name);
}

Result<std::vector<OutletRequest>> parseOutlets(std::string_view text, const std::string& name) {
    std::istringstream in{std::string(text)};
    std::string line;
    if (!std::getline(in, line)) {
        return errorLine(name, " is empty; it needs a header line: id,lon,lat[,area_km2]");
    }
    const std::vector<std::string> header = splitCsv(line);
    std::ptrdiff_t idCol = -1;
    std::ptrdiff_t lonCol = -1;
    std::ptrdiff_t latCol = -1;
    std::ptrdiff_t areaCol = -1;
    static constexpr std::array<std::string_view, 4> kColumns{"id", "lon", "lat", "area_km2"};
    for (std::size_t k = 0; k < header.size(); ++k) {
        const auto col = static_cast<std::ptrdiff_t>(k);
        if (header[k] == "id") {
            idCol = col;
        } else if (header[k] == "lon") {
            lonCol = col;
        } else if (header[k] == "lat") {
            latCol = col;
        } else if (header[k] == "area_km2") {
            areaCol = col;
        } else if (const auto meant = misspeltName(header[k], kColumns)) {
            return errorLine(name, " line 1: unknown column ", quoteToken(header[k]),
                             " (did you mean ", *meant,
                             "?); the columns are id, lon, lat and optionally area_km2.");
        }
    }
    if (idCol < 0 || lonCol < 0 || latCol < 0) {
        return errorLine(
            name, " line 1 must name the columns id, lon and lat (and optionally area_km2).");
    }
    std::vector<OutletRequest> outlets;
    std::map<std::string, int> firstLine;  // line of each id
    for (int lineNo = 2; std::getline(in, line); ++lineNo) {
        if (line.find_first_not_of(" \t\r") == std::string::npos) {
            continue;
        }
        const std::vector<std::string> f = splitCsv(line);
        const auto field = [&](std::ptrdiff_t col) {
            return col < static_cast<std::ptrdiff_t>(f.size()) ? f[static_cast<std::size_t>(col)]
                                                               : std::string{};
        };
        OutletRequest o;
        o.id = field(idCol);
        const auto lon = parseDouble(field(lonCol));
        const auto lat = parseDouble(field(latCol));
        if (o.id.empty() || !lon || !std::isfinite(*lon) || !lat
            || !(*lat >= -90.0 && *lat <= 90.0)) {
            const bool swapped = lon && lat && std::abs(*lon) <= 90.0 && std::abs(*lat) > 90.0
                                 && std::abs(*lat) <= 180.0;
            return errorLine(
                name, " line ", lineNo,
                ": an outlet needs an id, a longitude and a latitude in degrees.",
                swapped ? " The latitude lies beyond 90: latitude and longitude swapped?" : "");
        }
        o.lon = *lon;
        o.lat = *lat;
        if (areaCol >= 0 && !field(areaCol).empty()) {
            const auto area = parseDouble(field(areaCol));
            if (!area || !(*area > 0.0)) {
                return errorLine(name, " line ", lineNo, ": area_km2 must be a positive number: \"",
                                 quoteToken(field(areaCol)), "\"");
            }
            o.areaKm2 = *area;
        }
        if (const auto seen = firstLine.find(o.id); seen != firstLine.end()) {
            return errorLine(name, " line ", lineNo, ": the outlet id \"", quoteToken(o.id),
                             "\" is already on line ", seen->second, "; ids must differ.");
        }
        firstLine.emplace(o.id, lineNo);
        outlets.push_back(o);
    }
    if (outlets.empty()) {
        return errorLine(name, " lists no outlet.");
    }
    return outlets;
}

Result<std::vector<SnappedOutlet>> snapOutlets(std::span<const OutletRequest> outlets,
                                               const GridSpec& gridSpec,
                                               std::span<const std::uint8_t> outside,
                                               std::span<const std::int32_t> flowAcc,
                                               std::span<const double> areaKm2,
                                               std::int32_t radius) {
    std::vector<SnappedOutlet> snapped;
    for (const OutletRequest& o : outlets) {
        // The cell holding the point: columns from the west edge, rows from the north edge.
        double lon = o.lon;
        if (lon < gridSpec.westDeg()) {
            lon += 360.0;
        }
        const double colF = std::floor(lon * 120.0 - static_cast<double>(gridSpec.westCells));
        const double rowF =
            std::floor(static_cast<double>(gridSpec.southCells + gridSpec.rows) - o.lat * 120.0);
        if (!(colF >= 0.0 && colF < gridSpec.cols && rowF >= 0.0 && rowF < gridSpec.rows)) {
            return errorLine(
                "Outlet ", quoteToken(o.id), " at ", o.lon, ", ", o.lat, " lies off the grid.",
                holdsPoint(gridSpec, o.lat, o.lon) ? " Latitude and longitude swapped?" : "");
        }
        const auto row0 = static_cast<std::int32_t>(rowF);
        const auto col0 = static_cast<std::int32_t>(colF);
        SnappedOutlet best;
        double bestScore = 0.0;
        for (std::int32_t r = row0 - radius; r <= row0 + radius; ++r) {
            for (std::int32_t c = col0 - radius; c <= col0 + radius; ++c) {
                // Border cells are never simulated: an outlet there would have no river.
                if (r < 1 || r > gridSpec.rows - 2 || c < 1 || c > gridSpec.cols - 2) {
                    continue;
                }
                const auto i = static_cast<std::size_t>(r) * static_cast<std::size_t>(gridSpec.cols)
                               + static_cast<std::size_t>(c);
                if (outside[i] != 0) {
                    continue;
                }
                const double score = o.areaKm2 ? -std::abs(areaKm2[i] - *o.areaKm2)
                                               : static_cast<double>(flowAcc[i]);
                const double dist = std::hypot(r - row0, c - col0);
                if (best.cell < 0 || score > bestScore
                    || (score == bestScore && dist < best.distanceCells)) {
                    best.cell = static_cast<std::int32_t>(i);
                    best.distanceCells = dist;
                    best.distance = snapDistanceCells(c - col0, r - row0);
                    best.areaKm2 = areaKm2[i];
                    bestScore = score;
                }
            }
        }
        if (best.cell < 0) {
            return errorLine("Outlet ", quoteToken(o.id),
                             " finds no inside cell off the border within ", radius,
                             " cells; raise --snap-radius or move the outlet.");
        }
        for (std::size_t k = 0; k < snapped.size(); ++k) {
            if (snapped[k].cell == best.cell) {
                return errorLine("Outlets ", quoteToken(outlets[k].id), " and ", quoteToken(o.id),
                                 " snap to the same cell; give one of them another position.");
            }
        }
        if (o.areaKm2 && !areaWithinTolerance(best.areaKm2, *o.areaKm2)) {
            best.warning =
                snapAreaWarning(quoteToken(o.id), best.areaKm2, *o.areaKm2, radius,
                                reachingRadius(gridSpec, outside, areaKm2, row0, col0, *o.areaKm2));
        }
        snapped.push_back(best);
    }
    return snapped;
}

void printSnapTable(std::span<const OutletRequest> outlets, std::span<const SnappedOutlet> snapped,
                    const GridSpec& gridSpec, std::ostream& out) {
    out << "outlet id, river, column, row, " << kSnapDistanceHeading
        << ", upstream area (km2), given area (km2)\n";
    for (std::size_t k = 0; k < snapped.size(); ++k) {
        const GridShape shape = gridSpec.shape();
        std::ostringstream line;
        line << quoteToken(outlets[k].id) << ", " << k + 1 << ", "
             << shape.userColumn(snapped[k].cell) << ", " << shape.userRow(snapped[k].cell) << ", "
             << snapped[k].distance << ", " << std::fixed << std::setprecision(1)
             << snapped[k].areaKm2 << ", ";
        if (outlets[k].areaKm2) {
            line << *outlets[k].areaKm2;
        } else {
            line << "-";
        }
        sayLine(out, line.str());
    }
    for (const SnappedOutlet& s : snapped) {
        if (!s.warning.empty()) {
            sayLine(out, s.warning);
        }
    }
}

}  // namespace hydro::make_case
