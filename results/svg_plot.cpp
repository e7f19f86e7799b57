#include "results/svg_plot.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "common/xml_text.h"
#include "results/nice_scale.h"

namespace hydro::results {

namespace {

constexpr double kWidth = 960.0;
constexpr double kHeight = 540.0;
constexpr double kLeft = 80.0;
constexpr double kRight = 880.0;
constexpr double kTop = 80.0;
constexpr double kBottom = 460.0;
constexpr double kPlotWidth = kRight - kLeft;
constexpr double kPlotHeight = kBottom - kTop;
constexpr const char* kCubed = "\xC2\xB3";  // superscript three, UTF-8

std::string num(double v) {
    return fixedText(v, 2);
}

class SvgText {
public:
    SvgText& operator<<(std::string_view s) {
        text_ += s;
        return *this;
    }
    SvgText& operator<<(double v) {
        text_ += num(v);
        return *this;
    }
    SvgText& operator<<(std::int64_t v) {
        text_ += std::to_string(v);
        return *this;
    }
    /// A text element; `attributes` are written as given, `content` escaped.
    void label(double x, double y, std::string_view attributes, std::string_view content) {
        *this << "<text x=\"" << x << "\" y=\"" << y << "\" " << attributes << ">"
              << xmlEscape(content) << "</text>\n";
    }
    std::string take() { return std::move(text_); }

private:
    std::string text_;
};

/// The scales and positions shared by every part of the plot.
struct Layout {
    const HydrographPlot* plot = nullptr;
    std::int64_t hours = 0;
    double hourWidth = 0.0;
    NiceScale qScale;
    NiceScale rainScale;
    bool anyObserved = false;

