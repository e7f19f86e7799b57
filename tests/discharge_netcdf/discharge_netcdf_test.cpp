// The NetCDF conversion of the discharge grids: every value as in the raw files, the frame
// order and the south-to-north rows kept, the event maximum and its hour, the time axes from
// rain.dat's start, the attributes a CF reader needs and the run's scheme, a long event, and
// inputs that must fail without leaving a file behind.

#include <gtest/gtest.h>
#include <netcdf.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "case/event_start.h"
#include "case/run_state.h"
#include "discharge_netcdf/app.h"
#include "physics/conservative_wave.h"
#include "results/event_time.h"
#include "results/run_record.h"
#include "runoff_sim/water_balance.h"
#include "tests/discharge_netcdf/netcdf_case.h"
#include "tests/discharge_netcdf/netcdf_read.h"
#include "tests/runoff_sim/case_builder.h"
#include "tests/runoff_sim/planned_state.h"
#include "tests/support/test_support.h"

namespace hydro::results {
namespace {

namespace fs = std::filesystem;
using test::NcReader;
using test::writeCase;

constexpr float kFill = -9999.0F;

/// Value of frame `f` at file position `k` (rows from the south): no data in column 0,
/// distinct elsewhere.
float hourlyValue(std::size_t f, std::size_t k, std::int32_t cols) {
    if (k % static_cast<std::size_t>(cols) == 0) {
        return kFill;
    }
    return static_cast<float>(f) * 0.25F + static_cast<float>(k) * 0.001F;
}

struct Grids {
    std::vector<float> hourly;
    std::vector<float> dailyMean;
    std::vector<float> dailyMax;
};

Grids writeGrids(const fs::path& dir, std::int32_t cols, std::int32_t rows, std::int32_t days) {
    const auto cells = static_cast<std::size_t>(cols) * static_cast<std::size_t>(rows);
    Grids g;
    for (std::size_t f = 0; f < static_cast<std::size_t>(days) * 24; ++f) {
        for (std::size_t k = 0; k < cells; ++k) {
            g.hourly.push_back(hourlyValue(f, k, cols));
        }
    }
    for (std::size_t d = 0; d < static_cast<std::size_t>(days); ++d) {
        for (std::size_t k = 0; k < cells; ++k) {
            const bool none = k % static_cast<std::size_t>(cols) == 0;
            g.dailyMean.push_back(none ? kFill : 1000.0F + static_cast<float>(d * cells + k));
            g.dailyMax.push_back(none ? kFill : 2000.0F + static_cast<float>(d * cells + k));
        }
    }
    test::writeFloats(dir / "output" / "dischargeHourly.bin", g.hourly);
    test::writeFloats(dir / "output" / "dischargeDaily.bin", g.dailyMean);
    test::writeFloats(dir / "output" / "dischargeHourlyMaxInDay.bin", g.dailyMax);
    return g;
}

struct Outcome {
    int status;
    std::string out;
};

Outcome convert(const fs::path& dir) {
    std::ostringstream out;
    std::ostringstream progress;
    const std::vector<std::string> args{dir.string()};
    const int status = runDischargeNetcdf(args, out, progress);
    return {status, out.str()};
}

/// Every entry of the folder whose name starts with "discharge.nc".
std::vector<std::string> netcdfFiles(const fs::path& output) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(output)) {
        const std::string name = e.path().filename().string();
        if (name.starts_with("discharge.nc")) {
            names.push_back(name);
        }
    }
    return names;
}

