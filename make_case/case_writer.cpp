#include "make_case/case_writer.h"

#include <omp.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdio>
#include <exception>
#include <iomanip>
#include <sstream>
#include <system_error>

#include "common/file_transaction.h"
#include "common/number_stream.h"
#include "common/raw_grid_io.h"

namespace hydro::make_case {

namespace {

namespace fs = std::filesystem;

std::string fixed(double v, int digits) {
    std::ostringstream s;
    s << std::fixed << std::setprecision(digits) << v;
    return s.str();
}

/// Writes a grid, row 0 north, in the file order: rows from the south, each west to east,
/// 4-byte little-endian values.
template <class T, class Convert>
bool writeGrid(const fs::path& path, const GridSpec& gridSpec, std::span<const T> values,
               Convert convert) {
    const FileHandle file(std::fopen(path.c_str(), "wb"));
    if (!file) {
        return false;
    }
    const auto cols = static_cast<std::size_t>(gridSpec.cols);
    std::vector<std::uint32_t> row(cols);
    for (std::int32_t r = gridSpec.rows - 1; r >= 0; --r) {
        const std::size_t first = static_cast<std::size_t>(r) * cols;
        for (std::size_t c = 0; c < cols; ++c) {
            row[c] = convert(values[first + c]);
        }
        littleEndianInPlace(row);
        if (std::fwrite(row.data(), sizeof(std::uint32_t), cols, file.get()) != cols) {
            return false;
        }
    }
    return std::fflush(file.get()) == 0;
}

std::string riverListText(std::span<const RiverRecord> rivers) {
    std::ostringstream list;
    for (const RiverRecord& r : rivers) {
        list << r.number << ' ' << r.row << ' ' << r.col << ' ' << r.cells << ' ' << r.channelCells
             << " 0 " << fixed(r.lon, 5) << ' ' << fixed(r.lat, 5) << '\n';
    }
    return list.str();
}

}  // namespace

std::string defaultParameterText(const GridSpec& gridSpec) {
    const CornerText corner = cornerText(gridSpec);
    constexpr double kRainSpacing = 0.1;
    const double width = static_cast<double>(gridSpec.cols) / 120.0;
    const double height = static_cast<double>(gridSpec.rows) / 120.0;
    const auto rainCols = static_cast<std::int32_t>(std::ceil(width / kRainSpacing - 1e-9));
    const auto rainRows = static_cast<std::int32_t>(std::ceil(height / kRainSpacing - 1e-9));
    std::ostringstream s;
    s << std::setprecision(12);
    s << gridSpec.cols << ' ' << gridSpec.rows << '\n'
      << corner.lon << ' ' << corner.lat << '\n'
      << std::max(rainCols, 1) << ' ' << std::max(rainRows, 1) << '\n'
      << kRainSpacing << ' ' << kRainSpacing << '\n'
      << gridSpec.westDeg() + kRainSpacing / 2 << ' ' << gridSpec.southDeg() + kRainSpacing / 2
      << '\n'
      << "1\n60\n4\n0.6\n0.6\n0.03\n"
      << kDefaultChannelArea << "\n0.1\n";
    return s.str();
}

Result<std::string> replaceStudyGrid(const std::string& text, const GridSpec& gridSpec) {
    const CornerText corner = cornerText(gridSpec);
    const std::array<std::string, 4> values{std::to_string(gridSpec.cols),
                                            std::to_string(gridSpec.rows), corner.lon, corner.lat};
    return replaceValues(text, 0, values);
}

std::vector<RiverRecord> riverRecords(const GridSpec& gridSpec,
                                      std::span<const std::int32_t> riverNum,
                                      std::span<const std::int32_t> flowAcc,
                                      std::span<const std::int32_t> outletCells,
                                      std::int32_t channelArea) {
    std::vector<RiverRecord> records(outletCells.size());
    for (std::size_t k = 0; k < outletCells.size(); ++k) {
        RiverRecord& r = records[k];
        r.number = static_cast<std::int32_t>(k + 1);
        r.row = gridSpec.shape().rowOf(outletCells[k]);
        r.col = gridSpec.shape().columnOf(outletCells[k]);
        r.lon = (static_cast<double>(gridSpec.westCells + r.col) + 0.5) / 120.0;
        r.lat =
            (static_cast<double>(gridSpec.southCells + gridSpec.rows - 1 - r.row) + 0.5) / 120.0;
    }
    // Counts per thread, added up after: whole numbers, the same at any thread count.
    const auto n = static_cast<std::int64_t>(riverNum.size());
#pragma omp parallel
    {
        std::vector<std::int64_t> cells(records.size(), 0);
        std::vector<std::int64_t> channelCells(records.size(), 0);
#pragma omp for schedule(static) nowait
        for (std::int64_t i = 0; i < n; ++i) {
            const std::int32_t number = riverNum[static_cast<std::size_t>(i)];
            if (number >= 1 && static_cast<std::size_t>(number) <= records.size()) {
                const auto k = static_cast<std::size_t>(number - 1);
                ++cells[k];
                if (flowAcc[static_cast<std::size_t>(i)] > channelArea) {
                    ++channelCells[k];
                }
            }
        }
#pragma omp critical(make_case_river_counts)
        for (std::size_t k = 0; k < records.size(); ++k) {
            records[k].cells += cells[k];
            records[k].channelCells += channelCells[k];
        }
    }
    return records;
}

namespace {

/// Creates the folders of the case.
Status createCaseFolders(const fs::path& caseDir) {
    std::error_code ec;
    for (const fs::path& dir :
         {caseDir / "topoData", caseDir / "input", caseDir / "output" / "image"}) {
        fs::create_directories(dir, ec);
        if (ec) {
            return Error{dir.string() + " cannot be created (" + ec.message() + ")."};
        }
    }
    return success();
}

/// Writes the files of the case; with `label`, the river grid and list come from it, worked
/// out while the other grids are written. Each grid is its own task: files are the same at any
/// thread count.
Result<RiverFiles> writeCaseFiles(const fs::path& caseDir, const CaseFiles& files,
                                  const std::function<RiverFiles()>* label) {
    if (const Status made = createCaseFolders(caseDir); !made) {
        return made.error();
    }
    const fs::path topo = caseDir / "topoData";
    const GridSpec& gridSpec = *files.gridSpec;
    const auto floatBits = [](float v) { return std::bit_cast<std::uint32_t>(v); };
    const auto intBits = [](std::int32_t v) { return static_cast<std::uint32_t>(v); };
    const auto dirBits = [](std::int8_t v) { return static_cast<std::uint32_t>(v); };
    FileTransaction transaction;
    const std::array<fs::path, 4> targets{topo / "modDem.bin", topo / "flowDir.bin",
                                          topo / "flowAcc.bin", topo / "riverNum.bin"};
    std::array<fs::path, 4> temps;
    for (std::size_t k = 0; k < targets.size(); ++k) {
        temps[k] = transaction.add(targets[k]);
    }
    RiverFiles labelled;
    std::exception_ptr failure;
    std::array<bool, 4> written{};
#pragma omp parallel num_threads(std::min(omp_get_max_threads(), 4))
#pragma omp single
    {
        if (label != nullptr) {
#pragma omp task shared(labelled, failure) depend(out : labelled)
            try {
                labelled = (*label)();
            } catch (...) {
                failure = std::current_exception();
            }
        }
#pragma omp task shared(written, temps)
        written[0] = writeGrid(temps[0], gridSpec, files.elevation, floatBits);
#pragma omp task shared(written, temps)
        written[1] = writeGrid(temps[1], gridSpec, files.flowDir, dirBits);
#pragma omp task shared(written, temps)
        written[2] = writeGrid(temps[2], gridSpec, files.flowAcc, intBits);
#pragma omp task shared(written, temps, labelled, failure) depend(in : labelled)
        if (!failure) {
            written[3] =
                writeGrid(temps[3], gridSpec,
                          label != nullptr ? std::span<const std::int32_t>(labelled.riverNum)
                                           : files.riverNum,
                          intBits);
        }
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
    for (std::size_t k = 0; k < targets.size(); ++k) {
        if (!written[k]) {
            return Error{targets[k].string() + " cannot be written."};
        }
    }
    const std::span<const RiverRecord> rivers =
        label != nullptr ? std::span<const RiverRecord>(labelled.records) : files.rivers;
    for (const Status& text :
         {transaction.write(topo / "riverNumList.dat", riverListText(rivers)),
          transaction.write(caseDir / "param-event.dat", files.parameterText)}) {
        if (!text) {
            return text.error();
        }
    }
    if (const Status committed = transaction.commit(); !committed) {
        return committed.error();
    }
    return labelled;
}

}  // namespace

Status writeCase(const fs::path& caseDir, const CaseFiles& files) {
    const auto written = writeCaseFiles(caseDir, files, nullptr);
    if (!written) {
        return written.error();
    }
    return success();
}

Result<RiverFiles> writeCaseLabelling(const fs::path& caseDir, const CaseFiles& files,
                                      const std::function<RiverFiles()>& label) {
    return writeCaseFiles(caseDir, files, &label);
}

}  // namespace hydro::make_case
