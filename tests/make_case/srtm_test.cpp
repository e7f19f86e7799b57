// The GDAL path on a real UTM GeoTIFF: the 30" cells it lands on, and their values against
// gdalwarp's.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "make_case/raster_source.h"
#include "tests/support/test_support.h"

namespace hydro::make_case {
namespace {

namespace fs = std::filesystem;

TEST(Srtm, UtmDemLandsOnTheCellsGdalwarpGives) {
    const fs::path dem = HYDRO_SRTM_DEM;
    if (!fs::exists(dem)) {
        GTEST_SKIP() << dem << " is not there";
    }
    const auto t = loadDem(DemRequest{dem, std::nullopt, std::nullopt}, std::nullopt);
    ASSERT_TRUE(t) << t.error().message;
    // The source's corners in WGS 84 (gdalinfo): west edge from -118.34573 (north) to
    // -118.34296 (south), east edge -117.95508 to -117.95314, south 34.23139 to 34.23504,
    // north 34.40531 to 34.40898. Shrunk inward to 30" edges:
    EXPECT_EQ(t->gridSpec, (GridSpec{-14201, 4109, 46, 19}));
    for (std::size_t i = 0; i < t->elevation.size(); ++i) {
        ASSERT_EQ(t->outside[i], 0) << i;
    }
#ifdef HYDRO_GDALWARP
    test::TempDir dir;
    std::ostringstream cmd;
    cmd.precision(17);
    cmd << HYDRO_GDALWARP << " -q -t_srs EPSG:4326 -r average -ot Float32 -te "
        << t->gridSpec.westDeg() << ' ' << t->gridSpec.southDeg() << ' ' << t->gridSpec.eastDeg()
        << ' ' << t->gridSpec.northDeg() << " -ts " << t->gridSpec.cols << ' ' << t->gridSpec.rows
        << ' ' << dem << ' ' << dir / "warped.tif";
    ASSERT_EQ(std::system(cmd.str().c_str()), 0) << cmd.str();
    // gdalwarp's result lies on the grid, so it is read unchanged.
    const auto w =
        loadDem(DemRequest{dir / "warped.tif", std::nullopt, std::nullopt}, std::nullopt);
    ASSERT_TRUE(w) << w.error().message;
    ASSERT_EQ(w->gridSpec, t->gridSpec);
    const std::size_t last = t->elevation.size() - 1;
    for (const std::size_t corner : {std::size_t{0}, std::size_t{45}, last - 45, last}) {
        EXPECT_EQ(t->elevation[corner], w->elevation[corner]) << corner;
    }
    EXPECT_EQ(t->elevation, w->elevation);
#endif
}

}  // namespace
}  // namespace hydro::make_case