TEST(DischargeNetcdf, EveryValueEqualsTheRawGridsInFileOrder) {
    test::TempDir dir;
    writeCase(dir.path(), 4, 3, 2, "2021 3 14 6 30 0");
    const Grids g = writeGrids(dir.path(), 4, 3, 2);
    const Outcome run = convert(dir.path());
    ASSERT_EQ(run.status, 0) << run.out;
    NcReader nc(dir / "output/discharge.nc");
    ASSERT_TRUE(nc.ok());
    int format = 0;
    ASSERT_EQ(nc_inq_format(nc.id(), &format), NC_NOERR);
    EXPECT_EQ(format, NC_FORMAT_NETCDF4_CLASSIC);
    EXPECT_EQ(nc.dim("time"), 48U);
    EXPECT_EQ(nc.dim("day"), 2U);
    EXPECT_EQ(nc.dim("lat"), 3U);
    EXPECT_EQ(nc.dim("lon"), 4U);
    // lat runs south to north as the files do, so the arrays compare element by element
    // (-9999 included: it is the fill value, read back as stored).
    EXPECT_EQ(nc.floats("discharge"), g.hourly);
    EXPECT_EQ(nc.floats("discharge_daily_mean"), g.dailyMean);
    EXPECT_EQ(nc.floats("discharge_daily_max"), g.dailyMax);

    // Cell centres from the single-precision corner.
    const double lon0 = static_cast<double>(-118.343F);
    const double lat0 = static_cast<double>(34.2314F);
    const std::vector<double> lat = nc.doubles("lat");
    const std::vector<double> lon = nc.doubles("lon");
    ASSERT_EQ(lat.size(), 3U);
    ASSERT_EQ(lon.size(), 4U);
    EXPECT_DOUBLE_EQ(lat[0], lat0 + 0.5 / 120.0);
    EXPECT_DOUBLE_EQ(lat[2], lat0 + 2.5 / 120.0);
    EXPECT_DOUBLE_EQ(lon[0], lon0 + 0.5 / 120.0);
    EXPECT_DOUBLE_EQ(lon[3], lon0 + 3.5 / 120.0);

    // Hour h ends at h; its bounds are [h-1, h]. Days end at 24 and 48.
    const std::vector<double> time = nc.doubles("time");
    const std::vector<double> bounds = nc.doubles("time_bnds");
    ASSERT_EQ(time.size(), 48U);
    for (std::size_t h = 0; h < 48; ++h) {
        EXPECT_EQ(time[h], static_cast<double>(h + 1));
        EXPECT_EQ(bounds[2 * h], static_cast<double>(h));
        EXPECT_EQ(bounds[2 * h + 1], static_cast<double>(h + 1));
    }
    EXPECT_EQ(nc.doubles("day"), (std::vector<double>{24.0, 48.0}));
    EXPECT_EQ(nc.doubles("day_bnds"), (std::vector<double>{0.0, 24.0, 24.0, 48.0}));

    // Deflate level 1 in chunks of one frame.
    for (const char* name : {"discharge", "discharge_daily_mean", "discharge_daily_max"}) {
        SCOPED_TRACE(name);
        int shuffle = -1;
        int deflate = -1;
        int level = -1;
        ASSERT_EQ(nc_inq_var_deflate(nc.id(), nc.var(name), &shuffle, &deflate, &level), NC_NOERR);
        EXPECT_EQ(deflate, 1);
        EXPECT_EQ(level, 1);
        int storage = -1;
        std::size_t chunks[3] = {};
        ASSERT_EQ(nc_inq_var_chunking(nc.id(), nc.var(name), &storage, chunks), NC_NOERR);
        EXPECT_EQ(storage, NC_CHUNKED);
        EXPECT_EQ(chunks[0], 1U);
        EXPECT_EQ(chunks[1], 3U);
        EXPECT_EQ(chunks[2], 4U);
    }
    EXPECT_EQ(netcdfFiles(dir / "output"), std::vector<std::string>{"discharge.nc"});
}

TEST(DischargeNetcdf, EventMaximumAndTheEndOfItsFirstHour) {
    test::TempDir dir;
    writeCase(dir.path(), 3, 1, 2, "2000 1 1 0 0 0");
    // Cell 0 no data; cell 1 rises to 7 in hour 30 and falls; cell 2 reaches 5 in hours 5
    // and 40 (the first counts) and is 0 in hour 1.
    std::vector<float> hourly;
    for (int h = 1; h <= 48; ++h) {
        hourly.push_back(kFill);
        hourly.push_back(h == 30 ? 7.0F : 1.0F + static_cast<float>(h % 5) * 0.1F);
        hourly.push_back(h == 5 || h == 40 ? 5.0F : (h == 1 ? 0.0F : 2.0F));
    }
    test::writeFloats(dir / "output/dischargeHourly.bin", hourly);
    test::writeFloats(dir / "output/dischargeDaily.bin", std::vector<float>(6, 0.0F));
    test::writeFloats(dir / "output/dischargeHourlyMaxInDay.bin", std::vector<float>(6, 0.0F));
    const Outcome run = convert(dir.path());
    ASSERT_EQ(run.status, 0) << run.out;
    NcReader nc(dir / "output/discharge.nc");
    EXPECT_EQ(nc.floats("discharge_event_max"), (std::vector<float>{kFill, 7.0F, 5.0F}));
    EXPECT_EQ(nc.doubles("time_of_peak"), (std::vector<double>{-9999.0, 30.0, 5.0}));
}

