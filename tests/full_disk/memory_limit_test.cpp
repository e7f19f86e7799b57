// The programs that go through the NetCDF library (discharge_netcdf, gauge_series, and
// make_case rain reading a NetCDF file) under address-space limits around what they need:
// every run that reaches main either completes or ends with exit status 1 and one line (the
// memory line or one naming the file), leaving no temporary and the outputs as they were;
// never with a signal. The limits are found from where a run first completes, so that the
// sweep spans the loading of the libraries, their set-up, the file's creation and its writing.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "make_case/synthetic_dem.h"
#include "tests/support/test_support.h"

namespace hydro::test {
namespace {

namespace fs = std::filesystem;

struct Program {
    std::string name;
    std::string command;  ///< run in the scratch folder
    fs::path output;      ///< written on success, relative to the scratch folder
};

ShellOutcome runLimited(const fs::path& dir, const std::string& command, std::int64_t bytes) {
    return runShell("cd '" + dir.string() + "' && prlimit --as=" + std::to_string(bytes) + " "
                    + command + " 2>stderr.txt");
}

/// Temporaries left anywhere under `root`.
std::vector<std::string> leftovers(const fs::path& root) {
    std::vector<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.path().filename().string().find(".part") != std::string::npos) {
            found.push_back(entry.path().string());
        }
    }
    return found;
}

std::string lastLine(const std::string& text) {
    const std::size_t end = text.find_last_not_of('\n');
    if (end == std::string::npos) {
        return "";
    }
    const std::size_t start = text.find_last_of('\n', end);
    return text.substr(start == std::string::npos ? 0 : start + 1, end - start);
}

/// The smallest limit, to 1/8 MiB, at which the run completes.
std::int64_t smallestCompleting(const fs::path& dir, const Program& p) {
    std::int64_t low = std::int64_t{8} << 20;   // fails
    std::int64_t high = std::int64_t{2} << 30;  // completes
    const ShellOutcome ample = runLimited(dir, p.command, high);
    EXPECT_EQ(ample.status, 0) << p.name << ": " << ample.console;
    while (high - low > (std::int64_t{1} << 17)) {
        const std::int64_t mid = low + (high - low) / 2;
        (runLimited(dir, p.command, mid).status == 0 ? high : low) = mid;
        if (!p.output.empty()) {
            fs::remove(dir / p.output);
        }
    }
    return high;
}

TEST(NetcdfMemoryLimits, EveryRunCompletesOrSaysSoAndLeavesNoTemporary) {
    TempDir dir;
    const make_case::GridSpec terrain{std::int64_t{-118} * 120, std::int64_t{34} * 120, 40, 30};
    ASSERT_TRUE(
        make_case::writeTerrainGeoTiff(dir / "dem.tif", make_case::fractalTerrain(terrain, 11)));
    writeText(dir / "rain.csv",
              "time,id,lon,lat,mm\n"
              "2022-10-18T05:00:00Z,a,-117.9,34.1,4\n"
              "2022-10-18T06:00:00Z,b,-117.75,34.2,8\n");
    writeText(dir / "gauges.csv", "id,lon,lat\nmid,-117.83,34.12\n");
    writeText(dir / "rain.cdl",
              "netcdf rain {\ndimensions:\n time = 2 ;\n lat = 4 ;\n lon = 5 ;\nvariables:\n"
              " double time(time) ;\n  time:units = \"hours since 2022-10-18 05:00:00\" ;\n"
              " double lat(lat) ;\n  lat:units = \"degrees_north\" ;\n"
              " double lon(lon) ;\n  lon:units = \"degrees_east\" ;\n"
              " float pr(time, lat, lon) ;\n  pr:units = \"mm/h\" ;\ndata:\n time = 0, 1 ;\n"
              " lat = 33.8, 34, 34.2, 34.4 ;\n lon = -118.2, -118, -117.8, -117.6, -117.4 ;\n"
              " pr = 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20,\n"
              "  2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2 ;\n}\n");
    ASSERT_EQ(std::system(("ncgen -o '" + (dir / "rain.nc").string() + "' '"
                           + (dir / "rain.cdl").string() + "'")
                              .c_str()),
              0);
    const std::string makeCase = "'" MAKE_CASE_PROGRAM "'";
    for (const std::string& step :
         std::vector<std::string>{makeCase + " terrain dem.tif case --min-basin-cells 20",
                                  makeCase + " rain-gauges rain.csv case --spacing 0.1",
                                  "cd case && '" RUNOFF_SIM_PROGRAM "'"}) {
        const ShellOutcome r =
            runShell("cd '" + dir.path().string() + "' && " + step + " 2>/dev/null");
        ASSERT_EQ(r.status, 0) << step << ": " << r.console;
    }
    const std::vector<Program> programs{
        {"discharge_netcdf", "'" DISCHARGE_NETCDF_PROGRAM "' case", "case/output/discharge.nc"},
        {"gauge_series", "'" GAUGE_SERIES_PROGRAM "' case gauges.csv",
         "case/output/gauge_discharge.nc"},
        {"make_case rain", makeCase + " rain rain.nc case", ""},
    };
    for (const Program& p : programs) {
        const std::int64_t least = smallestCompleting(dir.path(), p);
        int completed = 0;
        int failed = 0;
        // From 12 MiB below the smallest completing limit up to it, every 1/8 MiB.
        for (std::int64_t limit = least - (std::int64_t{12} << 20); limit <= least;
             limit += std::int64_t{1} << 17) {
            SCOPED_TRACE(p.name + " under " + std::to_string(limit >> 10) + " KiB");
            if (!p.output.empty()) {
                fs::remove(dir / p.output);
            }
            const std::string rainBefore = readText(dir / "case/input/rain.dat");
            const ShellOutcome r = runLimited(dir.path(), p.command, limit);
            if (r.signal == 6 && r.console.empty() && p.name == "make_case rain") {
                // PROJ's static objects (loaded through GDAL) throw std::bad_alloc from the
                // dynamic loader's initialisers, before main: the runtime ends the process.
                continue;
            }
            ASSERT_EQ(r.signal, 0) << r.console << readText(dir / "stderr.txt");
            EXPECT_TRUE(leftovers(dir.path()).empty()) << leftovers(dir.path()).front();
            if (r.status == 127 && r.console.empty()) {
                continue;  // too small for the dynamic loader: the program never started
            }
            if (r.status == 1 && r.console.empty()
                && (readText(dir / "stderr.txt").starts_with("Out of memory allocating bitmask")
                    || readText(dir / "stderr.txt").find("libgomp: Out of memory allocating")
                           != std::string::npos)) {
                // libnuma (loaded with the GDAL and NetCDF libraries) and libgomp (the
                // OpenMP runtime) end the process from their initialisers, before main.
                continue;
            }
            if (r.status == 0) {
                ++completed;
                continue;
            }
            ++failed;
            ASSERT_EQ(r.status, 1) << r.console;
            const std::string line = lastLine(r.console);
            EXPECT_TRUE(line == "Not enough memory for this run."
                        || line.find(p.output.empty() ? "rain.nc" : p.output.filename().string())
                               != std::string::npos)
                << r.console << readText(dir / "stderr.txt");
            if (p.output.empty()) {
                EXPECT_EQ(readText(dir / "case/input/rain.dat"), rainBefore);
            } else {
                EXPECT_FALSE(fs::exists(dir / p.output));
            }
        }
        // The sweep reached both outcomes, or it proves less than it claims.
        EXPECT_GT(completed, 0) << p.name;
        EXPECT_GT(failed, 10) << p.name;
    }
}

}  // namespace
}  // namespace hydro::test
