#include "results/run_record.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <system_error>

#include "common/number_stream.h"
#include "common/text_file.h"
#include "results/gauge_table.h"

namespace hydro::results {

namespace {

namespace fs = std::filesystem;

/// The header of the table without the catchments' columns, which earlier simulators wrote.
constexpr std::string_view kOwnHeader =
    "scheme,river,cells,rain_m3,initial_storage_m3,inflow_m3,outflow_m3,final_storage_m3,"
    "residual_m3,residual_share";
constexpr std::size_t kOwnColumns = 10;
/// The columns that follow them.
constexpr std::string_view kCatchmentHeader =
    ",to_other_rivers_m3,runoff_coefficient,upstream_rivers,catchment_cells,catchment_rain_m3,"
    "catchment_initial_storage_m3,catchment_outflow_m3,catchment_final_storage_m3,"
    "catchment_residual_m3,catchment_residual_share,catchment_runoff_coefficient";
constexpr std::size_t kColumns = 21;
/// The columns a run of another channel width law adds at the end.
constexpr std::string_view kWidthHeader = ",channel_width_coefficient_m,channel_width_exponent";
/// The first line of the table gauge_series wrote under the same name, before it read the
/// simulator's.
constexpr std::string_view kEarlierGaugeHeader =
    "river,cells,outlet_column,outlet_row,rain_m3,outflow_m3,difference_m3,runoff_coefficient";
/// The names of the volume columns, 3 to 8, in the header's order.
constexpr std::array<const char*, 6> kVolumeNames = {
    "rain_m3", "initial_storage_m3", "inflow_m3", "outflow_m3", "final_storage_m3", "residual_m3"};
/// The names of the catchment's volume columns, 14 to 18.
constexpr std::array<const char*, 5> kCatchmentVolumeNames = {
    "catchment_rain_m3", "catchment_initial_storage_m3", "catchment_outflow_m3",
    "catchment_final_storage_m3", "catchment_residual_m3"};
/// Far above the table of any basin (a row is about 200 bytes).
constexpr std::uintmax_t kLargestBytes = std::uintmax_t{1} << 26U;

/// `token` in quotes, safe to print.
std::string inQuotes(std::string_view token) {
    return "\"" + quoteToken(token) + "\"";
}

bool isScheme(std::string_view s) {
    return s == "linear" || s == "conservative";
}

std::optional<std::int64_t> parseCount(std::string_view token) {
    std::int64_t v = 0;
    const auto r = std::from_chars(token.data(), token.data() + token.size(), v);
    if (r.ec != std::errc() || r.ptr != token.data() + token.size() || v < 0) {
        return std::nullopt;
    }
    return v;
}

/// Cell `k`, named `name`: a number, or none when it is empty.
Result<std::optional<double>> optionalNumber(const std::vector<std::string>& cells, std::size_t k,
                                             const char* name, const std::string& at) {
    if (cells[k].empty()) {
        return std::optional<double>();
    }
    const auto v = parseDouble(cells[k]);
    if (!v) {
        return Error{at + ": " + name + " " + inQuotes(cells[k]) + " is not a number."};
    }
    return std::optional<double>(*v);
}

/// Cells `first` on, named `names`: numbers, into `out`.
template <std::size_t N>
Status numbers(const std::vector<std::string>& cells, std::size_t first,
               const std::array<const char*, N>& names, const std::string& at,
               std::array<double, N>& out) {
    for (std::size_t k = 0; k < N; ++k) {
        const auto v = parseDouble(cells[first + k]);
        if (!v) {
            return Error{at + ": " + names[k] + " " + inQuotes(cells[first + k])
                         + " is not a number."};
        }
        out[k] = *v;
    }
    return success();
}

/// The upstream rivers of `token`: river numbers separated by single spaces, ascending.
Result<std::vector<std::int32_t>> riverNumbers(const std::string& token, const std::string& at) {
    std::vector<std::int32_t> rivers;
    std::size_t from = 0;
    while (from < token.size()) {
        const std::size_t end = std::min(token.find(' ', from), token.size());
        const auto river = parseInt32(std::string_view(token).substr(from, end - from));
        if (!river || *river < 0 || (!rivers.empty() && *river <= rivers.back())
            || end + 1 == token.size()) {
            return Error{at + ": upstream_rivers " + inQuotes(token)
                         + " is no list of river numbers in ascending order."};
        }
        rivers.push_back(*river);
        from = end + 1;
    }
    return rivers;
}

/// Reads the cells after the first ten: the river's share of its outflow into other rivers,
/// its runoff coefficient and its catchment.
Status parseCatchment(const std::vector<std::string>& cells, const std::string& at,
                      BalanceRow& row) {
    const auto toOthers = parseDouble(cells[10]);
    if (!toOthers) {
        return Error{at + ": to_other_rivers_m3 " + inQuotes(cells[10]) + " is not a number."};
    }
    row.toOtherRivers = *toOthers;
    auto coefficient = optionalNumber(cells, 11, "runoff_coefficient", at);
    auto upstream = riverNumbers(cells[12], at);
    const auto count = parseCount(cells[13]);
    if (!coefficient || !upstream) {
        return !coefficient ? coefficient.error() : upstream.error();
    }
    if (!count) {
        return Error{at + ": catchment_cells " + inQuotes(cells[13]) + " is no count of cells."};
    }
    row.runoffCoefficient = *coefficient;
    row.upstreamRivers = std::move(*upstream);
    CatchmentBalance c;
    c.cells = *count;
    std::array<double, kCatchmentVolumeNames.size()> volumes{};
    if (Status read = numbers(cells, 14, kCatchmentVolumeNames, at, volumes); !read) {
        return read;
    }
    c.rain = volumes[0];
    c.initialStorage = volumes[1];
    c.outflow = volumes[2];
    c.finalStorage = volumes[3];
    c.residual = volumes[4];
    auto share = optionalNumber(cells, 19, "catchment_residual_share", at);
    auto catchmentCoefficient = optionalNumber(cells, 20, "catchment_runoff_coefficient", at);
    if (!share || !catchmentCoefficient) {
        return !share ? share.error() : catchmentCoefficient.error();
    }
    c.residualShare = *share;
    c.runoffCoefficient = *catchmentCoefficient;
    row.catchment = c;
    return success();
}

/// Reads one data row's cells into `row`; `at` names the line.
Status parseRow(const std::vector<std::string>& cells, const std::string& at, BalanceRow& row) {
    if (cells[1] != "all") {
        const auto river = parseInt32(cells[1]);
        if (!river || *river < 0) {
            return Error{at + ": river " + inQuotes(cells[1]) + " is no river number."};
        }
        row.river = *river;
    }
    const auto count = parseCount(cells[2]);
    if (!count) {
        return Error{at + ": cells " + inQuotes(cells[2]) + " is no count of cells."};
    }
    row.cells = *count;
    std::array<double, kVolumeNames.size()> volumes{};
    if (Status read = numbers(cells, 3, kVolumeNames, at, volumes); !read) {
        return read;
    }
    row.rain = volumes[0];
    row.initialStorage = volumes[1];
    row.inflow = volumes[2];
    row.outflow = volumes[3];
    row.finalStorage = volumes[4];
    row.residual = volumes[5];
    auto share = optionalNumber(cells, 9, "residual_share", at);
    if (!share) {
        return share.error();
    }
    row.residualShare = *share;
    return cells.size() >= kColumns ? parseCatchment(cells, at, row) : success();
}

/// The table's lines without their line breaks; the error when the last one has none.
Result<std::vector<std::string_view>> linesOf(std::string_view text, const std::string& name) {
    std::vector<std::string_view> lines;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos) {
            return Error{name + " ends in the middle of line " + std::to_string(lines.size() + 1)
                         + "."};
        }
        std::string_view line = text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        lines.push_back(line);
        at = end + 1;
    }
    return lines;
}

}  // namespace