TEST(DischargeNetcdf, AttributesACfReaderNeeds) {
    test::TempDir dir;
    writeCase(dir.path(), 4, 3, 1, "2021 3 14 6 30 0");
    writeGrids(dir.path(), 4, 3, 1);
    ASSERT_EQ(convert(dir.path()).status, 0);
    NcReader nc(dir / "output/discharge.nc");
    EXPECT_EQ(nc.text("", "Conventions"), "CF-1.8");
    EXPECT_NE(nc.text("", "title"), "(missing)");
    EXPECT_NE(nc.text("", "source").find("discharge_netcdf"), std::string::npos);
    EXPECT_NE(nc.text("", "history").find("discharge_netcdf"), std::string::npos);
    EXPECT_EQ(nc.number("", "event_days"), 1.0);
    EXPECT_EQ(nc.number("", "event_time_step_s"), 600.0);
    EXPECT_EQ(nc.number("", "event_south_west_latitude_deg"), static_cast<double>(34.2314F));
    EXPECT_EQ(nc.number("", "event_weighting_factor"), 0.6);
    // No water balance in the output folder: the scheme is not known.
    EXPECT_EQ(nc.text("", "scheme"), "(missing)");
    EXPECT_EQ(nc.text("", "scheme_description"), "(missing)");
    for (const char* name :
         {"discharge", "discharge_daily_mean", "discharge_daily_max", "discharge_event_max"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(nc.text(name, "units"), "m3 s-1");
        EXPECT_EQ(nc.text(name, "standard_name"), "water_volume_transport_in_river_channel");
        EXPECT_NE(nc.text(name, "long_name"), "(missing)");
        EXPECT_EQ(nc.text(name, "grid_mapping"), "crs");
        EXPECT_EQ(nc.number(name, "_FillValue"), -9999.0);
        nc_type type = NC_NAT;
        nc_inq_vartype(nc.id(), nc.var(name), &type);
        EXPECT_EQ(type, NC_FLOAT);
    }
    EXPECT_EQ(nc.text("discharge", "cell_methods"), "time: mean");
    EXPECT_EQ(nc.text("discharge_daily_mean", "cell_methods"), "day: mean");
    EXPECT_EQ(nc.text("discharge_daily_max", "cell_methods"), "day: maximum");
    // The time of peak in whole hours, its fill an integer of the same type.
    nc_type peakType = NC_NAT;
    nc_inq_vartype(nc.id(), nc.var("time_of_peak"), &peakType);
    EXPECT_EQ(peakType, NC_INT);
    nc_type fillType = NC_NAT;
    nc_inq_atttype(nc.id(), nc.var("time_of_peak"), "_FillValue", &fillType);
    EXPECT_EQ(fillType, NC_INT);
    EXPECT_EQ(nc.number("time_of_peak", "_FillValue"), -9999.0);
    for (const char* name : {"time", "day", "time_of_peak"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(nc.text(name, "units"), "hours since 2021-03-14 06:30:00");
        EXPECT_EQ(nc.text(name, "calendar"), "standard");
    }
    EXPECT_EQ(nc.text("time", "bounds"), "time_bnds");
    EXPECT_EQ(nc.text("day", "bounds"), "day_bnds");
    EXPECT_EQ(nc.text("lat", "units"), "degrees_north");
    EXPECT_EQ(nc.text("lat", "standard_name"), "latitude");
    EXPECT_EQ(nc.text("lat", "axis"), "Y");
    EXPECT_EQ(nc.text("lon", "units"), "degrees_east");
    EXPECT_EQ(nc.text("lon", "axis"), "X");
    EXPECT_EQ(nc.text("crs", "grid_mapping_name"), "latitude_longitude");
    EXPECT_NE(nc.text("crs", "crs_wkt").find(R"(AUTHORITY["EPSG","4326"])"), std::string::npos);
}

TEST(DischargeNetcdf, TheCaseNoteBecomesTheCommentAndNoNoteNoComment) {
    test::TempDir dir;
    writeCase(dir.path(), 4, 3, 1, "2021 3 14 6 30 0");
    writeGrids(dir.path(), 4, 3, 1);
    ASSERT_EQ(convert(dir.path()).status, 0);
    EXPECT_EQ(NcReader(dir / "output/discharge.nc").text("", "comment"), "(missing)");

    test::writeText(dir / "case-note.txt", "Not a real place: the terrain is stretched.\nmore\n");
    const Outcome run = convert(dir.path());
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(NcReader(dir / "output/discharge.nc").text("", "comment"),
              "Not a real place: the terrain is stretched.");

    // A note that cannot be shown: one line, and the earlier file stays.
    const std::string before = test::readText(dir / "output/discharge.nc");
    test::writeText(dir / "case-note.txt", "tab\there\n");
    const Outcome bad = convert(dir.path());
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.out, (dir / "case-note.txt").string()
                           + ": the first line is the case's note and may hold no control "
                             "characters.\n");
    EXPECT_EQ(test::readText(dir / "output/discharge.nc"), before);
}

TEST(DischargeNetcdf, TheSchemeOfTheRunFromItsWaterBalance) {
    test::TempDir dir;
    writeCase(dir.path(), 4, 3, 1, "2021 3 14 6 30 0");
    writeGrids(dir.path(), 4, 3, 1);
    test::writeText(dir / "output/water_balance.csv",
                    "scheme,river,cells,rain_m3,initial_storage_m3,inflow_m3,outflow_m3,"
                    "final_storage_m3,residual_m3,residual_share\n"
                    "conservative,1,12,5,0,0,4,1,0,0\n"
                    "conservative,all,12,5,0,0,4,1,0,0\n");
    const Outcome run = convert(dir.path());
    ASSERT_EQ(run.status, 0) << run.out;
    NcReader nc(dir / "output/discharge.nc");
    EXPECT_EQ(nc.text("", "scheme"), "conservative");
    EXPECT_EQ(nc.text("", "scheme_description"), schemeDescription("conservative"));
    // The model's channel width law is not written down.
    EXPECT_EQ(nc.text("", "channel_width_law"), "(missing)");
}

TEST(DischargeNetcdf, TheChannelWidthLawOfTheRunFromItsWaterBalance) {
    test::TempDir dir;
    writeCase(dir.path(), 4, 3, 1, "2021 3 14 6 30 0");
    writeGrids(dir.path(), 4, 3, 1);
    test::writeText(dir / "output/water_balance.csv",
                    "scheme,river,cells,rain_m3,initial_storage_m3,inflow_m3,outflow_m3,"
                    "final_storage_m3,residual_m3,residual_share,channel_width_coefficient_m,"
                    "channel_width_exponent\n"
                    "linear,1,12,5,0,0,4,1,0,0,1,0.5\n"
                    "linear,all,12,5,0,0,4,1,0,0,1,0.5\n");
    const Outcome run = convert(dir.path());
    ASSERT_EQ(run.status, 0) << run.out;
    NcReader nc(dir / "output/discharge.nc");
    EXPECT_EQ(nc.text("", "scheme"), "linear");
    EXPECT_EQ(nc.number("", "channel_width_coefficient_m"), 1.0);
    EXPECT_EQ(nc.number("", "channel_width_exponent"), 0.5);
    EXPECT_EQ(nc.text("", "channel_width_law"), "B = 1 * A^0.5 m (A in km2)");
}

#ifdef HYDRO_NCDUMP
TEST(DischargeNetcdf, NcdumpDecodesTheHoursToTheirDates) {
    test::TempDir dir;
    // A leap year: the 48 hours from 28 February 23:30 run into 1 and 2 March.
    writeCase(dir.path(), 4, 3, 2, "2024 2 28 23 30 0");
    writeGrids(dir.path(), 4, 3, 2);
    ASSERT_EQ(convert(dir.path()).status, 0);
    const fs::path dump = dir / "dump.txt";
    const std::string command = std::string(HYDRO_NCDUMP) + " -t -v time,day '"
                                + (dir / "output/discharge.nc").string() + "' > '" + dump.string()
                                + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const std::string text = test::readText(dump);
    EXPECT_NE(text.find("time = \"2024-02-29 00:30\", \"2024-02-29 01:30\""), std::string::npos)
        << text;
    EXPECT_NE(text.find("\"2024-03-01 23:30\" ;"), std::string::npos) << text;
    EXPECT_NE(text.find("day = \"2024-02-29 23:30\", \"2024-03-01 23:30\" ;"), std::string::npos)
        << text;
}
#endif

TEST(DischargeNetcdf, LongEventOf417DaysKeepsEveryFrame) {
    test::TempDir dir;
    writeCase(dir.path(), 3, 2, 417, "1999 12 31 0 0 0");
    const Grids g = writeGrids(dir.path(), 3, 2, 417);
    const Outcome run = convert(dir.path());
    ASSERT_EQ(run.status, 0) << run.out;
    NcReader nc(dir / "output/discharge.nc");
    EXPECT_EQ(nc.dim("time"), 10008U);
    EXPECT_EQ(nc.floats("discharge"), g.hourly);
    EXPECT_EQ(nc.floats("discharge_daily_max"), g.dailyMax);
    const std::vector<double> time = nc.doubles("time");
    ASSERT_EQ(time.size(), 10008U);
    EXPECT_EQ(time.back(), 10008.0);
    EXPECT_EQ(nc.doubles("day").back(), 10008.0);
    // The last hour's values are the largest: the event maximum is frame 10007's.
    const std::vector<float> eventMax = nc.floats("discharge_event_max");
    EXPECT_EQ(eventMax[1], hourlyValue(10007, 1, 3));
    EXPECT_EQ(nc.doubles("time_of_peak")[1], 10008.0);
}

TEST(DischargeNetcdf, InputsThatMustFailLeaveNoFile) {
    struct Case {
        const char* name;
        std::function<void(const fs::path&)> spoil;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"hourly grid a frame short",
         [](const fs::path& d) {
             std::vector<float> v = test::readFloats(d / "output/dischargeHourly.bin");
             v.resize(v.size() - 12);
             test::writeFloats(d / "output/dischargeHourly.bin", v);
         },
         "dischargeHourly.bin holds 47 frames of 4 columns x 3 rows, but 48 are needed."},
        {"part of a frame",
         [](const fs::path& d) {
             std::vector<float> v = test::readFloats(d / "output/dischargeDaily.bin");
             v.push_back(1.0F);
             test::writeFloats(d / "output/dischargeDaily.bin", v);
         },
         "dischargeDaily.bin holds 100 bytes, not a whole number of frames of 4 columns x 3 rows "
         "(48 bytes each): it was written for another grid than param-event.dat describes."},
        {"not a number in an hour",
         [](const fs::path& d) {
             std::vector<float> v = test::readFloats(d / "output/dischargeHourly.bin");
             v[29 * 12 + 5] = std::nanf("");
             test::writeFloats(d / "output/dischargeHourly.bin", v);
         },
         "dischargeHourly.bin holds NaN in hour 30 at column 2, row 2: the run that wrote it "
         "failed, or the file is damaged."},
        {"infinite daily maximum",
         [](const fs::path& d) {
             std::vector<float> v = test::readFloats(d / "output/dischargeHourlyMaxInDay.bin");
             v[12 + 11] = INFINITY;
             test::writeFloats(d / "output/dischargeHourlyMaxInDay.bin", v);
         },
         "dischargeHourlyMaxInDay.bin holds inf in day 2 at column 4, row 3: the run that wrote it "
         "failed, or the file is damaged."},
        {"daily maximum missing",
         [](const fs::path& d) { fs::remove(d / "output/dischargeHourlyMaxInDay.bin"); },
         "dischargeHourlyMaxInDay.bin cannot open."},
        {"no rainfall file", [](const fs::path& d) { fs::remove(d / "input/rain.dat"); },
         "ROF file cannot open."},
        {"parameters missing", [](const fs::path& d) { fs::remove(d / "param-event.dat"); },
         "param-event.dat cannot open."},
        {"a water balance of another kind",
         [](const fs::path& d) {
             test::writeText(d / "output/water_balance.csv", "river,rain,outflow\n1,2,3\n");
         },
         "output/water_balance.csv does not start with the water balance's header "
         "(scheme,river,cells,...)."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        writeCase(dir.path(), 4, 3, 2, "2000 1 1 0 0 0");
        writeGrids(dir.path(), 4, 3, 2);
        // An earlier result stays as it was.
        test::writeText(dir / "output/discharge.nc", "earlier");
        c.spoil(dir.path());
        const Outcome run = convert(dir.path());
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, std::string(c.message) + "\n");
        EXPECT_EQ(netcdfFiles(dir / "output"), std::vector<std::string>{"discharge.nc"});
        EXPECT_EQ(test::readText(dir / "output/discharge.nc"), "earlier");
    }
}

