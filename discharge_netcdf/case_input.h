#pragma once

// Everything the result tools read from a case folder, in one place: the event parameters,
// the river list, the drainage network, the rainfall, the event's start time and the
// simulator's discharge grids. Every reader returns its value or the one line that says what
// is wrong with which file.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>

#include "common/raw_grid_io.h"
#include "runoff_sim/event_parameters.h"
#include "runoff_sim/grid_cell.h"
#include "runoff_sim/rain_cell.h"
#include "runoff_sim/river_list.h"

namespace hydro::results {

/// A value, or the one-line message of why there is none.
template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : value_(std::move(value)) {}  // NOLINT(google-explicit-constructor)
    static Result failure(std::string message) {
        Result r;
        r.error_ = std::move(message);
        return r;
    }
    [[nodiscard]] bool ok() const { return value_.has_value(); }
    explicit operator bool() const { return ok(); }
    T& operator*() { return *value_; }
    const T& operator*() const { return *value_; }
    T* operator->() { return &*value_; }
    const T* operator->() const { return &*value_; }
    [[nodiscard]] const std::string& error() const { return error_; }

private:
    Result() = default;
    std::optional<T> value_;
    std::string error_;
};

/// The 18 values of CASE/param-event.dat, checked as the simulator checks them, with grids
/// that fit its 32-bit cell numbers.
Result<runoff::EventParameters> readParameters(const std::filesystem::path& caseDir);

/// CASE/topoData/riverNumList.dat.
Result<runoff::RiverList> readRivers(const std::filesystem::path& caseDir);

/// The drainage network built from CASE/topoData exactly as the simulator builds it (row 0
/// north).
Result<runoff::StudyGrid> readNetwork(const std::filesystem::path& caseDir,
                                      const runoff::EventParameters& params);

/// The rainfall points and their hourly intensities from CASE/input/rain.dat.
Result<runoff::RainGrid> readRain(const std::filesystem::path& caseDir,
                                  const runoff::EventParameters& params);

/// Start of the event: the date and time of the first block header of rain.dat.
struct EventStart {
    std::int32_t year = 2000;
    std::int32_t month = 1;
    std::int32_t day = 1;
    std::int32_t hour = 0;
    std::int32_t minute = 0;
    std::int32_t second = 0;
    /// True when the header held no valid date and 2000-01-01 00:00:00 stands in for it.
    bool fallback = false;
    /// The six header values as written, for the note that explains a fallback.
    std::string header;
};

/// Reads the first six integers of CASE/input/rain.dat as year, month, day, hour, minute and
/// second (UTC). A header that is not a valid date gives the fallback start; a file that
/// cannot be opened or holds fewer than six integers first is an error.
Result<EventStart> readEventStart(const std::filesystem::path& caseDir);

/// Sequential reader of one of the simulator's discharge grids (CASE/output/<name>), frame
/// by frame (rows from the south, each row west to east, as the file holds them).
class DischargeGrid {
public:
    /// Opens the file and checks that it holds whole frames of `frameValues` values, at least
    /// `framesNeeded` of them.
    static Result<DischargeGrid> open(const std::filesystem::path& path, std::int64_t frameValues,
                                      std::int64_t framesNeeded);

    /// Reads the next frame into `out` (of the frame's size); false on a read error.
    [[nodiscard]] bool readFrame(std::span<float> out);
    /// The value at `filePosition` of frame `frame` (both from 0); nothing on a read error.
    [[nodiscard]] std::optional<float> valueAt(std::int64_t frame, std::int64_t filePosition);
    [[nodiscard]] const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
    std::int64_t frameValues_ = 0;
    RawValueReader reader_;
};

}  // namespace hydro::results
