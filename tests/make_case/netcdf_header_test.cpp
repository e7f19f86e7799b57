// The check of classic NetCDF headers before the NetCDF library sees them: files written by
// ncgen in each classic format pass, so do NetCDF-4 files and other formats; copies damaged by
// hand (a huge dimension, a huge attribute count, records that are not there, a file cut short)
// are refused with one line, also when make_case rain reads them.

#include "make_case/netcdf_header.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "make_case/rain_source.h"
#include "tests/support/test_support.h"

namespace hydro::make_case {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<char>;

// A record variable, a fixed one, a char variable padded to four bytes and a global attribute.
constexpr const char* kCdl =
    "netcdf t {\ndimensions:\n time = UNLIMITED ;\n lat = 3 ;\nvariables:\n"
    " double time(time) ;\n  time:units = \"hours since 2021-07-14 06:00:00\" ;\n"
    " float lat(lat) ;\n  lat:units = \"degrees_north\" ;\n char c(lat) ;\n :title = \"x\" ;\n"
    "data:\n time = 0, 1 ;\n lat = 1, 2, 3 ;\n c = \"ab\" ;\n}\n";
// Fixed variables only, the last one ending the file.
constexpr const char* kFixedCdl =
    "netcdf f {\ndimensions:\n lat = 3 ;\nvariables:\n float lat(lat) ;\n char c(lat) ;\n"
    "data:\n lat = 1, 2, 3 ;\n c = \"abc\" ;\n}\n";

/// Where kCdl's header keeps its fields, by format.
struct Layout {
    const char* kind;  ///< ncgen -k
    std::size_t width;
    std::size_t numrecs;
    std::size_t latLength;
    std::size_t attributeCount;
};
constexpr Layout kClassic{"classic", 4, 4, 36, 44};
constexpr Layout kOffset64{"64-bit-offset", 4, 4, 36, 44};
constexpr Layout kData64{"64-bit-data", 8, 4, 56, 68};

fs::path ncgen(const fs::path& dir, const std::string& name, const char* cdl, const char* kind) {
    const fs::path source = dir / (name + ".cdl");
    fs::path nc = dir / (name + ".nc");
    test::writeText(source, cdl);
    const std::string command =
        std::string("ncgen -k ") + kind + " -o '" + nc.string() + "' '" + source.string() + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return nc;
}

Bytes readBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

fs::path writeBytes(const fs::path& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<long>(bytes.size()));
    return path;
}

/// The big-endian field of `width` bytes at `at`, read and replaced.
std::uint64_t field(const Bytes& b, std::size_t at, std::size_t width) {
    std::uint64_t v = 0;
    for (std::size_t k = 0; k < width; ++k) {
        v = (v << 8U) | static_cast<unsigned char>(b.at(at + k));
    }
    return v;
}
Bytes patched(Bytes b, std::size_t at, std::size_t width, std::uint64_t v) {
    for (std::size_t k = width; k-- > 0;) {
        b.at(at + k) = static_cast<char>(v & 0xFFU);
        v >>= 8U;
    }
    return b;
}

std::string refusal(const fs::path& path) {
    return path.string()
           + " is not a readable NetCDF file: its header claims more data than the file holds.";
}

void expectRefused(const fs::path& path) {
    const Status s = checkNetCdfHeader(path);
    ASSERT_FALSE(s.ok()) << path;
    EXPECT_EQ(s.error().message, refusal(path));
}

class NetCdfHeader : public ::testing::TestWithParam<Layout> {};

