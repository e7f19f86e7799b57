// make_case rain on small NetCDF files written by the test (through ncgen) for a case made by
// make_case terrain: every unit and layout, each refusal, the losses against hand
// calculations, and the whole chain through the simulator.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <limits>
#include <sstream>
#include <string>

#include "make_case/app.h"
#include "make_case/case_input.h"
#include "make_case/rain_case.h"
#include "make_case/synthetic_dem.h"
#include "runoff_sim/driver.h"
#include "tests/support/test_support.h"

namespace hydro::make_case {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

// Study area: longitude -118 to -117.667, latitude 34 to 34.25.
const GridSpec kSpec{-118 * 120, 34 * 120, 40, 30};

/// A rainfall NetCDF file described for ncgen.
struct NcFile {
    std::vector<double> lat;
    std::vector<double> lon;
    std::vector<double> time;
    std::string timeUnits = "hours since 2021-07-14 06:00:00";
    std::vector<double> bounds;  ///< two per step when given
    std::string units = "mm h-1";
    std::string cellMethods;
    std::optional<float> fill;
    std::vector<std::string> extraVariables;  ///< more rainfall-shaped variables
    std::string packing;                      ///< attributes of pr such as "add_offset = 1e39"
    /// Value of step t at file row i (in the file's latitude order) and column j.
    std::function<double(std::size_t, std::size_t, std::size_t)> value =
        [](std::size_t t, std::size_t i, std::size_t j) {
            return static_cast<double>(t + 1) + 0.1 * static_cast<double>(i)
                   + 0.01 * static_cast<double>(j);
        };
};

std::vector<double> steps(double first, double step, std::size_t n) {
    std::vector<double> v;
    for (std::size_t k = 0; k < n; ++k) {
        v.push_back(first + step * static_cast<double>(k));
    }
    return v;
}

/// Points every 0.1 degree around the study area with a margin of more than one cell.
NcFile defaultFile() {
    NcFile f;
    f.lat = steps(33.85, 0.1, 6);
    f.lon = steps(-118.25, 0.1, 8);
    f.time = steps(0.0, 1.0, 5);
    return f;
}

std::string list(const std::vector<double>& v) {
    std::ostringstream s;
    s.precision(17);
    for (std::size_t k = 0; k < v.size(); ++k) {
        s << (k > 0 ? ", " : "");
        if (std::isfinite(v[k])) {
            s << v[k];
        } else {
            s << (std::isnan(v[k]) ? "NaN" : v[k] > 0.0 ? "Infinity" : "-Infinity");
        }
    }
    return s.str();
}

void writeNc(const fs::path& path, const NcFile& f) {
    std::ostringstream c;
    c.precision(9);
    c << "netcdf rain {\ndimensions:\n time = " << f.time.size() << " ;\n lat = " << f.lat.size()
      << " ;\n lon = " << f.lon.size() << " ;\n nv = 2 ;\nvariables:\n double time(time) ;\n"
      << "  time:units = \"" << f.timeUnits << "\" ;\n  time:calendar = \"standard\" ;\n";
    if (!f.bounds.empty()) {
        c << "  time:bounds = \"time_bnds\" ;\n double time_bnds(time, nv) ;\n";
    }
    c << " double lat(lat) ;\n  lat:units = \"degrees_north\" ;\n double lon(lon) ;\n"
      << "  lon:units = \"degrees_east\" ;\n";
    std::vector<std::string> vars{"pr"};
    vars.insert(vars.end(), f.extraVariables.begin(), f.extraVariables.end());
    for (const std::string& v : vars) {
        c << " float " << v << "(time, lat, lon) ;\n  " << v << ":units = \"" << f.units
          << "\" ;\n";
        if (!f.cellMethods.empty()) {
            c << "  " << v << ":cell_methods = \"" << f.cellMethods << "\" ;\n";
        }
        if (!f.packing.empty() && v == "pr") {
            c << "  " << v << ":" << f.packing << " ;\n";
        }
        if (f.fill) {
            c << "  " << v << ":_FillValue = " << std::to_string(static_cast<double>(*f.fill))
              << "f ;\n";
        }
    }
    c << "data:\n time = " << list(f.time) << " ;\n lat = " << list(f.lat)
      << " ;\n lon = " << list(f.lon) << " ;\n";
    if (!f.bounds.empty()) {
        c << " time_bnds = " << list(f.bounds) << " ;\n";
    }
    for (const std::string& v : vars) {
        std::vector<double> values;
        for (std::size_t t = 0; t < f.time.size(); ++t) {
            for (std::size_t i = 0; i < f.lat.size(); ++i) {
                for (std::size_t j = 0; j < f.lon.size(); ++j) {
                    values.push_back(f.value(t, i, j));
                }
            }
        }
        c << " " << v << " = " << list(values) << " ;\n";
    }
    c << "}\n";
    const fs::path cdl = fs::path(path).replace_extension(".cdl");
    test::writeText(cdl, c.str());
    const std::string command = "ncgen -o '" + path.string() + "' '" + cdl.string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << c.str();
}

/// rain.dat as blocks: six header integers and the values, rows from the north.
struct RainDat {
    std::vector<std::array<int, 6>> headers;
    std::vector<std::vector<float>> values;
};

RainDat readRainDat(const fs::path& path, std::int32_t points) {
    std::istringstream in(test::readText(path));
    RainDat r;
    std::array<int, 6> h{};
    while (in >> h[0] >> h[1] >> h[2] >> h[3] >> h[4] >> h[5]) {
        r.headers.push_back(h);
        std::vector<float> v(static_cast<std::size_t>(points));
        for (float& x : v) {
            std::string token;
            in >> token;
            x = std::strtof(token.c_str(), nullptr);
        }
        r.values.push_back(std::move(v));
    }
    return r;
}

/// A case made by make_case terrain once; each test runs rain on a copy.
class Rain : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir();
        ASSERT_TRUE(writeTerrainGeoTiff(*dir_ / "dem.tif", fractalTerrain(kSpec, 11)));
        std::ostringstream out;
        std::ostringstream progress;
        ASSERT_EQ(runMakeCase({"terrain", (*dir_ / "dem.tif").string(), (*dir_ / "case").string(),
                               "--min-basin-cells", "20"},
                              out, progress),
                  0)
            << out.str();
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    void SetUp() override { fs::copy(*dir_ / "case", work_ / "case", fs::copy_options::recursive); }
    fs::path caseDir() const { return work_ / "case"; }
    fs::path nc(const NcFile& f, const std::string& name = "rain.nc") const {
        const fs::path p = work_ / name;
        writeNc(p, f);
        return p;
    }
    /// Runs make_case rain FILE CASE with `options`; the console in `console`.
    int rain(const fs::path& file, const std::vector<std::string>& options,
             std::string* console = nullptr) const {
        std::vector<std::string> args{"rain", file.string(), caseDir().string()};
        args.insert(args.end(), options.begin(), options.end());
        std::ostringstream out;
        std::ostringstream progress;
        const int status = runMakeCase(args, out, progress);
        if (console != nullptr) {
            *console = out.str();
        }
        return status;
    }
    EventParameters params() const {
        const auto p = readCaseParameters(caseDir());
        EXPECT_TRUE(p.ok()) << p.error().message;
        return p.ok() ? *p : EventParameters{};
    }
    /// Checks rain.dat against `expected`(hour, latitude, longitude) at every point of the
    /// window, and that every simulated cell keeps the point it has in the full file grid.
    void expectRain(const NcFile& f, std::size_t hours,
                    const std::function<float(std::size_t, double, double)>& expected) const {
        const EventParameters p = params();
        const std::int32_t points = p.rainCols * p.rainRows;
        const RainDat r = readRainDat(caseDir() / "input" / "rain.dat", points);
        ASSERT_EQ(r.headers.size(), static_cast<std::size_t>(p.days) * 24U);
        ASSERT_GE(static_cast<std::size_t>(p.days) * 24U, hours);
        for (std::size_t h = 0; h < r.values.size(); ++h) {
            for (std::int32_t k = 0; k < points; ++k) {
                const std::int32_t row = p.rainRows - 1 - k / p.rainCols;  // file: north first
                const std::int32_t col = k % p.rainCols;
                const double lat =
                    static_cast<double>(p.rainLat0) + row * static_cast<double>(p.rainDy);
                const double lon =
                    static_cast<double>(p.rainLon0) + col * static_cast<double>(p.rainDx);
                const float want = h < hours ? expected(h, lat, lon) : 0.0F;
                ASSERT_EQ(r.values[h][static_cast<std::size_t>(k)], want)
                    << "hour " << h << " at " << lat << ", " << lon;
            }
        }
        // The window keeps each cell's nearest point of the whole file grid.
        const auto data = readCase(caseDir());
        ASSERT_TRUE(data.ok()) << data.error().message;
        EventParameters full = p;
        std::vector<double> lat = f.lat;
        std::sort(lat.begin(), lat.end());
        full.rainRows = static_cast<std::int32_t>(lat.size());
        full.rainCols = static_cast<std::int32_t>(f.lon.size());
        full.rainLat0 = static_cast<float>(lat.front());
        double lon0 = f.lon.front();
        if (lon0 > 180.0) {
            lon0 -= 360.0;
        }
        full.rainLon0 = static_cast<float>(lon0);
        full.days = 0;
        const RainGrid whole = placeRainPoints(full);
        const RainGrid part = caseRainPoints(p);
        for (const GridCell& cell : data->grid.cells) {
            if (!isRouted(cell, data->rivers)) {
                continue;
            }
            const RainCell& a = whole.points[static_cast<std::size_t>(
                findNearestRainCell(cell.latSec, cell.lonSec, whole))];
            const RainCell& b = part.points[static_cast<std::size_t>(
                findNearestRainCell(cell.latSec, cell.lonSec, part))];
            ASSERT_NEAR(a.latDeg, b.latDeg, 1e-4);
            ASSERT_NEAR(a.lonDeg, b.lonDeg, 1e-4);
        }
    }

