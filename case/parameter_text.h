#pragma once

// Edits of a param-event.dat text that keep everything else byte for byte: its layout,
// comments after the values and the spelling of the values not changed.

#include <cstddef>
#include <span>
#include <string>

#include "common/result.h"

namespace hydro {

/// Value numbers (from 1, in file order) of the values a calibration may change.
inline constexpr std::size_t kManningSlopeValue = 15;
inline constexpr std::size_t kManningChannelValue = 16;
inline constexpr std::size_t kInitialRunoffValue = 18;

/// `text` with its values `first`, `first` + 1, ... (from 0) replaced by `values`, everything
/// else kept byte for byte. Fails ("holds fewer than <n> values.", n = `first` + the count of
/// `values`) on a shorter text.
[[nodiscard]] Result<std::string> replaceValues(const std::string& text, std::size_t first,
                                                std::span<const std::string> values);

}  // namespace hydro
