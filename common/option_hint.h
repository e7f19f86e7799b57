#pragma once

// The line for an option a program does not know, with the nearest one it does know.

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace hydro {

/// The option of `known` that `given` most likely meant: the one with the fewest single-
/// character edits, when they are at most a third of its length (at least 2), or else the one
/// whose name holds `given`'s (without its dashes) or is held by it; nothing when none is near
/// or when `given` is itself one of `known`.
[[nodiscard]] std::optional<std::string_view> nearestOption(
    std::string_view given, std::span<const std::string_view> known);

/// The name of `known` that `given` is a misspelling of: one or two single-character edits
/// away (one for names of up to five characters), or an `area...` name for `area_km2`;
/// nothing when `given` is one of them or near none. For table columns, where other names
/// are let through.
[[nodiscard]] std::optional<std::string_view> misspeltName(std::string_view given,
                                                           std::span<const std::string_view> known);

/// "Unknown option GIVEN[ of WHAT]; did you mean --X? See HELP." (the question only when an
/// option is near), GIVEN quoted short and printable.
[[nodiscard]] std::string unknownOptionLine(std::string_view given,
                                            std::span<const std::string_view> known,
                                            std::string_view what, std::string_view help);

}  // namespace hydro
