#include "common/raw_grid_io.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "tests/support/test_support.h"

namespace hydro {
namespace {

TEST(RawGridIo, ValuesAreLittleEndianBytes) {
    test::TempDir dir;
    {
        RawValueWriter w;
        ASSERT_TRUE(w.open(dir / "g.bin"));
        const std::array<float, 2> v{1.0F, -9999.0F};
        EXPECT_TRUE(w.write(v));
        EXPECT_TRUE(w.close());
    }
    const std::string bytes = test::readText(dir / "g.bin");
    // 1.0f = 0x3F800000, -9999.0f = 0xC61C3C00, least significant byte first.
    EXPECT_EQ(bytes, std::string("\x00\x00\x80\x3F\x00\x3C\x1C\xC6", 8));

    RawValueReader r;
    ASSERT_TRUE(r.open(dir / "g.bin"));
    EXPECT_EQ(r.valueCount(), 2U);
    std::array<float, 3> back{};
    EXPECT_EQ(r.read(back), 2U);
    EXPECT_EQ(back[0], 1.0F);
    EXPECT_EQ(back[1], -9999.0F);
    ASSERT_TRUE(r.seekValue(1));
    std::array<std::int32_t, 1> raw{};
    EXPECT_EQ(r.read(raw), 1U);
    EXPECT_EQ(raw[0], static_cast<std::int32_t>(0xC61C3C00U));
}

TEST(RawGridIo, ShortFilesReportWholeValuesOnly) {
    test::TempDir dir;
    test::writeText(dir / "odd.bin", std::string("\x01\x00\x00\x00\x02\x00", 6));
    RawValueReader r;
    ASSERT_TRUE(r.open(dir / "odd.bin"));
    EXPECT_EQ(r.valueCount(), 1U);
    std::vector<std::int32_t> v(4);
    EXPECT_EQ(r.read(v), 1U);
    EXPECT_EQ(v[0], 1);
    EXPECT_FALSE(r.open(dir / "missing.bin"));
    EXPECT_EQ(r.read(v), 0U);
}

TEST(RawGridIo, WriteFailuresAreReported) {
    test::TempDir dir;
    RawValueWriter w;
    EXPECT_FALSE(w.open(dir / "no-such-dir" / "g.bin"));
    EXPECT_FALSE(w.write(std::array<float, 1>{1.0F}));
    EXPECT_FALSE(w.close());

    // A full device accepts the open and refuses the bytes.
    RawValueWriter full;
    ASSERT_TRUE(full.open("/dev/full"));
    std::vector<float> frame(1U << 20U, 1.0F);
    full.write(frame);
    EXPECT_FALSE(full.close());
}

}  // namespace
}  // namespace hydro
