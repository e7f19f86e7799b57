#include "make_case/case_input.h"

#include <fstream>
#include <sstream>

#include "common/number_stream.h"
#include "common/raw_grid_io.h"
#include "runoff_sim/river_list.h"

namespace hydro::make_case {

namespace {

namespace fs = std::filesystem;

/// The last line a reader wrote to its console: the one that says what failed.
std::string lastLine(const std::string& echo) {
    std::size_t end = echo.size();
    while (end > 0 && (echo[end - 1] == '\n' || echo[end - 1] == '\r')) {
        --end;
    }
    const std::size_t start = end == 0 ? std::string::npos : echo.rfind('\n', end - 1);
    const std::size_t from = start == std::string::npos ? 0 : start + 1;
    return echo.substr(from, end - from);
}

template <class T>
Result<CaseGrid<T>> readGrid(const fs::path& caseDir, const char* name, const EventParameters& p) {
    RawValueReader reader;
    if (!reader.open(caseDir / "topoData" / name)) {
        return Result<CaseGrid<T>>::failure(std::string(name) + " cannot open.");
    }
    CaseGrid<T> grid;
    grid.valuesInFile = reader.valueCount().value_or(0);
    const auto cols = static_cast<std::size_t>(p.studyCols);
    const auto rows = static_cast<std::size_t>(p.studyRows);
    grid.values.assign(rows * cols, T{});
    // Files run from the south row to the north row.
    for (std::size_t k = 0; k < rows; ++k) {
        const std::size_t row = rows - 1 - k;
        if (reader.read(std::span<T>(grid.values.data() + row * cols, cols)) < cols) {
            break;
        }
    }
    return grid;
}

}  // namespace

Result<EventParameters> readCaseParameters(const fs::path& caseDir) {
    std::ostringstream echo;
    auto params = runoff::readEventParameters(caseDir / "param-event.dat", echo);
    if (!params) {
        return Result<EventParameters>::failure(lastLine(echo.str()));
    }
    if (const auto tooLarge = runoff::gridSizeProblem(*params)) {
        return Result<EventParameters>::failure(*tooLarge);
    }
    return *params;
}

Result<std::string> readCaseParameterText(const fs::path& caseDir) {
    std::ifstream in(caseDir / "param-event.dat", std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    if (!in) {
        return Result<std::string>::failure("param-event.dat cannot be read.");
    }
    return text.str();
}

Result<std::vector<std::int32_t>> readCaseRivers(const fs::path& caseDir) {
    const fs::path path = caseDir / "topoData" / "riverNumList.dat";
    const auto count = runoff::countRiverLines(path);
    auto rivers = count ? runoff::readRiverList(path, *count) : std::nullopt;
    if (!rivers) {
        return Result<std::vector<std::int32_t>>::failure("riverNumList.dat cannot open.");
    }
    return rivers->sorted();
}

Result<CaseGrid<float>> readCaseFloatGrid(const fs::path& caseDir, const char* name,
                                          const EventParameters& p) {
    return readGrid<float>(caseDir, name, p);
}

Result<CaseGrid<std::int32_t>> readCaseIntGrid(const fs::path& caseDir, const char* name,
                                               const EventParameters& p) {
    return readGrid<std::int32_t>(caseDir, name, p);
}

runoff::RainGrid caseRainPoints(const EventParameters& p) {
    return runoff::placeRainPoints(p);
}

Result<RainFile> readCaseRain(const fs::path& caseDir, const EventParameters& p) {
    const fs::path path = caseDir / "input" / "rain.dat";
    RainFile rain{runoff::placeRainPoints(p), 0};
    std::ostringstream echo;
    if (!runoff::readRainfall(path, rain.grid, echo)) {
        return Result<RainFile>::failure(lastLine(echo.str()));
    }
    TokenReader tokens;
    if (!tokens.open(path)) {
        return Result<RainFile>::failure("ROF file cannot open.");
    }
    while (tokens.next()) {
        ++rain.numbersInFile;
    }
    return rain;
}

}  // namespace hydro::make_case
