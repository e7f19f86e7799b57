#include "results_page/case_input.h"

#include <fstream>
#include <sstream>
#include <system_error>

#include "common/number_stream.h"
#include "runoff_sim/drainage_network.h"

namespace hydro::results_page {

namespace {

namespace fs = std::filesystem;

/// The last line a reader wrote to its console: the one that says what failed.
std::string lastLine(const std::string& echo) {
    std::size_t end = echo.size();
    while (end > 0 && (echo[end - 1] == '\n' || echo[end - 1] == '\r')) {
        --end;
    }
    const std::size_t newline = end == 0 ? std::string::npos : echo.rfind('\n', end - 1);
    const std::size_t start = newline == std::string::npos ? 0 : newline + 1;
    return echo.substr(start, end - start);
}

bool isLeapYear(std::int64_t year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

/// The six integers of the first block header of rain.dat; fewer when the file ends early or
/// holds something else there.
std::vector<std::int64_t> firstRainHeader(const fs::path& path) {
    std::vector<std::int64_t> header;
    TokenReader tokens;
    if (!tokens.open(path)) {
        return header;
    }
    constexpr int kHeaderValues = 6;
    for (int i = 0; i < kHeaderValues; ++i) {
        const auto token = tokens.next();
        const auto value = token ? parseInt32(*token) : std::nullopt;
        if (!value) {
            break;
        }
        header.push_back(*value);
    }
    return header;
}

}  // namespace

std::optional<EventStart> eventStartFromHeader(const std::vector<std::int64_t>& h) {
    constexpr std::size_t kFields = 6;
    if (h.size() != kFields) {
        return std::nullopt;
    }
    constexpr std::array<std::int64_t, 12> kDays{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const std::int64_t year = h[0];
    const std::int64_t month = h[1];
    if (year < 1 || year > 9999 || month < 1 || month > 12) {
        return std::nullopt;
    }
    const std::int64_t monthDays =
        kDays[static_cast<std::size_t>(month - 1)] + (month == 2 && isLeapYear(year) ? 1 : 0);
    if (h[2] < 1 || h[2] > monthDays || h[3] < 0 || h[3] > 23 || h[4] < 0 || h[4] > 59 || h[5] < 0
        || h[5] > 59) {
        return std::nullopt;
    }
    EventStart start;
    start.year = static_cast<std::int32_t>(year);
    start.month = static_cast<std::int32_t>(month);
    start.day = static_cast<std::int32_t>(h[2]);
    start.hour = static_cast<std::int32_t>(h[3]);
    start.minute = static_cast<std::int32_t>(h[4]);
    start.second = static_cast<std::int32_t>(h[5]);
    return start;
}

Result<CaseInput> readCaseInput(const fs::path& caseDir) {
    CaseInput in;
    std::ostringstream echo;
    auto params = runoff::readEventParameters(caseDir / "param-event.dat", echo);
    if (!params) {
        return Failure{lastLine(echo.str())};
    }
    if (const auto tooLarge = runoff::gridSizeProblem(*params)) {
        return Failure{*tooLarge};
    }
    in.params = *params;

    const fs::path riverPath = caseDir / "topoData" / "riverNumList.dat";
    const auto riverCount = runoff::countRiverLines(riverPath);
    auto rivers = riverCount ? runoff::readRiverList(riverPath, *riverCount) : std::nullopt;
    if (!rivers) {
        return Failure{"riverNumList.dat cannot open."};
    }
    in.rivers = std::move(*rivers);

    echo.str("");
    auto grid = runoff::buildDrainageNetwork(caseDir / "topoData", in.params, echo);
    if (!grid) {
        return Failure{lastLine(echo.str())};
    }
    in.grid = std::move(*grid);

    const fs::path rainPath = caseDir / "input" / "rain.dat";
    in.rain = runoff::placeRainPoints(in.params);
    echo.str("");
    if (!runoff::readRainfall(rainPath, in.rain, echo)) {
        return Failure{lastLine(echo.str())};
    }
    if (const auto start = eventStartFromHeader(firstRainHeader(rainPath))) {
        in.start = *start;
    } else {
        in.start = EventStart{};
        in.start.fallback = true;
    }
    return in;
}

Result<DischargeFrames> DischargeFrames::open(const fs::path& caseDir, std::int32_t rows,
                                              std::int32_t cols, std::int64_t hours) {
    DischargeFrames frames;
    frames.path_ = caseDir / "output" / "dischargeHourly.bin";
    frames.frameValues_ = static_cast<std::uint64_t>(rows) * static_cast<std::uint64_t>(cols);
    if (!frames.reader_.open(frames.path_)) {
        return Failure{"dischargeHourly.bin cannot open."};
    }
    const auto count = frames.reader_.valueCount();
    if (!count) {
        return Failure{"dischargeHourly.bin is not a regular file."};
    }
    const std::string shape = std::to_string(cols) + " x " + std::to_string(rows);
    if (frames.frameValues_ == 0 || *count % frames.frameValues_ != 0) {
        return Failure{"dischargeHourly.bin holds " + std::to_string(*count)
                       + " values, which are not whole frames of " + shape + " cells."};
    }
    const std::uint64_t have = *count / frames.frameValues_;
    if (have < static_cast<std::uint64_t>(hours)) {
        return Failure{"dischargeHourly.bin holds " + std::to_string(have) + " hourly frames of "
                       + shape + " cells, but " + std::to_string(hours) + " are needed."};
    }
    return frames;
}

bool DischargeFrames::read(std::int64_t hour, std::vector<float>& out) {
    out.resize(static_cast<std::size_t>(frameValues_));
    return reader_.seekValue(static_cast<std::uint64_t>(hour) * frameValues_)
           && reader_.read(std::span<float>(out)) == out.size();
}

Result<std::optional<std::string>> readOptionalOutputText(const fs::path& caseDir,
                                                          const std::string& name) {
    const fs::path path = caseDir / "output" / name;
    std::error_code ec;
    if (!fs::exists(path, ec)) {
        return std::optional<std::string>{};
    }
    // The gauge tables hold a line per hour and gauge; anything beyond this is not one of them.
    constexpr std::uintmax_t kLargest = std::uintmax_t{64} << 20U;
    const auto size = fs::file_size(path, ec);
    if (ec || fs::is_directory(path, ec)) {
        return Failure{name + " is not a readable file."};
    }
    if (size > kLargest) {
        return Failure{name + " is larger than 64 MiB, too large for a gauge table."};
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return Failure{name + " cannot open."};
    }
    std::ostringstream text;
    text << file.rdbuf();
    if (file.bad()) {
        return Failure{name + " cannot be read."};
    }
    return std::optional<std::string>{text.str()};
}

}  // namespace hydro::results_page
