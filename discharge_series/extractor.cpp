#include "discharge_series/extractor.h"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <istream>
#include <locale>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <system_error>
#include <vector>

#include "case/discharge_grid.h"
#include "case/event_parameters.h"
#include "common/console.h"
#include "common/number_stream.h"
#include "common/raw_grid_io.h"

namespace hydro {

namespace {

constexpr const char* kParameterPath = "../param-event.dat";
constexpr const char* kDischargePath = "./dischargeHourly.bin";
constexpr std::uint64_t kHoursPerDay = 24;
/// Values skipped per read when the discharge file cannot seek (a pipe).
constexpr std::size_t kSkipBlockValues = std::size_t{1} << 16U;

/// Where the chosen cell lies in the hourly grid.
struct CellPlace {
    std::uint64_t frames = 0;       ///< hourly frames wanted, 24 per day
    std::uint64_t frameValues = 0;  ///< values per frame, rows x columns
    std::uint64_t cellIndex = 0;    ///< the cell's value number within a frame, from 0
};

enum class GatherStatus { kOk, kTooShort, kReadError };

/// One answer typed on the console. An answer that is missing or not wholly an integer gives
/// nothing, which the caller reports as out of range: a stray word must never pick a cell.
std::optional<std::int32_t> readAnswer(std::istream& in) {
    std::string token;
    if (!(in >> token)) {
        return std::nullopt;
    }
    return parseInt32(token);
}

/// The output name "./<column>-<row>_discharge.dat".
std::string seriesFileName(std::int32_t column, std::int32_t row) {
    return "./" + std::to_string(column) + "-" + std::to_string(row) + "_discharge.dat";
}

/// Reads the cell's value of every frame by seeking straight to it: one small read per hour
/// instead of the whole grid.
GatherStatus gatherBySeeking(RawValueReader& grid, const CellPlace& place,
                             std::vector<float>& series) {
    series.reserve(static_cast<std::size_t>(place.frames));
    float value = 0.0F;
    for (std::uint64_t f = 0; f < place.frames; ++f) {
        if (!grid.seekValue(f * place.frameValues + place.cellIndex)
            || grid.read(std::span<float>(&value, 1)) != 1) {
            return GatherStatus::kReadError;
        }
        series.push_back(value);
    }
    return GatherStatus::kOk;
}

/// Reads and drops `count` values; false when the stream ends first.
bool skipValues(RawValueReader& grid, std::uint64_t count, std::vector<float>& scratch) {
    while (count > 0) {
        const auto chunk = static_cast<std::size_t>(std::min<std::uint64_t>(count, scratch.size()));
        if (grid.read(std::span<float>(scratch.data(), chunk)) != chunk) {
            return false;
        }
        count -= chunk;
    }
    return true;
}

/// Reads the whole stream in order, keeping the cell's value of each frame; used when the file
/// cannot seek, so that its length is only known at its end. Frames are counted only when they
/// are complete.
GatherStatus gatherByStreaming(RawValueReader& grid, const CellPlace& place,
                               std::vector<float>& series) {
    std::vector<float> scratch(
        static_cast<std::size_t>(std::min<std::uint64_t>(place.frameValues, kSkipBlockValues)));
    float value = 0.0F;
    for (std::uint64_t f = 0; f < place.frames; ++f) {
        if (!skipValues(grid, place.cellIndex, scratch)
            || grid.read(std::span<float>(&value, 1)) != 1
            || !skipValues(grid, place.frameValues - place.cellIndex - 1, scratch)) {
            return GatherStatus::kTooShort;
        }
        series.push_back(value);
    }
    return GatherStatus::kOk;
}

Error tooShort(std::uint64_t framesHeld, const CellPlace& place, const OutputParameters& p) {
    return Error{"Discharge data " + std::string(kDischargePath) + " holds "
                 + std::to_string(framesHeld) + " hourly frames of " + std::to_string(p.studyCols)
                 + " columns x " + std::to_string(p.studyRows)
                 + " rows; the simulation duration needs " + std::to_string(place.frames) + "."};
}

/// Opens the discharge grid and reads the chosen cell's value of each hourly frame. Nothing
/// is written before the whole series is in hand, so that a short or unreadable grid never
/// leaves a truncated series behind.
Result<std::vector<float>> readCellSeries(const std::filesystem::path& workDir,
                                          const CellPlace& place, const OutputParameters& p) {
    RawValueReader grid;
    if (!grid.open(workDir / kDischargePath)) {
        return Error{"Discharge data cannot open."};
    }
    std::vector<float> series;
    GatherStatus status = GatherStatus::kOk;
    if (const auto valuesHeld = grid.valueCount()) {
        // Compared frame by frame: frames x rows x columns may not fit 64 bits.
        const std::uint64_t framesHeld = *valuesHeld / place.frameValues;
        if (framesHeld < place.frames) {
            return tooShort(framesHeld, place, p);
        }
        // A grid of frames of another size would give values of other cells.
        std::error_code ec;
        const auto bytes = std::filesystem::file_size(workDir / kDischargePath, ec);
        const Status whole = checkWholeFrames("dischargeHourly.bin", ec ? *valuesHeld * 4U : bytes,
                                              {p.studyRows, p.studyCols});
        if (!whole) {
            return whole.error();
        }
        status = gatherBySeeking(grid, place, series);
    } else {
        status = gatherByStreaming(grid, place, series);
    }
    switch (status) {
        case GatherStatus::kOk:
            return series;
        case GatherStatus::kTooShort:
            return tooShort(series.size(), place, p);
        case GatherStatus::kReadError:
            break;
    }
    return Error{"Discharge data " + std::string(kDischargePath) + " cannot be read."};
}

/// Writes one line per hour of the series `name`: the hour from 1, a blank, the value in the
/// stream's default format (the float widened to double, as inserting a float does) and a
/// single line feed. The lines go to a temporary file beside the target, renamed into place
/// once complete, so that a failed write (a full disk) never leaves a truncated series under
/// the final name.
Status writeSeries(const std::filesystem::path& workDir, const std::string& name,
                   const std::vector<float>& series) {
    const std::filesystem::path path = workDir / name;
    std::filesystem::path temp = path;
    temp += ".part";
    const Error cannotOpen{"Time series discharge output file cannot open."};
    const Error notWritten{"Time series discharge output file " + name + " could not be written."};
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        return cannotOpen;
    }
    std::ofstream file(temp, std::ios::binary | std::ios::trunc);
    if (!file) {
        return cannotOpen;
    }
    file.imbue(std::locale::classic());
    std::uint64_t hour = 0;
    for (const float value : series) {
        file << ++hour << ' ' << static_cast<double>(value) << '\n';
    }
    file.close();
    if (file.fail()) {
        std::filesystem::remove(temp, ec);
        return notWritten;
    }
    std::filesystem::rename(temp, path, ec);
    if (ec) {
        std::error_code ignored;
        std::filesystem::remove(temp, ignored);
        return notWritten;
    }
    return success();
}

}  // namespace

