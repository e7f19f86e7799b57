#include "make_case/netcdf_header.h"

#include <cpl_vsi.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace hydro::make_case {

namespace {

constexpr std::uint32_t kDimensionTag = 0x0A;
constexpr std::uint32_t kVariableTag = 0x0B;
constexpr std::uint32_t kAttributeTag = 0x0C;
constexpr std::size_t kChunk = std::size_t{64} * 1024;

/// Bytes of one value of a NetCDF external type, as the library reads a classic header: it
/// takes the 64-bit-data types in every version. Nothing for any other type: the library
/// refuses most, and takes strings (type 12) as values of no bytes, then divides by that size.
std::optional<std::uint64_t> typeSize(std::uint64_t type) {
    constexpr std::array<std::uint64_t, 12> kSizes{0, 1, 1, 2, 4, 4, 8, 1, 2, 4, 8, 8};
    if (type == 0 || type >= kSizes.size()) {
        return std::nullopt;
    }
    return kSizes[type];
}

/// `a` * `b`, or `cap` + 1 when that is more than `cap`.
std::uint64_t productUpTo(std::uint64_t a, std::uint64_t b, std::uint64_t cap) {
    if (a != 0 && b > (cap + 1) / a) {
        return cap + 1;
    }
    const std::uint64_t p = a * b;
    return p > cap ? cap + 1 : p;
}

/// Why a walk over the header stops early.
enum class Stop {
    kPastEnd,  ///< the header declares more than the file holds
    kForeign,  ///< an unknown type or list tag, or strings (which the library cannot size)
};

/// The header's big-endian fields, read through a window of the file.
class Header {
public:
    Header(VSILFILE* file, std::uint64_t size) : file_(file), size_(size) {}

    [[nodiscard]] std::uint64_t size() const { return size_; }
    [[nodiscard]] std::uint64_t left() const { return size_ - pos_; }

    /// A field of `width` bytes (4 or 8).
    std::optional<std::uint64_t> number(std::size_t width) {
        if (width > left() || !load(width)) {
            return std::nullopt;
        }
        std::uint64_t v = 0;
        for (std::size_t k = 0; k < width; ++k) {
            v = (v << 8U) | chunk_[static_cast<std::size_t>(pos_ - chunkStart_) + k];
        }
        pos_ += width;
        return v;
    }

    /// Passes over `count` bytes and the padding to the next multiple of four.
    bool skipPadded(std::uint64_t count) {
        if (count > left()) {
            return false;
        }
        const std::uint64_t padded = count + (4 - count % 4) % 4;
        if (padded > left()) {
            return false;
        }
        pos_ += padded;
        return true;
    }

private:
    bool load(std::size_t width) {
        if (pos_ >= chunkStart_ && pos_ + width <= chunkStart_ + chunk_.size()) {
            return true;
        }
        const std::uint64_t want = left() < kChunk ? left() : kChunk;
        chunk_.resize(static_cast<std::size_t>(want));
        chunkStart_ = pos_;
        if (VSIFSeekL(file_, static_cast<vsi_l_offset>(pos_), SEEK_SET) != 0
            || VSIFReadL(chunk_.data(), 1, chunk_.size(), file_) != chunk_.size()) {
            chunk_.clear();
            return false;
        }
        return true;
    }