TEST_P(NetCdfHeader, ValidFilesPassAndDamagedCopiesAreRefused) {
    const Layout& l = GetParam();
    const test::TempDir dir;
    const fs::path nc = ncgen(dir.path(), "t", kCdl, l.kind);
    EXPECT_TRUE(checkNetCdfHeader(nc).ok());
    EXPECT_TRUE(checkNetCdfHeader(ncgen(dir.path(), "f", kFixedCdl, l.kind)).ok());
    const Bytes good = readBytes(nc);
    ASSERT_EQ(field(good, l.numrecs, l.width), 2U);
    ASSERT_EQ(field(good, l.latLength, l.width), 3U);
    ASSERT_EQ(field(good, l.attributeCount, l.width), 1U);

    const std::uint64_t huge = l.width == 8 ? std::uint64_t{1} << 60U : 0x7FFFFFFFU;
    expectRefused(writeBytes(dir.path() / "dim.nc", patched(good, l.latLength, l.width, huge)));
    // A few thousand values too many is refused as well, not just absurd sizes.
    expectRefused(writeBytes(dir.path() / "dim2.nc", patched(good, l.latLength, l.width, 4000)));
    expectRefused(
        writeBytes(dir.path() / "attrs.nc", patched(good, l.attributeCount, l.width, huge)));
    expectRefused(writeBytes(dir.path() / "recs.nc", patched(good, l.numrecs, l.width, 1000)));
    for (const std::size_t cut : {good.size() - 4, std::size_t{60}, std::size_t{5}}) {
        expectRefused(writeBytes(dir.path() / "cut.nc",
                                 Bytes(good.begin(), good.begin() + static_cast<long>(cut))));
    }
    // The record count of a streaming file, all bits set, is no exception.
    const std::uint64_t streaming = l.width == 8 ? ~std::uint64_t{0} : 0xFFFFFFFFU;
    expectRefused(
        writeBytes(dir.path() / "streaming.nc", patched(good, l.numrecs, l.width, streaming)));
}

INSTANTIATE_TEST_SUITE_P(Formats, NetCdfHeader, ::testing::Values(kClassic, kOffset64, kData64),
                         [](const auto& p) {
                             return std::string(p.param.kind == std::string("classic") ? "Classic"
                                                : p.param.width == 8                   ? "Data64"
                                                                     : "Offset64");
                         });

TEST(NetCdfHeaderOther, OtherFormatsPassAndRainReadingRefusesADamagedFile) {
    const test::TempDir dir;
    EXPECT_TRUE(checkNetCdfHeader(ncgen(dir.path(), "h", kCdl, "netCDF-4")).ok());
    test::writeText(dir.path() / "text.nc", "CDF");
    EXPECT_TRUE(checkNetCdfHeader(dir.path() / "text.nc").ok());
    EXPECT_TRUE(checkNetCdfHeader(dir.path() / "missing.nc").ok());

    // The library takes a list of no items as absent whatever its tag; what follows is checked.
    const Bytes fixed = readBytes(ncgen(dir.path(), "f", kFixedCdl, "classic"));
    constexpr std::size_t kFixedLatLength = 24;
    constexpr std::size_t kAttributeTag = 28;
    ASSERT_EQ(field(fixed, kFixedLatLength, 4), 3U);
    ASSERT_EQ(field(fixed, kAttributeTag, 4), 0U);
    const Bytes odd = patched(fixed, kAttributeTag, 4, 8);
    EXPECT_TRUE(checkNetCdfHeader(writeBytes(dir.path() / "odd.nc", odd)).ok());
    expectRefused(writeBytes(dir.path() / "odd-dim.nc", patched(odd, kFixedLatLength, 4, 1000)));

    const Bytes good = readBytes(ncgen(dir.path(), "t", kCdl, "classic"));
    // Strings (type 12), which the library takes as values of no bytes and then divides by.
    constexpr std::size_t kTitleType = 60;
    ASSERT_EQ(field(good, kTitleType, 4), 2U);
    expectRefused(writeBytes(dir.path() / "string.nc", patched(good, kTitleType, 4, 12)));

    const fs::path bad =
        writeBytes(dir.path() / "bad.nc", patched(good, kClassic.latLength, 4, 0x7FFFFFFFU));
    RainReadOptions options;
    options.paths = {bad};
    const auto rain = readRainSeries(options);
    ASSERT_FALSE(rain.ok());
    EXPECT_EQ(rain.error().message, refusal(bad));
}

}  // namespace
}  // namespace hydro::make_case
