#include "discharge_map/renderer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <iterator>
#include <limits>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "discharge_map/ppm_frame.h"
#include "tests/support/test_support.h"

namespace hydro {
namespace {

namespace fs = std::filesystem;

constexpr const char* kEcho =
    "Reading parameters for runoff simulation.\n"
    "1) Reading parameters for study area.\n"
    "  Number of col : 3  Number of row : 4\n"
    " Sorth West corner Longitude (degree) : 0 Latitude (deg) : 0\n"
    "2) Reading parameters for input data.\n"
    "  Number of col : 1  Number of row : 1\n"
    "  Input data grid size of x-direction : 0.1\n"
    "  Input data grid size of y-direction : 0.1\n"
    "  West corner longitude of input data : 0\n"
    "  South corner latitude of input data : 0\n"
    "3) Reading parameters for simuration duration.\n";

constexpr const char* kQuestion =
    "\nDo you want to set the maximum and minimun values of rainfall intensity? (y/n)\n";

struct Outcome {
    int status = -1;
    std::string console;
    std::string unread;  // what the program left of its standard input
};

/// A case folder laid out as the simulator leaves it: the parameter file, and below it the
/// output folder with the hourly grid and the image folder. The renderer runs in the output
/// folder.
class MapCase {
public:
    MapCase(std::int32_t rows, std::int32_t cols, std::int32_t days)
        : rows_(rows), cols_(cols), days_(days) {
        test::writeText(dir_ / "param-event.dat", std::to_string(cols) + " " + std::to_string(rows)
                                                      + "\n0 0\n1 1\n0.1 0.1\n0 0\n"
                                                      + std::to_string(days) + "\n");
        fs::create_directories(imageDir());
    }

    [[nodiscard]] fs::path outputDir() const { return dir_ / "output"; }
    [[nodiscard]] fs::path imageDir() const { return dir_ / "output" / "image"; }
    [[nodiscard]] fs::path image(std::int32_t hour) const {
        return outputDir() / frameImageName(hour);
    }
    [[nodiscard]] std::size_t cells() const {
        return static_cast<std::size_t>(rows_) * static_cast<std::size_t>(cols_);
    }
    [[nodiscard]] std::size_t hours() const { return 24U * static_cast<std::size_t>(days_); }

    void writeGrid(const std::vector<float>& values) const {
        test::writeFloats(outputDir() / "dischargeHourly.bin", values);
    }
    /// Every frame filled with `value`.
    void writeUniform(float value) const {
        writeGrid(std::vector<float>(cells() * hours(), value));
    }

    [[nodiscard]] Outcome run(const std::string& input, int workers = 0) const {
        std::istringstream in(input);
        return runOn(in, workers);
    }

    [[nodiscard]] Outcome runOn(std::istream& in, int workers = 0) const {
        std::ostringstream out;
        Outcome o;
        o.status = runDischargeMap(in, out, outputDir(), workers);
        o.console = out.str();
        in.clear();
        o.unread.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        return o;
    }