    TempDir work_;

private:
    static TempDir* dir_;
};
TempDir* Rain::dir_ = nullptr;

/// File value of the default layout at (step t, latitude, longitude).
double fileValue(std::size_t t, double lat, double lon, double lat0 = 33.85, double lon0 = -118.25,
                 double dLat = 0.1) {
    const auto i = static_cast<std::size_t>(std::lround((lat - lat0) / dLat));
    const auto j = static_cast<std::size_t>(std::lround((lon - lon0) / 0.1));
    return defaultFile().value(t, i, j);
}

TEST_F(Rain, IntensitiesNorthFirstSouthFirstAndAcross360Degrees) {
    // South-first latitudes, in mm h-1.
    NcFile f = defaultFile();
    std::string console;
    ASSERT_EQ(rain(nc(f), {}, &console), 0) << console;
    expectRain(f, 5, [](std::size_t h, double lat, double lon) {
        return static_cast<float>(static_cast<float>(fileValue(h, lat, lon)));
    });
    const RainDat r =
        readRainDat(caseDir() / "input" / "rain.dat", params().rainCols * params().rainRows);
    EXPECT_EQ(r.headers[0], (std::array<int, 6>{2021, 7, 14, 6, 0, 0}));
    EXPECT_EQ(r.headers[23], (std::array<int, 6>{2021, 7, 15, 5, 0, 0}));
    const auto start = readEventStart(caseDir() / "input" / "rain.dat");
    ASSERT_TRUE(start.ok());
    EXPECT_EQ(start->isoAfter(0), "2021-07-14T06:00:00Z");
    EXPECT_EQ(params().days, 1);
    EXPECT_EQ(params().timeStep, 60);  // the values after the rain grid are kept
    EXPECT_LT(params().rainCols, 8);   // a window, not the whole file

    // North-first latitudes: the same rain at the same places.
    NcFile north = defaultFile();
    north.lat = steps(34.35, -0.1, 6);
    north.value = [](std::size_t t, std::size_t i, std::size_t j) {
        return defaultFile().value(t, 5 - i, j);
    };
    ASSERT_EQ(rain(nc(north, "north.nc"), {}, &console), 0) << console;
    expectRain(north, 5, [](std::size_t h, double lat, double lon) {
        return static_cast<float>(fileValue(h, lat, lon));
    });

    // Longitudes from 0 to 360, in a file that spans the globe.
    NcFile globe = defaultFile();
    globe.lon = steps(0.05, 0.1, 3600);
    globe.lat = steps(33.85, 0.1, 6);
    globe.time = steps(0.0, 1.0, 2);
    globe.value = [](std::size_t t, std::size_t i, std::size_t j) {
        return static_cast<double>(t) + 0.1 * static_cast<double>(i)
               + 0.0001 * static_cast<double>(j);
    };
    ASSERT_EQ(rain(nc(globe, "globe.nc"), {}, &console), 0) << console;
    expectRain(globe, 2, [&](std::size_t h, double lat, double lon) {
        const auto i = static_cast<std::size_t>(std::lround((lat - 33.85) / 0.1));
        const auto j = static_cast<std::size_t>(std::lround((lon + 360.0 - 0.05) / 0.1));
        return static_cast<float>(static_cast<float>(globe.value(h, i, j)));
    });
    EXPECT_LT(params().rainLon0, -117.0F);
}

