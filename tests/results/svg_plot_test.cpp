// The SVG document: its structure (one line point per hour, one bar per rainy hour, the peak
// on the line), the axis titles, well-formed and escaped XML, and a real renderer's view of it.

#include "results/svg_plot.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace hydro::results {
namespace {

std::size_t countOf(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos;
         at = text.find(what, at + what.size())) {
        ++n;
    }
    return n;
}

struct Point {
    double x;
    double y;
};

/// The text of the first element that starts with `opening`, up to its '>'.
std::string elementAfter(const std::string& svg, const std::string& opening, std::size_t from = 0) {
    const std::size_t at = svg.find(opening, from);
    if (at == std::string::npos) {
        return "";
    }
    return svg.substr(at, svg.find('>', at) - at);
}

/// The value of attribute `name` in an element's text.
std::string attribute(const std::string& element, const std::string& name) {
    const std::string key = " " + name + "=\"";
    const std::size_t at = element.find(key);
    if (at == std::string::npos) {
        return "";
    }
    const std::size_t start = at + key.size();
    return element.substr(start, element.find('"', start) - start);
}

std::vector<Point> polylinePoints(const std::string& svg) {
    const std::string list =
        attribute(elementAfter(svg, "<polyline class=\"discharge\""), "points");
    std::vector<Point> points;
    std::istringstream in(list);
    std::string pair;
    while (in >> pair) {
        const std::size_t comma = pair.find(',');
        points.push_back({std::stod(pair.substr(0, comma)), std::stod(pair.substr(comma + 1))});
    }
    return points;
}

/// Heights of the rain bars, in document order; every bar hangs from the top of the plot.
std::vector<double> barHeights(const std::string& svg) {
    std::vector<double> heights;
    const std::string opening = "<rect class=\"rain\"";
    for (std::size_t at = svg.find(opening); at != std::string::npos;
         at = svg.find(opening, at + 1)) {
        const std::string bar = elementAfter(svg, opening, at);
        EXPECT_EQ(attribute(bar, "y"), "80.00") << bar;
        heights.push_back(std::stod(attribute(bar, "height")));
    }
    return heights;
}

/// Empty when every element is closed in order and every '&' starts an entity; otherwise what
/// is wrong.
std::string wellFormedProblem(const std::string& svg) {
    std::vector<std::string> open;
    std::size_t i = 0;
    while ((i = svg.find('<', i)) != std::string::npos) {
        const std::size_t end = svg.find('>', i);
        if (end == std::string::npos) {
            return "unclosed tag";
        }
        const std::string tag = svg.substr(i + 1, end - i - 1);
        i = end + 1;
        if (tag.starts_with('?')) {
            continue;
        }
        if (tag.find('<') != std::string::npos) {
            return "'<' inside a tag";
        }
        if (tag.starts_with('/')) {
            if (open.empty() || open.back() != tag.substr(1)) {
                return "unexpected </" + tag.substr(1) + ">";
            }
            open.pop_back();
        } else if (!tag.ends_with('/')) {
            open.push_back(tag.substr(0, tag.find_first_of(" \n")));
        }
    }
    if (!open.empty()) {
        return "<" + open.back() + "> not closed";
    }
    for (std::size_t at = svg.find('&'); at != std::string::npos; at = svg.find('&', at + 1)) {
        bool entity = false;
        for (const char* e : {"&amp;", "&lt;", "&gt;", "&quot;", "&apos;"}) {
            entity = entity || svg.compare(at, std::string(e).size(), e) == 0;
        }
        if (!entity) {
            return "a bare '&'";
        }
    }
    return "";
}

/// The texts of the group `name`, joined by blanks.
std::string labelsOf(const std::string& svg, const std::string& name) {
    const std::size_t start = svg.find("<g class=\"" + name + "\"");
    const std::size_t end = svg.find("</g>", start);
    if (start == std::string::npos || end == std::string::npos) {
        return "(no group " + name + ")";
    }
    const std::string group = svg.substr(start, end - start);
    std::string labels;
    for (std::size_t close = group.find("</text>"); close != std::string::npos;
         close = group.find("</text>", close + 1)) {
        const std::size_t open = group.rfind('>', close) + 1;
        labels += (labels.empty() ? "" : " ") + group.substr(open, close - open);
    }
    return labels;
}