    [[nodiscard]] std::size_t imageCount() const {
        std::size_t n = 0;
        for (const auto& e : fs::directory_iterator(imageDir())) {
            n += e.is_regular_file() ? 1U : 0U;
        }
        return n;
    }

private:
    test::TempDir dir_;
    std::int32_t rows_;
    std::int32_t cols_;
    std::int32_t days_;
};

std::string writeLines(std::int32_t from, std::int32_t to) {
    std::string s;
    for (std::int32_t h = from; h <= to; ++h) {
        s += "Write " + frameImageName(h) + "\r";
    }
    return s;
}

std::string afterQuestion(const std::string& console) {
    const auto at = console.find(kQuestion);
    return at == std::string::npos ? console : console.substr(at + std::string(kQuestion).size());
}

TEST(DischargeMap, TypedBoundsRunPrintsTheWholeDialogue) {
    MapCase c(4, 3, 1);
    c.writeUniform(2.0F);
    const Outcome o = c.run("y\n16\n0\n");
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.console, std::string(kEcho) + "  Simulation duration (days) : 1\n\n"
                             + "Read ./dischargeHourly.bin\n" + kQuestion
                             + "Input maximum value : Input minimum value : "
                               "Maximun discharge = 16 Minimum discharge = 0\n"
                               "Read ./dischargeHourly.bin\n"
                             + writeLines(1, 24) + "\nProgram ends!\n");
    EXPECT_EQ(c.imageCount(), 24U);
    const std::string img = test::readText(c.image(24));
    EXPECT_EQ(img.substr(0, 13), "P6\n15 20\n255\n");
    EXPECT_EQ(img.size(), 13U + 75U * 12U);
    EXPECT_EQ(o.unread, "\n");
}

TEST(DischargeMap, OnlyLowerCaseYAsksForTheBounds) {
    for (const char* answer : {"Y", "yes", "n", ""}) {
        SCOPED_TRACE(std::string("answer \"") + answer + "\"");
        MapCase c(4, 3, 1);
        std::vector<float> grid(c.cells() * c.hours(), 2.0F);
        grid[5] = 8.0F;
        c.writeGrid(grid);
        const Outcome o = c.run(std::string(answer) + "\n");
        EXPECT_EQ(o.status, 0);
        EXPECT_TRUE(afterQuestion(o.console).starts_with(
            "Maximun discharge = 8 Minimum discharge = 2\nRead "));
    }
}

TEST(DischargeMap, TypedBoundsMustBeTwoNumbersInOrder) {
    struct Case {
        const char* input;
        const char* printed;
        const char* unread;
    };
    const std::vector<Case> cases = {
        {"y 5 5\n", "Input maximum value : Input minimum value : Wrong values inputted!\n", "\n"},
        {"y 5 6\n", "Input maximum value : Input minimum value : Wrong values inputted!\n", "\n"},
        {"y abc 1\n", "Input maximum value : Wrong values inputted!\n", " 1\n"},
        {"y 5 1x\n", "Input maximum value : Input minimum value : Wrong values inputted!\n", "\n"},
        {"y 5\n", "Input maximum value : Input minimum value : Wrong values inputted!\n", ""},
        {"y 1e50 1\n", "Input maximum value : Wrong values inputted!\n", " 1\n"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.input);
        MapCase c(4, 3, 1);
        c.writeUniform(1.0F);
        const Outcome o = c.run(k.input);
        EXPECT_EQ(o.status, 1);
        EXPECT_EQ(afterQuestion(o.console), k.printed);
        EXPECT_EQ(o.unread, k.unread);
        EXPECT_EQ(c.imageCount(), 0U);
    }
}

TEST(DischargeMap, AutomaticBounds) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        const char* name;
        std::vector<float> values;  // placed at the start of the grid, the rest -9999
        const char* printed;
    };
    const std::vector<Case> cases = {
        {"all -9999", {}, "Maximun discharge <= Minimum discharge!\n"},
        {"all zero", {0.0F, 0.0F, 0.0F}, "Maximun discharge <= Minimum discharge!\n"},
        {"above 10000",
         {20000.0F, 30000.0F},
         "Maximun discharge = 30000 Minimum discharge = 10000\n"},
        {"above 10000 and 3",
         {20000.0F, 3.0F, 30000.0F},
         "Maximun discharge = 30000 Minimum discharge = 3\n"},
        {"1 then 5", {1.0F, 5.0F}, "Maximun discharge = 5 Minimum discharge = 1\n"},
        {"not a number first",
         {nan, 2.5F, nan, 0.5F, nan},
         "Maximun discharge = 2.5 Minimum discharge = 0.5\n"},
        {"only not a number", {nan, nan}, "Maximun discharge <= Minimum discharge!\n"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        MapCase c(4, 3, 1);
        std::vector<float> grid(c.cells() * c.hours(), -9999.0F);
        std::copy(k.values.begin(), k.values.end(), grid.begin() + 100);
        c.writeGrid(grid);
        const Outcome o = c.run("n\n");
        const std::string after = afterQuestion(o.console);
        EXPECT_EQ(after.substr(0, std::min(after.size(), std::string(k.printed).size())),
                  k.printed);
        const bool refused = std::string(k.printed).starts_with("Maximun discharge <=");
        EXPECT_EQ(o.status, refused ? 1 : 0);
        EXPECT_EQ(c.imageCount(), refused ? 0U : 24U);
    }
}