TEST_F(Rain, UnitsAndSubHourlySteps) {
    std::string console;
    // Fluxes: times 3600.
    NcFile flux = defaultFile();
    flux.units = "kg m-2 s-1";
    flux.value = [](std::size_t t, std::size_t i, std::size_t j) {
        return defaultFile().value(t, i, j) / 3600.0;
    };
    ASSERT_EQ(rain(nc(flux), {}, &console), 0) << console;
    expectRain(flux, 5, [](std::size_t h, double lat, double lon) {
        const auto i = static_cast<std::size_t>(std::lround((lat - 33.85) / 0.1));
        const auto j = static_cast<std::size_t>(std::lround((lon + 118.25) / 0.1));
        const float v = static_cast<float>(defaultFile().value(h, i, j) / 3600.0);
        return static_cast<float>(static_cast<double>(v) * 3600.0);
    });

    // Half-hourly sums in metres: summed into hours.
    NcFile sums = defaultFile();
    sums.units = "m";
    sums.cellMethods = "time: sum";
    sums.time = steps(0.0, 30.0, 6);
    sums.timeUnits = "minutes since 2021-07-14 06:00";
    sums.value = [](std::size_t t, std::size_t i, std::size_t j) {
        return defaultFile().value(t, i, j) / 1000.0;
    };
    ASSERT_EQ(rain(nc(sums), {}, &console), 0) << console;
    const auto half = [&](std::size_t t, double lat, double lon) {
        const auto i = static_cast<std::size_t>(std::lround((lat - 33.85) / 0.1));
        const auto j = static_cast<std::size_t>(std::lround((lon + 118.25) / 0.1));
        return static_cast<double>(static_cast<float>(sums.value(t, i, j))) * 1000.0;
    };
    expectRain(sums, 3, [&](std::size_t h, double lat, double lon) {
        return static_cast<float>(
            static_cast<double>(static_cast<float>(half(2 * h, lat, lon)))
            + static_cast<double>(static_cast<float>(half(2 * h + 1, lat, lon))));
    });

    // Half-hourly intensities: averaged.
    NcFile mean = defaultFile();
    mean.time = steps(0.0, 1800.0, 4);
    mean.timeUnits = "seconds since 2021-07-14T06:00:00Z";
    mean.units = "mm/h";
    ASSERT_EQ(rain(nc(mean), {}, &console), 0) << console;
    expectRain(mean, 2, [](std::size_t h, double lat, double lon) {
        const auto a = static_cast<double>(static_cast<float>(fileValue(2 * h, lat, lon)));
        const auto b = static_cast<double>(static_cast<float>(fileValue(2 * h + 1, lat, lon)));
        return static_cast<float>((a + b) / 2.0);
    });

    // Accumulations in mm without cell_methods need --accumulated.
    NcFile bare = defaultFile();
    bare.units = "mm";
    EXPECT_EQ(rain(nc(bare), {}, &console), 1);
    EXPECT_NE(console.find("--accumulated"), std::string::npos) << console;
    ASSERT_EQ(rain(nc(bare), {"--accumulated"}, &console), 0) << console;
    expectRain(bare, 5, [](std::size_t h, double lat, double lon) {
        return static_cast<float>(static_cast<double>(static_cast<float>(fileValue(h, lat, lon))));
    });
}

