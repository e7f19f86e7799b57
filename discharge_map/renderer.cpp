#include "discharge_map/renderer.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <system_error>
#include <vector>

#if defined(_OPENMP)
#include <omp.h>
#endif

#include "case/discharge_grid.h"
#include "case/event_parameters.h"
#include "common/console.h"
#include "common/number_stream.h"
#include "common/raw_grid_io.h"
#include "discharge_map/ppm_frame.h"
#include "results/colour_scale.h"

namespace hydro {

namespace {

namespace fs = std::filesystem;

constexpr const char* kParameterFile = "../param-event.dat";
constexpr const char* kDischargeFile = "./dischargeHourly.bin";
constexpr std::int64_t kMaxHours = 10000;
constexpr std::int64_t kHoursPerDay = 24;
/// Values per read while the bounds are searched.
constexpr std::size_t kScanBlock = std::size_t{1} << 20U;

struct ColourBounds {
    float maximum = -1.0F;
    float minimum = 10000.0F;
    /// Value number (from 0) of the first +Inf met while the bounds were searched: it would
    /// become the maximum and squeeze every finite value to the bottom of the scale.
    std::optional<std::uint64_t> firstInfinite;
};

/// The program's grid and event size, as read from the parameter file.
struct FrameShape {
    std::int32_t rows = 0;
    std::int32_t cols = 0;
    std::int64_t hours = 0;

