#include "common/file_transaction.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace {

std::string contentOf(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

/// The names in a folder, sorted, to see that nothing was left behind.
std::string listing(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) {
        names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    std::string all;
    for (const auto& n : names) {
        all += n + " ";
    }
    return all;
}

TEST(FileTransaction, AllFilesAppearTogetherOrNoneDoes) {
    hydro::test::TempDir dir;
    const fs::path a = dir.path() / "a.dat";
    const fs::path b = dir.path() / "b.dat";
    hydro::test::writeText(a, "old a");
    {
        SCOPED_TRACE("a complete commit replaces the old file and adds the new one");
        hydro::FileTransaction t;
        ASSERT_TRUE(t.write(a, "new a").ok());
        ASSERT_TRUE(t.write(b, "new b").ok());
        EXPECT_EQ(contentOf(a), "old a");
        EXPECT_FALSE(fs::exists(b));
        ASSERT_TRUE(t.commit().ok());
        EXPECT_EQ(contentOf(a), "new a");
        EXPECT_EQ(contentOf(b), "new b");
        EXPECT_EQ(listing(dir.path()), "a.dat b.dat ");
    }
    {
        SCOPED_TRACE(
            "a transaction dropped without a commit leaves the targets and no temporaries");
        hydro::FileTransaction t;
        ASSERT_TRUE(t.write(a, "newer a").ok());
        ASSERT_TRUE(t.write(dir.path() / "c.dat", "c").ok());
    }
    EXPECT_EQ(contentOf(a), "new a");
    EXPECT_EQ(listing(dir.path()), "a.dat b.dat ");
    {
        SCOPED_TRACE("a file that was added but never written fails the commit before any rename");
        hydro::FileTransaction t;
        ASSERT_TRUE(t.write(a, "newer a").ok());
        static_cast<void>(t.add(b));
        const hydro::Status s = t.commit();
        ASSERT_FALSE(s.ok());
        EXPECT_EQ(s.error().message, "b.dat cannot be put in place (it was not written).");
        EXPECT_EQ(contentOf(a), "new a");
        EXPECT_EQ(listing(dir.path()), "a.dat b.dat ");
    }
}

TEST(FileTransaction, ARenameThatFailsPartWayUndoesTheOthers) {
    hydro::test::TempDir dir;
    const fs::path a = dir.path() / "a.dat";
    const fs::path c = dir.path() / "c.dat";
    hydro::test::writeText(a, "old a");
    hydro::test::writeText(c, "old c");
    // The place where c.dat's previous version would wait is taken by a non-empty folder, so
    // the third file cannot be put in place after the first two were.
    const std::string aside = "c.dat.old-" + std::to_string(::getpid());
    hydro::test::writeText(dir.path() / aside / "inside", "");
    hydro::FileTransaction t;
    ASSERT_TRUE(t.write(a, "new a").ok());
    ASSERT_TRUE(t.write(dir.path() / "b.dat", "new b").ok());
    ASSERT_TRUE(t.write(c, "new c").ok());
    const hydro::Status s = t.commit();
    ASSERT_FALSE(s.ok());
    EXPECT_EQ(s.error().message.rfind("c.dat cannot be put in place (", 0), 0U)
        << s.error().message;
    EXPECT_EQ(contentOf(a), "old a");
    EXPECT_EQ(contentOf(c), "old c");
    EXPECT_EQ(listing(dir.path()), "a.dat c.dat " + aside + " ");
}

TEST(FileTransaction, WritingFailuresNameTheFile) {
    hydro::test::TempDir dir;
    hydro::FileTransaction t;
    const hydro::Status missing = t.write(dir.path() / "no-such-folder" / "x.dat", "x");
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().message.rfind("x.dat cannot be created in ", 0), 0U);
    if (fs::exists("/dev/full")) {
        // A device that is always full: the write cannot complete. (Its temporary name is a
        // new file beside it, so this only runs where /dev is writable, as root in CI.)
        hydro::FileTransaction full;
        const fs::path target = dir.path() / "full.dat";
        const fs::path temp = full.add(target);
        if (::symlink("/dev/full", temp.c_str()) == 0) {
            const hydro::Status s = full.write(target, std::string(1 << 16, 'x'));
            ASSERT_FALSE(s.ok());
            EXPECT_EQ(s.error().message, "full.dat cannot be written completely.");
        }
    }
    EXPECT_EQ(listing(dir.path()), "");
}

TEST(FileTransaction, NeverReplacesAFolderAPipeOrADevice) {
    hydro::test::TempDir dir;
    fs::create_directories(dir.path() / "folder.dat" / "inside");
    ASSERT_EQ(::mkfifo((dir.path() / "pipe.dat").c_str(), 0600), 0);
    for (const char* name : {"folder.dat", "pipe.dat"}) {
        hydro::FileTransaction t;
        ASSERT_TRUE(t.write(dir.path() / "fine.dat", "fine"));
        ASSERT_TRUE(t.write(dir.path() / name, "new"));
        const hydro::Status s = t.commit();
        ASSERT_FALSE(s.ok());
        EXPECT_EQ(s.error().message,
                  std::string(name) + " is not a regular file, so it is not replaced.");
        EXPECT_FALSE(fs::exists(dir.path() / "fine.dat")) << "nothing was put in place";
    }
    EXPECT_TRUE(fs::is_directory(dir.path() / "folder.dat" / "inside"));
    EXPECT_TRUE(fs::is_fifo(dir.path() / "pipe.dat"));
    EXPECT_FALSE(hydro::checkReplaceable("/dev/null").ok());
    EXPECT_TRUE(hydro::checkReplaceable(dir.path() / "missing.dat").ok());
}

}  // namespace
