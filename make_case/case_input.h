#pragma once

// Every read of an existing case folder by make_case goes through here, so that the tool sees
// case folders exactly as the simulator does. Failures come back as values holding the one
// line that says what is wrong.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "runoff_sim/event_parameters.h"
#include "runoff_sim/rain_cell.h"

namespace hydro::make_case {

/// A value, or the one-line message of why there is none.
template <class T>
class Result {
public:
    Result(T value) : v_(std::move(value)) {}  // NOLINT(google-explicit-constructor)
    static Result failure(std::string line) { return Result(Error{std::move(line)}); }
    [[nodiscard]] bool ok() const { return std::holds_alternative<T>(v_); }
    [[nodiscard]] const T& value() const { return std::get<T>(v_); }
    [[nodiscard]] T& value() { return std::get<T>(v_); }
    [[nodiscard]] const std::string& error() const { return std::get<Error>(v_).line; }

private:
    struct Error {
        std::string line;
    };
    explicit Result(Error e) : v_(std::move(e)) {}
    std::variant<T, Error> v_;
};

using runoff::EventParameters;

/// The 18 values of `caseDir/param-event.dat`, validated as the simulator validates them.
[[nodiscard]] Result<EventParameters> readCaseParameters(const std::filesystem::path& caseDir);

/// The text of `caseDir/param-event.dat` as it stands, for rewriting some of its values.
[[nodiscard]] Result<std::string> readCaseParameterText(const std::filesystem::path& caseDir);

/// The river numbers listed in `caseDir/topoData/riverNumList.dat`, ascending, negative entries
/// and entries of incomplete records left out.
[[nodiscard]] Result<std::vector<std::int32_t>> readCaseRivers(
    const std::filesystem::path& caseDir);

/// A topographic grid of the case, row 0 north, and how many values its file holds. Values past
/// the end of a short file are left at zero.
template <class T>
struct CaseGrid {
    std::vector<T> values;
    std::uint64_t valuesInFile = 0;
};
[[nodiscard]] Result<CaseGrid<float>> readCaseFloatGrid(const std::filesystem::path& caseDir,
                                                        const char* name, const EventParameters& p);
[[nodiscard]] Result<CaseGrid<std::int32_t>> readCaseIntGrid(const std::filesystem::path& caseDir,
                                                             const char* name,
                                                             const EventParameters& p);

/// The rainfall points of the case, placed as the simulator places them.
[[nodiscard]] runoff::RainGrid caseRainPoints(const EventParameters& p);

/// Reads `input/rain.dat` as the simulator does; on success also tells how many numbers the
/// file holds in all.
struct RainFile {
    runoff::RainGrid grid;
    std::uint64_t numbersInFile = 0;
};
[[nodiscard]] Result<RainFile> readCaseRain(const std::filesystem::path& caseDir,
                                            const EventParameters& p);

}  // namespace hydro::make_case
