#pragma once

// The one place where the three ways of numbering a study cell meet:
// - the memory index: rows from the north (row 0 the northernmost), each row from the west;
// - the file position: grids and output frames run from the south row to the north row, each
//   row from the west;
// - the user's numbering: a column from the west and a row from the south, both from 1, as the
//   series extractor asks for them.

#include <cstdint>
#include <optional>
#include <string>

namespace hydro {

/// Size of a study cell in degrees, east-west and north-south (30 arc-seconds).
inline constexpr double kCellDegrees = 30.0 / 3600.0;

using CellIndex = std::int32_t;
inline constexpr CellIndex kNoCell = -1;

struct GridShape {
    std::int32_t rows = 0;
    std::int32_t cols = 0;

    [[nodiscard]] std::int64_t cellCount() const { return std::int64_t{rows} * cols; }

    /// Memory index of (row from the north, column from the west), both from 0.
    [[nodiscard]] CellIndex index(std::int32_t row, std::int32_t column) const {
        return row * cols + column;
    }
    [[nodiscard]] std::int32_t rowOf(CellIndex i) const { return i / cols; }
    [[nodiscard]] std::int32_t columnOf(CellIndex i) const { return i % cols; }
    [[nodiscard]] bool contains(std::int32_t row, std::int32_t column) const {
        return row >= 0 && row < rows && column >= 0 && column < cols;
    }
    /// True in the first or last row or column.
    [[nodiscard]] bool isBorder(CellIndex i) const {
        const std::int32_t r = rowOf(i);
        const std::int32_t c = columnOf(i);
        return r == 0 || r == rows - 1 || c == 0 || c == cols - 1;
    }

    /// Position of a cell in the grid files and output frames.
    [[nodiscard]] std::int64_t filePosition(CellIndex i) const {
        return std::int64_t{rows - 1 - rowOf(i)} * cols + columnOf(i);
    }
    /// Memory row of value `k` of a file, and its column.
    [[nodiscard]] std::int32_t rowOfFilePosition(std::int64_t k) const {
        return static_cast<std::int32_t>(rows - 1 - k / cols);
    }
    [[nodiscard]] std::int32_t columnOfFilePosition(std::int64_t k) const {
        return static_cast<std::int32_t>(k % cols);
    }
    [[nodiscard]] CellIndex indexOfFilePosition(std::int64_t k) const {
        return index(rowOfFilePosition(k), columnOfFilePosition(k));
    }

    /// The user's column (from the west) and row (from the south), both from 1.
    [[nodiscard]] std::int32_t userColumn(CellIndex i) const { return columnOf(i) + 1; }
    [[nodiscard]] std::int32_t userRow(CellIndex i) const { return rows - rowOf(i); }
    /// The cell the user numbers (column, row); nothing outside the grid.
    [[nodiscard]] std::optional<CellIndex> indexOfUser(std::int64_t column,
                                                       std::int64_t row) const {
        if (column < 1 || column > cols || row < 1 || row > rows) {
            return std::nullopt;
        }
        return index(static_cast<std::int32_t>(rows - row), static_cast<std::int32_t>(column - 1));
    }
    /// The cell as the user names it: "column 3, row 5" (column from the west, row from the
    /// south, both from 1).
    [[nodiscard]] std::string userCellName(CellIndex i) const {
        return "column " + std::to_string(userColumn(i)) + ", row " + std::to_string(userRow(i));
    }
    /// The same, with how it is counted, for messages that a user reads without the manual:
    /// "column 3, row 5 (counted from 1 from the west and from the south)".
    [[nodiscard]] std::string explainedCellName(CellIndex i) const {
        return userCellName(i) + " (counted from 1 from the west and from the south)";
    }
};

}  // namespace hydro