/// True when a number in the document reads "nan" or "inf".
bool hasNonFiniteNumber(const std::string& svg) {
    std::string token;
    for (const char c : svg + " ") {
        if (c == '"' || c == ',' || c == ' ' || c == '>' || c == '<') {
            if (token == "nan" || token == "-nan" || token == "inf" || token == "-inf") {
                return true;
            }
            token.clear();
        } else {
            token += c;
        }
    }
    return false;
}

/// 30 hours with rain in hours 3 to 6 (one of them 0) and a peak in hour 12.
HydrographPlot samplePlot() {
    HydrographPlot p;
    p.title = "River 1: discharge at column 2, row 23";
    for (int n = 0; n < 30; ++n) {
        p.discharge.push_back(n <= 11 ? 10.0 * n : 110.0 - 3.0 * (n - 11));
        p.rainfall.push_back(0.0);
    }
    p.rainfall[2] = 2.0;
    p.rainfall[3] = 8.0;
    p.rainfall[5] = 4.0;
    p.peakIndex = 11;
    p.peakLabel = "Peak 110 m\xC2\xB3/s, day 1 hour 12";
    return p;
}

TEST(SvgPlot, OneLinePointPerHourAndOneBarPerRainyHour) {
    const std::string svg = renderHydrographSvg(samplePlot());
    const std::vector<Point> points = polylinePoints(svg);
    ASSERT_EQ(points.size(), 30U);
    // Hour n at the end of hour n: the last point on the right edge of the plot.
    EXPECT_DOUBLE_EQ(points.back().x, 880.0);
    EXPECT_NEAR(points.front().x, 80.0 + 800.0 / 30.0, 0.01);
    for (std::size_t n = 1; n < points.size(); ++n) {
        EXPECT_GT(points[n].x, points[n - 1].x);
    }
    // The highest point is the peak, and the axis leaves it inside the plot.
    EXPECT_LT(points[11].y, points[10].y);
    EXPECT_LT(points[11].y, points[12].y);
    EXPECT_GE(points[11].y, 80.0);
    // Discharge 0 at the bottom, 10 on the axis 0..120 that is 380 px high.
    EXPECT_DOUBLE_EQ(points[0].y, 460.0);
    EXPECT_NEAR(points[1].y, 460.0 - 10.0 / 120.0 * 380.0, 0.01);

    const std::vector<double> heights = barHeights(svg);
    ASSERT_EQ(heights.size(), 3U);
    EXPECT_EQ(countOf(svg, "class=\"rain\""), 3U);
    // Heights in proportion to the rain (2, 8, 4 mm/h), the largest within the upper half.
    EXPECT_NEAR(heights[1] / heights[0], 4.0, 0.01);
    EXPECT_NEAR(heights[2] / heights[0], 2.0, 0.01);
    EXPECT_LE(heights[1], 190.0);
}

TEST(SvgPlot, PeakMarkSitsOnTheLine) {
    const std::string svg = renderHydrographSvg(samplePlot());
    const std::vector<Point> points = polylinePoints(svg);
    const std::string mark = elementAfter(svg, "<circle class=\"peak\"");
    ASSERT_FALSE(mark.empty());
    EXPECT_DOUBLE_EQ(std::stod(attribute(mark, "cx")), points[11].x);
    EXPECT_DOUBLE_EQ(std::stod(attribute(mark, "cy")), points[11].y);
    EXPECT_NE(svg.find(">Peak 110 m\xC2\xB3/s, day 1 hour 12</text>"), std::string::npos);
}

