// The simulator's water balance read back: every number of the table runoff_sim writes, to the
// last bit; a missing file as nothing; and tables that must be refused, each with the line
// that says why.

#include "results/run_record.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "runoff_sim/water_balance.h"
#include "tests/support/test_support.h"

namespace hydro::results {
namespace {

namespace fs = std::filesystem;

constexpr const char* kHeader =
    "scheme,river,cells,rain_m3,initial_storage_m3,inflow_m3,outflow_m3,final_storage_m3,"
    "residual_m3,residual_share\n";

/// A row of the balance with the given volumes, in the table's order.
runoff::RiverWater waterOf(std::int32_t river, std::int64_t cells, std::array<double, 6> v) {
    runoff::RiverWater w;
    w.river = river;
    w.cells = cells;
    w.rain = v[0];
    w.initialStorage = v[1];
    w.inflow = v[2];
    w.outflow = v[3];
    w.finalStorage = v[4];
    w.residual = v[5];
    return w;
}

void expectSameCatchment(const CatchmentBalance& r, const runoff::CatchmentWater& w) {
    EXPECT_EQ(r.cells, w.cells);
    EXPECT_EQ(r.rain, w.rain);
    EXPECT_EQ(r.initialStorage, w.initialStorage);
    EXPECT_EQ(r.outflow, w.outflow);
    EXPECT_EQ(r.finalStorage, w.finalStorage);
    EXPECT_EQ(r.residual, w.residual);
    EXPECT_EQ(r.runoffCoefficient, w.runoffCoefficient);
    if (w.rain > 0.0) {
        EXPECT_EQ(r.residualShare, w.residual / w.rain);
    } else {
        EXPECT_FALSE(r.residualShare.has_value());
    }
}

TEST(RunRecord, ReadsTheSimulatorsTableToTheLastBit) {
    runoff::RiverWater one = waterOf(1, 9911,
                                     {520744372.4777089, 0.1 + 0.2, 74183.25, 479099202.0230627,
                                      228722892.3580891, 187077721.9});
    one.upstreamRivers = {3, 12};
    one.runoffCoefficient = 0.9198765432109876;
    one.catchment = {
        9920, 520744372.4777089 + 1e-300, 1.0 / 3.0, 479099215.0, 228722894.0, -4.1e-7, 0.92001};
    runoff::RiverWater three = waterOf(3, 7, {1e-300, 0.0, 12.5, 4.9e-324, 0.0, -12.5});
    three.toOtherRivers = 4.9e-324;
    three.runoffCoefficient = 4.9e-324 / 12.5;
    three.catchment = {7, 1e-300, 0.0, 4.9e-324, 0.0, -12.5, 0.0};
    runoff::RiverWater dry = waterOf(12, 2, {0.0, 3.0, 0.0, 1.0, 2.0, 0.0});
    dry.toOtherRivers = 1.0;
    dry.catchment = {2, 0.0, 3.0, 1.0, 2.0, 0.0, std::nullopt};
    runoff::RiverWater all =
        waterOf(-1, 9920, {one.rain + three.rain, 0.3, 0.0, 479099215.0, 2.0, -4.1e-7});
    all.catchment = one.catchment;
    const std::vector<runoff::RiverWater> rivers{one, three, dry, all};
    const std::string text = runoff::waterBalanceCsv(runoff::Scheme::kConservative, rivers);

    const auto parsed = parseWaterBalance(text, "water_balance.csv");
    ASSERT_TRUE(parsed) << parsed.error().message;
    EXPECT_EQ(parsed->scheme, "conservative");
    ASSERT_EQ(parsed->rivers.size(), 3U);
    for (std::size_t k = 0; k < rivers.size(); ++k) {
        SCOPED_TRACE(k);
        const runoff::RiverWater& w = rivers[k];
        const BalanceRow& r = k + 1 < rivers.size() ? parsed->rivers[k] : parsed->all;
        EXPECT_EQ(r.river, w.river);
        EXPECT_EQ(r.cells, w.cells);
        EXPECT_EQ(r.rain, w.rain);
        EXPECT_EQ(r.initialStorage, w.initialStorage);
        EXPECT_EQ(r.inflow, w.inflow);
        EXPECT_EQ(r.outflow, w.outflow);
        EXPECT_EQ(r.finalStorage, w.finalStorage);
        EXPECT_EQ(r.residual, w.residual);
        if (w.rain > 0.0) {
            ASSERT_TRUE(r.residualShare.has_value());
            EXPECT_EQ(*r.residualShare, w.residual / w.rain);
        } else {
            EXPECT_FALSE(r.residualShare.has_value());
        }
        EXPECT_EQ(r.toOtherRivers, w.toOtherRivers);
        EXPECT_EQ(r.runoffCoefficient, w.runoffCoefficient);
        EXPECT_EQ(r.upstreamRivers, w.upstreamRivers);
        ASSERT_TRUE(r.catchment.has_value());
        expectSameCatchment(*r.catchment, w.catchment);
    }
    EXPECT_EQ(
        parseWaterBalance(runoff::waterBalanceCsv(runoff::Scheme::kLinear, rivers), "w")->scheme,
        "linear");
    // A run of another channel width law: the same rows, and the law.
    EXPECT_TRUE(parsed->channelWidth.isModel());
    const auto wide = parseWaterBalance(
        runoff::waterBalanceCsv(runoff::Scheme::kConservative, rivers, {1.0, 0.5}), "w");
    ASSERT_TRUE(wide) << wide.error().message;
    EXPECT_EQ(wide->channelWidth, (ChannelWidthLaw{1.0, 0.5}));
    EXPECT_EQ(wide->all.residual, parsed->all.residual);
    EXPECT_EQ(wide->rivers.size(), parsed->rivers.size());

    // Line breaks of another system read the same.
    std::string crlf;
    for (const char c : text) {
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    }
    const auto again = parseWaterBalance(crlf, "water_balance.csv");
    ASSERT_TRUE(again) << again.error().message;
    EXPECT_EQ(again->all.outflow, all.outflow);

    // Without listed rivers there is only the total.
    const auto none = parseWaterBalance(std::string(kHeader) + "linear,all,0,0,0,0,0,0,0,\n", "w");
    ASSERT_TRUE(none) << none.error().message;
    EXPECT_TRUE(none->rivers.empty());
    EXPECT_EQ(none->all.cells, 0);
    // An earlier simulator's table, without the catchments, has none of their figures.
    EXPECT_FALSE(none->all.catchment.has_value());
    EXPECT_FALSE(none->all.runoffCoefficient.has_value());
    EXPECT_FALSE(none->all.toOtherRivers.has_value());
}

TEST(RunRecord, MalformedCatchmentColumnsAreRefused) {
    const std::string h = runoff::waterBalanceCsv(runoff::Scheme::kLinear, {});
    const std::string all = "linear,all,4,10,0,0,8,1,-1,-0.1,0,0.8,,4,10,0,8,1,-1,-0.1,0.8\n";
    const auto river = [](const std::string& upstream, const std::string& tail) {
        return "linear,1,4,10,0,0,8,1,-1,-0.1,0,0.8," + upstream + ",4," + tail + "\n";
    };
    const std::string fine = "10,0,8,1,-1,-0.1,0.8";
    ASSERT_TRUE(parseWaterBalance(h + river("2 3", fine) + all, "wb.csv"));
    struct Case {
        std::string text;
        std::string message;
    };
    const std::vector<Case> cases = {
        {h + river("3 2", fine) + all,
         "wb.csv line 2: upstream_rivers \"3 2\" is no list of river numbers in ascending "
         "order."},
        {h + river("2  3", fine) + all,
         "wb.csv line 2: upstream_rivers \"2  3\" is no list of river numbers in ascending "
         "order."},
        {h + river("two", fine) + all,
         "wb.csv line 2: upstream_rivers \"two\" is no list of river numbers in ascending "
         "order."},
        {h + river("", "10,0,8,inf,-1,-0.1,0.8") + all,
         "wb.csv line 2: catchment_final_storage_m3 \"inf\" is not a number."},
        {h + river("", "10,0,8,1,-1,-0.1,x") + all,
         "wb.csv line 2: catchment_runoff_coefficient \"x\" is not a number."},
        {h + "linear,1,4,10,0,0,8,1,-1,-0.1\n" + all, "wb.csv line 2 has 10 cells, not 21."},
        {h + "linear,1,4,10,0,0,8,1,-1,-0.1,,0.8,,4," + fine + "\n" + all,
         "wb.csv line 2: to_other_rivers_m3 \"\" is not a number."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const auto parsed = parseWaterBalance(c.text, "wb.csv");
        ASSERT_FALSE(parsed);
        EXPECT_EQ(parsed.error().message, c.message);
    }
}

TEST(RunRecord, MalformedTablesAreRefusedWithTheLineThatSaysWhy) {
    const std::string h = kHeader;
    const std::string wide =
        h.substr(0, h.size() - 1) + ",channel_width_coefficient_m,channel_width_exponent\n";
    const std::string river1 = "linear,1,4,10,0,0,8,1,-1,-0.1\n";
    const std::string all = "linear,all,4,10,0,0,8,1,-1,-0.1\n";
    struct Case {
        std::string text;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"", "wb.csv is empty."},
        {"river,rain,outflow,difference\n1,2,3,4\n",
         "wb.csv does not start with the water balance's header (scheme,river,cells,...)."},
        {h + river1 + "linear,all,4,10,0,0,8,1,-1,-0.", "wb.csv ends in the middle of line 3."},
        {h + river1, "wb.csv ends before its row \"all\"."},
        {h + all + river1, "wb.csv line 3 follows the row \"all\", which ends the table."},
        {h + "linear,1,4,10,0,0,8,1,-1\n" + all, "wb.csv line 2 has 9 cells, not 10."},
        {h + "linear,1,4,10,0,0,8,1,-1,-0.1,1,0.5\n" + all, "wb.csv line 2 has 12 cells, not 10."},
        {wide + "linear,1,4,10,0,0,8,1,-1,-0.1,1,0.5\n" + "linear,all,4,10,0,0,8,1,-1,-0.1,2,0.5\n",
         "wb.csv line 3: the channel width differs from line 2's."},
        {wide + "linear,1,4,10,0,0,8,1,-1,-0.1,0,0.5\n" + all,
         "wb.csv line 2: the channel width must be " + std::string(kChannelWidthForm)
             + ", not \"0,0.5\"."},
        {h + "implicit,1,4,10,0,0,8,1,-1,-0.1\n" + all,
         "wb.csv line 2: scheme \"implicit\" is neither linear nor conservative."},
        {h + river1 + "conservative,all,4,10,0,0,8,1,-1,-0.1\n",
         "wb.csv line 3: scheme \"conservative\" differs from line 2's linear."},
        {h + "linear,one,4,10,0,0,8,1,-1,-0.1\n" + all,
         "wb.csv line 2: river \"one\" is no river number."},
        {h + "linear,-2,4,10,0,0,8,1,-1,-0.1\n" + all,
         "wb.csv line 2: river \"-2\" is no river number."},
        {h + "linear,1,-4,10,0,0,8,1,-1,-0.1\n" + all,
         "wb.csv line 2: cells \"-4\" is no count of cells."},
        {h + "linear,2,4,10,0,0,8,1,-1,-0.1\n" + river1 + all,
         "wb.csv line 3: river 1 follows river 2; the rivers go in ascending order."},
        {h + river1 + river1 + all,
         "wb.csv line 3: river 1 follows river 1; the rivers go in ascending order."},
        {h + "linear,1,4,10,0,0,nan,1,-1,-0.1\n" + all,
         "wb.csv line 2: outflow_m3 \"nan\" is not a number."},
        {h + "linear,1,4,10,0,0,8,1e999,-1,-0.1\n" + all,
         "wb.csv line 2: final_storage_m3 \"1e999\" is not a number."},
        {h + "linear,1,4,10,0,0,8,1,-1,\x01\xff\n" + all,
         "wb.csv line 2: residual_share \"\\x01\\xFF\" is not a number."},
        {h + river1 + "\n" + all, "wb.csv line 3 has 1 cells, not 10."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const auto parsed = parseWaterBalance(c.text, "wb.csv");
        ASSERT_FALSE(parsed);
        EXPECT_EQ(parsed.error().message, c.message);
    }
}

TEST(RunRecord, ReadsTheOutputFolder) {
    test::TempDir dir;
    const auto missing = readWaterBalance(dir.path());
    ASSERT_TRUE(missing) << missing.error().message;
    EXPECT_FALSE(missing->balance.has_value());
    EXPECT_FALSE(missing->earlierGaugeTable);

    // What gauge_series wrote under this name before the simulator did: no balance, no error.
    test::writeText(dir / "water_balance.csv",
                    "river,cells,outlet_column,outlet_row,rain_m3,outflow_m3,difference_m3,"
                    "runoff_coefficient\n1,4,5,2,6.7e5,4.1e5,2.6e5,0.61\n");
    const auto earlier = readWaterBalance(dir.path());
    ASSERT_TRUE(earlier) << earlier.error().message;
    EXPECT_FALSE(earlier->balance.has_value());
    EXPECT_TRUE(earlier->earlierGaugeTable);

    test::writeText(dir / "water_balance.csv",
                    std::string(kHeader) + "conservative,all,0,0,0,0,0,0,0,\n");
    const auto present = readWaterBalance(dir.path());
    ASSERT_TRUE(present) << present.error().message;
    ASSERT_TRUE(present->balance.has_value());
    EXPECT_FALSE(present->earlierGaugeTable);
    EXPECT_EQ(present->balance->scheme, "conservative");

    test::writeText(dir / "water_balance.csv", "scheme\n");
    const auto malformed = readWaterBalance(dir.path());
    ASSERT_FALSE(malformed);
    EXPECT_EQ(malformed.error().message,
              "output/water_balance.csv does not start with the water balance's header "
              "(scheme,river,cells,...).");

    fs::remove(dir / "water_balance.csv");
    fs::create_directory(dir / "water_balance.csv");
    const auto folder = readWaterBalance(dir.path());
    ASSERT_FALSE(folder);
    EXPECT_EQ(folder.error().message, "output/water_balance.csv is a folder, not a table.");
}

}  // namespace
}  // namespace hydro::results
