#pragma once

// What runoff_sim records of its last run in the output folder, read back for the tools: the
// water balance (output/water_balance.csv) and with it the routing scheme. The tools show the
// simulator's own numbers instead of computing them again.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "case/channel_width.h"
#include "common/result.h"

namespace hydro::results {

/// The file in the output folder; runoff_sim writes it at the end of every run.
inline constexpr const char* kWaterBalanceFile = "water_balance.csv";

/// The balance of a river's catchment: the river and every listed river whose water reaches
/// it (none comes in from outside); m3.
struct CatchmentBalance {
    std::int64_t cells = 0;  ///< routed cells
    double rain = 0.0;
    double initialStorage = 0.0;
    double outflow = 0.0;  ///< out of the catchment's routed cells
    double finalStorage = 0.0;
    double residual = 0.0;                    ///< the sum of its rivers' residuals
    std::optional<double> residualShare;      ///< residual / rain; empty without rain
    std::optional<double> runoffCoefficient;  ///< outflow / rain; empty without rain
};

/// One row of the balance: a listed river's, or all rivers' together (river -1); m3.
struct BalanceRow {
    std::int32_t river = -1;
    std::int64_t cells = 0;  ///< routed cells
    double rain = 0.0;
    double initialStorage = 0.0;  ///< water in the channels at the start
    double inflow = 0.0;          ///< from other listed rivers' cells
    double outflow = 0.0;         ///< out of the routed cells, or into another river's
    double finalStorage = 0.0;    ///< water in the channels at the end
    /// (outflow + final storage) - (initial storage + rain + inflow): the water the scheme
    /// made (positive) or lost.
    double residual = 0.0;
    std::optional<double> residualShare;  ///< residual / rain; empty without rain
    // The columns that follow, all empty in the table of a simulator that did not write them
    // (the first ten columns only).
    std::optional<double> toOtherRivers;  ///< the part of the outflow into other rivers' cells
    /// outflow / (rain + inflow); empty when nothing came in.
    std::optional<double> runoffCoefficient;
    std::vector<std::int32_t> upstreamRivers;   ///< the other rivers of its catchment, ascending
    std::optional<CatchmentBalance> catchment;  ///< the total's is that of all rivers
};

struct WaterBalance {
    std::string scheme;              ///< "linear" or "conservative"
    std::vector<BalanceRow> rivers;  ///< in ascending river number
    BalanceRow all;                  ///< the listed rivers together
    ChannelWidthLaw channelWidth;    ///< the model's unless the table records another
};

/// Parses the balance table `text`, as runoff_sim writes it: its header, rows of one scheme
/// in ascending river number, then the row "all", each line ended by a line break. The table
/// of an earlier simulator, with the first ten columns only, is read too. A run of another
/// channel width law has two more columns at the end, the same law in every row. The error
/// names `fileName` (and the line) and says what is wrong.
[[nodiscard]] Result<WaterBalance> parseWaterBalance(std::string_view text,
                                                     const std::string& fileName);

/// What an output folder holds of the simulator's balance.
struct RecordedBalance {
    std::optional<WaterBalance> balance;  ///< none without the simulator's file
    /// The file is the table that gauge_series wrote under the same name before it showed the
    /// simulator's balance (river,cells,outlet_column,...): results of an earlier simulator.
    bool earlierGaugeTable = false;
};

/// The balance in `outputDir`; none when the folder holds no balance file, or the earlier
/// gauge_series table (results of a simulator that did not write one). Any other file that
/// cannot be read or is malformed is an error naming it as output/water_balance.csv.
[[nodiscard]] Result<RecordedBalance> readWaterBalance(const std::filesystem::path& outputDir);

/// One sentence on a scheme `parseWaterBalance` accepts: what it steps and whether it keeps
/// the volume.
[[nodiscard]] std::string schemeDescription(std::string_view scheme);

}  // namespace hydro::results