TEST_F(Rain, DailyStepsTimeBoundsAndTimeIsEnd) {
    std::string console;
    NcFile daily = defaultFile();
    daily.units = "mm";
    daily.cellMethods = "time: sum";
    daily.time = steps(0.0, 1.0, 2);
    daily.timeUnits = "days since 2021-07-14";
    ASSERT_EQ(rain(nc(daily), {}, &console), 1);
    EXPECT_NE(console.find("--spread-evenly"), std::string::npos) << console;
    ASSERT_EQ(rain(nc(daily), {"--spread-evenly"}, &console), 0) << console;
    EXPECT_NE(console.find("spread evenly"), std::string::npos) << console;
    EXPECT_EQ(params().days, 2);
    expectRain(daily, 48, [](std::size_t h, double lat, double lon) {
        return static_cast<float>(
            static_cast<double>(static_cast<float>(fileValue(h / 24, lat, lon))) / 24.0);
    });

    // Bounds decide the periods: stamps in the middle of each hour.
    NcFile bounded = defaultFile();
    bounded.time = steps(0.5, 1.0, 5);
    bounded.bounds = {0, 1, 1, 2, 2, 3, 3, 4, 4, 5};
    ASSERT_EQ(rain(nc(bounded), {}, &console), 0) << console;
    EXPECT_EQ(readEventStart(caseDir() / "input" / "rain.dat")->isoAfter(0),
              "2021-07-14T06:00:00Z");

    // Stamps at the end of their hour, and a later start and fewer hours.
    NcFile ends = defaultFile();
    ASSERT_EQ(rain(nc(ends), {"--time-is-end", "--start", "2021-07-14T06:00:00Z", "--hours", "2"},
                   &console),
              0)
        << console;
    EXPECT_EQ(readEventStart(caseDir() / "input" / "rain.dat")->isoAfter(0),
              "2021-07-14T06:00:00Z");
    expectRain(ends, 2, [](std::size_t h, double lat, double lon) {
        return static_cast<float>(fileValue(h + 1, lat, lon));
    });
}

TEST_F(Rain, MissingValuesMatterOnlyWhereCellsTakeThem) {
    std::string console;
    NcFile f = defaultFile();
    f.fill = -9999.0F;
    // The south-west corner point is far from every cell of the study area.
    f.value = [](std::size_t t, std::size_t i, std::size_t j) {
        return i == 0 && j == 0 ? -9999.0 : defaultFile().value(t, i, j);
    };
    ASSERT_EQ(rain(nc(f), {}, &console), 0) << console;

    // A fill value at every point in hour 3 names that hour.
    f.value = [](std::size_t t, std::size_t i, std::size_t j) {
        return t >= 2 ? -9999.0 : defaultFile().value(t, i, j);
    };
    const std::string before = test::readText(caseDir() / "input" / "rain.dat");
    ASSERT_EQ(rain(nc(f), {}, &console), 1);
    EXPECT_NE(console.find("no value for the hour from 2021-07-14T08:00:00Z"), std::string::npos)
        << console;
    EXPECT_EQ(test::readText(caseDir() / "input" / "rain.dat"), before);  // left as it was

    NcFile negative = defaultFile();
    negative.value = [](std::size_t t, std::size_t i, std::size_t j) {
        return t == 1 ? -1.0 : defaultFile().value(t, i, j);
    };
    ASSERT_EQ(rain(nc(negative), {}, &console), 1);
    EXPECT_NE(console.find("negative"), std::string::npos) << console;
}

TEST_F(Rain, RefusesWhatItCannotUseWithOneLine) {
    const auto refuses = [&](NcFile f, const std::string& words,
                             const std::vector<std::string>& options = {}) {
        std::string console;
        EXPECT_EQ(rain(nc(f), options, &console), 1) << words;
        EXPECT_NE(console.find(words), std::string::npos) << console;
        EXPECT_EQ(std::count(console.begin(), console.end(), '\n'), 1) << console;
        EXPECT_FALSE(fs::exists(caseDir() / "input" / "rain.dat")) << words;
    };
    NcFile west = defaultFile();
    west.lon = steps(-118.0, 0.1, 8);  // the first point on the edge: no margin
    refuses(west, "west side");
    NcFile north = defaultFile();
    north.lat = steps(33.85, 0.1, 5);
    refuses(north, "north side");
    NcFile irregular = defaultFile();
    irregular.lon = {-118.25, -118.15, -118.05, -117.95, -117.85, -117.7, -117.65, -117.55};
    refuses(irregular, "not evenly spaced");
    NcFile units = defaultFile();
    units.units = "inches";
    refuses(units, "\"inches\"");
    units.units = "mm\xC2\xB7h-1";  // what the file says comes escaped into the line
    refuses(units, "\"mm\\xC2\\xB7h-1\"");
    NcFile odd = defaultFile();
    odd.time = steps(0.0, 25.0, 6);
    odd.timeUnits = "minutes since 2021-07-14 06:00";
    refuses(odd, "does not tile the hour");
    NcFile twoVars = defaultFile();
    twoVars.extraVariables = {"tp"};
    refuses(twoVars, "pr, tp");
    refuses(defaultFile(), "--start", {"--start", "2021-07-14T06:30:00Z"});
    refuses(defaultFile(), "fewer than --hours", {"--hours", "6"});
    NcFile calendar = defaultFile();
    calendar.timeUnits = "fortnights since 2021-07-14";
    refuses(calendar, "time units");
    std::string console;
    twoVars.extraVariables = {"tp"};
    ASSERT_EQ(rain(nc(twoVars), {"--variable", "tp"}, &console), 0) << console;
}

