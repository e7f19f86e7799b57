#include "results/grid_vrt.h"

#include <cstdio>
#include <cstdlib>
#include <iomanip>
#include <locale>
#include <sstream>

#include "common/xml_text.h"

namespace hydro::results {

namespace {

// WGS 84 as GDAL writes it, with longitude as the raster's first axis.
constexpr const char* kWgs84 =
    R"(GEOGCS["WGS 84",DATUM["WGS_1984",SPHEROID["WGS 84",6378137,298.257223563,)"
    R"(AUTHORITY["EPSG","7030"]],AUTHORITY["EPSG","6326"]],PRIMEM["Greenwich",0,)"
    R"(AUTHORITY["EPSG","8901"]],UNIT["degree",0.0174532925199433,AUTHORITY["EPSG","9122"]],)"
    R"(AXIS["Latitude",NORTH],AXIS["Longitude",EAST],AUTHORITY["EPSG","4326"]])";

/// Shortest text that reads back as the same double.
std::string exact(double v) {
    std::string text;
    for (int digits = 15; digits <= 17; ++digits) {
        std::ostringstream out;
        out.imbue(std::locale::classic());
        out << std::setprecision(digits) << v;
        text = out.str();
        if (std::strtod(text.c_str(), nullptr) == v) {
            break;
        }
    }
    return text;
}

}  // namespace

std::vector<std::string> dailyBandNames(std::int32_t days) {
    std::vector<std::string> names;
    for (std::int32_t d = 1; d <= days; ++d) {
        names.push_back("day " + std::to_string(d));
    }
    return names;
}

std::vector<std::string> hourlyBandNames(std::int32_t days) {
    std::vector<std::string> names;
    for (std::int32_t d = 1; d <= days; ++d) {
        for (int h = 1; h <= 24; ++h) {
            names.push_back("day " + std::to_string(d) + " hour " + std::to_string(h));
        }
    }
    return names;
}

void writeGridVrt(std::ostream& out, const std::string& rawFileName, const GridFrameLayout& layout,
                  const std::vector<std::string>& bandNames) {
    const auto rowBytes = std::int64_t{layout.cols} * 4;
    const std::int64_t frameBytes = rowBytes * layout.rows;
    // The first line of the image is the northern row, the last row a frame stores.
    const std::int64_t northRowOffset = frameBytes - rowBytes;
    const auto westLon = static_cast<double>(layout.swLon);
    const double northLat = static_cast<double>(layout.swLat) + layout.rows * kCellDegrees;
    const std::string source = xmlEscape(rawFileName);

    out << R"(<VRTDataset rasterXSize=")" << layout.cols << R"(" rasterYSize=")" << layout.rows
        << "\">\n"
        << "  <SRS dataAxisToSRSAxisMapping=\"2,1\">" << xmlEscape(kWgs84) << "</SRS>\n"
        << "  <GeoTransform>" << exact(westLon) << ", " << exact(kCellDegrees) << ", 0, "
        << exact(northLat) << ", 0, " << exact(-kCellDegrees) << "</GeoTransform>\n";
    std::int64_t frameStart = 0;
    for (std::size_t b = 0; b < bandNames.size(); ++b) {
        out << "  <VRTRasterBand dataType=\"Float32\" band=\"" << b + 1
            << "\" subClass=\"VRTRawRasterBand\">\n"
            << "    <Description>" << xmlEscape(bandNames[b]) << "</Description>\n"
            << "    <NoDataValue>-9999</NoDataValue>\n"
            << "    <UnitType>m3/s</UnitType>\n"
            << "    <SourceFilename relativeToVRT=\"1\">" << source << "</SourceFilename>\n"
            << "    <ImageOffset>" << frameStart + northRowOffset << "</ImageOffset>\n"
            << "    <PixelOffset>4</PixelOffset>\n"
            << "    <LineOffset>" << -rowBytes << "</LineOffset>\n"
            << "    <ByteOrder>LSB</ByteOrder>\n"
            << "  </VRTRasterBand>\n";
        frameStart += frameBytes;
    }
    out << "</VRTDataset>\n";
}

}  // namespace hydro::results