    [[nodiscard]] double xAt(std::int64_t hour) const {
        return kLeft + static_cast<double>(hour) * hourWidth;
    }
    [[nodiscard]] double rainAt(std::int64_t n) const {
        const auto i = static_cast<std::size_t>(n);
        return i < plot->rainfall.size() ? plot->rainfall[i] : 0.0;
    }
    [[nodiscard]] std::optional<double> observedAt(std::int64_t n) const {
        const auto i = static_cast<std::size_t>(n);
        return i < plot->observed.size() ? plot->observed[i] : std::nullopt;
    }
    [[nodiscard]] double yOfQ(double q) const {
        return kBottom - std::clamp(q / qScale.max, 0.0, 1.0) * kPlotHeight;
    }
    [[nodiscard]] double depthOfRain(double r) const {
        return std::clamp(r / rainScale.max, 0.0, 1.0) * kPlotHeight;
    }
};

Layout makeLayout(const HydrographPlot& plot) {
    Layout lay;
    lay.plot = &plot;
    lay.hours = static_cast<std::int64_t>(plot.discharge.size());
    lay.hourWidth = kPlotWidth / static_cast<double>(std::max<std::int64_t>(lay.hours, 1));
    double maxQ = 0.0;
    for (const double q : plot.discharge) {
        maxQ = std::max(maxQ, q);
    }
    for (const DischargeBand& band : plot.bands) {
        for (const double q : band.high) {
            maxQ = std::max(maxQ, q);
        }
    }
    for (std::int64_t n = 0; n < lay.hours; ++n) {
        if (const auto o = lay.observedAt(n)) {
            maxQ = std::max(maxQ, *o);
            lay.anyObserved = true;
        }
    }
    double maxRain = 0.0;
    for (std::int64_t n = 0; n < lay.hours; ++n) {
        maxRain = std::max(maxRain, lay.rainAt(n));
    }
    lay.qScale = niceScale(maxQ);
    // Twice the largest rain: the bars keep to the upper half and leave the line visible.
    lay.rainScale = niceScale(2.0 * maxRain);
    return lay;
}

/// Where the peak label goes: its anchor's x and whether the text ends there.
struct PeakLabelPlace {
    double x = 0.0;
    bool endAnchored = false;
};

/// Beside the mark at `x`: to its right, or to its left in the right 30 % of the plot, and to
/// the other side, or against the plot's edge, when its estimated width would leave the plot
/// box.
PeakLabelPlace placePeakLabel(double x, std::string_view label) {
    // Wide digits of sans-serif at 12 px, a little over: the text should not reach the frame.
    constexpr double kCharWidth = 7.5;
    constexpr double kGap = 8.0;
    constexpr double kInset = 4.0;
    std::size_t characters = 0;
    for (const char c : label) {
        characters += (static_cast<unsigned char>(c) & 0xC0U) != 0x80U ? 1U : 0U;
    }
    const double width = kCharWidth * static_cast<double>(characters);
    const bool fitsRight = x + kGap + width <= kRight;
    const bool fitsLeft = x - kGap - width >= kLeft;
    const bool leftOfMark = x > kLeft + kPlotWidth * 0.7;
    if (leftOfMark ? fitsLeft : fitsRight) {
        return leftOfMark ? PeakLabelPlace{x - kGap, true} : PeakLabelPlace{x + kGap, false};
    }
    if (leftOfMark ? fitsRight : fitsLeft) {
        return leftOfMark ? PeakLabelPlace{x + kGap, false} : PeakLabelPlace{x - kGap, true};
    }
    // Wider than either side: against the edge nearer the mark's side.
    return leftOfMark ? PeakLabelPlace{kRight - kInset, true}
                      : PeakLabelPlace{kLeft + kInset, false};
}

void writeHeader(SvgText& s, const Layout& lay) {
    s << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"960\" height=\"540\" "
         "viewBox=\"0 0 960 540\" font-family=\"sans-serif\" font-size=\"12\">\n"
      << "<title>" << xmlEscape(lay.plot->title) << "</title>\n"
      << "<rect x=\"0\" y=\"0\" width=\"" << kWidth << "\" height=\"" << kHeight
      << "\" fill=\"white\"/>\n";
}

void writeGridAndRain(SvgText& s, const Layout& lay) {
    // Horizontal grid at the discharge ticks.
    s << "<g stroke=\"#dddddd\" stroke-width=\"1\">\n";
    for (std::int32_t k = 1; k <= lay.qScale.steps; ++k) {
        const double y = lay.yOfQ(k * lay.qScale.step);
        s << "<line x1=\"" << kLeft << "\" y1=\"" << y << "\" x2=\"" << kRight << "\" y2=\"" << y
          << "\"/>\n";
    }
    s << "</g>\n";

    // Day boundaries.
    s << "<g stroke=\"#999999\" stroke-width=\"1\" stroke-dasharray=\"4 4\">\n";
    for (std::int64_t h = 24; h < lay.hours; h += 24) {
        s << "<line x1=\"" << lay.xAt(h) << "\" y1=\"" << kTop << "\" x2=\"" << lay.xAt(h)
          << "\" y2=\"" << kBottom << "\"/>\n";
    }
    s << "</g>\n";

    // Rain bars hanging from the top, one per hour with rain.
    s << "<g fill=\"#4a90d9\" fill-opacity=\"0.6\">\n";
    const double gap = lay.hourWidth * 0.1;
    for (std::int64_t n = 0; n < lay.hours; ++n) {
        const double r = lay.rainAt(n);
        if (!(r > 0.0)) {
            continue;
        }
        s << "<rect class=\"rain\" x=\"" << lay.xAt(n) + gap / 2.0 << "\" y=\"" << kTop
          << "\" width=\"" << lay.hourWidth - gap << "\" height=\"" << lay.depthOfRain(r)
          << "\"/>\n";
    }
    s << "</g>\n";
}

/// Each band as a shaded polygon: along its high line, then back along its low line.
void writeBands(SvgText& s, const Layout& lay) {
    for (const DischargeBand& band : lay.plot->bands) {
        const auto hours = std::min<std::int64_t>(
            lay.hours, static_cast<std::int64_t>(std::min(band.low.size(), band.high.size())));
        if (hours == 0) {
            continue;
        }
        s << "<polygon class=\"band\" fill=\"#c0392b\" fill-opacity=\"" << band.opacity
          << "\" stroke=\"none\" points=\"";
        for (std::int64_t n = 0; n < hours; ++n) {
            s << (n == 0 ? "" : " ") << lay.xAt(n + 1) << ","
              << lay.yOfQ(band.high[static_cast<std::size_t>(n)]);
        }
        for (std::int64_t n = hours - 1; n >= 0; --n) {
            s << " " << lay.xAt(n + 1) << "," << lay.yOfQ(band.low[static_cast<std::size_t>(n)]);
        }
        s << "\"/>\n";
    }
}

void writeDischarge(SvgText& s, const Layout& lay) {
    writeBands(s, lay);
    // The discharge: the value of hour n at the end of hour n.
    s << "<polyline class=\"discharge\" fill=\"none\" stroke=\"#c0392b\" stroke-width=\"2\" "
         "points=\"";
    for (std::int64_t n = 0; n < lay.hours; ++n) {
        s << (n == 0 ? "" : " ") << lay.xAt(n + 1) << ","
          << lay.yOfQ(lay.plot->discharge[static_cast<std::size_t>(n)]);
    }
    s << "\"/>\n";

    // Observations: a dashed line through each run of observed lay.hours.
    if (lay.anyObserved) {
        s << "<g class=\"observed\" fill=\"none\" stroke=\"black\" stroke-width=\"1.5\" "
             "stroke-dasharray=\"6 4\">\n";
        for (std::int64_t n = 0; n < lay.hours;) {
            if (!lay.observedAt(n)) {
                ++n;
                continue;
            }
            std::int64_t end = n;
            while (end < lay.hours && lay.observedAt(end)) {
                ++end;
            }
            if (end - n == 1) {
                s << "<circle class=\"observed-point\" cx=\"" << lay.xAt(n + 1) << "\" cy=\""
                  << lay.yOfQ(*lay.observedAt(n)) << "\" r=\"2\" fill=\"black\"/>\n";
            } else {
                s << "<polyline class=\"observed-run\" points=\"";
                for (std::int64_t k = n; k < end; ++k) {
                    s << (k == n ? "" : " ") << lay.xAt(k + 1) << ","
                      << lay.yOfQ(*lay.observedAt(k));
                }
                s << "\"/>\n";
            }
            n = end;
        }
        s << "</g>\n";
    }

    if (lay.plot->peakIndex && *lay.plot->peakIndex < lay.plot->discharge.size()) {
        const auto n = static_cast<std::int64_t>(*lay.plot->peakIndex);
        const double x = lay.xAt(n + 1);
        const double y = lay.yOfQ(lay.plot->discharge[*lay.plot->peakIndex]);
        s << "<circle class=\"peak\" cx=\"" << x << "\" cy=\"" << y
          << "\" r=\"4\" fill=\"#c0392b\" stroke=\"black\" stroke-width=\"1\"/>\n";
        const PeakLabelPlace place = placePeakLabel(x, lay.plot->peakLabel);
        const double labelY = std::max(y - 8.0, kTop + 14.0);
        s.label(
            place.x, labelY,
            place.endAnchored ? R"(class="peak-label" text-anchor="end")" : R"(class="peak-label")",
            lay.plot->peakLabel);
    }
}

void writeAxes(SvgText& s, const Layout& lay) {
    // Frame and axes.
    s << "<rect x=\"" << kLeft << "\" y=\"" << kTop << "\" width=\"" << kPlotWidth << "\" height=\""
      << kPlotHeight << "\" fill=\"none\" stroke=\"black\" stroke-width=\"1\"/>\n";
    s << "<g stroke=\"black\" stroke-width=\"1\">\n";
    const std::int64_t hourStep = hourTickStep(lay.hours);
    for (std::int64_t h = 0; h <= lay.hours; h += hourStep) {
        s << "<line x1=\"" << lay.xAt(h) << "\" y1=\"" << kBottom << "\" x2=\"" << lay.xAt(h)
          << "\" y2=\"" << kBottom + 5.0 << "\"/>\n";
    }
    for (std::int32_t k = 0; k <= lay.qScale.steps; ++k) {
        const double y = lay.yOfQ(k * lay.qScale.step);
        s << "<line x1=\"" << kLeft - 5.0 << "\" y1=\"" << y << "\" x2=\"" << kLeft << "\" y2=\""
          << y << "\"/>\n";
    }
    for (std::int32_t k = 0; k <= lay.rainScale.steps; ++k) {
        const double y = kTop + lay.depthOfRain(k * lay.rainScale.step);
        s << "<line x1=\"" << kRight << "\" y1=\"" << y << "\" x2=\"" << kRight + 5.0 << "\" y2=\""
          << y << "\"/>\n";
    }
    s << "</g>\n";

    s << "<g class=\"hour-labels\" text-anchor=\"middle\">\n";
    for (std::int64_t h = 0; h <= lay.hours; h += hourStep) {
        s.label(lay.xAt(h), kBottom + 18.0, "", std::to_string(h));
    }
    s << "</g>\n<g class=\"discharge-labels\" text-anchor=\"end\">\n";
    for (std::int32_t k = 0; k <= lay.qScale.steps; ++k) {
        const double v = k * lay.qScale.step;
        s.label(kLeft - 8.0, lay.yOfQ(v) + 4.0, "", tickLabel(v, lay.qScale));
    }
    s << "</g>\n<g class=\"rain-labels\" text-anchor=\"start\">\n";
    for (std::int32_t k = 0; k <= lay.rainScale.steps; ++k) {
        const double v = k * lay.rainScale.step;
        s.label(kRight + 8.0, kTop + lay.depthOfRain(v) + 4.0, "", tickLabel(v, lay.rainScale));
    }
    s << "</g>\n";
}

void writeTitlesAndLegend(SvgText& s, const Layout& lay) {
    // Titles.
    const double midX = (kLeft + kRight) / 2.0;
    const double midY = (kTop + kBottom) / 2.0;
    s.label(kWidth / 2.0, 30.0, R"(class="title" text-anchor="middle" font-size="18")",
            lay.plot->title);
    s.label(midX, kBottom + 42.0, R"(class="axis-title" text-anchor="middle" font-size="14")",
            "Hour of the event");
    s << "<text class=\"axis-title\" x=\"0\" y=\"0\" text-anchor=\"middle\" font-size=\"14\" "
         "transform=\"translate("
      << 28.0 << " " << midY << ") rotate(-90)\">" << xmlEscape("Discharge (m") << kCubed
      << "/s)</text>\n";
    s << "<text class=\"axis-title\" x=\"0\" y=\"0\" text-anchor=\"middle\" font-size=\"14\" "
         "transform=\"translate("
      << kWidth - 22.0 << " " << midY << ") rotate(90)\">Rainfall (mm/h)</text>\n";

    // Legend, between the title and the plot.
    const double ly = 58.0;
    s << "<g class=\"legend\">\n"
      << "<rect x=\"" << kLeft << "\" y=\"" << ly - 9.0
      << R"(" width="14" height="10" fill="#4a90d9" fill-opacity="0.6"/>)"
      << "\n";
    s.label(kLeft + 20.0, ly, "", "Basin rainfall (mm/h)");
    s << "<line x1=\"" << kLeft + 200.0 << "\" y1=\"" << ly - 4.0 << "\" x2=\"" << kLeft + 224.0
      << "\" y2=\"" << ly - 4.0 << R"(" stroke="#c0392b" stroke-width="2"/>)"
      << "\n";
    s.label(kLeft + 230.0, ly, "", std::string("Discharge (m") + kCubed + "/s)");
    s << "<circle cx=\"" << kLeft + 380.0 << "\" cy=\"" << ly - 4.0
      << R"(" r="4" fill="#c0392b" stroke="black" stroke-width="1"/>)"
      << "\n";
    s.label(kLeft + 390.0, ly, "", "Peak discharge");
    if (lay.anyObserved) {
        s << "<line x1=\"" << kLeft + 500.0 << "\" y1=\"" << ly - 4.0 << "\" x2=\"" << kLeft + 524.0
          << "\" y2=\"" << ly - 4.0
          << R"(" stroke="black" stroke-width="1.5" stroke-dasharray="6 4"/>)"
          << "\n";
        s.label(kLeft + 530.0, ly, "", std::string("Observed (m") + kCubed + "/s)");
    }
    double x = kLeft + (lay.anyObserved ? 650.0 : 500.0);
    for (const DischargeBand& band : lay.plot->bands) {
        s << "<rect x=\"" << x << "\" y=\"" << ly - 9.0
          << R"(" width="14" height="10" fill="#c0392b" fill-opacity=")" << band.opacity
          << "\"/>\n";
        s.label(x + 20.0, ly, "", band.label);
        x += 150.0;
    }
}

}  // namespace