TEST(SvgPlot, ThePeakLabelStaysInsideThePlotBox) {
    // A long label (gauge_series writes the time in full) on a peak at 69 % of the width
    // would run off the right edge at the mark's right: it goes to the left of the mark.
    HydrographPlot p = samplePlot();
    p.discharge.assign(100, 1.0);
    p.rainfall.assign(100, 0.0);
    p.discharge[68] = 50.0;
    p.peakIndex = 68;
    p.peakLabel = "Peak 4811.25 m\xC2\xB3/s, 2021-07-15T06:00:00Z";
    std::string svg = renderHydrographSvg(p);
    std::string label = elementAfter(svg, "<text x=\"", svg.find("<circle class=\"peak\""));
    const double markX = 80.0 + 800.0 * 69.0 / 100.0;
    EXPECT_EQ(attribute(label, "text-anchor"), "end") << label;
    EXPECT_DOUBLE_EQ(std::stod(attribute(label, "x")), markX - 8.0);
    // Where it fits, it stays at the mark's right, as before.
    p.discharge[68] = 1.0;
    p.discharge[10] = 50.0;
    p.peakIndex = 10;
    svg = renderHydrographSvg(p);
    label = elementAfter(svg, "<text x=\"", svg.find("<circle class=\"peak\""));
    EXPECT_EQ(attribute(label, "text-anchor"), "");
    EXPECT_DOUBLE_EQ(std::stod(attribute(label, "x")), 80.0 + 800.0 * 11.0 / 100.0 + 8.0);
    // Too long for either side: against the edge.
    p.peakLabel = std::string(120, 'x');
    svg = renderHydrographSvg(p);
    label = elementAfter(svg, "<text x=\"", svg.find("<circle class=\"peak\""));
    EXPECT_DOUBLE_EQ(std::stod(attribute(label, "x")), 84.0);
}

TEST(SvgPlot, AxesCarryTheirTitlesUnitsAndTicks) {
    const std::string svg = renderHydrographSvg(samplePlot());
    EXPECT_NE(svg.find(">Hour of the event</text>"), std::string::npos);
    EXPECT_NE(svg.find(">Discharge (m\xC2\xB3/s)</text>"), std::string::npos);
    EXPECT_NE(svg.find(">Rainfall (mm/h)</text>"), std::string::npos);
    EXPECT_NE(svg.find("viewBox=\"0 0 960 540\""), std::string::npos);
    // 30 hours in steps of 3; discharge 0..120 in steps of 20; rain 0..20 in steps of 5 (the
    // axis holds twice the largest rain, so that the bars keep to the upper half).
    EXPECT_EQ(labelsOf(svg, "hour-labels"), "0 3 6 9 12 15 18 21 24 27 30");
    EXPECT_EQ(labelsOf(svg, "discharge-labels"), "0 20 40 60 80 100 120");
    EXPECT_EQ(labelsOf(svg, "rain-labels"), "0 5 10 15 20");
}

TEST(SvgPlot, WellFormedWithEscapedText) {
    HydrographPlot p = samplePlot();
    p.title = "Rivers <1> & \"2\" 'x'";
    p.peakLabel = "a<b&c";
    const std::string svg = renderHydrographSvg(p);
    EXPECT_EQ(wellFormedProblem(svg), "");
    EXPECT_NE(svg.find("Rivers &lt;1&gt; &amp; &quot;2&quot; &apos;x&apos;"), std::string::npos);
    EXPECT_NE(svg.find("a&lt;b&amp;c"), std::string::npos);
    EXPECT_EQ(svg.find("<1>"), std::string::npos);
}

TEST(SvgPlot, FlatAndDrySeriesStillDrawsAxes) {
    HydrographPlot p;
    p.title = "dry";
    p.discharge = std::vector<double>(24, 0.0);
    p.rainfall = std::vector<double>(24, 0.0);
    p.peakIndex = 0;
    const std::string svg = renderHydrographSvg(p);
    EXPECT_EQ(wellFormedProblem(svg), "");
    EXPECT_EQ(countOf(svg, "class=\"rain\""), 0U);
    const std::vector<Point> points = polylinePoints(svg);
    ASSERT_EQ(points.size(), 24U);
    for (const Point& pt : points) {
        EXPECT_DOUBLE_EQ(pt.y, 460.0);
    }
    EXPECT_FALSE(hasNonFiniteNumber(svg));
}