TEST(DischargeNetcdf, UsageAndHelp) {
    std::ostringstream out;
    std::ostringstream progress;
    EXPECT_EQ(runDischargeNetcdf(std::vector<std::string>{}, out, progress), 1);
    EXPECT_TRUE(out.str().starts_with("Usage: discharge_netcdf CASE_DIR")) << out.str();
    out.str("");
    EXPECT_EQ(runDischargeNetcdf(std::vector<std::string>{"--help"}, out, progress), 0);
    EXPECT_NE(out.str().find("discharge_event_max"), std::string::npos);
    out.str("");
    EXPECT_EQ(runDischargeNetcdf(std::vector<std::string>{"case", "--deflate", "\x1b[2J9"}, out,
                                 progress),
              1);
    EXPECT_EQ(out.str(), "--deflate must be a whole number from 0 to 9, not \"\\x1B[2J9\".\n");

    // Given the case's output folder instead of the case, or a case without one.
    test::TempDir dir;
    writeCase(dir.path(), 4, 3, 2, "2000 1 1 0 0 0");
    out.str("");
    EXPECT_EQ(
        runDischargeNetcdf(std::vector<std::string>{(dir / "output").string()}, out, progress), 1);
    EXPECT_EQ(out.str(), "this is not a case folder: no param-event.dat in "
                             + (dir / "output").string() + "; the case folder is "
                             + dir.path().string() + ".\n");
    fs::remove_all(dir / "output");
    out.str("");
    EXPECT_EQ(runDischargeNetcdf(std::vector<std::string>{dir.path().string()}, out, progress), 1);
    EXPECT_EQ(out.str(), (dir / "output").string() + " is not a folder: create it with: mkdir -p "
                             + (dir / "output").string() + "\n");
}