Result<WaterBalance> parseWaterBalance(std::string_view text, const std::string& fileName) {
    const auto lines = linesOf(text, fileName);
    if (!lines) {
        return lines.error();
    }
    if (lines->empty()) {
        return Error{fileName + " is empty."};
    }
    std::string_view header = (*lines)[0];
    const bool widthColumns = header.ends_with(kWidthHeader);
    if (widthColumns) {
        header.remove_suffix(kWidthHeader.size());
    }
    const bool withCatchments = header.size() == kOwnHeader.size() + kCatchmentHeader.size()
                                && header.starts_with(kOwnHeader)
                                && header.ends_with(kCatchmentHeader);
    const std::size_t ownColumns = withCatchments ? kColumns : kOwnColumns;
    const std::size_t columns = ownColumns + (widthColumns ? 2 : 0);
    if (!withCatchments && header != kOwnHeader) {
        return Error{fileName + " does not start with the water balance's header (scheme,river,"
                     + "cells,...)."};
    }
    WaterBalance balance;
    bool ended = false;
    for (std::size_t k = 1; k < lines->size(); ++k) {
        const std::string at = fileName + " line " + std::to_string(k + 1);
        if (ended) {
            return Error{at + " follows the row \"all\", which ends the table."};
        }
        const std::vector<std::string> cells = splitCsvLine((*lines)[k]);
        if (cells.size() != columns) {
            return Error{at + " has " + std::to_string(cells.size()) + " cells, not "
                         + std::to_string(columns) + "."};
        }
        if (widthColumns) {
            auto law = parseChannelWidth(at + ": the channel width",
                                         cells[ownColumns] + "," + cells[ownColumns + 1]);
            if (!law) {
                return law.error();
            }
            if (k > 1 && *law != balance.channelWidth) {
                return Error{at + ": the channel width differs from line 2's."};
            }
            balance.channelWidth = *law;
        }
        if (k == 1) {
            if (!isScheme(cells[0])) {
                return Error{at + ": scheme " + inQuotes(cells[0])
                             + " is neither linear nor conservative."};
            }
            balance.scheme = cells[0];
        } else if (cells[0] != balance.scheme) {
            return Error{at + ": scheme " + inQuotes(cells[0]) + " differs from line 2's "
                         + balance.scheme + "."};
        }
        BalanceRow row;
        if (Status parsed = parseRow(cells, at, row); !parsed) {
            return parsed.error();
        }
        if (row.river < 0) {
            balance.all = row;
            ended = true;
        } else if (!balance.rivers.empty() && row.river <= balance.rivers.back().river) {
            return Error{at + ": river " + std::to_string(row.river) + " follows river "
                         + std::to_string(balance.rivers.back().river)
                         + "; the rivers go in ascending order."};
        } else {
            balance.rivers.push_back(row);
        }
    }
    if (!ended) {
        return Error{fileName + " ends before its row \"all\"."};
    }
    return balance;
}

Result<RecordedBalance> readWaterBalance(const fs::path& outputDir) {
    const fs::path path = outputDir / kWaterBalanceFile;
    const std::string name = std::string("output/") + kWaterBalanceFile;
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (status.type() == fs::file_type::not_found) {
        return RecordedBalance{};
    }
    auto text = readTextFile(path, {kLargestBytes, name + " is a folder, not a table.",
                                    name + " is too large for a water balance.", name});
    if (!text) {
        return text.error();
    }
    const std::string& table = *text;
    if (table.starts_with(kEarlierGaugeHeader)
        && table.substr(kEarlierGaugeHeader.size()).starts_with("\n")) {
        return RecordedBalance{std::nullopt, true};
    }
    auto balance = parseWaterBalance(table, name);
    if (!balance) {
        return balance.error();
    }
    return RecordedBalance{std::move(*balance), false};
}

std::string schemeDescription(std::string_view scheme) {
    if (scheme == "conservative") {
        return "Box scheme of the kinematic wave on channel storage: keeps the water's volume "
               "to round-off.";
    }
    return "Weighted upwind scheme of the kinematic wave on discharge with an estimated "
           "celerity: not volume-conservative.";
}

}  // namespace hydro::results
