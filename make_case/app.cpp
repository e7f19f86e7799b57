#include "make_case/app.h"

#include <array>
#include <chrono>
#include <ctime>
#include <iomanip>
#include <sstream>

#include "common/console.h"
#include "common/number_stream.h"
#include "common/option_hint.h"
#include "make_case/case_check.h"
#include "make_case/case_input.h"
#include "make_case/case_writer.h"
#include "make_case/error_line.h"
#include "make_case/flow_network.h"
#include "make_case/gauge_rain.h"
#include "make_case/outlets.h"
#include "make_case/params_command.h"
#include "make_case/rain_case.h"
#include "make_case/raster_source.h"
#include "make_case/stage_clock.h"

namespace hydro::make_case {

namespace {

namespace fs = std::filesystem;
constexpr int kFailure = 1;

constexpr const char* kHelp =
    R"(make_case: the terrain of a runoff_sim case folder from a DEM, and a check of case folders.

Usage:
  make_case terrain DEM CASE [options]   create or update the case folder CASE from DEM
  make_case rain PRECIP... CASE [options]
                                         hourly rain of CASE from a rainfall product
  make_case params CASE [options]        set the simulation values of CASE/param-event.dat
  make_case rain-gauges CSV CASE [--spacing DEG]
                                         gridded rainfall from hourly rain-gauge records
  make_case check CASE [--channel-width COEF,EXP] [--state FILE [--scheme linear|conservative]]
                                         validate the case folder CASE, and a state of
                                         runoff_sim against it
  make_case --help

terrain warps DEM (any raster and CRS GDAL reads) onto 30-arc-second WGS 84 cells by
averaging, fills its depressions, derives D8 flow directions, flow accumulation and river
numbers, and writes CASE/topoData/{modDem,flowDir,flowAcc,riverNum}.bin, riverNumList.dat,
the study-grid values of CASE/param-event.dat (created with defaults when missing) and the
folders CASE/input and CASE/output/image.

Options of terrain:
  --bbox W S E N            crop to this box (degrees, west south east north); by default
                            the DEM's extent, each edge moved inward to a multiple of 30"
  --dem-crs CRS             CRS of a DEM that names none (e.g. EPSG:32611)
  --min-basin-cells N       number every basin draining off the grid of at least N cells
                            (default 100), largest first
  --outlets FILE.csv        rivers upstream of gauges instead: columns id,lon,lat and an
                            optional area_km2
  --snap-radius R           move each gauge to a cell of the (2R+1) x (2R+1) window around
                            it (default 1): the largest accumulation, or the upstream area
                            closest to area_km2
  --flow-dir RASTER         take D8 directions from RASTER (a 30" WGS 84 grid) instead of
                            deriving them; no depression filling then
  --flow-dir-coding esri|model
                            codes of that raster: esri 1 E, 2 SE, 4 S ... 128 NE; model 1 N
                            clockwise to 8 NW; other values mark pits, outlets or no data
  --flow-acc RASTER         flow accumulation to go with --flow-dir (cells, itself included)

Options of params (each sets one value and keeps the others; the simulator's rules apply):
  --time-step S             finite-difference time step, seconds, 1 to 3600 (a step that
                            does not divide 3600 shortens every hour: warned)
  --space-steps N           finite-difference steps across one cell, 1 or more
  --weight W                finite-difference weight, 0 (explicit) to 1 (implicit)
  --manning-slope N         Manning roughness of slope cells, s m^-1/3, above 0
  --manning-channel N       Manning roughness of channel cells, s m^-1/3, above 0
  --channel-cells N         flow accumulation (cells) above which a cell is a channel, 0 or more
  --initial-runoff R        initial runoff height, mm/h, 0 or more

rain-gauges reads CSV (header time,id,lon,lat,mm: the ISO 8601 UTC start of each hour,
e.g. 2022-10-18T05:00:00Z, a gauge id, its longitude and latitude in degrees and the hour's
rain in mm) and spreads each hour's gauges over a regular grid of rain points covering the
study area by inverse-distance weighting (power 2, great-circle distances; a point on a
gauge takes its value). It writes CASE/input/rain.dat and the rain-grid values and days of
CASE/param-event.dat, padding the event with dry hours to whole days.
  --spacing DEG             spacing of the rain points, degrees (default 0.05)

rain writes CASE/input/rain.dat and the rain-grid values and days of CASE/param-event.dat
(other values kept). PRECIP is a CF-NetCDF file (precipitation in mm h-1, mm/h, kg m-2 s-1,
mm s-1, or m or mm summed over each step), a raster with a band per hour (mm in the hour), or
several one-hour rasters. The rain points are the product's own grid points; a projected
raster is first averaged onto a latitude-longitude grid. The event is padded with dry hours to
whole days. Times are UTC, ISO 8601 (2022-10-18T00:00:00Z).

Options of rain:
  --variable NAME           the NetCDF variable (default: the one with time, latitude and
                            longitude dimensions)
  --start TIME              first hour of the event (default: the first in the data); the
                            time of band 1 of a raster without times
  --hours N                 hours to take (default: to the end of the data)
  --then-dry H              append H dry hours (no rain) after the data, so the run goes on
                            past the rain and shows the recession; said as an assumption
  --time-is-end             time stamps mark the end of their step, not its start (also the
                            times in file names)
  --accumulated             values in m or mm are sums over each step (files without
                            cell_methods "time: sum")
  --spread-evenly           spread steps longer than an hour evenly over their hours
  --crs CRS                 CRS of rasters that name none, or name a wrong one
  --scale F                 multiply every value by F (0.1 for tenths of a millimetre)
  --spacing DEG             grid of projected rasters, degrees (default 0.05)
  --time-format PATTERN     times of one-hour files from their names (strptime pattern,
                            e.g. RW_%Y%m%d-%H%M.asc)
  --loss initial-constant --initial-loss MM --constant-loss MM_PER_H
                            lose the first MM, then at most MM_PER_H each hour
  --loss curve-number --curve-number CN
                            SCS curve number: a number, or a raster averaged over each rain
                            point's cell

check reads the case as runoff_sim does and prints one line per finding (error or warning),
then a summary; exit status 1 on an error.
  --state FILE              also hold FILE, a state runoff_sim wrote, against the case: its
                            origin (grid, files, settings), its cells against the routed
                            cells, its values finite and no discharge below zero
  --scheme linear|conservative
                            the scheme of the run that would go on from the state (default:
                            the state's own)
  --channel-width COEF,EXP  the width of channel cells B = COEF * A^EXP (B in m, A the
                            upstream area in km2) of the run, as runoff_sim takes it: the
                            Courant numbers are judged with it, and a state against it
                            (default: the model's law; a state's own)
)";

std::string isoNow() {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm utc{};
    gmtime_r(&now, &utc);
    std::ostringstream s;
    s << std::put_time(&utc, "%Y-%m-%dT%H:%M:%SZ");
    return s.str();
}

/// Stage lines on the progress stream for large grids.
class Progress {
public:
    Progress(std::ostream& out, std::int64_t cells) : out_(out), on_(cells > kProgressCells) {}
    void stage(const std::string& what) {
        if (on_) {
            out_ << isoNow() << "  " << what << std::endl;
        }
    }

private:
    std::ostream& out_;
    bool on_;
};

int fail(std::ostream& out, const std::string& line) {
    sayLine(out, line);
    return kFailure;
}

std::optional<std::int32_t> parseCount(const std::string& text, std::int32_t least) {
    const auto v = parseInt32(text);
    if (!v || *v < least) {
        return std::nullopt;
    }
    return v;
}

/// Parses the value of a valued option of `terrain` into the options.
Status takeTerrainOption(const std::string& a, const std::string& v, TerrainOptions& o) {
    if (a == "--dem-crs") {
        o.demCrs = v;
    } else if (a == "--outlets") {
        o.outlets = v;
    } else if (a == "--flow-dir") {
        o.flowDir = v;
    } else if (a == "--flow-acc") {
        o.flowAcc = v;
    } else if (a == "--flow-dir-coding") {
        if (v == "esri") {
            o.flowDirCoding = FlowDirCoding::kEsri;
        } else if (v == "model") {
            o.flowDirCoding = FlowDirCoding::kModel;
        } else {
            return errorLine("--flow-dir-coding is esri or model, not \"", v, "\".");
        }
    } else {
        const bool basin = a == "--min-basin-cells";
        const auto n = parseCount(v, basin ? 1 : 0);
        if (!n || (!basin && *n > 1000)) {
            return errorLine(a,
                             basin ? " takes a whole number of cells from 1"
                                   : " takes a whole number of cells from 0 to 1000",
                             ": \"", v, "\"");
        }
        (basin ? o.minBasinCells : o.snapRadius) = *n;
    }
    return success();
}

/// The four numbers of --bbox, from args[first].
Result<std::array<double, 4>> parseBox(const std::vector<std::string>& args, std::size_t first) {
    std::array<double, 4> box{};
    for (std::size_t j = 0; j < 4; ++j) {
        const auto v = parseDouble(args[first + j]);
        if (!v) {
            return errorLine("--bbox takes four numbers (degrees W S E N): \"", args[first + j],
                             "\" is not one.");
        }
        box[j] = *v;
    }
    if (!(box[1] < box[3]) || box[1] < -90.0 || box[3] > 90.0) {
        return Error{
            "--bbox: the south edge must lie below the north edge, within -90 to 90 "
            "degrees."};
    }
    if (!(box[0] >= -180.0 && box[0] <= 180.0 && box[2] >= -180.0 && box[2] <= 180.0)) {
        return Error{
            "--bbox: the west and east edges must lie within -180 to 180 degrees (an east edge "
            "west of the west edge crosses the antimeridian)."};
    }
    return box;
}

/// Parses the options after `terrain`.
Result<TerrainOptions> parseTerrain(const std::vector<std::string>& args) {
    TerrainOptions o;
    std::vector<std::string> positional;
    for (std::size_t k = 1; k < args.size(); ++k) {
        const std::string& a = args[k];
        const bool valued = a == "--dem-crs" || a == "--outlets" || a == "--flow-dir"
                            || a == "--flow-acc" || a == "--flow-dir-coding"
                            || a == "--min-basin-cells" || a == "--snap-radius";
        const std::size_t count = a == "--bbox" ? 4 : valued ? 1 : 0;
        if (count > 0 && k + count >= args.size()) {
            return errorLine(a, " needs ",
                             count == 1 ? "a value" : std::to_string(count) + " values",
                             "; see make_case --help.");
        }
        if (a == "--bbox") {
            const auto box = parseBox(args, k + 1);
            if (!box) {
                return box.error();
            }
            o.bbox = *box;
            k += 4;
        } else if (valued) {
            const std::string& v = args[++k];
            if (const Status taken = takeTerrainOption(a, v, o); !taken) {
                return taken.error();
            }
        } else if (a.starts_with("--")) {
            static constexpr std::array<std::string_view, 8> kKnown{
                "--bbox",     "--dem-crs",         "--min-basin-cells", "--outlets",
                "--flow-dir", "--flow-dir-coding", "--flow-acc",        "--snap-radius"};
            return Error{unknownOptionLine(a, kKnown, "", "make_case --help")};
        } else {
            positional.push_back(a);
        }
    }
    if (positional.size() != 2) {
        return Error{
            "make_case terrain takes a DEM and a case folder: make_case terrain DEM CASE "
            "[options]; see make_case --help."};
    }
    o.dem = positional[0];
    o.caseDir = positional[1];
    if (o.flowDir && !o.flowDirCoding) {
        return Error{"--flow-dir needs --flow-dir-coding esri or model."};
    }
    if ((o.flowDirCoding || o.flowAcc) && !o.flowDir) {
        return Error{"--flow-dir-coding and --flow-acc go with --flow-dir."};
    }
    return o;
}

/// The parameter text to write, and the channel threshold it sets.
struct ParameterText {
    std::string text;
    std::int32_t channelArea = kDefaultChannelArea;
};
Result<ParameterText> parameterText(const fs::path& caseDir, const GridSpec& gridSpec) {
    const fs::path path = caseDir / "param-event.dat";
    std::error_code ec;
    if (!fs::exists(path, ec)) {
        return ParameterText{defaultParameterText(gridSpec), kDefaultChannelArea};
    }
    const auto existing = readCaseParameters(caseDir);
    if (!existing.ok()) {
        return Error{path.string() + ": " + existing.error().message
                     + " Correct it, or remove it to start from the defaults."};
    }
    const auto text = readCaseParameterText(caseDir);
    auto replaced = text.ok() ? replaceStudyGrid((*text), gridSpec) : Result<std::string>(text);
    if (!replaced) {
        return Error{path.string() + " cannot be read."};
    }
    return ParameterText{std::move(*replaced), (*existing).channelArea};
}

/// The terrain and its network.
struct TerrainNetwork {
    Terrain terrain;
    FlowNetwork net;
};

/// The DEM on the grid of the given directions, and the network those directions make.
Result<TerrainNetwork> givenNetwork(const TerrainOptions& o, std::ostream& progress) {
    const auto d8 = loadGridRaster(*o.flowDir, o.bbox, std::nullopt);
    if (!d8) {
        return d8.error();
    }
    auto dem =
        loadDem(DemRequest{o.dem, o.demCrs, o.bbox}, d8->gridSpec, &progress, kProgressCells);
    if (!dem) {
        return dem.error();
    }
    TerrainNetwork t{std::move(*dem), {}};
    Terrain& terrain = t.terrain;
    FlowNetwork& net = t.net;
    const auto n = static_cast<std::size_t>(terrain.gridSpec.cellCount());
    net.flowDir.assign(n, 0);
    for (std::size_t i = 0; i < n; ++i) {
        if (d8->noData[i] != 0) {
            terrain.outside[i] = 1;
            continue;
        }
        const std::int32_t v = d8->values[i];
        net.flowDir[i] = *o.flowDirCoding == FlowDirCoding::kEsri
                             ? esriToModel(v)
                             : static_cast<std::int8_t>(v >= 0 && v <= 8 ? v : 0);
    }
    for (std::size_t i = 0; i < n; ++i) {
        if (terrain.outside[i] != 0) {
            net.flowDir[i] = 0;
        }
    }
    fillOutsideElevation(terrain);
    net.receiver = receivers(terrain.gridSpec, terrain.outside, net.flowDir);
    OrderResult order = orderFromDirections(terrain.outside, net.receiver);
    if (order.loopCell >= 0) {
        return Error{o.flowDir->string() + " has a flow loop through "
                     + terrain.gridSpec.shape().userCellName(order.loopCell)
                     + " (from 1, from the west and the south)."};
    }
    net.order = std::move(order.order);
    if (!o.flowAcc) {
        net.flowAcc = accumulateFlow(net.receiver, net.order);
        return t;
    }
    auto acc = loadGridRaster(*o.flowAcc, std::nullopt, terrain.gridSpec);
    if (!acc) {
        return acc.error();
    }
    net.flowAcc = std::move(acc->values);
    for (std::size_t i = 0; i < n; ++i) {
        if (terrain.outside[i] != 0) {
            net.flowAcc[i] = 0;
        }
    }
    return t;
}

/// The DEM on the grid of its extent or the box; the network is still to be derived.
Result<TerrainNetwork> demOnly(const TerrainOptions& o, std::ostream& progress) {
    auto dem =
        loadDem(DemRequest{o.dem, o.demCrs, o.bbox}, std::nullopt, &progress, kProgressCells);
    if (!dem) {
        return dem.error();
    }
    return TerrainNetwork{std::move(*dem), {}};
}

/// The outlets and rivers of the network.
struct Rivers {
    std::vector<OutletRequest> requests;  ///< with --outlets
    std::vector<SnappedOutlet> snapped;   ///< with --outlets
    std::vector<std::int32_t> outletCells;
    std::vector<std::int32_t> riverNum;
    std::vector<RiverRecord> records;
};

/// The outlets of the rivers: the gauges snapped onto the network, or the basins draining off
/// the grid. The river numbers are still to be given.
Result<Rivers> chooseOutlets(const TerrainOptions& o, const TerrainNetwork& t,
                             const CornerText& corner) {
    const GridSpec& gridSpec = t.terrain.gridSpec;
    const FlowNetwork& net = t.net;
    Rivers rivers;
    if (o.outlets) {
        auto read = readOutlets(*o.outlets);
        if (!read) {
            return read.error();
        }
        rivers.requests = std::move(*read);
        const std::vector<double> area =
            accumulateArea(gridSpec, corner.latF, net.receiver, net.order);
        auto s = snapOutlets(rivers.requests, gridSpec, t.terrain.outside, net.flowAcc, area,
                             o.snapRadius);
        if (!s) {
            return s.error();
        }
        rivers.snapped = std::move(*s);
        for (const SnappedOutlet& so : rivers.snapped) {
            rivers.outletCells.push_back(so.cell);
        }
    } else {
        rivers.outletCells =
            terminalOutlets(t.terrain.outside, net.receiver, net.flowAcc, o.minBasinCells);
    }
    return rivers;
}

/// The river numbers of every cell and the records of the rivers, from their outlets.
RiverFiles numberRivers(const TerrainNetwork& t, const std::vector<std::int32_t>& outletCells,
                        std::int32_t channelArea) {
    std::vector<std::pair<std::int32_t, std::int32_t>> numbered;
    for (std::size_t k = 0; k < outletCells.size(); ++k) {
        numbered.emplace_back(outletCells[k], static_cast<std::int32_t>(k + 1));
    }
    RiverFiles files;
    files.riverNum = labelRivers(t.net.receiver, t.net.order, numbered);
    files.records =
        riverRecords(t.terrain.gridSpec, files.riverNum, t.net.flowAcc, outletCells, channelArea);
    return files;
}

/// The lines that describe the case written, on `out`.
void printTerrainSummary(const TerrainOptions& o, const TerrainNetwork& t, const Rivers& rivers,
                         const CornerText& corner, std::ostream& out) {
    const GridSpec& gridSpec = t.terrain.gridSpec;
    std::int64_t outside = 0;
    for (const std::uint8_t v : t.terrain.outside) {
        outside += v;
    }
    sayLine(out, "Grid: ", gridSpec.cols, " columns x ", gridSpec.rows,
            " rows of 30 arc-seconds; outer south-west corner at longitude ", corner.lon,
            ", latitude ", corner.lat, " (degrees, WGS 84).");
    sayLine(out, "Cells outside the DEM: ", outside, ".");
    if (!o.flowDir) {
        sayLine(out, "Depressions filled: ", t.net.raisedCells, " cells raised, by at most ",
                t.net.largestRaise, " m.");
    }
    if (o.outlets) {
        printSnapTable(rivers.requests, rivers.snapped, gridSpec, out);
    }
    const std::vector<RiverRecord>& records = rivers.records;
    if (records.empty()) {
        sayLine(out, "Rivers: none (no basin reaches ", o.minBasinCells, " cells).");
    } else {
        const GridShape shape = gridSpec.shape();
        sayLine(out, "Rivers: ", records.size(), ", river 1 of ", records[0].cells,
                " cells with its outlet at ",
                shape.userCellName(shape.index(records[0].row, records[0].col)), ".");
    }
    sayLine(out, "Case written to ", o.caseDir.string(), ".");
}

/// Builds and writes the case; stage lines on `progressOut` for large grids (and the DEM's
/// warp), nothing else printed.
Result<std::pair<TerrainNetwork, Rivers>> buildTerrain(const TerrainOptions& o,
                                                       std::ostream& progressOut) {
    StageClock clock(progressOut);
    Result<TerrainNetwork> built =
        o.flowDir ? givenNetwork(o, progressOut) : demOnly(o, progressOut);
    clock.lap("reading the DEM");
    if (!built) {
        return built.error();
    }
    TerrainNetwork& t = *built;
    const GridSpec gridSpec = t.terrain.gridSpec;
    if (gridSpec.rows < 3 || gridSpec.cols < 3) {
        return Error{"The grid of " + std::to_string(gridSpec.cols) + " x "
                     + std::to_string(gridSpec.rows)
                     + " cells is too small: runoff_sim routes only cells off the border, "
                       "so it needs at least 3 x 3."};
    }
    // An existing parameter file the simulator would refuse stops the run before any work.
    const auto params = parameterText(o.caseDir, gridSpec);
    if (!params) {
        return params.error();
    }
    Progress progress(progressOut, gridSpec.cellCount());
    const CornerText corner = cornerText(gridSpec);
    if (!o.flowDir) {
        progress.stage("filling depressions and tracing flow directions");
        t.net = conditionTerrain(t.terrain, corner.latF, &clock);
    }
    progress.stage("numbering rivers");
    auto rivers = chooseOutlets(o, t, corner);
    if (!rivers) {
        return rivers.error();
    }
    clock.lap("choosing the outlets");
    progress.stage("writing the case folder");
    CaseFiles files;
    files.gridSpec = &gridSpec;
    files.elevation = t.terrain.elevation;
    files.flowDir = t.net.flowDir;
    files.flowAcc = t.net.flowAcc;
    files.parameterText = params->text;
    // The rivers are numbered while the other grids are written.
    const std::int32_t channelArea = params->channelArea;
    auto written = writeCaseLabelling(
        o.caseDir, files, [&] { return numberRivers(t, rivers->outletCells, channelArea); });
    if (!written) {
        return written.error();
    }
    rivers->riverNum = std::move(written->riverNum);
    rivers->records = std::move(written->records);
    clock.lap("numbering rivers and writing the case");
    return std::make_pair(std::move(t), std::move(*rivers));
}

}  // namespace

std::int8_t esriToModel(std::int32_t esri) {
    switch (esri) {
        case 64:
            return 1;
        case 128:
            return 2;
        case 1:
            return 3;
        case 2:
            return 4;
        case 4:
            return 5;
        case 8:
            return 6;
        case 16:
            return 7;
        case 32:
            return 8;
        default:
            return 0;
    }
}

int runTerrain(const TerrainOptions& o, std::ostream& out, std::ostream& progressOut) {
    const auto built = buildTerrain(o, progressOut);
    if (!built) {
        return fail(out, built.error().message);
    }
    const auto& [t, rivers] = *built;
    printTerrainSummary(o, t, rivers, cornerText(t.terrain.gridSpec), out);
    Progress(progressOut, t.terrain.gridSpec.cellCount()).stage("done");
    return 0;
}

struct CheckRequest {
    fs::path caseDir;
    std::optional<StateToCheck> state;
    std::optional<ChannelWidthLaw> channelWidth;
};

/// `check CASE [--state FILE [--scheme linear|conservative]]`.
Result<CheckRequest> parseCheck(const std::vector<std::string>& args) {
    const Error usage{
        "make_case check takes one case folder and perhaps a state: make_case check CASE "
        "[--state FILE [--scheme linear|conservative]]."};
    CheckRequest request;
    std::optional<fs::path> caseDir;
    std::optional<std::string> scheme;
    for (std::size_t k = 1; k < args.size(); ++k) {
        const std::string& a = args[k];
        if ((a == "--state" || a == "--scheme" || a == "--channel-width") && k + 1 == args.size()) {
            return Error{a + " needs a value; see make_case --help."};
        }
        if (a == "--channel-width" && !request.channelWidth) {
            auto law = parseChannelWidth(a, args[++k]);
            if (!law) {
                return law.error();
            }
            request.channelWidth = *law;
        } else if (a == "--state" && !request.state) {
            request.state = StateToCheck{args[++k], std::nullopt};
        } else if (a == "--scheme" && !scheme) {
            scheme = args[++k];
        } else if (!a.starts_with("-") && !caseDir) {
            caseDir = a;
        } else {
            return usage;
        }
    }
    if (!caseDir) {
        return usage;
    }
    request.caseDir = *caseDir;
    if (scheme) {
        if (!request.state) {
            return Error{
                "--scheme goes with --state: it names the scheme of the run that would "
                "go on from the state."};
        }
        if (*scheme != "linear" && *scheme != "conservative") {
            return Error{"--scheme is linear or conservative, not \"" + quoteToken(*scheme)
                         + "\"."};
        }
        request.state->scheme = *scheme == "conservative" ? 1U : 0U;
    }
    return request;
}

int runMakeCase(const std::vector<std::string>& args, std::ostream& out, std::ostream& progress) {
    if (args.empty()) {
        return fail(out,
                    "make_case needs a command: terrain, rain, params, rain-gauges or check; "
                    "see make_case --help.");
    }
    for (const std::string& a : args) {
        if (a == "--help" || a == "-h") {
            out << kHelp;
            out.flush();
            return 0;
        }
    }
    if (args[0] == "terrain") {
        const auto options = parseTerrain(args);
        return options ? runTerrain(*options, out, progress) : fail(out, options.error().message);
    }
    if (args[0] == "rain") {
        return runRainCommand(args, out, progress);
    }
    if (args[0] == "params") {
        return runParams(args, out);
    }
    if (args[0] == "rain-gauges") {
        return runRainGauges(args, out);
    }
    if (args[0] == "check") {
        const auto request = parseCheck(args);
        if (!request) {
            return fail(out, request.error().message);
        }
        return checkCase(request->caseDir, out, request->state, request->channelWidth).errors > 0
                   ? kFailure
                   : 0;
    }
    return fail(out, "Unknown command \"" + args[0]
                         + "\"; make_case knows terrain, rain, params, rain-gauges and check.");
}

}  // namespace hydro::make_case