std::string renderHydrographSvg(const HydrographPlot& plot) {
    const Layout layout = makeLayout(plot);
    SvgText s;
    writeHeader(s, layout);
    writeGridAndRain(s, layout);
    writeDischarge(s, layout);
    writeAxes(s, layout);
    writeTitlesAndLegend(s, layout);
    s << "</g>\n</svg>\n";
    return s.take();
}

namespace {

struct ProgressLayout {
    double low = -1.0;
    double high = 1.0;
    std::size_t runs = 0;
    [[nodiscard]] double xAt(double run) const {
        return kLeft
               + (run - 0.5) / static_cast<double>(std::max<std::size_t>(runs, 1)) * kPlotWidth;
    }
    [[nodiscard]] double yAt(double v) const {
        return kBottom - std::clamp((v - low) / (high - low), 0.0, 1.0) * kPlotHeight;
    }
};

ProgressLayout progressLayout(const ProgressPlot& plot) {
    ProgressLayout lay;
    lay.runs = plot.objective.size();
    const double floor = plot.noSkill ? *plot.noSkill - 1.0 : -1.0;
    double lowest = 1.0;
    for (const auto& f : plot.objective) {
        if (f) {
            lowest = std::min(lowest, *f);
        }
    }
    // Tenths below the lowest objective, no lower than the floor.
    lay.low = std::max(floor, std::floor(lowest * 10.0) / 10.0 - 0.1);
    if (plot.noSkill) {
        lay.low = std::min(lay.low, *plot.noSkill - 0.1);
    }
    return lay;
}

void writeProgressAxes(SvgText& s, const ProgressLayout& lay, const ProgressPlot& plot) {
    s << "<rect x=\"" << kLeft << "\" y=\"" << kTop << "\" width=\"" << kPlotWidth << "\" height=\""
      << kPlotHeight << "\" fill=\"none\" stroke=\"black\" stroke-width=\"1\"/>\n";
    const NiceScale runScale = niceScale(static_cast<double>(lay.runs));
    s << "<g class=\"run-labels\" text-anchor=\"middle\">\n";
    for (std::int32_t k = 0; k <= runScale.steps; ++k) {
        const double run = k * runScale.step;
        if (run >= 1.0 && run <= static_cast<double>(lay.runs)) {
            s.label(lay.xAt(run), kBottom + 18.0, "", tickLabel(run, runScale));
        }
    }
    s << "</g>\n<g class=\"objective-labels\" text-anchor=\"end\">\n";
    const double step = lay.high - lay.low > 2.0 ? 0.5 : 0.1;
    const auto first = static_cast<std::int64_t>(std::ceil(lay.low / step - 1e-9));
    const auto last = static_cast<std::int64_t>(std::floor(lay.high / step + 1e-9));
    for (std::int64_t k = first; k <= last; ++k) {
        const double v = static_cast<double>(k) * step;
        s.label(kLeft - 8.0, lay.yAt(v) + 4.0, "", fixedText(v, 1));
        s << "<line x1=\"" << kLeft << "\" y1=\"" << lay.yAt(v) << "\" x2=\"" << kRight
          << "\" y2=\"" << lay.yAt(v) << "\" stroke=\"#dddddd\"/>\n";
    }
    s << "</g>\n";
    s.label(kWidth / 2.0, 30.0, R"(class="title" text-anchor="middle" font-size="18")", plot.title);
    s.label((kLeft + kRight) / 2.0, kBottom + 42.0,
            R"(class="axis-title" text-anchor="middle" font-size="14")", "Run");
    s << "<text class=\"axis-title\" x=\"0\" y=\"0\" text-anchor=\"middle\" font-size=\"14\" "
         "transform=\"translate("
      << 28.0 << " " << (kTop + kBottom) / 2.0 << ") rotate(-90)\">"
      << xmlEscape(plot.objectiveName) << "</text>\n";
    const double ly = 58.0;
    s << "<g class=\"legend\">\n<circle cx=\"" << kLeft + 7.0 << "\" cy=\"" << ly - 4.0
      << R"(" r="3" fill="#4a90d9"/>)"
      << "\n";
    s.label(kLeft + 16.0, ly, "", "Run");
    s << "<line x1=\"" << kLeft + 70.0 << "\" y1=\"" << ly - 4.0 << "\" x2=\"" << kLeft + 94.0
      << "\" y2=\"" << ly - 4.0 << R"(" stroke="#c0392b" stroke-width="2"/>)"
      << "\n";
    s.label(kLeft + 100.0, ly, "", "Best so far");
    if (plot.noSkill) {
        s << "<line x1=\"" << kLeft + 200.0 << "\" y1=\"" << ly - 4.0 << "\" x2=\"" << kLeft + 224.0
          << "\" y2=\"" << ly - 4.0
          << R"(" stroke="black" stroke-width="1" stroke-dasharray="6 4"/>)"
          << "\n";
        s.label(kLeft + 230.0, ly, "", "No skill (the mean flow)");
    }
    s << "</g>\n";
}

}  // namespace

