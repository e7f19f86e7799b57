#include "hydrograph/app.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <system_error>

#include "common/console.h"
#include "common/number_stream.h"
#include "hydrograph/basin_rainfall.h"
#include "hydrograph/outlet.h"
#include "hydrograph/series.h"
#include "hydrograph/svg_plot.h"
#include "runoff_sim/drainage_network.h"
#include "runoff_sim/event_parameters.h"
#include "runoff_sim/rain_cell.h"
#include "runoff_sim/river_list.h"

namespace hydro::hydrograph {

namespace {

namespace fs = std::filesystem;
using runoff::EventParameters;
using runoff::RainGrid;
using runoff::RiverList;
using runoff::StudyGrid;

constexpr int kFailure = 1;
constexpr const char* kUsage =
    "Usage: outlet_hydrograph outlet CASE_DIR | outlet_hydrograph plot CASE_DIR COLUMN ROW "
    "SERIES_FILE SVG_FILE";

/// The last line a reader wrote to its console: the one that says what failed.
std::string lastLine(const std::string& echo) {
    std::size_t end = echo.size();
    while (end > 0 && (echo[end - 1] == '\n' || echo[end - 1] == '\r')) {
        --end;
    }
    const std::size_t start = echo.rfind('\n', end == 0 ? 0 : end - 1);
    return echo.substr(start == std::string::npos ? 0 : start + 1,
                       end - (start == std::string::npos ? 0 : start + 1));
}

int fail(std::ostream& out, const std::string& line) {
    sayLine(out, line);
    return kFailure;
}

struct CaseData {
    EventParameters params;
    RiverList rivers;
    StudyGrid grid;
};

/// Parameters, river list and drainage network of the case; prints the failure line of the
/// reader that failed.
std::optional<CaseData> readCase(const fs::path& caseDir, std::ostream& out) {
    std::ostringstream echo;
    auto params = runoff::readEventParameters(caseDir / "param-event.dat", echo);
    if (!params) {
        sayLine(out, lastLine(echo.str()));
        return std::nullopt;
    }
    if (const auto tooLarge = runoff::gridSizeProblem(*params)) {
        sayLine(out, *tooLarge);
        return std::nullopt;
    }
    const fs::path riverPath = caseDir / "topoData" / "riverNumList.dat";
    const auto riverCount = runoff::countRiverLines(riverPath);
    auto rivers = riverCount ? runoff::readRiverList(riverPath, *riverCount) : std::nullopt;
    if (!rivers) {
        sayLine(out, "riverNumList.dat cannot open.");
        return std::nullopt;
    }
    echo.str("");
    auto grid = runoff::buildDrainageNetwork(caseDir / "topoData", *params, echo);
    if (!grid) {
        sayLine(out, lastLine(echo.str()));
        return std::nullopt;
    }
    return CaseData{*params, std::move(*rivers), std::move(*grid)};
}

std::optional<std::string> readSeriesText(const fs::path& path, std::int64_t hours,
                                          std::ostream& out) {
    // A line of the extractor is well under 40 bytes; anything far longer is not a series.
    constexpr std::int64_t kLongestLine = 256;
    std::error_code ec;
    if (fs::is_directory(path, ec)) {
        sayLine(out, path.string(), " is a folder, not a series file.");
        return std::nullopt;
    }
    const auto size = fs::file_size(path, ec);
    if (!ec && size > static_cast<std::uintmax_t>(hours) * kLongestLine + kLongestLine) {
        sayLine(out, path.string(), " is too large for a series of ", hours, " hours.");
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        sayLine(out, path.string(), " cannot open.");
        return std::nullopt;
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) {
        sayLine(out, path.string(), " cannot be read.");
        return std::nullopt;
    }
    return text.str();
}

/// Writes `text` next to `target` under a temporary name and renames it into place, so that a
/// failed write leaves no partial file under the target's name. Returns what went wrong.
std::optional<std::string> writeInPlace(const fs::path& target, const std::string& text) {
    if (!target.has_filename()) {
        return "names no file";
    }
    fs::path temp = target;
    temp += ".part-" + std::to_string(::getpid());
    std::FILE* file = std::fopen(temp.c_str(), "wbx");
    if (file == nullptr) {
        return "cannot be created (" + std::error_code(errno, std::generic_category()).message()
               + ")";
    }
    bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    ok = std::fflush(file) == 0 && ok;
    ok = std::fclose(file) == 0 && ok;
    std::error_code ec;
    if (!ok) {
        fs::remove(temp, ec);
        return "cannot be written completely";
    }
    fs::rename(temp, target, ec);
    if (ec) {
        std::error_code ignored;
        fs::remove(temp, ignored);
        return "cannot be put in place (" + ec.message() + ")";
    }
    return std::nullopt;
}

int runOutlet(const fs::path& caseDir, std::ostream& out) {
    const auto data = readCase(caseDir, out);
    if (!data) {
        return kFailure;
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
    const auto data = readCase(caseDir, out);
    if (!data) {
        return kFailure;
    }
    const StudyGrid& grid = data->grid;
    const std::string where = "Column " + std::to_string(*column) + ", row " + std::to_string(*row);
    const auto cell = cellAt(grid, *column, *row);
    if (!cell) {
        return fail(out, where + " lies outside the study grid of " + std::to_string(grid.cols)
                             + " columns and " + std::to_string(grid.rows) + " rows.");
    }
    if (grid[cell->index].isEdge != 0) {
        return fail(out, where + " lies on the border of the study grid, where no discharge is "
                                 "simulated.");
    }
    if (!data->rivers.isListedRiver(cell->riverNum)) {
        return fail(out, where + " (river number " + std::to_string(cell->riverNum)
                             + " in riverNum.bin) is not on a river listed in riverNumList.dat.");
    }

    RainGrid rain = runoff::placeRainPoints(data->params);
    std::ostringstream echo;
    if (!runoff::readRainfall(caseDir / "input" / "rain.dat", rain, echo)) {
        return fail(out, lastLine(echo.str()));
    }

    const std::int64_t hours = std::int64_t{data->params.days} * 24;
    const auto text = readSeriesText(seriesPath, hours, out);
    if (!text) {
        return kFailure;
    }
    SeriesParse parsed = parseSeries(*text, hours);
    if (!parsed.series) {
        return fail(out, seriesPath.string() + ": " + parsed.error);
    }
    const DischargeSeries& series = *parsed.series;
    const auto peak = findPeak(series.values);
    if (!peak) {
        return fail(out, seriesPath.string()
                             + " holds -9999 in every hour: the cell has no simulated discharge.");
    }

    const BasinRainfall basin = basinRainfall(grid, rain, cell->riverNum);
    if (basin.unmatchedCell != runoff::kNoCell) {
        return fail(out, "No rainfall point of rain.dat lies near the cell at column "
                             + std::to_string(grid.columnOf(basin.unmatchedCell) + 1) + ", row "
                             + std::to_string(grid.rows - grid.rowOf(basin.unmatchedCell)) + ".");
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
    if (const auto why = writeInPlace(svgPath, renderHydrographSvg(plot))) {
        return fail(out, svgPath.string() + " " + *why + ".");
    }
    sayLine(out, "Peak discharge at the outlet (column ", cell->column, ", row ", cell->row,
            "): ", peakToken, " m3/s on day ", peak->day, ", hour ", peak->hour, ".");
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