TEST_F(Rain, CoverageIsJudgedOnTheSimulatedCells) {
    // The west edge of the simulated cells: the grid's west column is a border and never
    // simulated, so they begin at least one cell east of the grid's edge, -118.
    const auto data = readCase(caseDir());
    ASSERT_TRUE(data.ok()) << data.error().message;
    double west = 0.0;
    for (const GridCell& cell : data->grid.cells) {
        if (isRouted(cell, data->rivers)) {
            west = std::min(west, static_cast<double>(cell.lonSec) / 3600.0 - 0.5 / 120.0);
        }
    }
    ASSERT_GE(west, -118.0 + 1.0 / 120.0 - 1e-6);
    // Cells of 0.1 degrees reaching to -118.095: short of the grid's edge less a cell, -118.1,
    // but beyond the simulated cells' edge less a cell.
    NcFile near = defaultFile();
    near.lon = steps(-118.045, 0.1, 8);
    std::string console;
    EXPECT_EQ(rain(nc(near), {}, &console), 0) << console;
    // Short of the simulated cells' edge less a cell: the line gives both edges.
    NcFile shy = defaultFile();
    const double edge = west - 0.1 + 0.01;
    shy.lon = steps(edge + 0.05, 0.1, 8);
    EXPECT_EQ(rain(nc(shy), {}, &console), 1);
    std::ostringstream needed;
    needed << "does not cover the simulated cells on their west side with a margin of one of its "
              "cells: it needs to reach longitude "
           << west - 0.1 << ", but its cells end at " << edge << " (degrees).\n";
    EXPECT_TRUE(console.ends_with(needed.str())) << console << needed.str();
}

TEST_F(Rain, UtcOffsetsOfTheUnitsAndOfStartAreApplied) {
    // The reference 08:00 at +02:00 is 06:00 UTC; so is --start 10:00+04:00 (with the hours
    // from 06:00, as the file has them).
    std::string console;
    NcFile offset = defaultFile();
    offset.timeUnits = "hours since 2021-07-14 08:00:00 +02:00";
    ASSERT_EQ(rain(nc(offset), {}, &console), 0) << console;
    EXPECT_EQ(readEventStart(caseDir() / "input" / "rain.dat")->isoAfter(0),
              "2021-07-14T06:00:00Z");
    ASSERT_EQ(rain(nc(defaultFile()), {"--start", "2021-07-14T11:00+04:00"}, &console), 0)
        << console;
    EXPECT_EQ(readEventStart(caseDir() / "input" / "rain.dat")->isoAfter(0),
              "2021-07-14T07:00:00Z");
    offset.timeUnits = "hours since 2021-07-14T04:00:00-0200";
    ASSERT_EQ(rain(nc(offset), {"--start", "2021-07-14 08:00:00 +01"}, &console), 0) << console;
    EXPECT_EQ(readEventStart(caseDir() / "input" / "rain.dat")->isoAfter(0),
              "2021-07-14T07:00:00Z");
}

TEST_F(Rain, DatesOutsideTheCalendarOrItsYearsAreRefused) {
    const auto refuses = [&](const NcFile& f, const std::vector<std::string>& options,
                             const std::string& line) {
        std::string console;
        EXPECT_EQ(rain(nc(f), options, &console), 1) << line;
        EXPECT_EQ(console, line + "\n");
        EXPECT_FALSE(fs::exists(caseDir() / "input" / "rain.dat")) << line;
    };
    const std::string file = (work_ / "rain.nc").string();
    NcFile feb30 = defaultFile();
    feb30.timeUnits = "hours since 2022-02-30";
    refuses(feb30, {},
            file + ": the time units \"hours since 2022-02-30\" give a reference date that is no "
                   "date of the calendar.");
    NcFile early = defaultFile();
    early.timeUnits = "hours since 1970-01-01";
    early.time = steps(-1e10, 1.0, 5);
    refuses(early, {},
            file + ": the time value -1e+10 (hours since 1970-01-01) lies outside the years 1 to "
                   "9999.");
    NcFile late = defaultFile();
    late.timeUnits = "hours since 9999-12-31 20:00";
    late.time = steps(0.0, 1.0, 3);  // rain.dat would head the day's last hours with 10000
    refuses(late, {},
            file + ": the event's last day (from 9999-12-31T20:00:00Z) lies outside the years 1 "
                   "to 9999.");
    late.time = steps(0.0, 1.0, 4);  // the fourth step ends at 10000-01-01T00:00
    refuses(late, {}, file + ": the time step 4 lies outside the years 1 to 9999.");
    late.time = steps(0.0, 1.0, 5);
    refuses(late, {},
            file + ": the time value 4 (hours since 9999-12-31 20:00) lies outside the years 1 "
                   "to 9999.");
    refuses(defaultFile(), {"--start", "2021-02-29T06:00:00Z"},
            "--start takes an ISO 8601 time such as 2022-10-18T00:00:00Z: "
            "\"2021-02-29T06:00:00Z\" is no date of the calendar.");
    refuses(defaultFile(), {"--start", "0000-07-14T06:00:00Z"},
            "--start takes an ISO 8601 time such as 2022-10-18T00:00:00Z: "
            "\"0000-07-14T06:00:00Z\" lies outside the years 1 to 9999.");
}

TEST_F(Rain, RainBeyondTheBoundIsRefusedNamingTheHourAndThePoint) {
    const auto refuses = [&](const NcFile& f, const std::vector<std::string>& options,
                             const std::string& value) {
        std::string console;
        EXPECT_EQ(rain(nc(f), options, &console), 1) << value;
        EXPECT_NE(console.find("rain.nc: " + value + " mm of rain in the hour from "),
                  std::string::npos)
            << console;
        EXPECT_NE(console.find("at latitude"), std::string::npos) << console;
        EXPECT_NE(console.find("at most 1000 mm"), std::string::npos) << console;
        EXPECT_EQ(std::count(console.begin(), console.end(), '\n'), 1) << console;
        EXPECT_FALSE(fs::exists(caseDir() / "input" / "rain.dat")) << value;
    };
    refuses(defaultFile(), {"--scale", "1e300"}, "inf");
    NcFile infinite = defaultFile();
    infinite.value = [](std::size_t t, std::size_t i, std::size_t j) {
        return t == 2 && i == 3 && j == 4 ? std::numeric_limits<double>::infinity() : 1.0;
    };
    refuses(infinite, {}, "inf");
    NcFile offset = defaultFile();
    offset.packing = "add_offset = 1e39";
    refuses(offset, {}, "inf");
    NcFile flux = defaultFile();
    flux.units = "kg m-2 s-1";
    flux.value = [](std::size_t, std::size_t, std::size_t) { return 1e37; };
    refuses(flux, {}, "inf");
    NcFile huge = defaultFile();
    huge.value = [](std::size_t, std::size_t, std::size_t) { return 1e30; };
    refuses(huge, {}, "1e+30");
    // The bound itself is rain.
    NcFile heaviest = defaultFile();
    heaviest.value = [](std::size_t, std::size_t, std::size_t) { return 1000.0; };
    std::string console;
    EXPECT_EQ(rain(nc(heaviest), {}, &console), 0) << console;
}

