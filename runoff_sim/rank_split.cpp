#include "runoff_sim/rank_split.h"

#include <algorithm>
#include <numeric>

namespace hydro::runoff {

void placeValues(std::span<const std::int64_t> framePositions, std::span<const float> values,
                 std::span<float> frame) {
    for (std::size_t i = 0; i < values.size(); ++i) {
        frame[static_cast<std::size_t>(framePositions[i])] = values[i];
    }
}

std::vector<std::int32_t> assignDownstream(std::span<const std::int64_t> cells,
                                           std::span<const std::int32_t> level,
                                           std::int32_t ranks) {
    std::vector<std::size_t> order(cells.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return level[a] != level[b] ? level[a] < level[b] : cells[a] > cells[b];
    });
    const std::int64_t total = std::accumulate(cells.begin(), cells.end(), std::int64_t{0});
    std::vector<std::int32_t> rankOf(cells.size(), 0);
    std::int64_t before = 0;
    for (const std::size_t p : order) {
        // The rank whose share of the sequence holds the piece's middle.
        __extension__ using Wide = __int128;
        const Wide middle = 2 * static_cast<Wide>(before) + cells[p];
        const auto r = static_cast<std::int64_t>(middle * ranks / (2 * static_cast<Wide>(total)));
        rankOf[p] = static_cast<std::int32_t>(std::min<std::int64_t>(r, ranks - 1));
        before += cells[p];
    }
    return rankOf;
}

std::vector<std::int32_t> readersOf(const RoutingPlan& plan) {
    std::vector<std::int32_t> reader(plan.cells.size());
    for (std::size_t c = 0; c < plan.cells.size(); ++c) {
        reader[c] = plan.cells[c].reader;
    }
    return reader;
}

std::vector<bool> cutAtConfluences(std::span<const std::int32_t> reader, std::int64_t target) {
    const std::size_t n = reader.size();
    const std::int64_t small = target / kSmallTributary;
    std::vector<bool> root(n, false);
    // Per cell: all cells above it, the cells gathered in its piece so far, and its branches
    // as a list through `next`.
    std::vector<std::int64_t> above(n, 1);
    std::vector<std::int64_t> gathered(n, 1);
    std::vector<std::int32_t> firstBranch(n, -1);
    std::vector<std::int32_t> next(n, -1);
    struct Branch {
        std::int64_t above;
        std::int64_t gathered;
        std::int32_t cell;
    };
    std::vector<Branch> branches;
    for (std::size_t c = 0; c < n; ++c) {
        branches.clear();
        std::int64_t total = 1;
        for (std::int32_t b = firstBranch[c]; b >= 0; b = next[static_cast<std::size_t>(b)]) {
            const auto i = static_cast<std::size_t>(b);
            branches.push_back({above[i], gathered[i], b});
            total += gathered[i];
            above[c] += above[i];
        }
        if (above[c] > target && branches.size() >= 2) {
            // The main stem is the branch with most cells above it (ties to the earlier cell);
            // the tributaries follow, largest first.
            std::sort(branches.begin(), branches.end(), [](const Branch& a, const Branch& b) {
                return a.above != b.above ? a.above > b.above : a.cell < b.cell;
            });
            std::sort(branches.begin() + 1, branches.end(), [](const Branch& a, const Branch& b) {
                return a.gathered != b.gathered ? a.gathered > b.gathered : a.cell < b.cell;
            });
            for (std::size_t i = 1; i < branches.size(); ++i) {
                if (branches[i].above > small || total > target) {
                    root[static_cast<std::size_t>(branches[i].cell)] = true;
                    total -= branches[i].gathered;
                }
            }
            if (total > target) {
                root[static_cast<std::size_t>(branches[0].cell)] = true;
                total -= branches[0].gathered;
            }
        }
        gathered[c] = total;
        const std::int32_t r = reader[c];
        if (r < 0) {
            root[c] = true;
        } else {
            next[c] = firstBranch[static_cast<std::size_t>(r)];
            firstBranch[static_cast<std::size_t>(r)] = static_cast<std::int32_t>(c);
        }
    }
    return root;
}