TEST(DischargeMap, AtMostTenThousandHours) {
    {
        SCOPED_TRACE("416 days");
        MapCase c(1, 1, 416);
        c.writeUniform(1.0F);
        const Outcome o = c.run("y 2 0\n");
        EXPECT_EQ(o.status, 0);
        EXPECT_EQ(c.imageCount(), 9984U);
        EXPECT_TRUE(fs::exists(c.image(9984)));
        EXPECT_TRUE(o.console.ends_with(
            "Write ./image/9983_discharge.ppm\rWrite ./image/9984_discharge.ppm\r\nProgram "
            "ends!\n"));
    }
    {
        SCOPED_TRACE("417 days");
        MapCase c(1, 1, 417);
        c.writeUniform(1.0F);
        const Outcome o = c.run("y 2 0\n");
        EXPECT_EQ(o.status, 1);
        EXPECT_TRUE(
            o.console.ends_with("  Simulation duration (days) : 417\n\nRead ./dischargeHourly.bin\n"
                                "Max_time_counter exceeds 10000!\n"));
        EXPECT_EQ(o.unread, "y 2 0\n");
    }
}

TEST(DischargeMap, ZeroDaysWithTypedBoundsDrawsNothing) {
    MapCase c(4, 3, 0);
    c.writeGrid({});
    const Outcome o = c.run("y 1 0\n");
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(afterQuestion(o.console),
              "Input maximum value : Input minimum value : Maximun discharge = 1 Minimum "
              "discharge = 0\nRead ./dischargeHourly.bin\n\nProgram ends!\n");
    EXPECT_EQ(c.imageCount(), 0U);
}

TEST(DischargeMap, GridWithoutColumnsGivesHeaderOnlyImages) {
    MapCase c(5, 0, 1);
    c.writeGrid({});
    const Outcome o = c.run("y 1 0\n");
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(c.imageCount(), 24U);
    EXPECT_EQ(test::readText(c.image(7)), "P6\n0 25\n255\n");
}

TEST(DischargeMap, ImagesShowTheirOwnFrame) {
    // Hour h holds the value h in every interior cell: with bounds 0 and 16, hour 1 is cyan
    // (index 63), hour 4 green (127), hour 16 red (255).
    MapCase c(5, 5, 1);
    std::vector<float> grid;
    for (std::size_t h = 1; h <= c.hours(); ++h) {
        for (std::size_t k = 0; k < c.cells(); ++k) {
            grid.push_back(static_cast<float>(h));
        }
    }
    c.writeGrid(grid);
    ASSERT_EQ(c.run("y 16 0\n").status, 0);
    const std::size_t centre = 13 + ((12 * 25) + 12) * 3;  // pixel 12,12: the centre cell
    struct Case {
        std::int32_t hour;
        unsigned char red, green, blue;
    };
    for (const Case& k : {Case{1, 0, 252, 252}, Case{4, 0, 252, 0}, Case{16, 252, 0, 0}}) {
        SCOPED_TRACE(k.hour);
        const std::string img = test::readText(c.image(k.hour));
        ASSERT_EQ(img.size(), 13U + 75U * 25U);
        EXPECT_EQ(static_cast<unsigned char>(img[centre]), k.red);
        EXPECT_EQ(static_cast<unsigned char>(img[centre + 1]), k.green);
        EXPECT_EQ(static_cast<unsigned char>(img[centre + 2]), k.blue);
    }
}

TEST(DischargeMap, MissingImageFolderFailsAtTheFirstImage) {
    MapCase c(4, 3, 1);
    c.writeUniform(1.0F);
    fs::remove(c.imageDir());
    const Outcome o = c.run("y 2 0\n");
    EXPECT_EQ(o.status, 1);
    EXPECT_TRUE(
        o.console.ends_with("Read ./dischargeHourly.bin\nWrite ./image/   1_discharge.ppm\r"
                            "Image output file cannot open.\n"));
    EXPECT_EQ(o.unread, "\n");
}