TEST_F(Rain, LongStepsAreCutToTheHoursAskedAndEventsKeptToAYear) {
    // One step of two years, 2 mm/h, spread evenly.
    NcFile years = defaultFile();
    years.time = {0.0};
    years.bounds = {0.0, 2.0 * 8760.0};
    years.value = [](std::size_t, std::size_t, std::size_t) { return 2.0; };
    std::string console;
    ASSERT_EQ(rain(nc(years), {"--spread-evenly", "--hours", "24"}, &console), 0) << console;
    EXPECT_EQ(params().days, 1);
    expectRain(years, 24, [](std::size_t, double, double) { return 2.0F; });
    fs::remove(caseDir() / "input" / "rain.dat");
    const std::string paramsBefore = test::readText(caseDir() / "param-event.dat");
    // Without --hours the whole of it would be one event.
    EXPECT_EQ(rain(nc(years), {"--spread-evenly"}, &console), 1);
    EXPECT_NE(console.find("rain.nc: it holds more than 8784 whole hours (a year) from "
                           "2021-07-14T06:00:00Z"),
              std::string::npos)
        << console;
    EXPECT_EQ(rain(nc(years), {"--spread-evenly", "--hours", "8785"}, &console), 1);
    EXPECT_NE(console.find("--hours takes a whole number from 1 to 8784"), std::string::npos)
        << console;
    EXPECT_FALSE(fs::exists(caseDir() / "input" / "rain.dat"));
    EXPECT_EQ(test::readText(caseDir() / "param-event.dat"), paramsBefore);
}

TEST_F(Rain, ThenDryAppendsDryHoursSaidAsAnAssumptionAndPadsToWholeDays) {
    const NcFile f = defaultFile();  // 5 hours from 2021-07-14T06:00:00Z
    const auto value = [](std::size_t h, double lat, double lon) {
        return static_cast<float>(fileValue(h, lat, lon));
    };
    std::string console;
    // 5 hours of rain and 30 dry ones: 35 hours, padded to 2 whole days.
    ASSERT_EQ(rain(nc(f), {"--then-dry", "30"}, &console), 0) << console;
    EXPECT_EQ(params().days, 2);
    expectRain(f, 5, value);
    EXPECT_NE(console.find("\nAssumed, not data: 30 dry hour(s) with no rain after the rainfall "
                           "(--then-dry), to 2021-07-15T17:00:00Z.\n"),
              std::string::npos)
        << console;
    EXPECT_NE(console.find("; 2 day(s) written."), std::string::npos) << console;
    // 5 + 19 hours fill one day exactly; without --then-dry nothing is said of dry hours.
    ASSERT_EQ(rain(nc(f), {"--then-dry", "19"}, &console), 0) << console;
    EXPECT_EQ(params().days, 1);
    ASSERT_EQ(rain(nc(f), {"--then-dry", "20"}, &console), 0) << console;
    EXPECT_EQ(params().days, 2);
    ASSERT_EQ(rain(nc(f), {}, &console), 0) << console;
    EXPECT_EQ(params().days, 1);
    EXPECT_EQ(console.find("Assumed"), std::string::npos) << console;

    // Refused, the case left as it was: a count that is not one, and an event past a year.
    const std::string paramsBefore = test::readText(caseDir() / "param-event.dat");
    const std::string rainBefore = test::readText(caseDir() / "input" / "rain.dat");
    EXPECT_EQ(rain(nc(f), {"--then-dry", "-1"}, &console), 1);
    EXPECT_EQ(console, "--then-dry takes a whole number of hours from 0 to 8784: \"-1\".\n");
    EXPECT_EQ(rain(nc(f), {"--then-dry", "2d"}, &console), 1);
    EXPECT_EQ(console, "--then-dry takes a whole number of hours from 0 to 8784: \"2d\".\n");
    EXPECT_EQ(rain(nc(f), {"--then-dry", "8780"}, &console), 1);
    EXPECT_EQ(console,
              "--then-dry 8780 makes the event 8785 hours long, more than 8784 (a year).\n");
    EXPECT_EQ(test::readText(caseDir() / "param-event.dat"), paramsBefore);
    EXPECT_EQ(test::readText(caseDir() / "input" / "rain.dat"), rainBefore);
}

void writeRadarHour(const fs::path& path, int value);