TEST(SvgPlot, ObservationsDashedInRunsOnTheDischargeAxis) {
    HydrographPlot p = samplePlot();
    EXPECT_EQ(renderHydrographSvg(p).find("observed"), std::string::npos);
    // Hours 1-3 observed, 4 missing, 5 alone, 6-29 missing, 30 observed; the observed 150
    // in hour 2 lifts the axis above the simulated peak of 110.
    p.observed.assign(30, std::nullopt);
    p.observed[0] = 0.0;
    p.observed[1] = 150.0;
    p.observed[2] = 20.0;
    p.observed[4] = 40.0;
    p.observed[29] = 50.0;
    const std::string svg = renderHydrographSvg(p);
    EXPECT_EQ(wellFormedProblem(svg), "");
    EXPECT_EQ(countOf(svg, "<polyline class=\"observed-run\""), 1U);
    EXPECT_EQ(countOf(svg, "<circle class=\"observed-point\""), 2U);
    EXPECT_NE(svg.find("stroke-dasharray=\"6 4\""), std::string::npos);
    const std::string run =
        attribute(elementAfter(svg, "<polyline class=\"observed-run\""), "points");
    const std::vector<Point> line = polylinePoints(svg);
    // Three points at the ends of hours 1 to 3, on the discharge line's x positions, and the
    // discharge axis now 0..150: the observed 150 at the top of the plot.
    std::istringstream in(run);
    std::vector<std::string> pairs;
    for (std::string pair; in >> pair;) {
        pairs.push_back(pair);
    }
    ASSERT_EQ(pairs.size(), 3U);
    EXPECT_DOUBLE_EQ(std::stod(pairs[1].substr(0, pairs[1].find(','))), line[1].x);
    EXPECT_DOUBLE_EQ(std::stod(pairs[1].substr(pairs[1].find(',') + 1)), 80.0);
    EXPECT_EQ(labelsOf(svg, "discharge-labels"), "0 25 50 75 100 125 150");
    EXPECT_NE(svg.find(">Observed (m\xC2\xB3/s)</text>"), std::string::npos);
}

#ifdef HYDRO_RSVG_CONVERT
constexpr const char* kRsvgConvert = HYDRO_RSVG_CONVERT;
#else
constexpr const char* kRsvgConvert = nullptr;
#endif

std::uint32_t bigEndian32(const std::string& bytes, std::size_t at) {
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        v = (v << 8U) | static_cast<unsigned char>(bytes[at + i]);
    }
    return v;
}

TEST(SvgPlot, RendersWithRsvgConvert) {
    if (kRsvgConvert == nullptr) {
        GTEST_SKIP() << "rsvg-convert was not found when the build was configured "
                        "(Debian package librsvg2-bin)";
    }
    test::TempDir dir;
    HydrographPlot p = samplePlot();
    p.title = "River 1 & 2 <test>";
    test::writeText(dir / "plot.svg", renderHydrographSvg(p));
    const std::string command = std::string("'") + kRsvgConvert + "' -o '"
                                + (dir / "plot.png").string() + "' '" + (dir / "plot.svg").string()
                                + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    const std::string png = test::readText(dir / "plot.png");
    ASSERT_GE(png.size(), 24U);
    EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n"));
    EXPECT_EQ(png.substr(12, 4), "IHDR");
    EXPECT_EQ(bigEndian32(png, 16), 960U);
    EXPECT_EQ(bigEndian32(png, 20), 540U);
}

}  // namespace
}  // namespace hydro::results

namespace hydro::results {
namespace {

TEST(SvgPlot, BandsShadeBehindTheLineAndWidenTheAxis) {
    HydrographPlot plot;
    plot.title = "fan";
    plot.discharge = {1.0, 2.0, 1.0};
    const std::string plain = renderHydrographSvg(plot);
    EXPECT_EQ(plain.find("class=\"band\""), std::string::npos);
    plot.bands.push_back({{0.5, 1.0, 0.5}, {3.0, 240.0, 2.0}, "5-95 %", 0.2});
    const std::string svg = renderHydrographSvg(plot);
    const std::size_t band = svg.find("<polygon class=\"band\"");
    ASSERT_NE(band, std::string::npos);
    // Behind the line, with six corners: three hours forwards along the top, back along the
    // bottom; the axis reaches the band's top, so the highest corner is inside the plot.
    EXPECT_LT(band, svg.find("<polyline class=\"discharge\""));
    const std::size_t at = svg.find("points=\"", band) + 8;
    const std::string points = svg.substr(at, svg.find('"', at) - at);
    EXPECT_EQ(std::count(points.begin(), points.end(), ','), 6);
    EXPECT_EQ(points.substr(0, 7), "346.67,");
    const std::size_t top = points.find("613.33,");
    ASSERT_NE(top, std::string::npos) << points;
    const double y = std::stod(points.substr(top + 7));
    EXPECT_GE(y, 80.0);
    EXPECT_LT(y, 100.0);
    EXPECT_NE(svg.find(">5-95 %</text>"), std::string::npos);
}

}  // namespace
}  // namespace hydro::results
