#include "make_case/flow_network.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cassert>
#include <limits>
#include <utility>

namespace hydro::make_case {

namespace {

/// Maps a float to an unsigned key of the same order (negative values below positive ones).
std::uint32_t orderedKey(float value) {
    const auto bits = std::bit_cast<std::uint32_t>(value);
    return (bits & 0x80000000U) != 0U ? ~bits : (bits | 0x80000000U);
}

/// Monotone priority queue on 32-bit keys: every key pushed is at least the last key popped,
/// which holds in a Priority-Flood because a cell enters the queue no lower than the cell that
/// reached it. Pushes and pops cost O(1) amortised plus one redistribution per key bit.
class RadixHeap {
public:
    struct Item {
        std::uint32_t key;
        std::int32_t cell;
    };

    void push(std::uint32_t key, std::int32_t cell) {
        assert(key >= last_);
        buckets_[bucketOf(key)].push_back({key, cell});
        ++size_;
    }
    [[nodiscard]] bool empty() const { return size_ == 0; }
    /// The cell the next pop returns when it is already known without redistributing, else -1.
    [[nodiscard]] std::int32_t peekCell() const {
        return buckets_[0].empty() ? -1 : buckets_[0].back().cell;
    }
    Item pop() {
        if (buckets_[0].empty()) {
            std::size_t b = 1;
            while (buckets_[b].empty()) {
                ++b;
            }
            std::uint32_t least = std::numeric_limits<std::uint32_t>::max();
            for (const Item& it : buckets_[b]) {
                least = std::min(least, it.key);
            }
            last_ = least;
            for (const Item& it : buckets_[b]) {
                buckets_[bucketOf(it.key)].push_back(it);
            }
            buckets_[b].clear();
        }
        const Item it = buckets_[0].back();
        buckets_[0].pop_back();
        --size_;
        return it;
    }

private:
    [[nodiscard]] std::size_t bucketOf(std::uint32_t key) const {
        return key == last_ ? 0U : static_cast<std::size_t>(32 - std::countl_zero(key ^ last_));
    }

