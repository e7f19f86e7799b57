#include "discharge_netcdf/case_input.h"

#include <sstream>
#include <system_error>

#include "common/number_stream.h"
#include "runoff_sim/drainage_network.h"

namespace hydro::results {

namespace {

namespace fs = std::filesystem;

/// The last line a reader wrote to its console: the one that says what failed.
std::string lastLine(const std::string& echo) {
    std::size_t end = echo.size();
    while (end > 0 && (echo[end - 1] == '\n' || echo[end - 1] == '\r')) {
        --end;
    }
    const std::size_t found = echo.rfind('\n', end == 0 ? 0 : end - 1);
    const std::size_t start = found == std::string::npos ? 0 : found + 1;
    return echo.substr(start, end - start);
}

bool isLeapYear(std::int32_t y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

std::int32_t daysInMonth(std::int32_t y, std::int32_t m) {
    constexpr std::int32_t kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeapYear(y) ? 29 : kDays[m - 1];
}

bool isValidStart(const EventStart& s) {
    return s.year >= 1 && s.year <= 9999 && s.month >= 1 && s.month <= 12 && s.day >= 1
           && s.day <= daysInMonth(s.year, s.month) && s.hour >= 0 && s.hour <= 23 && s.minute >= 0
           && s.minute <= 59 && s.second >= 0 && s.second <= 59;
}

}  // namespace

Result<runoff::EventParameters> readParameters(const fs::path& caseDir) {
    std::ostringstream echo;
    auto params = runoff::readEventParameters(caseDir / "param-event.dat", echo);
    if (!params) {
        return Result<runoff::EventParameters>::failure(lastLine(echo.str()));
    }
    if (auto tooLarge = runoff::gridSizeProblem(*params)) {
        return Result<runoff::EventParameters>::failure(std::move(*tooLarge));
    }
    return *params;
}

Result<runoff::RiverList> readRivers(const fs::path& caseDir) {
    const fs::path path = caseDir / "topoData" / "riverNumList.dat";
    const auto count = runoff::countRiverLines(path);
    auto rivers = count ? runoff::readRiverList(path, *count) : std::nullopt;
    if (!rivers) {
        return Result<runoff::RiverList>::failure("riverNumList.dat cannot open.");
    }
    return std::move(*rivers);
}

Result<runoff::StudyGrid> readNetwork(const fs::path& caseDir,
                                      const runoff::EventParameters& params) {
    std::ostringstream echo;
    auto grid = runoff::buildDrainageNetwork(caseDir / "topoData", params, echo);
    if (!grid) {
        return Result<runoff::StudyGrid>::failure(lastLine(echo.str()));
    }
    return std::move(*grid);
}

Result<runoff::RainGrid> readRain(const fs::path& caseDir, const runoff::EventParameters& params) {
    runoff::RainGrid rain = runoff::placeRainPoints(params);
    std::ostringstream echo;
    if (!runoff::readRainfall(caseDir / "input" / "rain.dat", rain, echo)) {
        return Result<runoff::RainGrid>::failure(lastLine(echo.str()));
    }
    return rain;
}

Result<EventStart> readEventStart(const fs::path& caseDir) {
    TokenReader tokens;
    if (!tokens.open(caseDir / "input" / "rain.dat")) {
        return Result<EventStart>::failure("ROF file cannot open.");
    }
    std::int32_t v[6] = {};
    EventStart start;
    for (std::size_t k = 0; k < 6; ++k) {
        const auto tok = tokens.next();
        const auto value = tok ? parseInt32(*tok) : std::nullopt;
        if (!value) {
            return Result<EventStart>::failure(
                tok ? "rain.dat holds \"" + std::string(*tok)
                          + "\" where a number belongs, in the block of day 1, hour 1."
                    : std::string("rain.dat ends early, in the block of day 1, hour 1."));
        }
        v[k] = value.value_or(0);
        start.header += (k == 0 ? "" : " ") + std::to_string(v[k]);
    }
    start.year = v[0];
    start.month = v[1];
    start.day = v[2];
    start.hour = v[3];
    start.minute = v[4];
    start.second = v[5];
    if (!isValidStart(start)) {
        EventStart fallback;
        fallback.fallback = true;
        fallback.header = start.header;
        return fallback;
    }
    return start;
}

Result<DischargeGrid> DischargeGrid::open(const fs::path& path, std::int64_t frameValues,
                                          std::int64_t framesNeeded) {
    const std::string name = path.filename().string();
    DischargeGrid grid;
    grid.path_ = path;
    grid.frameValues_ = frameValues;
    std::error_code ec;
    if (fs::is_directory(path, ec) || !grid.reader_.open(path)) {
        return Result<DischargeGrid>::failure(name + " cannot open.");
    }
    const auto values = grid.reader_.valueCount();
    const auto perFrame = static_cast<std::uint64_t>(frameValues);
    if (!values || perFrame == 0 || *values % perFrame != 0) {
        return Result<DischargeGrid>::failure(name + " does not hold whole frames of "
                                              + std::to_string(frameValues)
                                              + " values (the study grid of param-event.dat).");
    }
    const auto frames = static_cast<std::int64_t>(*values / perFrame);
    if (frames < framesNeeded) {
        return Result<DischargeGrid>::failure(name + " holds " + std::to_string(frames)
                                              + " frames, but the event needs "
                                              + std::to_string(framesNeeded) + ".");
    }
    return grid;
}

bool DischargeGrid::readFrame(std::span<float> out) {
    return reader_.read(out) == out.size();
}

std::optional<float> DischargeGrid::valueAt(std::int64_t frame, std::int64_t filePosition) {
    const auto at = static_cast<std::uint64_t>(frame) * static_cast<std::uint64_t>(frameValues_)
                    + static_cast<std::uint64_t>(filePosition);
    float v = 0.0F;
    if (!reader_.seekValue(at) || reader_.read(std::span<float>(&v, 1)) != 1) {
        return std::nullopt;
    }
    return v;
}

}  // namespace hydro::results