TEST_F(Rain, CoordinatesAndOptionsNameTheirOwnFault) {
    const auto refuses = [&](const fs::path& file, const std::vector<std::string>& options,
                             const std::string& words) {
        std::string console;
        EXPECT_EQ(rain(file, options, &console), 1) << words;
        EXPECT_NE(console.find(words), std::string::npos) << console;
        EXPECT_EQ(std::count(console.begin(), console.end(), '\n'), 1) << console;
        EXPECT_LT(console.size(), 200U) << console;
        EXPECT_FALSE(fs::exists(caseDir() / "input" / "rain.dat")) << words;
    };
    NcFile nanLat = defaultFile();
    nanLat.lat[2] = std::numeric_limits<double>::quiet_NaN();
    refuses(nc(nanLat), {}, "rain.nc: a latitude of the grid is not a number from -90 to 90.");
    NcFile nanLon = defaultFile();
    nanLon.lon[7] = std::numeric_limits<double>::quiet_NaN();
    refuses(nc(nanLon), {}, "rain.nc: a longitude of the grid is not a number.");

    const fs::path hour = work_ / "RW_20210714-0750.asc";
    writeRadarHour(hour, 30);
    refuses(hour, {"--crs", "EPSG:32611", "--start", "2021-07-14T06:00:00Z", "--spacing", "1e-7"},
            "--spacing 1e-07 makes a grid of ");
    refuses(hour, {"--crs", "LOCAL_CS[\"arbitrary\"]", "--start", "2021-07-14T06:00:00Z"},
            "cannot be transformed to WGS 84 longitude and latitude.");
    refuses(hour, {"--crs", "EPSG:32611", "--time-format", ""}, "--time-format takes a strptime");
    refuses(hour, {"--crs", "EPSG:32611", "--time-format", "RW.asc"}, "\"RW.asc\" has none.");
}

TEST_F(Rain, AFailurePartWayLeavesTheCaseAsItWas) {
    // A first run leaves rain.dat and param-event.dat of one event.
    std::string console;
    ASSERT_EQ(rain(nc(defaultFile()), {}, &console), 0) << console;
    const std::string rainBefore = test::readText(caseDir() / "input" / "rain.dat");
    const std::string paramsBefore = test::readText(caseDir() / "param-event.dat");

    // A second run of another event, whose param-event.dat cannot be put in place: the place
    // where the old one waits during the commit is taken by a folder. rain.dat goes in place
    // first and must be taken back.
    NcFile later = defaultFile();
    later.time = steps(0.0, 1.0, 30);
    fs::path blocker = caseDir() / "param-event.dat";
    blocker += ".old-" + std::to_string(::getpid());
    fs::create_directories(blocker / "taken");
    EXPECT_EQ(rain(nc(later, "later.nc"), {}, &console), 1);
    EXPECT_NE(console.find("param-event.dat cannot be put in place"), std::string::npos) << console;
    EXPECT_EQ(std::count(console.begin(), console.end(), '\n'), 1) << console;
    EXPECT_EQ(test::readText(caseDir() / "input" / "rain.dat"), rainBefore);
    EXPECT_EQ(test::readText(caseDir() / "param-event.dat"), paramsBefore);
    // Nothing half-written is left beside the files.
    fs::remove_all(blocker);
    for (const fs::path& folder : {caseDir(), caseDir() / "input"}) {
        for (const auto& entry : fs::directory_iterator(folder)) {
            EXPECT_EQ(entry.path().filename().string().find(".part-"), std::string::npos)
                << entry.path();
        }
    }
}

/// A one-hour ESRI ASCII grid of 1 km cells in UTM zone 11 around the study area, every cell
/// `value` (tenths of a millimetre), -1 for no data.
void writeRadarHour(const fs::path& path, int value) {
    std::ostringstream a;
    a << "ncols 100\nnrows 100\nxllcorner 370000\nyllcorner 3720000\ncellsize 1000\n"
      << "NODATA_value -1\n";
    for (int r = 0; r < 100; ++r) {
        for (int c = 0; c < 100; ++c) {
            a << value << (c < 99 ? ' ' : '\n');
        }
    }
    test::writeText(path, a.str());
}

TEST_F(Rain, ProjectedHourFilesTimedByTheirNames) {
    writeRadarHour(work_ / "RW_20210714-0750.asc", 30);
    writeRadarHour(work_ / "RW_20210714-0650.asc", 12);
    const std::vector<std::string> options{"--crs",         "EPSG:32611",    "--scale",
                                           "0.1",           "--time-format", "RW_%Y%m%d-%H%M.asc",
                                           "--time-is-end", "--spacing",     "0.05"};
    std::vector<std::string> args{"rain", (work_ / "RW_20210714-0750.asc").string(),
                                  (work_ / "RW_20210714-0650.asc").string(), caseDir().string()};
    args.insert(args.end(), options.begin(), options.end());
    std::ostringstream out;
    std::ostringstream progress;
    ASSERT_EQ(runMakeCase(args, out, progress), 0) << out.str();
    const EventParameters p = params();
    EXPECT_FLOAT_EQ(p.rainDx, 0.05F);
    const RainDat r = readRainDat(caseDir() / "input" / "rain.dat", p.rainCols * p.rainRows);
    ASSERT_EQ(r.headers.size(), 24U);
    // Each name gives the end of its hour: the event starts at 05:50 and keeps its minutes.
    EXPECT_EQ(r.headers[0], (std::array<int, 6>{2021, 7, 14, 5, 50, 0}));
    EXPECT_EQ(r.headers[1], (std::array<int, 6>{2021, 7, 14, 6, 50, 0}));
    for (const float v : r.values[0]) {
        ASSERT_EQ(v, static_cast<float>(12.0 * 0.1));
    }
    for (const float v : r.values[1]) {
        ASSERT_EQ(v, static_cast<float>(30.0 * 0.1));
    }
    EXPECT_EQ(r.values[2], std::vector<float>(r.values[2].size(), 0.0F));

    // Without a CRS, and with no data over the study area.
    args.erase(args.begin() + 4, args.begin() + 6);
    out.str("");
    EXPECT_EQ(runMakeCase(args, out, progress), 1);
    EXPECT_NE(out.str().find("--crs"), std::string::npos) << out.str();
    writeRadarHour(work_ / "RW_20210714-0750.asc", -1);
    args.insert(args.begin() + 4, {"--crs", "EPSG:32611"});
    out.str("");
    EXPECT_EQ(runMakeCase(args, out, progress), 1);
    EXPECT_NE(out.str().find("no value for the hour from 2021-07-14T06:50:00Z"), std::string::npos)
        << out.str();
}