TEST(DischargeMap, ImageThatCannotBeCreatedHalfwayEndsTheSameAtAnyWorkerCount) {
    // A folder stands where image 5 should go; images 1 to 4 are written, none above 5.
    std::string reference;
    std::vector<std::string> referenceImages;
    for (int workers : {1, 2, 3, 4}) {
        SCOPED_TRACE("workers " + std::to_string(workers));
        MapCase c(6, 5, 1);
        std::vector<float> grid;
        for (std::size_t k = 0; k < c.cells() * c.hours(); ++k) {
            grid.push_back(static_cast<float>(k % 17));
        }
        c.writeGrid(grid);
        fs::create_directory(c.image(5));
        const Outcome o = c.run("n\n", workers);
        EXPECT_EQ(o.status, 1);
        EXPECT_TRUE(o.console.ends_with("Read ./dischargeHourly.bin\n" + writeLines(1, 5)
                                        + "Image output file cannot open.\n"));
        for (std::int32_t h = 6; h <= 24; ++h) {
            EXPECT_FALSE(fs::exists(c.image(h))) << "image " << h;
        }
        std::vector<std::string> images;
        for (std::int32_t h = 1; h <= 4; ++h) {
            images.push_back(test::readText(c.image(h)));
        }
        if (reference.empty()) {
            reference = o.console;
            referenceImages = images;
        } else {
            EXPECT_EQ(o.console, reference);
            EXPECT_EQ(images, referenceImages);
        }
    }
}

TEST(DischargeMap, ImageThatCannotBeWrittenIsReportedAndRemoved) {
    if (!fs::exists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full";
    }
    for (int workers : {1, 2}) {
        SCOPED_TRACE("workers " + std::to_string(workers));
        MapCase c(4, 3, 1);
        c.writeUniform(1.0F);
        // Opening succeeds, every write fails as on a full disk.
        fs::create_symlink("/dev/full", c.image(3));
        const Outcome o = c.run("y 2 0\n", workers);
        EXPECT_EQ(o.status, 1);
        EXPECT_TRUE(o.console.ends_with(writeLines(1, 3)
                                        + "Image output file cannot be written completely.\n"));
        EXPECT_TRUE(fs::exists(c.image(2)));
        for (std::int32_t h = 3; h <= 24; ++h) {
            EXPECT_FALSE(fs::exists(fs::symlink_status(c.image(h)))) << "image " << h;
        }
    }
}

TEST(DischargeMap, ShortDischargeFileIsRefusedBeforeTheQuestion) {
    MapCase c(4, 3, 2);
    // 47 whole frames and part of the 48th.
    c.writeGrid(std::vector<float>(c.cells() * 47 + 5, 1.0F));
    const Outcome o = c.run("y 2 0\n");
    EXPECT_EQ(o.status, 1);
    EXPECT_TRUE(
        o.console.ends_with("  Simulation duration (days) : 2\n\nRead ./dischargeHourly.bin\n"
                            "Discharge data holds 47 hourly frames, but 48 are needed.\n"));
    EXPECT_EQ(o.unread, "y 2 0\n");
    EXPECT_EQ(c.imageCount(), 0U);
}

TEST(DischargeMap, FailuresThatWaitForOneCharacter) {
    {
        SCOPED_TRACE("parameter file missing");
        MapCase c(4, 3, 1);
        fs::remove(c.outputDir() / ".." / "param-event.dat");
        const Outcome o = c.run("xy\n");
        EXPECT_EQ(o.status, 1);
        EXPECT_EQ(o.console,
                  "Reading parameters for runoff simulation.\nparam-event.dat cannot open.\n\n"
                  "Program ends. Hit any key!\n");
        EXPECT_EQ(o.unread, "y\n");
    }
    {
        SCOPED_TRACE("discharge file missing at the start: no wait");
        MapCase c(4, 3, 1);
        const Outcome o = c.run("xy\n");
        EXPECT_EQ(o.status, 1);
        EXPECT_TRUE(
            o.console.ends_with("\n\nRead ./dischargeHourly.bin\nDischarge data cannot open.\n"));
        EXPECT_EQ(o.unread, "xy\n");
    }
}