    [[nodiscard]] std::uint64_t cells() const {
        return static_cast<std::uint64_t>(rows) * static_cast<std::uint64_t>(cols);
    }
};

/// Prints the closing lines of the failures after which the user is asked to confirm, and
/// takes one character (one already waiting in the input counts).
void endAfterKey(std::istream& in, std::ostream& out) {
    sayLine(out);
    sayLine(out, "Program ends. Hit any key!");
    static_cast<void>(in.get());
}

Error missingFrames(std::uint64_t held, std::int64_t needed) {
    return Error{"Discharge data holds " + std::to_string(held) + " hourly frames, but "
                 + std::to_string(needed) + " are needed."};
}

/// One bound typed on the console: a whole number token, or nothing.
std::optional<float> readBound(std::istream& in) {
    std::string word;
    if (!(in >> word)) {
        return std::nullopt;
    }
    return parseFloat(word);
}

/// Asks for the two bounds (the prompts go to `out`); refused when they are not two numbers
/// with the minimum below the maximum.
Result<ColourBounds> askBounds(std::istream& in, std::ostream& out) {
    const Error wrong{"Wrong values inputted!"};
    out << "Input maximum value : " << std::flush;
    const auto maximum = readBound(in);
    if (!maximum) {
        return wrong;
    }
    out << "Input minimum value : " << std::flush;
    const auto minimum = readBound(in);
    if (!minimum || !(*minimum < *maximum)) {
        return wrong;
    }
    ColourBounds bounds;
    bounds.maximum = *maximum;
    bounds.minimum = *minimum;
    return bounds;
}

/// Widens the bounds to every non-negative value of the first `shape.hours` frames. A value
/// that is not a number is below nothing and above nothing, so it changes neither bound; the
/// two tests are independent, since one value may set both. Returns the number of whole frames
/// read, which is `shape.hours` unless the file ends early.
std::uint64_t scanBounds(RawValueReader& reader, const FrameShape& shape, ColourBounds& bounds) {
    const std::uint64_t cells = shape.cells();
    if (cells == 0) {
        return static_cast<std::uint64_t>(shape.hours);
    }
    const std::uint64_t total = cells * static_cast<std::uint64_t>(shape.hours);
    std::vector<float> block(static_cast<std::size_t>(std::min<std::uint64_t>(total, kScanBlock)));
    std::uint64_t done = 0;
    while (done < total) {
        const auto want =
            static_cast<std::size_t>(std::min<std::uint64_t>(total - done, kScanBlock));
        const std::size_t got = reader.read(std::span<float>(block.data(), want));
        for (std::size_t i = 0; i < got; ++i) {
            const float v = block[i];
            if (v < 0.0F) {
                continue;
            }
            if (std::isinf(v) && !bounds.firstInfinite) {
                bounds.firstInfinite = done + i;
            }
            if (v > bounds.maximum) {
                bounds.maximum = v;
            }
            if (v < bounds.minimum) {
                bounds.minimum = v;
            }
        }
        done += got;
        if (got < want) {
            break;
        }
    }
    return done / cells;
}

/// Everything one image needs while it is made: its frame, its colour indices, the whole file
/// image (header included) and the open file.
struct FrameSlot {
    std::vector<float> values;
    std::vector<std::int32_t> indices;
    std::vector<unsigned char> image;
    FileHandle file;
    bool written = false;
};

int workerCount(int requested) {
    if (requested > 0) {
        return requested;
    }
#if defined(_OPENMP)
    return std::max(1, omp_get_max_threads());
#else
    return 1;
#endif
}

/// Writes images 1 to shape.hours. Images are made a batch at a time, one per worker, but read,
/// created, reported and checked in hour order, so that the console and the disk end exactly
/// as when they are made one after another: a failing image h leaves the "Write " lines of
/// images 1 to h, then the message, and no image above h made by this run. The "Write " lines
/// go to `out`; the failure is the error.
Status renderImages(RawValueReader& reader, const FrameShape& shape, const ColourBounds& bounds,
                    int workers, const fs::path& workDir, std::ostream& out) {
    const auto cells = static_cast<std::size_t>(shape.cells());
    const std::string header = ppmHeader(shape.rows, shape.cols);
    const std::optional<std::size_t> imageBytes = imageFileBytes(shape.rows, shape.cols);
    if (!imageBytes) {
        return Error{"Not enough memory for this run.", ErrorKind::kOutOfMemory};
    }
    const auto batch = static_cast<std::size_t>(std::min<std::int64_t>(workers, shape.hours));
    std::vector<FrameSlot> slots(batch);
    for (FrameSlot& slot : slots) {
        slot.values.resize(cells);
        slot.indices.resize(cells);
        slot.image.resize(*imageBytes);
        std::copy(header.begin(), header.end(), slot.image.begin());
    }
    std::vector<std::string> names(batch);

    for (std::int64_t first = 1; first <= shape.hours; first += static_cast<std::int64_t>(batch)) {
        const auto count = static_cast<std::size_t>(
            std::min<std::int64_t>(static_cast<std::int64_t>(batch), shape.hours - first + 1));
        // The frames come from the file strictly in order; a frame that is not all there ends
        // the batch.
        std::size_t framesRead = 0;
        while (framesRead < count
               && reader.read(std::span<float>(slots[framesRead].values)) == cells) {
            ++framesRead;
        }
        // Files are created in order too, and none after one that cannot be.
        std::size_t created = 0;
        for (; created < framesRead; ++created) {
            const auto hour = static_cast<std::int32_t>(first + static_cast<std::int64_t>(created));
            names[created] = frameImageName(hour);
            slots[created].file = createImageFile(workDir / names[created]);
            if (!slots[created].file) {
                break;
            }
        }

        const auto made = static_cast<std::int64_t>(created);
#pragma omp parallel for num_threads(workers) schedule(dynamic, 1)
        for (std::int64_t i = 0; i < made; ++i) {
            FrameSlot& slot = slots[static_cast<std::size_t>(i)];
            fillIndexGrid(slot.values, shape.rows, shape.cols, bounds.minimum, bounds.maximum,
                          slot.indices);
            paintRaster(slot.indices, shape.rows, shape.cols,
                        std::span<unsigned char>(slot.image).subspan(header.size()));
            slot.written = writeAndClose(std::move(slot.file), slot.image);
        }

        for (std::size_t i = 0; i < count; ++i) {
            const std::int64_t hour = first + static_cast<std::int64_t>(i);
            if (i >= framesRead) {
                return missingFrames(static_cast<std::uint64_t>(hour - 1), shape.hours);
            }
            out << "Write " << names[i] << '\r' << std::flush;
            if (i >= created) {
                return Error{"Image output file cannot open.", ErrorKind::kCannotOpen};
            }
            if (!slots[i].written) {
                // The incomplete image and those made after it in the same batch would not
                // exist had the images been made one after another.
                for (std::size_t j = i; j < created; ++j) {
                    std::error_code ignored;
                    fs::remove(workDir / names[j], ignored);
                }
                return Error{"Image output file cannot be written completely."};
            }
        }
    }
    return success();
}

/// The discharge grid must hold every hour of the event in frames of the event's grid, and
/// the event at most 10000 hours.
Status checkDischargeFile(const RawValueReader& reader, const FrameShape& shape,
                          const fs::path& workDir) {
    // 7: at most 10000 images.
    if (shape.hours > kMaxHours) {
        return Error{"Max_time_counter exceeds 10000!"};
    }
    // Images are only drawn from values that are there: a file shorter than the event is
    // refused before anything is asked.
    if (const std::uint64_t cells = shape.cells(); cells > 0) {
        if (const auto values = reader.valueCount()) {
            const std::uint64_t held = *values / cells;
            if (held < static_cast<std::uint64_t>(shape.hours)) {
                return missingFrames(held, shape.hours);
            }
        }
    }
    // Frames of another grid would be drawn with their rows sheared.
    if (std::error_code ec; fs::is_regular_file(workDir / kDischargeFile, ec)) {
        const auto bytes = fs::file_size(workDir / kDischargeFile, ec);
        const GridShape grid{shape.rows, shape.cols};
        if (const Status problem = checkWholeFrames("dischargeHourly.bin", ec ? 0 : bytes, grid);
            !problem) {
            return problem.error();
        }
    }
    return success();
}

/// The bounds found in the file: every hour must be there, and no value infinite.
Result<ColourBounds> boundsOfFile(RawValueReader& reader, const FrameShape& shape) {
    ColourBounds bounds;
    const std::uint64_t framesRead = scanBounds(reader, shape, bounds);
    if (framesRead < static_cast<std::uint64_t>(shape.hours)) {
        return missingFrames(framesRead, shape.hours);
    }
    if (bounds.firstInfinite) {
        const std::uint64_t k = *bounds.firstInfinite;
        const GridShape grid{shape.rows, shape.cols};
        const CellIndex cell =
            grid.indexOfFilePosition(static_cast<std::int64_t>(k % shape.cells()));
        return Error{"dischargeHourly.bin holds an infinite discharge in hour "
                     + std::to_string(k / shape.cells() + 1) + " at " + grid.explainedCellName(cell)
                     + ": it cannot be a bound of the colour scale."};
    }
    return bounds;
}

/// 8-10: the colour bounds, typed or found in the file.
Result<ColourBounds> settleBounds(std::istream& in, std::ostream& out, RawValueReader& reader,
                                  const FrameShape& shape) {
    sayLine(out);
    sayLine(out, "Do you want to set the maximum and minimun values of rainfall intensity? (y/n)");
    std::string answer;
    in >> answer;
    if (answer == "y") {
        return askBounds(in, out);
    }
    return boundsOfFile(reader, shape);
}

}  // namespace

int runDischargeMap(std::istream& in, std::ostream& out, const fs::path& workDir, int workers,
                    std::ostream* notes) {
    // 1-5: the first eleven event parameters.
    const auto read = readOutputParameters(workDir / kParameterFile, &out, EchoStyle::kMap);
    if (!read) {
        sayLine(out, read.error().message);
        if (read.error().kind == ErrorKind::kCannotOpen) {
            endAfterKey(in, out);
        }
        return 1;
    }
    const OutputParameters& params = *read;
    const FrameShape shape{params.studyRows, params.studyCols,
                           kHoursPerDay * static_cast<std::int64_t>(params.days)};

    // 6: the discharge grid.
    sayLine(out, "Read ", kDischargeFile);
    RawValueReader reader;
    if (!reader.open(workDir / kDischargeFile)) {
        sayLine(out, "Discharge data cannot open.");
        return 1;
    }

    if (const Status checked = checkDischargeFile(reader, shape, workDir); !checked) {
        sayLine(out, checked.error().message);
        return 1;
    }
    const auto settled = settleBounds(in, out, reader, shape);
    if (!settled) {
        sayLine(out, settled.error().message);
        return 1;
    }
    const ColourBounds& bounds = *settled;

    // 11-12.
    reader.close();
    if (!(bounds.minimum < bounds.maximum)) {
        sayLine(out, "Maximun discharge <= Minimum discharge!");
        return 1;
    }
    sayLine(out, "Maximun discharge = ", bounds.maximum, " Minimum discharge = ", bounds.minimum);

    // 13: the grid again, from its first frame.
    sayLine(out, "Read ", kDischargeFile);
    if (!reader.open(workDir / kDischargeFile)) {
        sayLine(out, "Discharge data cannot open.");
        endAfterKey(in, out);
        return 1;
    }

    // 14-15: one image per hour.
    if (const auto note = largeImageOutputNote(shape.rows, shape.cols, shape.hours);
        note && notes != nullptr) {
        *notes << *note << std::endl;
    }
    if (shape.hours > 0) {
        const Status rendered =
            renderImages(reader, shape, bounds, workerCount(workers), workDir, out);
        if (!rendered) {
            sayLine(out, rendered.error().message);
            return 1;
        }
    }

    // 16.
    sayLine(out);
    sayLine(out, "Program ends!");
    return 0;
}

}  // namespace hydro