Decomposition decompose(std::span<const std::int32_t> reader, std::int32_t ranks) {
    Decomposition d;
    d.ranks = ranks;
    const auto n = static_cast<std::int64_t>(reader.size());
    const std::int64_t pieces = static_cast<std::int64_t>(ranks) * kPiecesPerRank;
    const std::int64_t target =
        ranks <= 1 ? n : std::max<std::int64_t>(1, (n + pieces - 1) / pieces);
    const std::vector<bool> root = cutAtConfluences(reader, target);

    // Pieces numbered in the order of their roots; each cell takes its reader's piece unless
    // it is a root (readers come after the cells they read, so walk backwards).
    std::vector<std::int32_t> pieceOfRoot(reader.size(), -1);
    std::int32_t count = 0;
    for (std::size_t c = 0; c < reader.size(); ++c) {
        if (root[c]) {
            pieceOfRoot[c] = count++;
        }
    }
    d.pieceOf.assign(reader.size(), -1);
    d.pieceCells.assign(static_cast<std::size_t>(count), 0);
    for (std::size_t c = reader.size(); c-- > 0;) {
        const std::int32_t piece =
            root[c] ? pieceOfRoot[c] : d.pieceOf[static_cast<std::size_t>(reader[c])];
        d.pieceOf[c] = piece;
        ++d.pieceCells[static_cast<std::size_t>(piece)];
    }

    // Levels: a cut's reader lies after the cut, so the pieces feeding a piece are settled
    // before it is reached.
    d.pieceLevel.assign(static_cast<std::size_t>(count), 0);
    std::int32_t highest = 0;
    for (std::size_t c = 0; c < reader.size(); ++c) {
        if (root[c] && reader[c] >= 0) {
            d.cuts.push_back(static_cast<std::int32_t>(c));
            const auto into =
                static_cast<std::size_t>(d.pieceOf[static_cast<std::size_t>(reader[c])]);
            d.cutInto.push_back(static_cast<std::int32_t>(into));
            d.pieceLevel[into] = std::max(
                d.pieceLevel[into], d.pieceLevel[static_cast<std::size_t>(pieceOfRoot[c])] + 1);
            highest = std::max(highest, d.pieceLevel[into]);
        }
    }
    d.levels = highest + 1;

    d.pieceRank = assignDownstream(d.pieceCells, d.pieceLevel, ranks);
    return d;
}

std::vector<CutRoute> cutRoutes(const Decomposition& d) {
    std::vector<CutRoute> routes(d.cuts.size());
    for (std::size_t i = 0; i < d.cuts.size(); ++i) {
        const auto from = static_cast<std::size_t>(d.pieceOf[static_cast<std::size_t>(d.cuts[i])]);
        routes[i] = {d.pieceRank[from], d.pieceRank[static_cast<std::size_t>(d.cutInto[i])],
                     d.pieceLevel[from]};
    }
    return routes;
}

