#include "discharge_map/ppm_frame.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cstdio>
#include <cstring>
#include <iomanip>
#include <limits>
#include <locale>
#include <sstream>

#include "results/colour_scale.h"

namespace hydro {

using results::colourIndex;
using results::RampColour;
using results::rampColour;

namespace {

constexpr std::size_t kPixelBytes = 3;

using Rgb = std::array<unsigned char, kPixelBytes>;

std::size_t tableSlot(std::int32_t index) {
    const std::int32_t slot = std::clamp(index, -1, 256) + 1;
    return static_cast<std::size_t>(slot);
}

/// Colours of the indices, shifted by one: entry 0 is black (any negative index), entries 1 to
/// 256 the ramp, entry 257 the yellow of indices above 255.
std::array<Rgb, 258> rampTable() {
    std::array<Rgb, 258> table{};
    for (std::int32_t i = -1; i <= 256; ++i) {
        const RampColour c = rampColour(i);
        table[tableSlot(i)] = {static_cast<unsigned char>(c.red),
                               static_cast<unsigned char>(c.green),
                               static_cast<unsigned char>(c.blue)};
    }
    return table;
}

}  // namespace

std::string frameImageName(std::int32_t hour) {
    // "%4d": right-aligned in four characters, padded with blanks, wider when it must be.
    std::string number = std::to_string(hour);
    if (number.size() < 4) {
        number.insert(0, 4 - number.size(), ' ');
    }
    return "./image/" + number + "_discharge.ppm";
}

std::string ppmHeader(std::int32_t rows, std::int32_t cols) {
    const auto width = static_cast<std::int64_t>(cols) * kCellPixels;
    const auto height = static_cast<std::int64_t>(rows) * kCellPixels;
    return "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
}

std::optional<std::size_t> imageFileBytes(std::int32_t rows, std::int32_t cols) {
    if (rows < 0 || cols < 0) {
        return std::nullopt;
    }
    const std::size_t header = ppmHeader(rows, cols).size();
    const std::size_t pixelsPerCell =
        static_cast<std::size_t>(kCellPixels) * kCellPixels * kPixelBytes;
    const auto cells = static_cast<std::uint64_t>(rows) * static_cast<std::uint64_t>(cols);
    const std::uint64_t limit = std::numeric_limits<std::size_t>::max();
    if (cells > (limit - header) / pixelsPerCell) {
        return std::nullopt;
    }
    return header + static_cast<std::size_t>(cells) * pixelsPerCell;
}

std::optional<std::string> largeImageOutputNote(std::int32_t rows, std::int32_t cols,
                                                std::int64_t hours) {
    const std::optional<std::size_t> bytes = imageFileBytes(rows, cols);
    if (!bytes || hours <= 0) {
        return std::nullopt;  // refused or empty anyway
    }
    const double total = static_cast<double>(*bytes) * static_cast<double>(hours);
    if (total <= static_cast<double>(kLargeImageOutputBytes)) {
        return std::nullopt;
    }
    std::ostringstream line;
    line.imbue(std::locale::classic());
    line << "discharge_map: " << hours << " images of "
         << static_cast<std::int64_t>(cols) * kCellPixels << " x "
         << static_cast<std::int64_t>(rows) * kCellPixels << " pixels (" << kCellPixels << " x "
         << kCellPixels << " a cell) will take " << std::fixed << std::setprecision(1)
         << total / 1e9 << " GB in ./image/.";
    return line.str();
}

void fillIndexGrid(std::span<const float> frame, std::int32_t rows, std::int32_t cols, float lower,
                   float upper, std::span<std::int32_t> indices) {
    const auto width = static_cast<std::size_t>(cols);
    assert(frame.size() == static_cast<std::size_t>(rows) * width);
    assert(indices.size() == frame.size());
    for (std::int32_t r = 0; r < rows; ++r) {
        const std::size_t base = static_cast<std::size_t>(r) * width;
        for (std::int32_t c = 0; c < cols; ++c) {
            const std::size_t k = base + static_cast<std::size_t>(c);
            indices[k] = colourIndex(frame[k], r, c, rows, cols, lower, upper);
        }
    }
}

void paintRaster(std::span<const std::int32_t> indices, std::int32_t rows, std::int32_t cols,
                 std::span<unsigned char> raster) {
    static const std::array<Rgb, 258> kTable = rampTable();
    const auto width = static_cast<std::size_t>(cols);
    const auto height = static_cast<std::size_t>(rows);
    const std::size_t pixelRowBytes = width * kCellPixels * kPixelBytes;
    assert(indices.size() == height * width);
    assert(raster.size() == height * kCellPixels * pixelRowBytes);
    if (raster.empty()) {
        return;  // a grid without rows or columns: header only
    }

    unsigned char* top = raster.data();
    for (std::size_t block = 0; block < height; ++block) {
        // Image block 0 (the top) shows the last stored row, the northernmost.
        const std::size_t r = height - 1 - block;
        unsigned char* first = top + block * kCellPixels * pixelRowBytes;
        unsigned char* px = first;
        for (std::size_t c = 0; c < width; ++c) {
            const Rgb& rgb = kTable[tableSlot(indices[r * width + c])];
            for (std::int32_t i = 0; i < kCellPixels; ++i) {
                px[0] = rgb[0];
                px[1] = rgb[1];
                px[2] = rgb[2];
                px += kPixelBytes;
            }
        }
        for (std::int32_t i = 1; i < kCellPixels; ++i) {
            std::memcpy(first + static_cast<std::size_t>(i) * pixelRowBytes, first, pixelRowBytes);
        }
    }
}

FileHandle createImageFile(const std::filesystem::path& path) {
    FileHandle file(std::fopen(path.c_str(), "wb"));
    if (file) {
        // The whole image goes out in one call; a stream buffer would only add a copy.
        static_cast<void>(std::setvbuf(file.get(), nullptr, _IONBF, 0));
    }
    return file;
}

bool writeAndClose(FileHandle file, std::span<const unsigned char> bytes) {
    if (!file) {
        return false;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
    const bool closed = std::fclose(file.release()) == 0;
    return written && closed;
}

}  // namespace hydro