/// Serves its text one character at a time and runs `action` once, just before it serves the
/// character at `trigger`.
class TriggerBuffer : public std::streambuf {
public:
    TriggerBuffer(std::string text, std::size_t trigger, std::function<void()> action)
        : text_(std::move(text)), trigger_(trigger), action_(std::move(action)) {}

protected:
    int_type underflow() override {
        if (next_ >= text_.size()) {
            return traits_type::eof();
        }
        if (next_ == trigger_ && action_) {
            action_();
            action_ = nullptr;
        }
        char* at = text_.data() + next_;
        setg(at, at, at + 1);
        ++next_;
        return traits_type::to_int_type(*at);
    }

private:
    std::string text_;
    std::size_t next_ = 0;
    std::size_t trigger_;
    std::function<void()> action_;
};

TEST(DischargeMap, DischargeFileGoneBeforeTheImagesWaitsForOneCharacter) {
    MapCase c(4, 3, 1);
    c.writeUniform(1.0F);
    // The file disappears while the minimum is typed: after the first opening, before the
    // second.
    TriggerBuffer buffer("y 10 0 Z", 6, [&] { fs::remove(c.outputDir() / "dischargeHourly.bin"); });
    std::istream in(&buffer);
    const Outcome o = c.runOn(in);
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(afterQuestion(o.console),
              "Input maximum value : Input minimum value : Maximun discharge = 10 Minimum "
              "discharge = 0\nRead ./dischargeHourly.bin\nDischarge data cannot open.\n\n"
              "Program ends. Hit any key!\n");
    EXPECT_EQ(o.unread, "Z");
    EXPECT_EQ(c.imageCount(), 0U);
}

TEST(DischargeMap, MalformedParameterFileIsReportedAndRefused) {
    MapCase c(4, 3, 1);
    test::writeText(c.outputDir() / ".." / "param-event.dat", "3 4 0 0 1 1 0.1 0.1 0 0 1.5\n");
    const Outcome o = c.run("y 2 0\n");
    EXPECT_EQ(o.status, 1);
    EXPECT_TRUE(o.console.ends_with(
        "param-event.dat value 11 (simulation duration in days) is not an integer: \"1.5\"\n"));
    EXPECT_EQ(o.unread, "y 2 0\n");
}

}  // namespace
}  // namespace hydro

namespace hydro {
namespace {

TEST(DischargeMap, FramesOfAnotherGridAreRefused) {
    // Frames written for 10 columns, read as 3 x 4 = 12 cells: 48 frames of 10 x 4 hold 1920
    // values, 160 frames of 12 and no whole number. Mis-strided maps were drawn before.
    MapCase c(4, 3, 2);
    c.writeGrid(std::vector<float>(10U * 4U * 48U + 4U, 1.0F));
    const Outcome o = c.run("y 2 0\n");
    EXPECT_EQ(o.status, 1);
    EXPECT_TRUE(o.console.ends_with(
        "dischargeHourly.bin holds 7696 bytes, not a whole number of frames of 3 columns x 4 "
        "rows (48 bytes each): it was written for another grid than param-event.dat "
        "describes.\n"))
        << o.console;
    EXPECT_EQ(c.imageCount(), 0U);
    // More whole frames than the event needs are a longer run's output: accepted.
    c.writeGrid(std::vector<float>(c.cells() * (c.hours() + 24), 1.0F));
    EXPECT_EQ(c.run("y 2 0\n").status, 0);
}

TEST(DischargeMap, AnInfiniteDischargeCannotBecomeABound) {
    MapCase c(4, 3, 1);
    std::vector<float> grid(c.cells() * c.hours(), 1.0F);
    grid[c.cells() * 4 + 7] = std::numeric_limits<float>::infinity();   // hour 5, cell 7
    grid[c.cells() * 6 + 1] = std::numeric_limits<float>::quiet_NaN();  // skipped, as before
    c.writeGrid(grid);
    const Outcome o = c.run("n\n");
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(afterQuestion(o.console),
              "dischargeHourly.bin holds an infinite discharge in hour 5 at column 2, row 3 "
              "(counted from 1 from the west and from the south): it cannot be a bound of the "
              "colour scale.\n");
    EXPECT_EQ(c.imageCount(), 0U);
    // Typed bounds do not need the data's extremes; the infinite cell is then drawn black.
    EXPECT_EQ(c.run("y 2 0\n").status, 0);
}

}  // namespace
}  // namespace hydro