TEST(EventStart, HeaderDatesAndTheirFallback) {
    struct Case {
        const char* header;
        bool fallback;
        const char* hourOne;
    };
    const std::vector<Case> cases = {
        {"2000 1 1 0 0 0", false, "2000-01-01T01:00:00Z"},
        {"2023 12 31 23 30 15", false, "2024-01-01T00:30:15Z"},
        {"2024 2 29 0 0 0", false, "2024-02-29T01:00:00Z"},
        {"2023 2 29 0 0 0", true, "2000-01-01T01:00:00Z"},  // not a leap year
        {"1900 2 29 0 0 0", true, "2000-01-01T01:00:00Z"},  // nor is a century
        {"2000 13 1 0 0 0", true, "2000-01-01T01:00:00Z"},
        {"2000 1 1 24 0 0", true, "2000-01-01T01:00:00Z"},
        {"2000 1 1 0 60 0", true, "2000-01-01T01:00:00Z"},
        {"0 0 0 0 0 0", true, "2000-01-01T01:00:00Z"},
        {"2000 1 x 0 0 0", true, "2000-01-01T01:00:00Z"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.header);
        test::TempDir dir;
        test::writeText(dir / "input/rain.dat", std::string(c.header) + "\n0 0 0 0\n");
        const auto start = readEventStart(dir / "input/rain.dat");
        ASSERT_TRUE(start.ok()) << start.error().message;
        EXPECT_EQ(start->fallback, c.fallback);
        EXPECT_EQ(isoHourEnd(*start, 1), c.hourOne);
    }
    EventStart s;
    s.year = 2024;
    s.month = 2;
    s.day = 28;
    s.hour = 23;
    EXPECT_EQ(isoHourEnd(s, 2), "2024-02-29T01:00:00Z");
    EXPECT_EQ(isoHourEnd(s, 24 * 366), "2025-02-28T23:00:00Z");
    EXPECT_EQ(hoursSinceUnits(s), "hours since 2024-02-28 23:00:00");
}

