// How a whole run ends when its arithmetic leaves the finite numbers: the files are written in
// full, and the run reports the count and the first value instead of success.

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <sstream>
#include <string>

#include "runoff_sim/driver.h"
#include "tests/runoff_sim/engine_case.h"

namespace hydro::test {
namespace {

namespace fs = std::filesystem;

std::string lastLine(const std::string& text) {
    const std::size_t end = text.find_last_not_of('\n');
    const std::size_t start = text.find_last_of('\n', end);
    return text.substr(start == std::string::npos ? 0 : start + 1, end - start);
}

TEST(RunOutcome, NonFiniteDischargeIsWrittenInFullAndReportedAsAFailure) {
    // The explicit scheme with an hour-long step over short space steps: far beyond its
    // stability limit, the discharge overflows within the day.
    SimCase c = chainCase(10);
    c.weight = "0";
    c.timeStep = 3600;
    c.spaceSteps = 40;
    TempDir dir;
    c.write(dir.path());
    std::ostringstream console;
    EXPECT_EQ(runoff::runRunoffSim(dir.path(), console), 1);

    // Every file complete, VRT descriptions included.
    const auto frame = static_cast<std::uintmax_t>(c.studyRows * c.studyCols) * 4U;
    EXPECT_EQ(fs::file_size(dir / "output/dischargeHourly.bin"), 24U * frame);
    EXPECT_EQ(fs::file_size(dir / "output/dischargeDaily.bin"), frame);
    EXPECT_GT(fs::file_size(dir / "output/dischargeHourly.vrt"), 0U);

    const std::vector<float> hourly = readFloats(dir / "output/dischargeHourly.bin");
    std::size_t bad = 0;
    std::size_t first = hourly.size();
    for (std::size_t k = 0; k < hourly.size(); ++k) {
        if (!std::isfinite(hourly[k])) {
            first = std::min(first, k);
            ++bad;
        }
    }
    ASSERT_GT(bad, 0U);
    const auto cols = static_cast<std::size_t>(c.studyCols);
    const std::size_t inFrame = first % (frame / 4U);
    std::ostringstream expected;
    expected << bad << " hourly discharge values are not finite numbers, the first at column "
             << inFrame % cols + 1 << ", row " << inFrame / cols + 1
             << " (counted from 1 from the west and from the south) on day 1, hour "
             << first / (frame / 4U) + 1 << ": the time step may be too long";
    const std::string report = lastLine(console.str());
    EXPECT_EQ(report.substr(0, expected.str().size()), expected.str()) << console.str();
    EXPECT_NE(console.str().find("Write ./output/dischargeHourly.bin\n" + report),
              std::string::npos);
}

}  // namespace
}  // namespace hydro::test
