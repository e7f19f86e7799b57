#include "case/run_state.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <span>
#include <string_view>

#include "common/file_transaction.h"
#include "common/number_stream.h"

namespace hydro {

namespace {

constexpr std::string_view kMagic = "HYDSTATE";
constexpr std::size_t kHeaderBytes = 376;
/// Version 2 adds the channel width law's coefficient and exponent (two doubles).
constexpr std::size_t kWidthHeaderBytes = kHeaderBytes + 16;
constexpr std::size_t kRiverBytes = 136;
constexpr std::size_t kIsoBytes = 32;
/// Space steps beyond any case's; the counts of a file are judged before anything is
/// allocated.
constexpr std::int64_t kMaxValuesPerCell = 1 << 20;
__extension__ using Unsigned128 = unsigned __int128;

// ---------------------------------------------------------------------------------------
// Little-endian bytes

class Bytes {
public:
    template <class T>
    void put(T value) {
        static_assert(std::is_trivially_copyable_v<T>);
        std::array<unsigned char, sizeof(T)> raw{};
        std::memcpy(raw.data(), &value, sizeof(T));
        if constexpr (std::endian::native == std::endian::big) {
            std::reverse(raw.begin(), raw.end());
        }
        text.append(reinterpret_cast<const char*>(raw.data()), raw.size());
    }
    void putBytes(std::span<const std::uint8_t> bytes) {
        text.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }
    void putVolume(const ExactVolume& v) {
        const auto units = static_cast<Unsigned128>(v.units());
        put(static_cast<std::uint64_t>(units));
        put(static_cast<std::uint64_t>(units >> 64U));
        put(static_cast<std::uint64_t>(v.finite() ? 1 : 0));
    }
    void padTo(std::size_t multiple) {
        while (text.size() % multiple != 0) {
            text.push_back('\0');
        }
    }
    std::string text;
};

class Reader {
public:
    explicit Reader(std::span<const std::byte> bytes) : bytes_(bytes) {}
    template <class T>
    T get() {
        std::array<unsigned char, sizeof(T)> raw{};
        std::memcpy(raw.data(), bytes_.data() + at_, sizeof(T));
        at_ += sizeof(T);
        if constexpr (std::endian::native == std::endian::big) {
            std::reverse(raw.begin(), raw.end());
        }
        T value{};
        std::memcpy(&value, raw.data(), sizeof(T));
        return value;
    }
    void getBytes(std::span<std::uint8_t> out) {
        std::memcpy(out.data(), bytes_.data() + at_, out.size());
        at_ += out.size();
    }
    ExactVolume getVolume() {
        const auto low = get<std::uint64_t>();
        const auto high = get<std::uint64_t>();
        const auto finite = get<std::uint64_t>();
        const auto units = (static_cast<Unsigned128>(high) << 64U) | low;
        return ExactVolume::ofUnits(static_cast<ExactVolume::Units>(units), finite == 1);
    }
    void seek(std::size_t at) { at_ = at; }
    [[nodiscard]] std::size_t at() const { return at_; }

private:
    std::span<const std::byte> bytes_;
    std::size_t at_ = 0;
};

std::size_t paddedPositions(std::size_t cells) {
    return (cells * 4 + 7) / 8 * 8;
}

/// Everything before the values: header, rivers and cell positions.
std::string encodeHead(const RunState& s) {
    Bytes b;
    const StateOrigin& o = s.origin;
    // A state of the model's width law keeps the first format, byte for byte.
    const bool modelWidth = o.channelWidth.isModel();
    b.text.append(kMagic);
    b.put(modelWidth ? kStateVersion : kWidthStateVersion);
    b.put(static_cast<std::uint32_t>(modelWidth ? kHeaderBytes : kWidthHeaderBytes));
    b.put(o.columns);
    b.put(o.rows);
    b.put(o.swLon);
    b.put(o.swLat);
    for (const Sha256Digest& d : o.digests) {
        b.putBytes(d);
    }
    b.put(o.scheme);
    b.put(o.timeStep);
    b.put(o.spaceSteps);
    b.put(o.channelArea);
    b.put(o.weight);
    b.put(o.manningSlope);
    b.put(o.manningChannel);
    b.put(s.time);
    std::string iso = stateTimeText(s.time);
    iso.resize(kIsoBytes, '\0');
    b.text.append(iso);
    b.put(static_cast<std::int64_t>(s.positions.size()));
    b.put(static_cast<std::uint32_t>(s.valuesPerCell()));
    b.put(static_cast<std::uint32_t>(s.run.rivers.size()));
    const StateRun& r = s.run;
    b.put(r.eventStart);
    b.put(r.hoursRun);
    b.put(r.days);
    b.put(r.stateEvery);
    b.put(r.keepStates);
    b.put(std::uint32_t{0});
    b.putBytes(r.rain);
    b.put(r.nonFiniteCount);
    b.put(r.firstNonFinitePosition);
    b.put(r.firstNonFiniteDay);
    b.put(r.firstNonFiniteHour);
    if (!modelWidth) {
        b.put(o.channelWidth.coefficient);
        b.put(o.channelWidth.exponent);
    }
    for (const StateRiver& river : r.rivers) {
        b.put(river.number);
        b.put(std::uint32_t{0});
        b.put(river.cells);
        for (const ExactVolume* v : {&river.rain, &river.leaving, &river.toOtherRivers,
                                     &river.inflow, &river.initialStorage}) {
            b.putVolume(*v);
        }
    }
    for (const std::int32_t p : s.positions) {
        b.put(p);
    }
    b.padTo(8);
    return b.text;
}

Error unreadable(const std::string& name) {
    return Error{name + " cannot be read.", ErrorKind::kCannotOpen};
}

}  // namespace

std::string stateTimeText(std::int64_t unixSeconds) {
    return EventStart{1970, 1, 1, 0, 0, 0, false}.isoAfter(unixSeconds);
}

const char* stateSchemeName(std::uint32_t scheme) {
    return scheme == 1 ? "conservative" : "linear";
}

Status writeState(const std::filesystem::path& target, const RunState& state) {
    FileTransaction files;
    if (Status written = writeState(files, target, state); !written) {
        return written;
    }
    return files.commit();
}

Status writeState(FileTransaction& files, const std::filesystem::path& target,
                  const RunState& state) {
    const std::filesystem::path temp = files.add(target);
    const std::string name = target.filename().string();
    std::FILE* file = std::fopen(temp.c_str(), "wb");
    if (file == nullptr) {
        return Error{name + " cannot be created in " + target.parent_path().string() + " ("
                     + std::error_code(errno, std::generic_category()).message() + ")."};
    }
    const std::string head = encodeHead(state);
    bool ok = std::fwrite(head.data(), 1, head.size(), file) == head.size();
    std::uint32_t crc = crc32c(std::as_bytes(std::span(head)));
    // The values in pieces, converted to little-endian where the machine is not.
    constexpr std::size_t kPiece = 1 << 16;
    std::vector<double> piece;
    for (std::size_t at = 0; ok && at < state.values.size(); at += kPiece) {
        const std::size_t n = std::min(kPiece, state.values.size() - at);
        std::span<const double> values(state.values.data() + at, n);
        if constexpr (std::endian::native == std::endian::big) {
            Bytes swapped;
            for (double v : values) {
                swapped.put(v);
            }
            ok = std::fwrite(swapped.text.data(), 1, swapped.text.size(), file)
                 == swapped.text.size();
            crc = crc32c(std::as_bytes(std::span(swapped.text)), crc);
        } else {
            ok = std::fwrite(values.data(), sizeof(double), n, file) == n;
            crc = crc32c(std::as_bytes(values), crc);
        }
    }
    Bytes tail;
    tail.put(crc);
    ok = ok && std::fwrite(tail.text.data(), 1, tail.text.size(), file) == tail.text.size();
    ok = std::fflush(file) == 0 && ok;
    ok = std::fclose(file) == 0 && ok;
    if (!ok) {
        return Error{name + " cannot be written completely."};
    }
    return success();
}

namespace {

/// Reads the header fields; the counts are checked by the caller.
void readHead(Reader& in, RunState& s, std::int64_t& cells, std::uint32_t& perCell,
              std::uint32_t& rivers) {
    StateOrigin& o = s.origin;
    o.columns = in.get<std::int32_t>();
    o.rows = in.get<std::int32_t>();
    o.swLon = in.get<float>();
    o.swLat = in.get<float>();
    for (Sha256Digest& d : o.digests) {
        in.getBytes(d);
    }
    o.scheme = in.get<std::uint32_t>();
    o.timeStep = in.get<std::int32_t>();
    o.spaceSteps = in.get<std::int32_t>();
    o.channelArea = in.get<std::int32_t>();
    o.weight = in.get<double>();
    o.manningSlope = in.get<double>();
    o.manningChannel = in.get<double>();
    s.time = in.get<std::int64_t>();
    in.seek(in.at() + kIsoBytes);
    cells = in.get<std::int64_t>();
    perCell = in.get<std::uint32_t>();
    rivers = in.get<std::uint32_t>();
    StateRun& r = s.run;
    r.eventStart = in.get<std::int64_t>();
    r.hoursRun = in.get<std::int64_t>();
    r.days = in.get<std::int32_t>();
    r.stateEvery = in.get<std::int32_t>();
    r.keepStates = in.get<std::int32_t>();
    static_cast<void>(in.get<std::uint32_t>());
    in.getBytes(r.rain);
    r.nonFiniteCount = in.get<std::int64_t>();
    r.firstNonFinitePosition = in.get<std::int64_t>();
    r.firstNonFiniteDay = in.get<std::int32_t>();
    r.firstNonFiniteHour = in.get<std::int32_t>();
}

Result<RunState> decodeState(std::span<const std::byte> bytes, const std::string& name) {
    const Error broken{name + " is truncated or corrupted."};
    if (bytes.size() < kMagic.size() + 8
        || std::memcmp(bytes.data(), kMagic.data(), kMagic.size()) != 0) {
        return Error{name + " is not a state file."};
    }
    Reader in(bytes);
    in.seek(kMagic.size());
    const auto version = in.get<std::uint32_t>();
    if (version != kStateVersion && version != kWidthStateVersion) {
        return Error{name + " is a state of format version " + std::to_string(version)
                     + "; this program reads versions " + std::to_string(kStateVersion) + " and "
                     + std::to_string(kWidthStateVersion) + "."};
    }
    const std::size_t headerBytes = version == kStateVersion ? kHeaderBytes : kWidthHeaderBytes;
    if (in.get<std::uint32_t>() != headerBytes || bytes.size() < headerBytes + 4) {
        return broken;
    }
    RunState s;
    std::int64_t cells = 0;
    std::uint32_t perCell = 0;
    std::uint32_t rivers = 0;
    readHead(in, s, cells, perCell, rivers);
    if (version == kWidthStateVersion) {
        s.origin.channelWidth.coefficient = in.get<double>();
        s.origin.channelWidth.exponent = in.get<double>();
    }
    const ChannelWidthLaw& width = s.origin.channelWidth;
    if (s.origin.scheme > 1 || !(width.coefficient > 0.0)
        || !(width.coefficient <= kLargestWidthCoefficient) || !(width.exponent >= 0.0)
        || !(width.exponent <= 1.0)) {
        return broken;
    }
    // The sizes the counts claim, judged before anything is allocated.
    if (s.origin.spaceSteps < 1 || s.origin.spaceSteps > kMaxValuesPerCell
        || perCell != static_cast<std::uint32_t>(s.origin.spaceSteps) + 2U || cells < 0
        || static_cast<std::uint64_t>(cells) > bytes.size() / 8
        || static_cast<std::uint64_t>(rivers) > bytes.size() / kRiverBytes) {
        return broken;
    }
    const auto n = static_cast<std::size_t>(cells);
    const std::size_t valueBytes = n * perCell * 8;
    if (valueBytes / 8 / perCell != n
        || bytes.size()
               != headerBytes + rivers * kRiverBytes + paddedPositions(n) + valueBytes + 4) {
        return broken;
    }
    Reader tail(bytes);
    tail.seek(bytes.size() - 4);
    if (crc32c(bytes.first(bytes.size() - 4)) != tail.get<std::uint32_t>()) {
        return broken;
    }
    s.run.rivers.resize(rivers);
    for (StateRiver& river : s.run.rivers) {
        river.number = in.get<std::int32_t>();
        static_cast<void>(in.get<std::uint32_t>());
        river.cells = in.get<std::int64_t>();
        for (ExactVolume* v : {&river.rain, &river.leaving, &river.toOtherRivers, &river.inflow,
                               &river.initialStorage}) {
            *v = in.getVolume();
        }
    }
    s.positions.resize(n);
    for (std::int32_t& p : s.positions) {
        p = in.get<std::int32_t>();
    }
    in.seek(headerBytes + rivers * kRiverBytes + paddedPositions(n));
    s.values.resize(n * perCell);
    for (double& v : s.values) {
        v = in.get<double>();
    }
    const std::int64_t frame =
        static_cast<std::int64_t>(s.origin.columns) * static_cast<std::int64_t>(s.origin.rows);
    for (std::size_t c = 0; c < n; ++c) {
        const std::int32_t p = s.positions[c];
        if (p < 0 || p >= frame || (c > 0 && p <= s.positions[c - 1])) {
            return Error{name + " lists its cells out of order or off its grid."};
        }
    }
    return s;
}

}  // namespace

Result<RunState> readState(const std::filesystem::path& path) {
    const std::string name = path.filename().string();
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        return unreadable(name);
    }
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) {
        return unreadable(name);
    }
    const std::streamoff size = in.tellg();
    if (size < 0) {
        return unreadable(name);
    }
    std::vector<std::byte> bytes(static_cast<std::size_t>(size));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), size);
    if (!in) {
        return unreadable(name);
    }
    return decodeState(bytes, name);
}