std::string renderProgressSvg(const ProgressPlot& plot) {
    const ProgressLayout lay = progressLayout(plot);
    SvgText s;
    s << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"960\" height=\"540\" "
         "viewBox=\"0 0 960 540\" font-family=\"sans-serif\" font-size=\"12\">\n"
      << "<title>" << xmlEscape(plot.title) << "</title>\n"
      << "<rect x=\"0\" y=\"0\" width=\"" << kWidth << "\" height=\"" << kHeight
      << "\" fill=\"white\"/>\n";
    writeProgressAxes(s, lay, plot);
    if (plot.noSkill) {
        s << "<line class=\"no-skill\" x1=\"" << kLeft << "\" y1=\"" << lay.yAt(*plot.noSkill)
          << "\" x2=\"" << kRight << "\" y2=\"" << lay.yAt(*plot.noSkill)
          << R"(" stroke="black" stroke-width="1" stroke-dasharray="6 4"/>)"
          << "\n";
    }
    s << "<g class=\"runs\" fill=\"#4a90d9\">\n";
    std::optional<double> best;
    std::string line;
    for (std::size_t k = 0; k < plot.objective.size(); ++k) {
        const auto& f = plot.objective[k];
        const auto run = static_cast<double>(k + 1);
        if (f) {
            s << "<circle cx=\"" << lay.xAt(run) << "\" cy=\"" << lay.yAt(*f) << "\" r=\"3\"/>\n";
            if (!best || *f >= *best) {
                best = f;
            }
        }
        if (best) {
            line += num(lay.xAt(run)) + "," + num(lay.yAt(*best)) + " ";
        }
    }
    s << "</g>\n";
    if (!line.empty()) {
        line.pop_back();
        s << "<polyline class=\"best\" fill=\"none\" stroke=\"#c0392b\" stroke-width=\"2\" "
             "points=\""
          << line << "\"/>\n";
    }
    s << "</svg>\n";
    return s.take();
}

}  // namespace hydro::results