TEST(EventStart, FallbackIsNotedOnTheConsoleAndInTheHistory) {
    test::TempDir dir;
    writeCase(dir.path(), 4, 3, 1, "2000 2 30 0 0 0");
    writeGrids(dir.path(), 4, 3, 1);
    const Outcome run = convert(dir.path());
    ASSERT_EQ(run.status, 0);
    EXPECT_TRUE(
        run.out.starts_with("Note: rain.dat's first block header is not a valid date; times "
                            "count from 2000-01-01 00:00:00.\n"))
        << run.out;
    NcReader nc(dir / "output/discharge.nc");
    EXPECT_NE(nc.text("", "history").find("is not a valid date"), std::string::npos);
    EXPECT_EQ(nc.text("time", "units"), "hours since 2000-01-01 00:00:00");
}

/// `discharge_netcdf ARGS` with its exit status and console text.
Outcome runWith(const std::vector<std::string>& args) {
    std::ostringstream out;
    std::ostringstream progress;
    const int status = runDischargeNetcdf(args, out, progress);
    return {status, out.str()};
}

// A state the simulator's plan starts the confluence case from, under either scheme: every
// routed cell's outlet discharge, channel storage and lateral inflow as the simulator holds
// them, fill values elsewhere, the state's time.
TEST(StateNetcdf, EveryRoutedCellAsTheSimulatorHoldsItAndFillElsewhere) {
    test::TempDir dir;
    test::confluenceCase().write(dir.path());
    for (const auto scheme : {runoff::Scheme::kLinear, runoff::Scheme::kConservative}) {
        const auto planned = test::plannedState(dir.path(), scheme);
        ASSERT_TRUE(planned);
        const fs::path state = dir / "hour-5.state";
        ASSERT_TRUE(writeState(state, planned->state));
        const fs::path target = dir / "state.nc";
        fs::remove(target);
        const Outcome o =
            runWith({dir.path().string(), "--state", state.string(), target.string()});
        const char* name = stateSchemeName(planned->state.origin.scheme);
        ASSERT_EQ(o.status, 0) << o.out;
        EXPECT_EQ(o.out, "Wrote " + target.string() + ": the " + name
                             + " scheme's state at 2022-10-18T05:00:00Z, 9 cells.\n");

        const NcReader nc(target);
        ASSERT_TRUE(nc.ok());
        EXPECT_EQ(nc.dim("lat"), 5U);
        EXPECT_EQ(nc.dim("lon"), 5U);
        std::vector<double> discharge = nc.doubles("discharge");
        std::vector<double> storage = nc.doubles("storage");
        std::vector<double> lateral = nc.doubles("lateral_inflow");
        ASSERT_EQ(discharge.size(), 25U);
        ASSERT_EQ(storage.size(), 25U);
        ASSERT_EQ(lateral.size(), 25U);
        const runoff::RoutingPlan& plan = planned->plan;
        const auto perCell = static_cast<std::size_t>(plan.scheme.spaceSteps) + 1U;
        for (std::size_t i = 0; i < plan.cells.size(); ++i) {
            const runoff::RoutedCell& rc = plan.cells[i];
            const std::span<const double> nodes(plan.initialNodes.data() + i * perCell, perCell);
            const auto at = static_cast<std::size_t>(rc.framePosition);
            const runoff::BoxCell box = runoff::BoxCell::of(plan.box, rc.wave.dx, rc.alpha);
            const double q =
                plan.conservative() ? runoff::boxDischargeOf(box, nodes.back()) : nodes.back();
            EXPECT_EQ(discharge[at], q) << name << " " << at;
            EXPECT_GT(q, 0.0);
            EXPECT_EQ(storage[at], runoff::cellStorage(plan, rc, nodes)) << name << " " << at;
            EXPECT_GT(storage[at], 0.0);
            discharge[at] = static_cast<double>(kFill);
            storage[at] = static_cast<double>(kFill);
        }
        // The k-th cell in frame order got 1e-6 (k + 1) m2/s.
        EXPECT_EQ(lateral[6], 1e-6);
        EXPECT_EQ(lateral[18], 9e-6);
        for (std::size_t k = 0; k < 25; ++k) {
            EXPECT_EQ(discharge[k], static_cast<double>(kFill)) << k;
            EXPECT_EQ(storage[k], static_cast<double>(kFill)) << k;
        }
        EXPECT_EQ(nc.doubles("time"), std::vector<double>{1666069200.0});
        EXPECT_EQ(nc.text("time", "units"), "seconds since 1970-01-01 00:00:00");
        EXPECT_EQ(nc.text("discharge", "units"), "m3 s-1");
        EXPECT_EQ(nc.text("storage", "units"), "m3");
        EXPECT_EQ(nc.text("lateral_inflow", "units"), "m2 s-1");
        EXPECT_EQ(nc.number("discharge", "_FillValue"), static_cast<double>(kFill));
        EXPECT_NE(nc.text("discharge", "long_name"), "(missing)");
        EXPECT_EQ(nc.text("", "scheme"), name);
        EXPECT_EQ(nc.text("", "state_file"), "hour-5.state");
        EXPECT_EQ(nc.text("", "state_time"), "2022-10-18T05:00:00Z");
        EXPECT_EQ(nc.text("", "Conventions"), "CF-1.8");
    }
}