int runDischargeSeries(std::istream& in, std::ostream& console,
                       const std::filesystem::path& workDir) {
    // 1. Parameters: only the study grid's size and the duration are used.
    const auto read = readOutputParameters(workDir / kParameterPath, &console, EchoStyle::kSeries);
    if (!read) {
        sayLine(console, read.error().message);
        return 1;
    }
    const OutputParameters& p = *read;
    const GridShape shape{p.studyRows, p.studyCols};

    // 2. The cell. Columns count from the west edge: the first value of each stored row.
    sayLine(console, "Input column number to extract data!");
    sayLine(console, "Column number begins from 1 from west.");
    const auto column = readAnswer(in);
    if (!column || *column < 1 || *column > p.studyCols) {
        sayLine(console, "Column number is out of range!");
        return 1;
    }
    sayLine(console, "Input row number to extract data!");
    sayLine(console, "Row number begins from 1 from south.");
    const auto row = readAnswer(in);
    // The column is in range: only the row can leave the cell outside the grid.
    const auto cell = row ? shape.indexOfUser(*column, *row) : std::nullopt;
    if (!row || !cell) {
        sayLine(console, "Row number is out of range!");
        return 1;
    }
    sayLine(console, "Column number : ", *column, " Row number : ", *row);

    // 3. The cell's hourly values. Rows and columns are at least 1 here, so a frame is never
    // empty.
    CellPlace place;
    place.frames = kHoursPerDay * static_cast<std::uint64_t>(p.days);
    place.frameValues = static_cast<std::uint64_t>(shape.cellCount());
    place.cellIndex = static_cast<std::uint64_t>(shape.filePosition(*cell));
    sayLine(console, "Read ", kDischargePath);
    const auto series = readCellSeries(workDir, place, p);
    if (!series) {
        sayLine(console, series.error().message);
        return 1;
    }

    // 4. The series file. The console stays on the "Write" line, which ends in a carriage
    // return only.
    const std::string name = seriesFileName(*column, *row);
    console << "Write " << name << '\r' << std::flush;
    if (const Status written = writeSeries(workDir, name, *series); !written) {
        sayLine(console, written.error().message);
        return 1;
    }
    return 0;
}

}  // namespace hydro