RankWork rankWork(const RoutingPlan& plan, const Decomposition& d, std::int32_t rank) {
    RankWork work;
    const auto levels = static_cast<std::size_t>(d.levels);
    work.plans.resize(levels);
    work.importCut.resize(levels);
    work.exportCut.resize(levels);
    const auto rankOf = [&](std::size_t c) {
        return d.pieceRank[static_cast<std::size_t>(d.pieceOf[c])];
    };
    const auto levelOf = [&](std::size_t c) {
        return static_cast<std::size_t>(d.pieceLevel[static_cast<std::size_t>(d.pieceOf[c])]);
    };
    const auto cutOf = [&](std::int32_t cell) {
        const auto at = std::lower_bound(d.cuts.begin(), d.cuts.end(), cell);
        return static_cast<std::int32_t>(at - d.cuts.begin());
    };
    // Index of each of this rank's cells within its level's plan.
    std::vector<std::int32_t> local(plan.cells.size(), -1);
    std::vector<std::int32_t> counts(levels, 0);
    for (std::size_t c = 0; c < plan.cells.size(); ++c) {
        if (rankOf(c) == rank) {
            local[c] = counts[levelOf(c)]++;
        }
    }
    const auto nodesPerCell = static_cast<std::size_t>(plan.scheme.spaceSteps) + 1U;
    std::vector<std::vector<std::int64_t>> positions(levels);
    for (std::size_t k = 0; k < levels; ++k) {
        RoutingPlan& p = work.plans[k];
        p.kind = plan.kind;
        p.scheme = plan.scheme;
        p.box = plan.box;
        p.riverCount = plan.riverCount;
        p.subStepsPerHour = plan.subStepsPerHour;
        p.days = plan.days;
        p.cells.reserve(static_cast<std::size_t>(counts[k]));
        p.initialNodes.reserve(static_cast<std::size_t>(counts[k]) * nodesPerCell);
        p.frameTemplate.assign(static_cast<std::size_t>(counts[k]), 0.0F);
        positions[k].reserve(static_cast<std::size_t>(counts[k]));
    }
    for (std::size_t c = 0; c < plan.cells.size(); ++c) {
        if (local[c] < 0) {
            continue;
        }
        const std::size_t k = levelOf(c);
        RoutingPlan& p = work.plans[k];
        RoutedCell rc = plan.cells[c];
        positions[k].push_back(rc.framePosition);
        rc.framePosition = local[c];
        rc.exportSlot = -1;
        if (rc.reader >= 0 && d.pieceOf[static_cast<std::size_t>(rc.reader)] != d.pieceOf[c]) {
            rc.exportSlot = p.exportCount++;
            work.exportCut[k].push_back(cutOf(static_cast<std::int32_t>(c)));
            rc.reader = -1;
        } else if (rc.reader >= 0) {
            rc.reader = local[static_cast<std::size_t>(rc.reader)];
        }
        const auto first = static_cast<std::size_t>(rc.firstSource);
        rc.firstSource = static_cast<std::int32_t>(p.sources.size());
        rc.readCount = 0;
        for (std::int32_t slot = 0; slot < rc.sourceCount; ++slot) {
            const std::int32_t src = plan.sources[first + static_cast<std::size_t>(slot)];
            if (src < 0) {
                p.sources.push_back(-1);
            } else if (d.pieceOf[static_cast<std::size_t>(src)] != d.pieceOf[c]) {
                p.sources.push_back(RoutingPlan::importSource(p.importCount++));
                work.importCut[k].push_back(cutOf(src));
            } else {
                p.sources.push_back(local[static_cast<std::size_t>(src)]);
                ++rc.readCount;
            }
        }
        p.cells.push_back(rc);
        const auto nodes =
            plan.initialNodes.begin() + static_cast<std::ptrdiff_t>(c * nodesPerCell);
        p.initialNodes.insert(p.initialNodes.end(), nodes,
                              nodes + static_cast<std::ptrdiff_t>(nodesPerCell));
        if (!plan.initialLateral.empty()) {
            p.initialLateral.push_back(plan.initialLateral[c]);
        }
    }
    for (const auto& level : positions) {
        work.framePositions.insert(work.framePositions.end(), level.begin(), level.end());
    }
    return work;
}

std::vector<std::int64_t> framePositionsByRank(const RoutingPlan& plan, const Decomposition& d,
                                               std::vector<std::int32_t>& counts) {
    // A counting sort on (rank, level), stable in plan order.
    const auto levels = static_cast<std::size_t>(d.levels);
    const auto keyOf = [&](std::size_t c) {
        const auto piece = static_cast<std::size_t>(d.pieceOf[c]);
        return static_cast<std::size_t>(d.pieceRank[piece]) * levels
               + static_cast<std::size_t>(d.pieceLevel[piece]);
    };
    std::vector<std::size_t> start(static_cast<std::size_t>(d.ranks) * levels + 1, 0);
    for (std::size_t c = 0; c < plan.cells.size(); ++c) {
        ++start[keyOf(c) + 1];
    }
    std::partial_sum(start.begin(), start.end(), start.begin());
    counts.assign(static_cast<std::size_t>(d.ranks), 0);
    for (std::size_t r = 0; r < counts.size(); ++r) {
        counts[r] = static_cast<std::int32_t>(start[(r + 1) * levels] - start[r * levels]);
    }
    std::vector<std::int64_t> positions(plan.cells.size());
    for (std::size_t c = 0; c < plan.cells.size(); ++c) {
        positions[start[keyOf(c)]++] = plan.cells[c].framePosition;
    }
    return positions;
}

double loadImbalance(const Decomposition& d) {
    if (d.pieceCells.empty() || d.ranks <= 0) {
        return 0.0;
    }
    std::vector<std::int64_t> load(static_cast<std::size_t>(d.ranks), 0);
    std::int64_t total = 0;
    for (std::size_t p = 0; p < d.pieceCells.size(); ++p) {
        load[static_cast<std::size_t>(d.pieceRank[p])] += d.pieceCells[p];
        total += d.pieceCells[p];
    }
    const double average = static_cast<double>(total) / static_cast<double>(d.ranks);
    return static_cast<double>(*std::max_element(load.begin(), load.end())) / average;
}

}  // namespace hydro::runoff