// A state that does not fit the case, or cannot be read, is refused with one line before
// anything is written; so is a command line without the output file.
TEST(StateNetcdf, RefusesAStateThatDoesNotFitAndWritesNothing) {
    test::TempDir dir;
    test::confluenceCase().write(dir.path());
    const auto planned = test::plannedState(dir.path(), runoff::Scheme::kLinear);
    ASSERT_TRUE(planned);
    RunState s = planned->state;
    s.values[2] = -1.0;
    const fs::path state = dir / "bad.state";
    ASSERT_TRUE(writeState(state, s));
    test::writeText(dir / "keep.nc", "an earlier file");
    const auto run = [&](const fs::path& from, const fs::path& to) {
        return runWith({dir.path().string(), "--state", from.string(), to.string()});
    };
    const std::vector<std::pair<fs::path, std::string>> refusals{
        {state, "bad.state holds one discharge below zero, at column 2, row 2 (node 2) (-1).\n"},
        {dir / "none.state", "none.state cannot be read.\n"},
        {dir / "input" / "rain.dat", "rain.dat is not a state file.\n"}};
    for (const auto& [from, line] : refusals) {
        for (const fs::path& to : {dir / "new.nc", dir / "keep.nc"}) {
            const Outcome o = run(from, to);
            EXPECT_EQ(o.status, 1);
            EXPECT_EQ(o.out, line);
        }
    }
    EXPECT_FALSE(fs::exists(dir / "new.nc"));
    EXPECT_EQ(test::readText(dir / "keep.nc"), "an earlier file");
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir.path())) {
        ++entries;
    }
    EXPECT_EQ(entries, 6U) << "no temporary left beside the targets";
    const Outcome usage = runWith({dir.path().string(), "--state", state.string()});
    EXPECT_EQ(usage.status, 1);
    EXPECT_TRUE(usage.out.starts_with("Usage: discharge_netcdf CASE_DIR")) << usage.out;
    EXPECT_NE(runWith({"--help"}).out.find("--state FILE"), std::string::npos);
}

}  // namespace
}  // namespace hydro::results