    std::array<std::vector<Item>, 33> buckets_;
    std::uint32_t last_ = 0;
    std::size_t size_ = 0;
};

/// Code of the step off the grid from a border cell: north row 1, east column 3, south row 5,
/// west column 7, corners diagonally.
std::int8_t offGridCode(std::int32_t row, std::int32_t col, std::int32_t rows, std::int32_t cols) {
    const bool north = row == 0;
    const bool south = row == rows - 1;
    const bool west = col == 0;
    const bool east = col == cols - 1;
    if (north && west) {
        return 8;
    }
    if (north && east) {
        return 2;
    }
    if (south && east) {
        return 4;
    }
    if (south && west) {
        return 6;
    }
    if (north) {
        return 1;
    }
    if (east) {
        return 3;
    }
    if (south) {
        return 5;
    }
    return 7;
}

bool inGrid(const GridSpec& gridSpec, std::int32_t row, std::int32_t col) {
    return row >= 0 && row < gridSpec.rows && col >= 0 && col < gridSpec.cols;
}

}  // namespace

std::int32_t receiverOf(const GridSpec& gridSpec, std::span<const std::uint8_t> outside,
                        std::span<const std::int8_t> flowDir, std::int32_t cell) {
    // Through unsigned char: a negative byte (an off-grid code) lands above 8 and is refused
    // with the other codes that lead nowhere.
    const auto code = static_cast<std::uint8_t>(flowDir[static_cast<std::size_t>(cell)]);
    if (code < 1 || code > 8) {
        return -1;
    }
    const std::int32_t row = cell / gridSpec.cols + kD8[static_cast<std::size_t>(code)].row;
    const std::int32_t col = cell % gridSpec.cols + kD8[static_cast<std::size_t>(code)].column;
    if (!inGrid(gridSpec, row, col)) {
        return -1;
    }
    const std::int32_t next = row * gridSpec.cols + col;
    return outside[static_cast<std::size_t>(next)] != 0 ? -1 : next;
}

namespace {

/// Clears the flood's flags from `dir` and points every inside cell along its steepest drop per
/// flow length on the filled surface `z`, with the simulator's geometry; a cell without a lower
/// inside neighbour keeps the direction the flood gave it.
void steepestDirections(const GridSpec& gridSpec, const std::vector<float>& z,
                        const std::vector<std::uint8_t>& outside,
                        const std::array<std::ptrdiff_t, 9>& delta, float swLatF,
                        std::vector<std::int8_t>& dir) {
    const std::int32_t cols = gridSpec.cols;
    const std::int32_t rows = gridSpec.rows;
    // Steepest drop per flow length on the filled surface, with the simulator's geometry.
    // Rows are independent: any number of threads gives the same directions.
#pragma omp parallel for schedule(static)
    for (std::int32_t r = 0; r < rows; ++r) {
        const StepLengths len = stepLengths(simulatorCellWidth(r, rows, swLatF));
        const std::array<double, 9> lengthOf{0.0,          len.northSouth, len.diagonal,
                                             len.eastWest, len.diagonal,   len.northSouth,
                                             len.diagonal, len.eastWest,   len.diagonal};
        const bool innerRow = r > 0 && r < rows - 1;
        for (std::int32_t c = 0; c < cols; ++c) {
            const std::size_t i = static_cast<std::size_t>(r) * static_cast<std::size_t>(cols)
                                  + static_cast<std::size_t>(c);
            dir[i] = static_cast<std::int8_t>(dir[i] & 15);
            if (outside[i] != 0) {
                continue;
            }
            const bool inner = innerRow && c > 0 && c < cols - 1;
            double best = 0.0;
            std::int8_t bestCode = 0;
            for (std::size_t k = 1; k <= 8; ++k) {
                if (!inner && !inGrid(gridSpec, r + kD8[k].row, c + kD8[k].column)) {
                    continue;
                }
                const auto j = static_cast<std::size_t>(static_cast<std::ptrdiff_t>(i) + delta[k]);
                const float drop = z[i] - z[j];
                if (drop > 0.0F && outside[j] == 0) {
                    const double g = static_cast<double>(drop) / lengthOf[k];
                    if (g > best) {
                        best = g;
                        bestCode = static_cast<std::int8_t>(k);
                    }
                }
            }
            if (bestCode != 0) {
                dir[i] = bestCode;
            }
        }
    }
}

// The direction byte also carries two flags while the flood runs: a cell is closed once it has
// entered a queue, and outside cells are never entered.
constexpr std::int8_t kClosed = 16;
constexpr std::int8_t kOutsideFlag = 32;

/// Seeds the flood: the border and every inside cell next to an outside one, each closed with
/// the code that takes its water off the grid or into the outside cell; outside cells get their
/// flag. The codes are found row by row in parallel, the seeds pushed in row-major order.
void seedFlood(const GridSpec& gridSpec, std::span<const std::uint8_t> outside,
               const std::array<std::ptrdiff_t, 9>& delta, std::span<std::int8_t> dir) {
    const std::int32_t cols = gridSpec.cols;
    const std::int32_t rows = gridSpec.rows;
#pragma omp parallel for schedule(static)
    for (std::int32_t r = 0; r < rows; ++r) {
        for (std::int32_t c = 0; c < cols; ++c) {
            const std::int32_t i = r * cols + c;
            if (outside[static_cast<std::size_t>(i)] != 0) {
                dir[static_cast<std::size_t>(i)] = kOutsideFlag;
                continue;
            }
            std::int8_t code = 0;
            if (r == 0 || c == 0 || r == rows - 1 || c == cols - 1) {
                code = offGridCode(r, c, rows, cols);
            } else {
                for (std::size_t k = 1; k <= 8 && code == 0; ++k) {
                    if (outside[static_cast<std::size_t>(i + delta[k])] != 0) {
                        code = static_cast<std::int8_t>(k);
                    }
                }
            }
            dir[static_cast<std::size_t>(i)] =
                code != 0 ? static_cast<std::int8_t>(code | kClosed) : std::int8_t{0};
        }
    }
}

/// Pushes the seeded cells, row-major, onto the flood's queue.
void pushSeeds(std::span<const float> z, std::span<const std::int8_t> dir, RadixHeap& heap) {
    const auto n = static_cast<std::int32_t>(dir.size());
    for (std::int32_t i = 0; i < n; ++i) {
        if ((dir[static_cast<std::size_t>(i)] & kClosed) != 0) {
            heap.push(orderedKey(z[static_cast<std::size_t>(i)]), i);
        }
    }
}

/// How many cells of the flat queue ahead of the current one are asked for.
constexpr std::size_t kPrefetchAhead = 8;

/// Asks for the neighbourhood of cell `i` (far away in memory) while the current cell runs.
inline void prefetchAround(std::span<const float> z, std::span<const std::int8_t> dir,
                           std::int32_t cols, std::int32_t i) {
    const auto ui = static_cast<std::size_t>(i);
    const std::size_t n = z.size();
    const std::size_t up =
        ui >= static_cast<std::size_t>(cols) ? ui - static_cast<std::size_t>(cols) : ui;
    const std::size_t down =
        ui + static_cast<std::size_t>(cols) < n ? ui + static_cast<std::size_t>(cols) : ui;
    for (const std::size_t p : {up, ui, down}) {
        __builtin_prefetch(z.data() + p);
        __builtin_prefetch(dir.data() + p);
    }
}

/// The steps after the flood: directions, outside elevations, receivers and accumulation,
/// each timed on `clock` when one is given.
void finishNetwork(Terrain& terrain, const std::array<std::ptrdiff_t, 9>& delta, float swLatF,
                   StageClock* clock, FlowNetwork& net) {
    const auto lap = [clock](std::string_view stage) {
        if (clock != nullptr) {
            clock->lap(stage);
        }
    };
    steepestDirections(terrain.gridSpec, terrain.elevation, terrain.outside, delta, swLatF,
                       net.flowDir);
    lap("steepest directions");
    fillOutsideElevation(terrain);
    lap("outside elevations");
    net.receiver = receivers(terrain.gridSpec, terrain.outside, net.flowDir);
    lap("receivers");
    net.flowAcc = accumulateFlow(net.receiver, net.order);
    lap("accumulation");
}

}  // namespace

FlowNetwork conditionTerrain(Terrain& terrain, float swLatF, StageClock* clock) {
    const auto lap = [clock](std::string_view stage) {
        if (clock != nullptr) {
            clock->lap(stage);
        }
    };
    const GridSpec& gridSpec = terrain.gridSpec;
    const auto n = static_cast<std::size_t>(gridSpec.cellCount());
    const std::int32_t cols = gridSpec.cols;
    const std::int32_t rows = gridSpec.rows;
    std::vector<float>& z = terrain.elevation;
    const std::vector<std::uint8_t>& outside = terrain.outside;
    FlowNetwork net;
    net.order.reserve(n);
    net.flowDir.resize(n);
    std::vector<std::int8_t>& dir = net.flowDir;
    std::array<std::ptrdiff_t, 9> delta{};
    for (std::size_t k = 1; k <= 8; ++k) {
        delta[k] = std::ptrdiff_t{kD8[k].row} * cols + kD8[k].column;
    }

    RadixHeap heap;
    std::vector<std::int32_t> flat;  // cells raised to (or level with) the current level, FIFO
    std::size_t flatHead = 0;

    seedFlood(gridSpec, outside, delta, dir);
    pushSeeds(z, dir, heap);
    lap("seeding the flood");

    const auto visit = [&](std::size_t j, float level, std::int32_t k)
        __attribute__((always_inline)) {
        if ((dir[j] & (kClosed | kOutsideFlag)) != 0) {
            return;
        }
        if (z[j] <= level) {
            // Raised into a depression or level with it: drains back the way it was reached.
            if (z[j] < level) {
                ++net.raisedCells;
                net.largestRaise = std::max(net.largestRaise, level - z[j]);
            }
            z[j] = level;
            dir[j] = static_cast<std::int8_t>(oppositeCode(k) | kClosed);
            flat.push_back(static_cast<std::int32_t>(j));
        } else {
            dir[j] = kClosed;
            heap.push(orderedKey(z[j]), static_cast<std::int32_t>(j));
        }
    };
    const auto expand = [&](std::int32_t i) {
        net.order.push_back(i);
        const float level = z[static_cast<std::size_t>(i)];
        const std::int32_t r = i / cols;
        const std::int32_t c = i % cols;
        if (r > 0 && r < rows - 1 && c > 0 && c < cols - 1) {
            for (std::int32_t k = 1; k <= 8; ++k) {
                visit(static_cast<std::size_t>(i + delta[static_cast<std::size_t>(k)]), level, k);
            }
        } else {
            for (std::int32_t k = 1; k <= 8; ++k) {
                if (inGrid(gridSpec, r + kD8[static_cast<std::size_t>(k)].row,
                           c + kD8[static_cast<std::size_t>(k)].column)) {
                    visit(static_cast<std::size_t>(i + delta[static_cast<std::size_t>(k)]), level,
                          k);
                }
            }
        }
    };
    const auto prefetch = [&](std::int32_t i) { prefetchAround(z, dir, cols, i); };

    while (flatHead < flat.size() || !heap.empty()) {
        std::int32_t i = 0;
        if (flatHead < flat.size()) {
            i = flat[flatHead++];
            if (flatHead == flat.size()) {
                flat.clear();
                flatHead = 0;
            } else {
                // The next cell, and one far enough ahead for its rows to arrive in time.
                prefetch(flat[flatHead]);
                if (flatHead + kPrefetchAhead < flat.size()) {
                    prefetch(flat[flatHead + kPrefetchAhead]);
                }
            }
        } else {
            i = heap.pop().cell;
            if (const std::int32_t next = heap.peekCell(); next >= 0) {
                prefetch(next);
            }
        }
        expand(i);
    }

    lap("flood");
    finishNetwork(terrain, delta, swLatF, clock, net);
    return net;
}

std::vector<std::int32_t> receivers(const GridSpec& gridSpec, std::span<const std::uint8_t> outside,
                                    std::span<const std::int8_t> flowDir) {
    std::vector<std::int32_t> receiver(outside.size(), -1);
    const auto n = static_cast<std::int32_t>(outside.size());
#pragma omp parallel for schedule(static)
    for (std::int32_t i = 0; i < n; ++i) {
        if (outside[static_cast<std::size_t>(i)] == 0) {
            receiver[static_cast<std::size_t>(i)] = receiverOf(gridSpec, outside, flowDir, i);
        }
    }
    return receiver;
}

void fillOutsideElevation(Terrain& terrain) {
    const GridSpec& gridSpec = terrain.gridSpec;
    std::vector<float>& z = terrain.elevation;
    float lowest = std::numeric_limits<float>::infinity();
    const auto n = static_cast<std::int64_t>(z.size());
    // The least of the inside elevations, the same at any thread count.
#pragma omp parallel for schedule(static) reduction(min : lowest)
    for (std::int64_t i = 0; i < n; ++i) {
        if (terrain.outside[static_cast<std::size_t>(i)] == 0) {
            lowest = std::min(lowest, z[static_cast<std::size_t>(i)]);
        }
    }
    if (!std::isfinite(lowest)) {
        lowest = 0.0F;
    }
    // An outside cell reads only inside cells: rows are independent.
#pragma omp parallel for schedule(static)
    for (std::int32_t r = 0; r < gridSpec.rows; ++r) {
        for (std::int32_t c = 0; c < gridSpec.cols; ++c) {
            const std::size_t i =
                static_cast<std::size_t>(r) * static_cast<std::size_t>(gridSpec.cols)
                + static_cast<std::size_t>(c);
            if (terrain.outside[i] == 0) {
                continue;
            }
            float low = std::numeric_limits<float>::infinity();
            for (std::int32_t k = 1; k <= 8; ++k) {
                const std::int32_t nr = r + kD8[static_cast<std::size_t>(k)].row;
                const std::int32_t nc = c + kD8[static_cast<std::size_t>(k)].column;
                if (!inGrid(gridSpec, nr, nc)) {
                    continue;
                }
                const std::size_t j =
                    static_cast<std::size_t>(nr) * static_cast<std::size_t>(gridSpec.cols)
                    + static_cast<std::size_t>(nc);
                if (terrain.outside[j] == 0) {
                    low = std::min(low, z[j]);
                }
            }
            z[i] = std::isfinite(low) ? low : lowest;
        }
    }
}

OrderResult orderFromDirections(std::span<const std::uint8_t> outside,
                                std::span<const std::int32_t> receiver) {
    const auto n = static_cast<std::int32_t>(outside.size());
    // Inflow counts; cells without inflow start the upstream-first walk.
    std::vector<std::uint8_t> inflows(static_cast<std::size_t>(n), 0);
    std::int32_t inside = 0;
    for (std::int32_t i = 0; i < n; ++i) {
        if (outside[static_cast<std::size_t>(i)] != 0) {
            continue;
        }
        ++inside;
        const std::int32_t d = receiver[static_cast<std::size_t>(i)];
        if (d >= 0) {
            ++inflows[static_cast<std::size_t>(d)];
        }
    }
    OrderResult result;
    std::vector<std::int32_t>& upFirst = result.order;
    upFirst.reserve(static_cast<std::size_t>(inside));
    for (std::int32_t i = 0; i < n; ++i) {
        if (outside[static_cast<std::size_t>(i)] == 0
            && inflows[static_cast<std::size_t>(i)] == 0) {
            upFirst.push_back(i);
        }
    }
    for (std::size_t k = 0; k < upFirst.size(); ++k) {
        const std::int32_t d = receiver[static_cast<std::size_t>(upFirst[k])];
        if (d >= 0 && --inflows[static_cast<std::size_t>(d)] == 0) {
            upFirst.push_back(d);
        }
    }
    if (static_cast<std::int32_t>(upFirst.size()) < inside) {
        // Only cells on loops keep inflows (nothing lies downstream of a loop); walk one until
        // a cell repeats.
        std::int32_t start = 0;
        while (outside[static_cast<std::size_t>(start)] != 0
               || inflows[static_cast<std::size_t>(start)] == 0) {
            ++start;
        }
        std::int32_t slow = start;
        std::int32_t fast = start;
        do {
            slow = receiver[static_cast<std::size_t>(slow)];
            fast = receiver[static_cast<std::size_t>(receiver[static_cast<std::size_t>(fast)])];
        } while (slow != fast);
        result.loopCell = slow;
        return result;
    }
    std::reverse(upFirst.begin(), upFirst.end());
    return result;
}

std::vector<std::int32_t> accumulateFlow(std::span<const std::int32_t> receiver,
                                         std::span<const std::int32_t> order) {
    std::vector<std::int32_t> acc(receiver.size(), 0);
    const auto inside = static_cast<std::int64_t>(order.size());
#pragma omp parallel for schedule(static)
    for (std::int64_t k = 0; k < inside; ++k) {
        acc[static_cast<std::size_t>(order[static_cast<std::size_t>(k)])] = 1;
    }
    for (std::size_t k = order.size(); k-- > 0;) {
        const std::int32_t i = order[k];
        const std::int32_t d = receiver[static_cast<std::size_t>(i)];
        if (d >= 0) {
            acc[static_cast<std::size_t>(d)] += acc[static_cast<std::size_t>(i)];
        }
    }
    return acc;
}

std::vector<double> accumulateArea(const GridSpec& gridSpec, float swLatF,
                                   std::span<const std::int32_t> receiver,
                                   std::span<const std::int32_t> order) {
    std::vector<double> area(receiver.size(), 0.0);
    for (const std::int32_t i : order) {
        const float width = simulatorCellWidth(i / gridSpec.cols, gridSpec.rows, swLatF);
        area[static_cast<std::size_t>(i)] = kCellHeight * static_cast<double>(width) / 1.0e6;
    }
    for (std::size_t k = order.size(); k-- > 0;) {
        const std::int32_t i = order[k];
        const std::int32_t d = receiver[static_cast<std::size_t>(i)];
        if (d >= 0) {
            area[static_cast<std::size_t>(d)] += area[static_cast<std::size_t>(i)];
        }
    }
    return area;
}

std::vector<std::int32_t> labelRivers(
    std::span<const std::int32_t> receiver, std::span<const std::int32_t> order,
    std::span<const std::pair<std::int32_t, std::int32_t>> outlets) {
    std::vector<std::int32_t> river(receiver.size(), -1);
    for (const auto& [cell, number] : outlets) {
        river[static_cast<std::size_t>(cell)] = number;
    }
    // Downstream first: a cell's receiver is labelled before the cell is looked at; only the
    // outlets are labelled before their turn.
    for (const std::int32_t i : order) {
        if (river[static_cast<std::size_t>(i)] >= 0) {
            continue;
        }
        const std::int32_t d = receiver[static_cast<std::size_t>(i)];
        river[static_cast<std::size_t>(i)] = d >= 0 ? river[static_cast<std::size_t>(d)] : -1;
    }
    return river;
}

std::vector<std::int32_t> terminalOutlets(std::span<const std::uint8_t> outside,
                                          std::span<const std::int32_t> receiver,
                                          std::span<const std::int32_t> flowAcc,
                                          std::int32_t minCells) {
    std::vector<std::int32_t> cells;
    const auto n = static_cast<std::int32_t>(outside.size());
    for (std::int32_t i = 0; i < n; ++i) {
        const auto u = static_cast<std::size_t>(i);
        if (outside[u] == 0 && receiver[u] < 0 && flowAcc[u] >= minCells) {
            cells.push_back(i);
        }
    }
    std::stable_sort(cells.begin(), cells.end(), [&](std::int32_t a, std::int32_t b) {
        return flowAcc[static_cast<std::size_t>(a)] > flowAcc[static_cast<std::size_t>(b)];
    });
    return cells;
}

}  // namespace hydro::make_case
