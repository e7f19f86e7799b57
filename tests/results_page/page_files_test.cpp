// The encodings of the page's data files and the folder that is put in place only when
// complete.

#include "results_page/page_files.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>

#include "tests/support/test_support.h"

namespace hydro::results_page {
namespace {

namespace fs = std::filesystem;

std::span<const std::uint8_t> bytesOf(std::string_view s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

TEST(PageEncodings, Base64FollowsTheStandardVectors) {
    // RFC 4648, section 10.
    EXPECT_EQ(base64(bytesOf("")), "");
    EXPECT_EQ(base64(bytesOf("f")), "Zg==");
    EXPECT_EQ(base64(bytesOf("fo")), "Zm8=");
    EXPECT_EQ(base64(bytesOf("foo")), "Zm9v");
    EXPECT_EQ(base64(bytesOf("foob")), "Zm9vYg==");
    EXPECT_EQ(base64(bytesOf("fooba")), "Zm9vYmE=");
    EXPECT_EQ(base64(bytesOf("foobar")), "Zm9vYmFy");
    const std::vector<std::uint8_t> high{0xFF, 0xFE, 0x80};
    EXPECT_EQ(base64(high), "//6A");
}

TEST(PageEncodings, CompressedBytesComeBackWhole) {
    std::vector<std::uint8_t> bytes(100000);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>((i * 7U) % 251U);
    }
    const std::vector<std::uint8_t> packed = zlibCompress(bytes);
    ASSERT_FALSE(packed.empty());
    std::vector<std::uint8_t> back(bytes.size());
    uLongf size = static_cast<uLongf>(back.size());
    ASSERT_EQ(uncompress(back.data(), &size, packed.data(), static_cast<uLong>(packed.size())),
              Z_OK);
    EXPECT_EQ(size, bytes.size());
    EXPECT_EQ(back, bytes);
}

TEST(PageEncodings, BytePlanesHoldTheLittleEndianBytesPlaneByPlane) {
    const std::vector<float> values{1.0F, -2.0F};  // 0x3F800000, 0xC0000000
    EXPECT_EQ(bytePlanes(values),
              (std::vector<std::uint8_t>{0x00, 0x00, 0x00, 0x00, 0x80, 0x00, 0x3F, 0xC0}));
}

TEST(PageEncodings, TextCannotEndTheScriptItSitsIn) {
    EXPECT_EQ(jsonString("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(jsonString("</script>"), "\"\\u003c/script\\u003e\"");
    EXPECT_EQ(jsonString("line\nbreak"), "\"line\\u000abreak\"");
}

TEST(PageEncodings, FloatsReadBackExactly) {
    for (const float v : {0.0042739F, 6472.15F, 1.0F / 3.0F, 1e-7F, 123456789.0F, 0.1F}) {
        SCOPED_TRACE(v);
        EXPECT_EQ(std::strtof(floatText(v).c_str(), nullptr), v);
    }
    EXPECT_EQ(floatText(0.5F), "0.5");
}

TEST(PageOutput, ReplacesAnEarlierPageOnlyWhenComplete) {
    test::TempDir dir;
    const fs::path out = dir.path();
    {
        PageOutput page(out);
        ASSERT_TRUE(page.begin().ok());
        ASSERT_TRUE(page.writePageFile("meta.js", "first").ok());
        ASSERT_TRUE(page.commit("index one").ok());
    }
    EXPECT_EQ(test::readText(out / "index.html"), "index one");
    EXPECT_EQ(test::readText(out / "page" / "meta.js"), "first");
    {
        // A run that stops half-way leaves the earlier page and no staging folder.
        PageOutput page(out);
        ASSERT_TRUE(page.begin().ok());
        ASSERT_TRUE(page.writePageFile("meta.js", "second").ok());
    }
    EXPECT_EQ(test::readText(out / "page" / "meta.js"), "first");
    {
        PageOutput page(out);
        ASSERT_TRUE(page.begin().ok());
        ASSERT_TRUE(page.writePageFile("frames/log/0001.js", "x").ok());
        EXPECT_EQ(page.bytesWritten(), 1U);
        ASSERT_TRUE(page.commit("index two").ok());
    }
    EXPECT_EQ(test::readText(out / "index.html"), "index two");
    EXPECT_FALSE(fs::exists(out / "page" / "meta.js"));
    EXPECT_TRUE(fs::exists(out / "page" / "frames" / "log" / "0001.js"));
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(out)) {
        names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"index.html", "page"}));

    PageOutput missing(out / "nowhere");
    const Status why = missing.begin();
    ASSERT_FALSE(why.ok());
    EXPECT_NE(why.error().message.find("is not a folder"), std::string::npos);
}

TEST(PageOutput, AnIndexThatCannotBePutInPlaceBringsTheEarlierPageBack) {
    test::TempDir dir;
    const fs::path out = dir.path();
    {
        PageOutput page(out);
        ASSERT_TRUE(page.begin().ok());
        ASSERT_TRUE(page.writePageFile("meta.js", "first").ok());
        ASSERT_TRUE(page.commit("index one").ok());
    }
    // A folder where the index goes: the last rename of the commit fails.
    fs::remove(out / "index.html");
    fs::create_directories(out / "index.html" / "in the way");
    {
        PageOutput page(out);
        ASSERT_TRUE(page.begin().ok());
        ASSERT_TRUE(page.writePageFile("meta.js", "second").ok());
        const Status why = page.commit("index two");
        ASSERT_FALSE(why.ok());
        EXPECT_TRUE(why.error().message.starts_with((out / "index.html").string()
                                                    + " cannot be put in place ("))
            << why.error().message;
    }
    EXPECT_EQ(test::readText(out / "page" / "meta.js"), "first");
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(out)) {
        names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"index.html", "page"}));
}

}  // namespace
}  // namespace hydro::results_page
