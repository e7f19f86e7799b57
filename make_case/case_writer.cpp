#include "make_case/case_writer.h"

#include <bit>
#include <cmath>
#include <cstdio>
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

/// Writes a grid as the temporary of `target` in the transaction.
template <class T, class Convert>
Status addGrid(FileTransaction& files, const fs::path& target, const GridSpec& gridSpec,
               std::span<const T> values, Convert convert) {
    if (!writeGrid(files.add(target), gridSpec, values, convert)) {
        return Error{target.string() + " cannot be written."};
    }
    return success();
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
    for (std::size_t i = 0; i < riverNum.size(); ++i) {
        const std::int32_t n = riverNum[i];
        if (n >= 1 && static_cast<std::size_t>(n) <= records.size()) {
            RiverRecord& r = records[static_cast<std::size_t>(n - 1)];
            ++r.cells;
            if (flowAcc[i] > channelArea) {
                ++r.channelCells;
            }
        }
    }
    return records;
}

Status writeCase(const fs::path& caseDir, const CaseFiles& files) {
    std::error_code ec;
    for (const fs::path& dir :
         {caseDir / "topoData", caseDir / "input", caseDir / "output" / "image"}) {
        fs::create_directories(dir, ec);
        if (ec) {
            return Error{dir.string() + " cannot be created (" + ec.message() + ")."};
        }
    }
    const fs::path topo = caseDir / "topoData";
    const GridSpec& gridSpec = *files.gridSpec;
    const auto floatBits = [](float v) { return std::bit_cast<std::uint32_t>(v); };
    const auto intBits = [](std::int32_t v) { return static_cast<std::uint32_t>(v); };
    const auto dirBits = [](std::int8_t v) { return static_cast<std::uint32_t>(v); };
    FileTransaction transaction;
    for (const Status& written :
         {addGrid(transaction, topo / "modDem.bin", gridSpec, files.elevation, floatBits),
          addGrid(transaction, topo / "flowDir.bin", gridSpec, files.flowDir, dirBits),
          addGrid(transaction, topo / "flowAcc.bin", gridSpec, files.flowAcc, intBits),
          addGrid(transaction, topo / "riverNum.bin", gridSpec, files.riverNum, intBits),
          transaction.write(topo / "riverNumList.dat", riverListText(files.rivers)),
          transaction.write(caseDir / "param-event.dat", files.parameterText)}) {
        if (!written) {
            return written.error();
        }
    }
    return transaction.commit();
}

}  // namespace hydro::make_case