Result<StateOrigin> stateOriginOf(const CasePaths& paths, const EventParameters& params,
                                  std::uint32_t scheme) {
    StateOrigin o;
    o.columns = params.studyCols;
    o.rows = params.studyRows;
    o.swLon = params.swLon;
    o.swLat = params.swLat;
    for (std::size_t f = 0; f < kStateDigestNames.size(); ++f) {
        const auto path = f == 0 ? paths.riverList() : paths.topoData() / kStateDigestNames[f];
        auto digest = sha256OfFile(path);
        if (!digest) {
            return digest.error();
        }
        o.digests[f] = *digest;
    }
    o.scheme = scheme;
    o.timeStep = params.timeStep;
    o.spaceSteps = params.spaceSteps;
    o.channelArea = params.channelArea;
    o.weight = params.weight;
    o.manningSlope = params.manningSlope;
    o.manningChannel = params.manningChannel;
    o.channelWidth = params.channelWidth;
    return o;
}

namespace {

/// The line for a setting that differs: "<name> was written with <what> <state>; this run has
/// <run>."
template <class T>
Status differs(const std::string& name, const char* what, T state, T run, const char* unit = "") {
    if (state == run) {
        return success();
    }
    return Error{name + " was written with " + what + " " + shortestText(state) + unit
                 + "; this run has " + shortestText(run) + unit + "."};
}

}  // namespace

