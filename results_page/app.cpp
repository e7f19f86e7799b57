#include "results_page/app.h"

#include <netcdf.h>

#include <algorithm>
#include <array>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <optional>
#include <sstream>

#include "case/basin_rainfall.h"
#include "case/case_folder.h"
#include "case/outlet.h"
#include "common/console.h"
#include "common/number_stream.h"
#include "results/discharge_value.h"
#include "results/snapping.h"
#include "results_page/case_input.h"
#include "results_page/gauges.h"
#include "results_page/page_data.h"
#include "results_page/page_files.h"
#include "results_page/template_files.h"

namespace hydro::results_page {

namespace {

namespace fs = std::filesystem;

constexpr int kFailure = 1;
constexpr const char* kUsage = "Usage: results_page CASE_DIR (results_page --help tells more)";
constexpr const char* kHelp =
    "Usage: results_page CASE_DIR\n"
    "\n"
    "Writes CASE_DIR/output/index.html, a page that shows the simulated event: the hourly\n"
    "discharge map over the terrain (logarithmic or square-root colour scale, m3/s), the date\n"
    "and time of each hour (UTC) with the rain over the selected river's basin, and the\n"
    "hydrograph of any cell clicked. Its data goes to CASE_DIR/output/page/. The page opens\n"
    "from the file system with no server and no network.\n"
    "\n"
    "Reads param-event.dat, topoData/, input/rain.dat and output/dischargeHourly.bin of the\n"
    "case (run runoff_sim there first), and output/gauge_cells.csv with\n"
    "output/gauge_observed.csv when they exist; with output/ensemble/gauge_quantiles.csv (from\n"
    "ensemble) the hydrograph of a gauge shows the ensemble's median and spread.\n"
    "\n"
    "Options:\n"
    "  -h, --help  print this text and exit\n";

/// Values of one series block: hydrographs of this many bytes stay quick to load on a click.
constexpr std::int64_t kBlockBytes = std::int64_t{1} << 19;
/// Hillshade heights are exaggerated: the cells are large and the terrain looks flat otherwise.
constexpr double kShadeExaggeration = 8.0;

struct Timer {
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    [[nodiscard]] double seconds() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
};

std::string padded(std::int64_t n, int width) {
    std::string s = std::to_string(n);
    return std::string(static_cast<std::size_t>(std::max(0, width - static_cast<int>(s.size()))),
                       '0')
           + s;
}

std::string compressedBase64(std::span<const std::uint8_t> bytes) {
    const std::vector<std::uint8_t> packed = zlibCompress(bytes);
    if (packed.empty() && !bytes.empty()) {
        return {};
    }
    return base64(packed);
}

void appendWords(std::vector<std::uint8_t>& out, std::span<const std::uint32_t> words) {
    for (const std::uint32_t w : words) {
        for (unsigned b = 0; b < 4; ++b) {
            out.push_back(static_cast<std::uint8_t>(w >> (8U * b)));
        }
    }
}

/// The hourly discharge of every simulated cell, cell after cell, and the range of the event.
struct EventDischarge {
    std::vector<float> series;  ///< [simulated cell][hour], m3/s
    DischargeRange range;
    /// The smallest event maximum above 0 of the channel cells (flow accumulation above the
    /// channel threshold); 0 when no channel cell carries water.
    float channelFloor = 0.0F;
};

/// The smallest event maximum above 0 of the simulated cells that are channels.
float channelFloor(const CaseInput& in, const std::vector<CellIndex>& cells,
                   const std::vector<float>& series, std::size_t hours) {
    float floor = 0.0F;
    for (std::size_t k = 0; k < cells.size(); ++k) {
        if (in.grid[cells[k]].flowAcc <= in.params.channelArea) {
            continue;
        }
        const auto first = series.begin() + static_cast<std::ptrdiff_t>(k * hours);
        const float peak =
            hours == 0 ? 0.0F
                       : *std::max_element(first, first + static_cast<std::ptrdiff_t>(hours));
        if (peak > 0.0F && (floor == 0.0F || peak < floor)) {
            floor = peak;
        }
    }
    return floor;
}

Result<EventDischarge> readDischarge(const fs::path& caseDir, const CaseInput& in,
                                     const std::vector<CellIndex>& cells, std::int64_t hours,
                                     std::ostream& progress) {
    DischargeGrid frames;
    if (auto opened = frames.open(CasePaths{caseDir}.hourlyDischarge(), in.grid,
                                  static_cast<std::uint64_t>(hours));
        !opened) {
        return opened.error();
    }
    EventDischarge out;
    out.series.resize(cells.size() * static_cast<std::size_t>(hours));
    std::vector<float> frame(static_cast<std::size_t>(in.grid.cellCount()));
    const auto h = static_cast<std::size_t>(hours);
    for (std::int64_t hour = 0; hour < hours; ++hour) {
        if (auto read = frames.readFrame(static_cast<std::uint64_t>(hour), frame); !read) {
            return read.error();
        }
        for (std::size_t k = 0; k < cells.size(); ++k) {
            const std::int64_t position = in.grid.filePosition(cells[k]);
            const float v = frame[static_cast<std::size_t>(position)];
            if (auto fault =
                    results::nonFiniteDischarge("dischargeHourly.bin", "hour", in.grid,
                                                static_cast<std::uint64_t>(hour), position, v)) {
                return *fault;
            }
            if (!(v >= 0.0F)) {
                const CellIndex c = cells[k];
                std::ostringstream text;
                text << "dischargeHourly.bin holds " << static_cast<double>(v) << " in hour "
                     << hour + 1 << " at column " << in.grid.userColumn(c) << ", row "
                     << in.grid.userRow(c)
                     << ", a cell the case simulates: the output does not belong to this case.";
                return Error{text.str()};
            }
            out.series[k * h + static_cast<std::size_t>(hour)] = v;
            out.range.add(v);
        }
        progress << "\rresults_page: read hour " << hour + 1 << " of " << hours << std::flush;
    }
    progress << '\n';
    out.channelFloor = channelFloor(in, cells, out.series, h);
    return out;
}

std::string riverRainJson(const BasinRain& rain) {
    std::ostringstream json;
    json << '{';
    bool first = true;
    for (const auto& [river, values] : rain.byRiver) {
        json << (first ? "" : ",") << '"' << river << "\":[";
        first = false;
        for (std::size_t i = 0; i < values.size(); ++i) {
            json << (i == 0 ? "" : ",") << std::round(values[i] * 1000.0) / 1000.0;
        }
        json << ']';
    }
    json << '}';
    return json.str();
}

std::string gaugesJson(const std::vector<Gauge>& gauges) {
    std::ostringstream json;
    json.precision(10);
    json << '[';
    for (std::size_t g = 0; g < gauges.size(); ++g) {
        const Gauge& gauge = gauges[g];
        json << (g == 0 ? "" : ",") << "{\"id\":" << jsonString(gauge.id)
             << ",\"column\":" << gauge.column << ",\"row\":" << gauge.row
             << ",\"lon\":" << gauge.lon << ",\"lat\":" << gauge.lat
             << ",\"upstreamKm2\":" << gauge.upstreamKm2 << ",\"river\":" << jsonString(gauge.river)
             << ",\"observed\":[";
        for (std::size_t i = 0; i < gauge.observed.size(); ++i) {
            json << (i == 0 ? "" : ",") << '[' << gauge.observed[i].hour << ','
                 << gauge.observed[i].value << ']';
        }
        json << ']';
        if (!gauge.fan.empty()) {
            json << ",\"fan\":[";
            for (std::size_t i = 0; i < gauge.fan.size(); ++i) {
                json << (i == 0 ? "" : ",") << '[' << gauge.fan[i].hour;
                for (const double q : gauge.fan[i].q) {
                    json << ',' << q;
                }
                json << ']';
            }
            json << ']';
        }
        json << '}';
    }
    json << ']';
    return json.str();
}

/// The gauges of the output folder and the ensemble's fan at them.
struct GaugeData {
    std::vector<Gauge> gauges;
    bool fan = false;                    ///< the ensemble's quantile table was read
    std::optional<std::size_t> members;  ///< how many members it summarises, when known
    std::vector<std::string> skipped;    ///< its gauges that gauge_cells.csv does not list
};

/// The length of the realization axis of the ensemble's NetCDF file beside the quantile table,
/// or nothing when that file is missing or does not say.
std::optional<std::size_t> ensembleMembers(const fs::path& caseDir) {
    const fs::path file = CasePaths{caseDir}.output() / "ensemble" / "gauge_ensemble.nc";
    std::error_code ec;
    if (!fs::is_regular_file(file, ec)) {
        return std::nullopt;
    }
    int id = 0;
    if (nc_open(file.c_str(), NC_NOWRITE, &id) != NC_NOERR) {
        return std::nullopt;
    }
    int dim = 0;
    std::size_t length = 0;
    const bool found = nc_inq_dimid(id, "realization", &dim) == NC_NOERR
                       && nc_inq_dimlen(id, dim, &length) == NC_NOERR && length > 0;
    nc_close(id);
    return found ? std::optional<std::size_t>(length) : std::nullopt;
}

Result<GaugeData> readGauges(const fs::path& caseDir, const CaseInput& in) {
    GaugeData out;
    auto cells = readOptionalOutputText(caseDir, "gauge_cells.csv");
    if (!cells.ok()) {
        return cells.error();
    }
    if (*cells) {
        auto observed = readOptionalOutputText(caseDir, "gauge_observed.csv");
        if (!observed.ok()) {
            return observed.error();
        }
        auto gauges =
            parseGauges(**cells, *observed, in.grid.cols, in.grid.rows, in.start.unixSeconds());
        if (!gauges.ok()) {
            return gauges.error();
        }
        out.gauges = std::move(*gauges);
    }
    auto quantiles = readOptionalOutputText(caseDir, std::string(kQuantilesName));
    if (!quantiles.ok()) {
        return quantiles.error();
    }
    if (*quantiles) {
        auto skipped = addEnsembleFan(**quantiles, out.gauges, in.start.unixSeconds(),
                                      std::int64_t{in.params.days} * 24);
        if (!skipped.ok()) {
            return skipped.error();
        }
        out.fan = true;
        out.skipped = std::move(*skipped);
        out.members = ensembleMembers(caseDir);
    }
    return out;
}

/// One colour scale of the map: its bounds and the colour index of a value.
struct Scale {
    const char* name;
    float lower;
    float upper;
    std::uint8_t (*index)(float, float, float);
};

using Scales = std::array<Scale, 2>;

/// The log scale starts at the channels' smallest peak, so that the rivers take the ramp and
/// the many slope cells of a large basin, whose discharge is far smaller, keep to its bottom;
/// without water in a channel, at the smallest discharge above 0.
Scales colourScales(const DischargeRange& r, float channelFloor) {
    float logLower = r.smallestPositive > 0.0F ? r.smallestPositive : r.largest;
    if (channelFloor > logLower && channelFloor < r.largest) {
        logLower = channelFloor;
    }
    return {{{"log", logLower, r.largest, &logIndex}, {"sqrt", r.smallest, r.largest, &sqrtIndex}}};
}

Error noMemory() {
    return Error{"Not enough memory for this page."};
}

/// Colour indices, a byte per simulated cell and hour, for each scale: a script per hour.
Status writeFrames(PageOutput& page, const std::vector<CellIndex>& cells,
                   const EventDischarge& discharge, std::size_t h, const Scales& scales,
                   std::ostream& progress) {
    std::vector<std::uint8_t> bytes(cells.size());
    for (const Scale& scale : scales) {
        for (std::size_t hour = 0; hour < h; ++hour) {
            for (std::size_t k = 0; k < cells.size(); ++k) {
                bytes[k] = scale.index(discharge.series[k * h + hour], scale.lower, scale.upper);
            }
            const std::string text = compressedBase64(bytes);
            if (text.empty() && !bytes.empty()) {
                return noMemory();
            }
            const std::string name = std::string("frames/") + scale.name + "/"
                                     + padded(static_cast<std::int64_t>(hour) + 1, 4) + ".js";
            if (auto written = page.writePageFile(name, "RP.frame(\"" + std::string(scale.name)
                                                            + "\"," + std::to_string(hour + 1)
                                                            + ",\"" + text + "\");\n");
                !written) {
                return written;
            }
        }
        progress << "results_page: " << h << " frames of the " << scale.name << " scale\n";
    }
    return success();
}

/// How the hydrographs are cut into blocks.
struct Blocks {
    std::size_t cells = 0;  ///< simulated cells per block
    std::size_t count = 0;
};

/// One block's payload: its hydrographs byte plane by byte plane, then each cell's flow
/// accumulation, river and upstream area.
std::vector<std::uint8_t> blockPayload(const CaseInput& in, const std::vector<CellIndex>& cells,
                                       const EventDischarge& discharge, std::size_t h,
                                       const std::vector<double>& upstreamM2, std::size_t first,
                                       std::size_t last) {
    std::vector<std::uint8_t> payload =
        bytePlanes(std::span<const float>(discharge.series).subspan(first * h, (last - first) * h));
    std::vector<std::uint32_t> words;
    for (std::size_t k = first; k < last; ++k) {
        words.push_back(static_cast<std::uint32_t>(in.grid[cells[k]].flowAcc));
    }
    for (std::size_t k = first; k < last; ++k) {
        words.push_back(static_cast<std::uint32_t>(in.grid[cells[k]].riverNum));
    }
    for (std::size_t k = first; k < last; ++k) {
        words.push_back(std::bit_cast<std::uint32_t>(
            static_cast<float>(upstreamM2[static_cast<std::size_t>(cells[k])] / 1.0e6)));
    }
    appendWords(payload, words);
    return payload;
}

/// Hydrographs in blocks of cells, with each cell's flow accumulation, river and upstream
/// area (the areas of every cell draining through it, as the gauge tables give it): a click
/// loads one block.
Result<Blocks> writeSeriesBlocks(PageOutput& page, const CaseInput& in,
                                 const std::vector<CellIndex>& cells,
                                 const EventDischarge& discharge, std::int64_t hours,
                                 std::ostream& progress) {
    const auto h = static_cast<std::size_t>(hours);
    const std::vector<double> upstreamM2 = upstreamAreasM2(in.grid);
    Blocks blocks;
    blocks.cells =
        static_cast<std::size_t>(std::clamp<std::int64_t>(kBlockBytes / (4 * hours), 64, 65536));
    blocks.count = (cells.size() + blocks.cells - 1) / blocks.cells;
    for (std::size_t b = 0; b < blocks.count; ++b) {
        const std::size_t first = b * blocks.cells;
        const std::size_t last = std::min(cells.size(), first + blocks.cells);
        const std::string text =
            compressedBase64(blockPayload(in, cells, discharge, h, upstreamM2, first, last));
        if (text.empty()) {
            return noMemory();
        }
        if (auto written =
                page.writePageFile("series/" + padded(static_cast<std::int64_t>(b), 4) + ".js",
                                   "RP.block(" + std::to_string(b) + ",\"" + text + "\");\n");
            !written) {
            return written.error();
        }
    }
    progress << "results_page: " << blocks.count << " hydrograph blocks of " << blocks.cells
             << " cells\n";
    return blocks;
}

/// What the page shows besides the frames and hydrographs.
struct PageMeta {
    const fs::path* caseDir;
    const CaseInput* in;
    std::size_t simCount;
    Blocks blocks;
    const Scales* scales;
    const OutletCell* outlet;
    const BasinRain* rain;
    const std::vector<Gauge>* gauges;
    std::optional<std::size_t> fanMembers;  ///< members of the ensemble drawn at the gauges
    std::string maskText;                   ///< which cells carry discharge, compressed and encoded
    std::string shadeText;                  ///< the terrain's hillshade, compressed and encoded
};

/// The description of the event that the page starts from.
std::string metaScript(const PageMeta& m) {
    const CaseInput& in = *m.in;
    const std::int64_t hours = std::int64_t{in.params.days} * 24;
    std::ostringstream meta;
    meta << "RP.meta={\"title\":"
         << jsonString(fs::absolute(*m.caseDir).lexically_normal().filename().string());
    if (in.note) {
        meta << ",\"note\":" << jsonString(*in.note);
    }
    meta << ",\"cols\":" << in.grid.cols << ",\"rows\":" << in.grid.rows
         << ",\"swLon\":" << floatText(in.params.swLon)
         << ",\"swLat\":" << floatText(in.params.swLat) << ",\"hours\":" << hours << ",\"start\":\""
         << in.start.isoAfter(0) << '"'
         << ",\"startFallback\":" << (in.start.fallback ? "true" : "false") << ",\"scales\":{";
    const Scales& scales = *m.scales;
    for (std::size_t s = 0; s < scales.size(); ++s) {
        meta << (s == 0 ? "" : ",") << '"' << scales[s].name
             << "\":{\"lower\":" << floatText(scales[s].lower)
             << ",\"upper\":" << floatText(scales[s].upper) << '}';
    }
    meta << "},\"simCount\":" << m.simCount << ",\"blockCells\":" << m.blocks.cells
         << ",\"blockCount\":" << m.blocks.count << ",\"outlet\":{\"column\":" << m.outlet->column
         << ",\"row\":" << m.outlet->row << "},\"riverRain\":" << riverRainJson(*m.rain)
         << ",\"gauges\":" << gaugesJson(*m.gauges);
    if (m.fanMembers) {
        meta << ",\"fanMembers\":" << *m.fanMembers;
    }
    meta << ",\"simulated\":\"" << m.maskText << "\",\"hillshade\":\"" << m.shadeText << "\"};\n";
    return meta.str();
}

/// Writes every data file and the template.
Status writePage(const fs::path& caseDir, const CaseInput& in, const std::vector<CellIndex>& cells,
                 const EventDischarge& discharge, const OutletCell& outlet, const BasinRain& rain,
                 const GaugeData& gauges, PageOutput& page, std::ostream& progress) {
    const std::int64_t hours = std::int64_t{in.params.days} * 24;

    // Which cells carry discharge, and the terrain under them.
    std::vector<std::uint8_t> mask(in.grid.cells.size(), 0);
    for (const CellIndex c : cells) {
        mask[static_cast<std::size_t>(c)] = 1;
    }
    PageMeta meta{&caseDir,
                  &in,
                  cells.size(),
                  {},
                  nullptr,
                  &outlet,
                  &rain,
                  &gauges.gauges,
                  gauges.members,
                  compressedBase64(mask),
                  compressedBase64(hillshade(in.grid, kShadeExaggeration))};
    if (meta.maskText.empty() || meta.shadeText.empty()) {
        return noMemory();
    }
    const Scales scales = colourScales(discharge.range, discharge.channelFloor);
    meta.scales = &scales;
    if (auto written =
            writeFrames(page, cells, discharge, static_cast<std::size_t>(hours), scales, progress);
        !written) {
        return written;
    }
    auto blocks = writeSeriesBlocks(page, in, cells, discharge, hours, progress);
    if (!blocks) {
        return blocks.error();
    }
    meta.blocks = *blocks;
    if (auto written = page.writePageFile("meta.js", metaScript(meta)); !written) {
        return written;
    }
    for (const TemplateFile& file : templateFiles()) {
        if (file.name != "index.html") {
            if (auto written = page.writePageFile(std::string(file.name), file.text); !written) {
                return written;
            }
        }
    }
    return success();
}

int run(const fs::path& caseDir, std::ostream& out, std::ostream& progress) {
    const Timer timer;
    for (const Status& folder : {checkCaseFolder(caseDir), checkOutputFolder(caseDir / "output")}) {
        if (!folder) {
            sayLine(out, folder.error().message);
            return kFailure;
        }
    }
    progress << "results_page: reading the case " << caseDir.string() << '\n';
    auto input = readCaseInput(caseDir);
    if (!input.ok()) {
        sayLine(out, input.error().message);
        return kFailure;
    }
    const CaseInput& in = *input;
    const std::vector<CellIndex> cells = simulatedCells(in.grid, in.rivers);
    const auto outlet = findOutlet(in.grid, in.rivers);
    if (cells.empty() || !outlet) {
        sayLine(out,
                "No cell off the border of riverNum.bin lies on a river listed in "
                "riverNumList.dat: there is nothing to show.");
        return kFailure;
    }
    const std::int64_t hours = std::int64_t{in.params.days} * 24;
    auto discharge = readDischarge(caseDir, in, cells, hours, progress);
    if (!discharge.ok()) {
        sayLine(out, discharge.error().message);
        return kFailure;
    }
    const BasinRain rain = basinRainByRiver(in.grid, in.rivers, in.rain);
    if (rain.unmatchedCell != kNoCell) {
        sayLine(out, "No rainfall point of rain.dat lies near the cell at column ",
                in.grid.userColumn(rain.unmatchedCell), ", row ",
                in.grid.userRow(rain.unmatchedCell), ".");
        return kFailure;
    }
    auto gauges = readGauges(caseDir, in);
    if (!gauges.ok()) {
        sayLine(out, gauges.error().message);
        return kFailure;
    }

    PageOutput page(caseDir / "output");
    Status written = page.begin();
    if (written) {
        written = writePage(caseDir, in, cells, *discharge, *outlet, rain, *gauges, page, progress);
    }
    if (written) {
        written = page.commit(*templateFile("index.html"));
    }
    if (!written) {
        sayLine(out, written.error().message);
        return kFailure;
    }
    if (!gauges->skipped.empty()) {
        std::string ids;
        for (const std::string& id : gauges->skipped) {
            ids += (ids.empty() ? "\"" : ", \"") + quoteToken(id) + "\"";
        }
        sayLine(out, "Note: ", kQuantilesName, " has lines for gauges not in gauge_cells.csv (",
                ids, "); they are left out.");
    }
    const fs::path index = fs::absolute(caseDir / "output" / "index.html").lexically_normal();
    std::ostringstream size;
    size.precision(3);
    size << static_cast<double>(page.bytesWritten()) / 1.0e6;
    sayLine(out, "Wrote ", index.string(), " (page and data ", size.str(), " MB, ", cells.size(),
            " cells, ", hours, " hours, ", gauges->gauges.size(), " gauges).");
    progress << "results_page: done in " << std::lround(timer.seconds()) << " s\n";
    return 0;
}

}  // namespace

int runResultsPage(std::span<const std::string> args, std::ostream& out, std::ostream& progress) {
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        out << kHelp << std::flush;
        return 0;
    }
    if (args.size() != 1 || args[0].empty() || args[0].starts_with("-")) {
        sayLine(out, kUsage);
        return kFailure;
    }
    return run(args[0], out, progress);
}

}  // namespace hydro::results_page
