// The optional note of a case folder: its first line only, blanks trimmed, and one line naming
// the file for a note that cannot be shown as text.

#include "case/case_note.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/test_support.h"

namespace hydro {
namespace {

namespace fs = std::filesystem;

TEST(CaseNote, FirstLineTrimmedAndNoneWithoutAFileOrText) {
    test::TempDir dir;
    auto none = readCaseNote(dir.path());
    ASSERT_TRUE(none.ok()) << none.error().message;
    EXPECT_FALSE(none->has_value());

    test::writeText(dir / "case-note.txt",
                    "  Not a real place: the DEM is stretched 5x.\r\nMore for people.\n");
    auto note = readCaseNote(dir.path());
    ASSERT_TRUE(note.ok()) << note.error().message;
    EXPECT_EQ(note->value_or(""), "Not a real place: the DEM is stretched 5x.");

    test::writeText(dir / "case-note.txt", " \t\nthe second line is not the note\n");
    auto blank = readCaseNote(dir.path());
    ASSERT_TRUE(blank.ok()) << blank.error().message;
    EXPECT_FALSE(blank->has_value());

    test::writeText(dir / "case-note.txt", "no line end, UTF-8 \xc3\xa9 kept");
    auto bare = readCaseNote(dir.path());
    ASSERT_TRUE(bare.ok()) << bare.error().message;
    EXPECT_EQ(bare->value_or(""), "no line end, UTF-8 \xc3\xa9 kept");
}

TEST(CaseNote, RefusedWithOneLineNamingTheFile) {
    test::TempDir dir;
    const std::string file = (dir / "case-note.txt").string();
    test::writeText(dir / "case-note.txt", "a bell \a in the note\n");
    auto control = readCaseNote(dir.path());
    ASSERT_FALSE(control.ok());
    EXPECT_EQ(control.error().message,
              file + ": the first line is the case's note and may hold no control characters.");

    test::writeText(dir / "case-note.txt", std::string(1001, 'x') + "\n");
    auto longNote = readCaseNote(dir.path());
    ASSERT_FALSE(longNote.ok());
    EXPECT_EQ(longNote.error().message,
              file + ": the first line is the case's note, at most 1000 bytes; it has 1001.");
    test::writeText(dir / "case-note.txt", std::string(1000, 'x') + "\n");
    EXPECT_TRUE(readCaseNote(dir.path()).ok());

    fs::remove(dir / "case-note.txt");
    fs::create_directory(dir / "case-note.txt");
    auto folder = readCaseNote(dir.path());
    ASSERT_FALSE(folder.ok());
    EXPECT_EQ(folder.error().message, file + " cannot be read.");
}

}  // namespace
}  // namespace hydro