Status checkStateOrigin(const std::string& name, const StateOrigin& state, const StateOrigin& run) {
    if (state.columns != run.columns || state.rows != run.rows || state.swLon != run.swLon
        || state.swLat != run.swLat) {
        return Error{name + " is of another grid (" + shortestText(state.columns) + " x "
                     + shortestText(state.rows) + " cells from " + shortestText(state.swLon) + ", "
                     + shortestText(state.swLat) + "; this case has " + shortestText(run.columns)
                     + " x " + shortestText(run.rows) + " from " + shortestText(run.swLon) + ", "
                     + shortestText(run.swLat) + ")."};
    }
    for (std::size_t f = 0; f < kStateDigestNames.size(); ++f) {
        if (state.digests[f] != run.digests[f]) {
            return Error{name + " was written for another " + kStateDigestNames[f]
                         + " (its SHA-256 differs)."};
        }
    }
    if (state.scheme != run.scheme) {
        return Error{name + " was written with the " + stateSchemeName(state.scheme)
                     + " scheme; this run uses the " + stateSchemeName(run.scheme) + " scheme."};
    }
    for (const Status& s :
         {differs(name, "a time step of", state.timeStep, run.timeStep, " s"),
          differs(name, "space steps", state.spaceSteps, run.spaceSteps),
          differs(name, "a weight of", state.weight, run.weight),
          differs(name, "a slope Manning value of", state.manningSlope, run.manningSlope),
          differs(name, "a channel Manning value of", state.manningChannel, run.manningChannel),
          differs(name, "a channel threshold of", state.channelArea, run.channelArea)}) {
        if (!s) {
            return s;
        }
    }
    if (state.channelWidth != run.channelWidth) {
        return Error{name + " was written with the channel width "
                     + channelWidthText(state.channelWidth) + "; this run has "
                     + channelWidthText(run.channelWidth) + " (--channel-width "
                     + channelWidthValue(run.channelWidth) + ")."};
    }
    return success();
}

}  // namespace hydro