TEST(Losses, InitialConstantAndCurveNumberAgainstHandCalculations) {
    // 6 mm initial loss, then 2 mm per hour.
    const std::vector<double> rain{3.0, 5.0, 10.0, 0.0, 4.0};
    const std::vector<double> ic = initialConstantLoss(rain, 6.0, 2.0);
    const std::vector<double> icWant{0.0, 0.0, 8.0, 0.0, 2.0};
    EXPECT_EQ(ic, icWant);

    // CN 80: S = 63.5 mm, Ia = 12.7 mm. Cumulative 10, 30, 40 mm give Pe 0,
    // 17.3^2 / 80.8 = 3.704084, 27.3^2 / 90.8 = 8.208040.
    const std::vector<double> cn = curveNumberLoss(std::vector<double>{10.0, 20.0, 10.0}, 80.0);
    ASSERT_EQ(cn.size(), 3U);
    EXPECT_EQ(cn[0], 0.0);
    EXPECT_NEAR(cn[1], 3.704084, 1e-6);
    EXPECT_NEAR(cn[1] + cn[2], 8.208040, 1e-6);
    // CN 100 loses nothing.
    const std::vector<double> all = curveNumberLoss(rain, 100.0);
    for (std::size_t k = 0; k < rain.size(); ++k) {
        EXPECT_NEAR(all[k], rain[k], 1e-12);
    }
}

TEST_F(Rain, LossesShowInTheConsoleTotalsAndTheFile) {
    // 2 mm/h everywhere for 5 hours: 10 mm. An initial loss of 3 mm takes hour 1 and half of
    // hour 2, whose other 1 mm goes to the constant loss of 1 mm/h; hours 3 to 5 keep 1 mm each.
    NcFile f = defaultFile();
    f.value = [](std::size_t, std::size_t, std::size_t) { return 2.0; };
    std::string console;
    ASSERT_EQ(
        rain(nc(f), {"--loss", "initial-constant", "--initial-loss", "3", "--constant-loss", "1"},
             &console),
        0)
        << console;
    EXPECT_NE(console.find("rain 10.00 mm"), std::string::npos) << console;
    EXPECT_NE(console.find("effective rain 3.00 mm"), std::string::npos) << console;
    expectRain(f, 5, [](std::size_t h, double, double) { return h < 2 ? 0.0F : 1.0F; });
    // The volume is the depth over the simulated cells' area.
    const auto data = readCase(caseDir());
    ASSERT_TRUE(data.ok());
    double area = 0.0;
    for (const GridCell& cell : data->grid.cells) {
        if (isRouted(cell, data->rivers)) {
            area += 926.6 * static_cast<double>(cell.cellWidth);
        }
    }
    std::ostringstream m3;
    m3.setf(std::ios::fixed);
    m3.precision(0);
    m3 << "(" << area * 0.003 << " m3)";
    EXPECT_NE(console.find(m3.str()), std::string::npos) << console << m3.str();

    // A curve-number raster of 80 (S = 63.5 mm, Ia = 12.7 mm) under 5 mm/h for 5 hours:
    // (25 - 12.7)^2 / (25 + 50.8) = 1.99591 mm.
    std::ostringstream grid;
    grid << "ncols 20\nnrows 20\nxllcorner -119\nyllcorner 33\ncellsize 0.1\n";
    for (int k = 0; k < 400; ++k) {
        grid << "80 ";
    }
    test::writeText(work_ / "cn.asc", grid.str());
    test::writeText(
        work_ / "cn.prj",
        "GEOGCS[\"GCS_WGS_1984\",DATUM[\"D_WGS_1984\",SPHEROID[\"WGS_1984\",6378137,"
        "298.257223563]],PRIMEM[\"Greenwich\",0],UNIT[\"Degree\",0.017453292519943295]]");
    NcFile five = defaultFile();
    five.value = [](std::size_t, std::size_t, std::size_t) { return 5.0; };
    ASSERT_EQ(
        rain(nc(five, "five.nc"),
             {"--loss", "curve-number", "--curve-number", (work_ / "cn.asc").string()}, &console),
        0)
        << console;
    EXPECT_NE(console.find("rain 25.00 mm"), std::string::npos) << console;
    EXPECT_NE(console.find("effective rain 2.00 mm"), std::string::npos) << console;

    // CN 50: S = 254 mm, Ia = 50.8 mm: 10 mm of rain gives no runoff.
    ASSERT_EQ(rain(nc(f), {"--loss", "curve-number", "--curve-number", "50"}, &console), 0);
    EXPECT_NE(console.find("effective rain 0.00 mm"), std::string::npos) << console;
    EXPECT_EQ(rain(nc(f), {"--loss", "curve-number", "--curve-number", "0"}, &console), 1);
    EXPECT_EQ(rain(nc(f), {"--loss", "curve-number"}, &console), 1);
}

TEST_F(Rain, WholeChainRunsInTheSimulator) {
    NcFile f = defaultFile();
    f.time = steps(0.0, 1.0, 30);  // 30 hours: two days, the second mostly dry
    std::string console;
    ASSERT_EQ(rain(nc(f), {}, &console), 0) << console;
    EXPECT_EQ(params().days, 2);
    std::ostringstream sim;
    const fs::path here = fs::current_path();
    ASSERT_EQ(runoff::runRunoffSim(caseDir(), sim), 0) << sim.str();
    fs::current_path(here);
    EXPECT_TRUE(fs::exists(caseDir() / "output" / "dischargeHourly.bin"));
    std::ostringstream check;
    std::ostringstream progress;
    EXPECT_EQ(runMakeCase({"check", caseDir().string()}, check, progress), 0) << check.str();
}

}  // namespace
}  // namespace hydro::make_case
