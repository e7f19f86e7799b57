#include "hydrograph/app.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "case/basin_rainfall.h"
#include "case/case.h"
#include "case/case_folder.h"
#include "case/outlet.h"
#include "common/console.h"
#include "common/number_stream.h"
#include "common/text_file.h"
#include "results/series.h"
#include "results/svg_plot.h"

namespace hydro::hydrograph {

using results::DischargeSeries;
using results::findPeak;
using results::HydrographPlot;
using results::parseSeries;
using results::renderHydrographSvg;

namespace {

namespace fs = std::filesystem;

constexpr int kFailure = 1;
constexpr const char* kUsage =
    "Usage: outlet_hydrograph outlet CASE_DIR | outlet_hydrograph plot CASE_DIR COLUMN ROW "
    "SERIES_FILE SVG_FILE";

int fail(std::ostream& out, const std::string& line) {
    sayLine(out, line);
    return kFailure;
}

/// The series extractor names its file "<column>-<row>_discharge.dat": a file so named for
/// another cell is not this cell's series.
Status checkSeriesName(const fs::path& seriesPath, std::int32_t column, std::int32_t row) {
    const std::string name = seriesPath.filename().string();
    constexpr std::string_view kSuffix = "_discharge.dat";
    if (name.size() <= kSuffix.size() || !name.ends_with(kSuffix)) {
        return success();
    }
    const std::string stem = name.substr(0, name.size() - kSuffix.size());
    const std::size_t dash = stem.find('-', 1);
    if (dash == std::string::npos) {
        return success();
    }
    const auto namedColumn = parseInt32(std::string_view(stem).substr(0, dash));
    const auto namedRow = parseInt32(std::string_view(stem).substr(dash + 1));
    if (!namedColumn || !namedRow || (*namedColumn == column && *namedRow == row)) {
        return success();
    }
    return Error{seriesPath.string() + " is the series of column " + std::to_string(*namedColumn)
                 + ", row " + std::to_string(*namedRow) + ", not of column "
                 + std::to_string(column) + ", row " + std::to_string(row) + "."};
}

/// The text of the series file, refused when it cannot be one of `hours` hours.
Result<std::string> readSeriesText(const fs::path& path, std::int64_t hours) {
    // A line of the extractor is well under 40 bytes; anything far longer is not a series.
    constexpr std::uintmax_t kLongestLine = 256;
    const std::string name = path.string();
    return readTextFile(
        path, {static_cast<std::uintmax_t>(hours) * kLongestLine + kLongestLine,
               name + " is a folder, not a series file.",
               name + " is too large for a series of " + std::to_string(hours) + " hours.", name});
}

/// Writes `text` next to `target` under a temporary name and renames it into place, so that a
/// failed write leaves no partial file under the target's name. The error names the target.
Status writeInPlace(const fs::path& target, const std::string& text) {
    const std::string name = target.string();
    if (!target.has_filename()) {
        return Error{name + " names no file."};
    }
    fs::path temp = target;
    temp += ".part-" + std::to_string(::getpid());
    std::FILE* file = std::fopen(temp.c_str(), "wbx");
    if (file == nullptr) {
        return Error{name + " cannot be created ("
                     + std::error_code(errno, std::generic_category()).message() + ")."};
    }
    bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    ok = std::fflush(file) == 0 && ok;
    ok = std::fclose(file) == 0 && ok;
    std::error_code ec;
    if (!ok) {
        fs::remove(temp, ec);
        return Error{name + " cannot be written completely."};
    }
    fs::rename(temp, target, ec);
    if (ec) {
        std::error_code ignored;
        fs::remove(temp, ignored);
        return Error{name + " cannot be put in place (" + ec.message() + ")."};
    }
    return success();
}

/// The cell to plot: inside the grid, off its border and on a listed river.
Result<OutletCell> plotCell(const CaseData& data, std::int32_t column, std::int32_t row) {
    const StudyGrid& grid = data.grid;
    const std::string where = "Column " + std::to_string(column) + ", row " + std::to_string(row);
    const auto cell = cellAt(grid, column, row);
    if (!cell) {
        return Error{where + " lies outside the study grid of " + std::to_string(grid.cols)
                     + " columns and " + std::to_string(grid.rows) + " rows."};
    }
    if (grid[cell->index].isEdge != 0) {
        return Error{where
                     + " lies on the border of the study grid, where no discharge is simulated."};
    }
    if (!data.rivers.isListedRiver(cell->riverNum)) {
        return Error{where + " (river number " + std::to_string(cell->riverNum)
                     + " in riverNum.bin) is not on a river listed in riverNumList.dat."};
    }
    return *cell;
}

/// The series of the file at `path`.
Result<DischargeSeries> readSeries(const fs::path& path, std::int64_t hours) {
    const auto text = readSeriesText(path, hours);
    if (!text) {
        return text.error();
    }
    Result<DischargeSeries> parsed = parseSeries(*text, hours);
    if (!parsed) {
        return Error{path.string() + ": " + parsed.error().message};
    }
    return std::move(*parsed);
}

int runOutlet(const fs::path& caseDir, std::ostream& out) {
    if (const Status folder = checkCaseFolder(caseDir); !folder) {
        return fail(out, folder.error().message);
    }
    const auto data = readCase(caseDir);
    if (!data) {
        return fail(out, data.error().message);
    }
    const auto outlet = findOutlet(data->grid, data->rivers);
    if (!outlet) {
        return fail(out,
                    "No cell off the border of riverNum.bin lies on a river listed in "
                    "riverNumList.dat.");
    }
    sayLine(out, outlet->column, ' ', outlet->row, ' ', outlet->riverNum, ' ', outlet->flowAcc);
    return 0;
}

int runPlot(std::span<const std::string> args, std::ostream& out) {
    const fs::path caseDir = args[0];
    const fs::path seriesPath = args[3];
    const fs::path svgPath = args[4];
    const auto column = parseInt32(args[1]);
    if (!column) {
        return fail(out, "COLUMN must be a whole number (counted from 1 from the west), not \""
                             + args[1] + "\".");
    }
    const auto row = parseInt32(args[2]);
    if (!row) {
        return fail(out, "ROW must be a whole number (counted from 1 from the south), not \""
                             + args[2] + "\".");
    }
    if (const Status folder = checkCaseFolder(caseDir); !folder) {
        return fail(out, folder.error().message);
    }
    const auto data = readCase(caseDir);
    if (!data) {
        return fail(out, data.error().message);
    }
    const StudyGrid& grid = data->grid;
    const auto cell = plotCell(*data, *column, *row);
    if (!cell) {
        return fail(out, cell.error().message);
    }
    if (const Status named = checkSeriesName(seriesPath, *column, *row); !named) {
        return fail(out, named.error().message);
    }
    const auto rain = readCaseRainfall(caseDir, data->params);
    if (!rain) {
        return fail(out, rain.error().message);
    }
    const auto read = readSeries(seriesPath, std::int64_t{data->params.days} * 24);
    if (!read) {
        return fail(out, read.error().message);
    }
    const DischargeSeries& series = *read;
    const auto peak = findPeak(series.values);
    if (!peak) {
        return fail(out, seriesPath.string()
                             + " holds -9999 in every hour: the cell has no simulated discharge.");
    }
    const BasinRainfall basin = basinRainfall(grid, *rain, cell->riverNum);
    if (basin.unmatchedCell != kNoCell) {
        return fail(out, "No rainfall point of rain.dat lies near the cell at column "
                             + std::to_string(grid.userColumn(basin.unmatchedCell)) + ", row "
                             + std::to_string(grid.userRow(basin.unmatchedCell)) + ".");
    }

    const std::string& peakToken = series.tokens[peak->index];
    HydrographPlot plot;
    plot.title = "River " + std::to_string(cell->riverNum) + ": discharge at column "
                 + std::to_string(cell->column) + ", row " + std::to_string(cell->row);
    plot.discharge = series.values;
    plot.rainfall = basin.mmPerHour;
    plot.peakIndex = peak->index;
    plot.peakLabel = "Peak " + peakToken + " m\xC2\xB3/s, day " + std::to_string(peak->day)
                     + " hour " + std::to_string(peak->hour);
    if (const Status written = writeInPlace(svgPath, renderHydrographSvg(plot)); !written) {
        return fail(out, written.error().message);
    }
    sayLine(out, "Peak discharge at column ", cell->column, ", row ", cell->row, " (river ",
            cell->riverNum, "): ", peakToken, " m3/s on day ", peak->day, ", hour ", peak->hour,
            ".");
    return 0;
}

}  // namespace

int runOutletHydrograph(std::span<const std::string> args, std::ostream& out) {
    if (args.size() == 2 && args[0] == "outlet") {
        return runOutlet(args[1], out);
    }
    if (args.size() == 6 && args[0] == "plot") {
        return runPlot(args.subspan(1), out);
    }
    return fail(out, kUsage);
}

}  // namespace hydro::hydrograph
