#pragma once

// Granular bit rounding: each float keeps the mantissa bits its own magnitude needs for a
// given number of significant decimal digits, rounded half up, and the rest are zeroed so
// that the values deflate far better (Delaunay, Gil and Grémy 2019; Zender's granular
// BitRound). The arithmetic is that of the NetCDF library's NC_QUANTIZE_GRANULARBR (4.9.0),
// step for step in double precision, so that values rounded here are the bits the library
// would have stored: a chunk rounded and deflated here reads back as the library's own.

#include <span>

namespace hydro::results {

/// Rounds every value of `values` to `digits` (1 to 6) significant decimal digits, leaving
/// `fill`, zeros and NaN as they are. The rounded value is within half a unit of its
/// `digits`-th significant digit of the original (a relative error of at most
/// 0.5 x 10^(1 - digits)).
void roundToSignificantDigits(std::span<float> values, int digits, float fill);

}  // namespace hydro::results
