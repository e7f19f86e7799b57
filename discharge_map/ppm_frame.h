#pragma once

// One hourly discharge frame as a binary PPM image ("P6"): every cell a block of 5 x 5 pixels,
// north at the top. The image is built whole in memory and written with one large write.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>

#include "common/raw_grid_io.h"

namespace hydro {

/// Pixels per cell, across and down.
inline constexpr std::int32_t kCellPixels = 5;

/// "./image/%4d_discharge.ppm" for hour `hour` (1 is the first frame of the discharge file).
[[nodiscard]] std::string frameImageName(std::int32_t hour);

/// "P6", the width 5 * cols and height 5 * rows, and the maximum sample value 255, each line
/// ended by a single 0x0A.
[[nodiscard]] std::string ppmHeader(std::int32_t rows, std::int32_t cols);

/// Size in bytes of a whole image file (header and 75 * rows * cols bytes of raster), or
/// nothing when it does not fit in memory's address range.
[[nodiscard]] std::optional<std::size_t> imageFileBytes(std::int32_t rows, std::int32_t cols);

/// Image output above this many bytes in all is announced before it is written.
inline constexpr std::uint64_t kLargeImageOutputBytes = std::uint64_t{1} << 30U;

/// The line that announces `hours` images of a grid of `rows` x `cols` cells when together
/// they exceed kLargeImageOutputBytes: their count, pixel size and total in GB (10^9 bytes);
/// nothing for a smaller output.
[[nodiscard]] std::optional<std::string> largeImageOutputNote(std::int32_t rows, std::int32_t cols,
                                                              std::int64_t hours);

/// Fills `indices` (rows * cols, row-major in the file's order, south row first) with the
/// colour index of every value of `frame`.
void fillIndexGrid(std::span<const float> frame, std::int32_t rows, std::int32_t cols, float lower,
                   float upper, std::span<std::int32_t> indices);

/// Paints the raster of the image (5 * rows pixel rows of 5 * cols pixels, 3 bytes each, top
/// to bottom) into `raster`, which holds 75 * rows * cols bytes. The last stored
/// (northernmost) row comes out on top. Allocates nothing, so it may run on worker threads.
void paintRaster(std::span<const std::int32_t> indices, std::int32_t rows, std::int32_t cols,
                 std::span<unsigned char> raster);

/// Creates or truncates an image file for binary writing; an empty handle when it cannot be.
[[nodiscard]] FileHandle createImageFile(const std::filesystem::path& path);

/// Writes `bytes` and closes the file; false when any byte did not reach it.
[[nodiscard]] bool writeAndClose(FileHandle file, std::span<const unsigned char> bytes);

}  // namespace hydro