    VSILFILE* file_;
    std::uint64_t size_;
    std::uint64_t pos_ = 0;
    std::vector<std::uint8_t> chunk_;
    std::uint64_t chunkStart_ = 0;
};

/// How wide the format's fields are: counts and lengths, and data offsets.
struct Widths {
    std::size_t count = 4;
    std::size_t offset = 4;
};

using Walk = std::optional<Stop>;  // nothing: the part was read and fits

Walk name(Header& h, const Widths& w) {
    const auto length = h.number(w.count);
    if (!length || !h.skipPadded(*length)) {
        return Stop::kPastEnd;
    }
    return std::nullopt;
}

/// The tag and count of a list; the count is 0 for an absent list.
std::optional<std::uint64_t> listHead(Header& h, const Widths& w, std::uint32_t tag,
                                      std::uint64_t leastPerItem, Walk& stop) {
    const auto found = h.number(4);
    const auto count = h.number(w.count);
    if (!found || !count) {
        stop = Stop::kPastEnd;
        return std::nullopt;
    }
    // The library takes any list of no items as absent, whatever its tag.
    if (*count == 0) {
        return count;
    }
    if (*found != tag) {
        stop = Stop::kForeign;
        return std::nullopt;
    }
    if (*count > h.left() / leastPerItem) {
        stop = Stop::kPastEnd;
        return std::nullopt;
    }
    return count;
}

Walk attributes(Header& h, const Widths& w) {
    Walk stop;
    const auto count = listHead(h, w, kAttributeTag, 2 * w.count + 4, stop);
    if (!count) {
        return stop;
    }
    for (std::uint64_t k = 0; k < *count; ++k) {
        if (const Walk s = name(h, w)) {
            return s;
        }
        const auto type = h.number(4);
        const auto values = h.number(w.count);
        if (!type || !values) {
            return Stop::kPastEnd;
        }
        const auto each = typeSize(*type);
        if (!each) {
            return Stop::kForeign;
        }
        if (*values > h.left() / *each || !h.skipPadded(*values * *each)) {
            return Stop::kPastEnd;
        }
    }
    return std::nullopt;
}

/// What the records need: where each record variable starts and the bytes of one of its
/// records, and those bytes summed over the record variables (a record holds at least that).
struct Records {
    std::uint64_t count = 0;
    std::uint64_t bytesPerRecord = 0;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> variables;  ///< begin, bytes
};

/// One variable; its data must lie within the file.
Walk variable(Header& h, const Widths& w, const std::vector<std::uint64_t>& dims,
              Records& records) {
    if (const Walk s = name(h, w)) {
        return s;
    }
    const auto rank = h.number(w.count);
    if (!rank || *rank > h.left() / w.count) {
        return Stop::kPastEnd;
    }
    const std::uint64_t cap = h.size();
    std::uint64_t cells = 1;
    bool record = false;
    bool known = true;
    for (std::uint64_t k = 0; k < *rank; ++k) {
        const auto id = h.number(w.count);
        if (!id) {
            return Stop::kPastEnd;
        }
        if (*id >= dims.size()) {
            // The library refuses the file once it has read every variable: check them all.
            known = false;
        } else if (k == 0 && dims[*id] == 0) {
            record = true;
        } else {
            cells = productUpTo(cells, dims[*id], cap);
        }
    }
    if (const Walk s = attributes(h, w)) {
        return s;
    }
    const auto type = h.number(4);
    const auto vsize = h.number(w.count);
    const auto begin = h.number(w.offset);
    if (!type || !vsize || !begin) {
        return Stop::kPastEnd;
    }
    const auto each = typeSize(*type);
    if (!each) {
        return Stop::kForeign;
    }
    const std::uint64_t bytes = productUpTo(cells, *each, cap);
    if (!known) {
        return std::nullopt;
    }
    if (record) {
        records.bytesPerRecord = productUpTo(1, records.bytesPerRecord + bytes, cap);
        records.variables.emplace_back(*begin, bytes);
        return std::nullopt;
    }
    const bool fits = *begin <= cap && bytes <= cap - *begin && *vsize <= cap - *begin;
    return fits ? std::nullopt : Walk{Stop::kPastEnd};
}

Walk walkHeader(Header& h, std::uint8_t version) {
    const Widths w{version == 5 ? 8U : 4U, version == 1 ? 4U : 8U};
    Records records;
    const auto numrecs = h.number(w.count);
    if (!numrecs) {
        return Stop::kPastEnd;
    }
    // The count a streaming file declares (all bits set) is taken as it stands: the library
    // reports that many records too.
    records.count = *numrecs;

    Walk stop;
    const auto dimCount = listHead(h, w, kDimensionTag, 2 * w.count, stop);
    if (!dimCount) {
        return stop;
    }
    std::vector<std::uint64_t> dims;
    for (std::uint64_t k = 0; k < *dimCount; ++k) {
        if (const Walk s = name(h, w)) {
            return s;
        }
        const auto length = h.number(w.count);
        if (!length) {
            return Stop::kPastEnd;
        }
        dims.push_back(*length);
    }
    if (const Walk s = attributes(h, w)) {
        return s;
    }
    // Name, rank, an absent attribute list, type, size and offset.
    const std::uint64_t least = 4 * w.count + 8 + w.offset;
    const auto varCount = listHead(h, w, kVariableTag, least, stop);
    if (!varCount) {
        return stop;
    }
    for (std::uint64_t k = 0; k < *varCount; ++k) {
        if (const Walk s = variable(h, w, dims, records)) {
            return s;
        }
    }
    if (records.count == 0) {
        return std::nullopt;
    }
    // The last record of each variable ends within the file.
    const std::uint64_t cap = h.size();
    const std::uint64_t before = productUpTo(records.count - 1, records.bytesPerRecord, cap);
    for (const auto& [begin, bytes] : records.variables) {
        if (begin > cap || before > cap - begin || bytes > cap - begin - before) {
            return Stop::kPastEnd;
        }
    }
    return std::nullopt;
}

}  // namespace

Status checkNetCdfHeader(const std::filesystem::path& path) {
    VSILFILE* file = VSIFOpenL(path.c_str(), "rb");
    if (file == nullptr) {
        return success();
    }
    std::array<std::uint8_t, 4> magic{};
    std::optional<Stop> stop;
    if (VSIFReadL(magic.data(), 1, magic.size(), file) == magic.size() && magic[0] == 'C'
        && magic[1] == 'D' && magic[2] == 'F' && (magic[3] == 1 || magic[3] == 2 || magic[3] == 5)
        && VSIFSeekL(file, 0, SEEK_END) == 0) {
        Header header(file, static_cast<std::uint64_t>(VSIFTellL(file)));
        if (header.number(4)) {  // the signature again
            stop = walkHeader(header, magic[3]);
        }
    }
    VSIFCloseL(file);
    // A header the library would refuse itself is refused here too, lest it reserve memory
    // for what it reads before it finds the fault.
    if (stop) {
        return Error{path.string()
                     + " is not a readable NetCDF file: its header claims more data than the file"
                       " holds."};
    }
    return success();
}

}  // namespace hydro::make_case
