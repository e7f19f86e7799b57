#pragma once

// Everything results_page reads from a case folder, in one place: the event parameters, the
// river list, the drainage network, the rainfall and the start of the event, and the hourly
// discharge grid of the simulator. Errors come back as values carrying the one line that says
// what is wrong.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "common/raw_grid_io.h"
#include "runoff_sim/event_parameters.h"
#include "runoff_sim/grid_cell.h"
#include "runoff_sim/rain_cell.h"
#include "runoff_sim/river_list.h"

namespace hydro::results_page {

/// The one line that says why a read failed.
struct Failure {
    std::string message;
};

/// A value or the failure that prevented it.
template <class T>
class Result {
public:
    Result(T value) : state_(std::move(value)) {}            // NOLINT(google-explicit-constructor)
    Result(Failure failure) : state_(std::move(failure)) {}  // NOLINT(google-explicit-constructor)

    [[nodiscard]] bool ok() const { return std::holds_alternative<T>(state_); }
    [[nodiscard]] T& value() { return std::get<T>(state_); }
    [[nodiscard]] const T& value() const { return std::get<T>(state_); }
    [[nodiscard]] const std::string& error() const { return std::get<Failure>(state_).message; }

private:
    std::variant<T, Failure> state_;
};

/// The moment the event starts, UTC. Hour h of the event ends h hours later.
struct EventStart {
    std::int32_t year = 2000;
    std::int32_t month = 1;
    std::int32_t day = 1;
    std::int32_t hour = 0;
    std::int32_t minute = 0;
    std::int32_t second = 0;
    /// True when rain.dat's first block header holds no valid date and 2000-01-01 00:00:00 is
    /// used instead.
    bool fallback = false;
};

/// The date in the six integers of a rain block header (year, month, day, hour, minute,
/// second), or nothing when they name no valid date and time of the Gregorian calendar.
[[nodiscard]] std::optional<EventStart> eventStartFromHeader(const std::vector<std::int64_t>& h);

/// The inputs of a case that the page draws from.
struct CaseInput {
    runoff::EventParameters params;
    runoff::RiverList rivers;
    runoff::StudyGrid grid;  ///< row 0 north, with elevation, flow accumulation, river numbers
    runoff::RainGrid rain;
    EventStart start;
};

/// Reads param-event.dat, topoData/ and input/rain.dat of `caseDir`.
[[nodiscard]] Result<CaseInput> readCaseInput(const std::filesystem::path& caseDir);

/// Reader of output/dischargeHourly.bin, frame after frame (each frame south row first, as
/// the simulator writes it).
class DischargeFrames {
public:
    /// Opens the file and checks that it holds whole frames of `rows` x `cols` values, at least
    /// `hours` of them.
    [[nodiscard]] static Result<DischargeFrames> open(const std::filesystem::path& caseDir,
                                                      std::int32_t rows, std::int32_t cols,
                                                      std::int64_t hours);
    /// Reads frame `hour` (0-based) into `out` (rows * cols values, file order).
    [[nodiscard]] bool read(std::int64_t hour, std::vector<float>& out);
    [[nodiscard]] const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
    std::uint64_t frameValues_ = 0;
    RawValueReader reader_;
};

/// The text of an optional file of the case's output folder (the gauge tables), or nothing when
/// the file does not exist; a failure when it exists but cannot be read.
[[nodiscard]] Result<std::optional<std::string>> readOptionalOutputText(
    const std::filesystem::path& caseDir, const std::string& name);

}  // namespace hydro::results_page
