// How a run over MPI should move its frames and its input, measured on a case folder:
//   frames: each frame gathered to rank 0 and written there, against every rank writing its
//           own values in place through one collective MPI-IO write (an indexed file view);
//   input:  every rank reading the case files itself, against rank 0 reading them and
//           broadcasting their bytes.
// The ranks hold the values of their cells as the simulator splits the plan.
//
//   mpirun -n 4 mpi_frame_io <case folder> [frames]

#include <mpi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <numeric>
#include <string>
#include <vector>

#include "case/case.h"
#include "routing/processing_order.h"
#include "routing/routing_setup.h"
#include "runoff_sim/rank_split.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

std::vector<char> fileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

/// Seconds for every rank to read `files`, and for rank 0 to read and broadcast them.
std::pair<double, double> timeInput(const std::vector<std::filesystem::path>& files, int rank) {
    MPI_Barrier(MPI_COMM_WORLD);
    auto start = Clock::now();
    std::size_t bytes = 0;
    for (const auto& f : files) {
        bytes += fileBytes(f).size();
    }
    MPI_Barrier(MPI_COMM_WORLD);
    const double everyRank = seconds(start);
    start = Clock::now();
    for (const auto& f : files) {
        std::vector<char> data;
        unsigned long long size = 0;
        if (rank == 0) {
            data = fileBytes(f);
            size = data.size();
        }
        MPI_Bcast(&size, 1, MPI_UNSIGNED_LONG_LONG, 0, MPI_COMM_WORLD);
        data.resize(size);
        // In pieces below the 2 GiB a single call may move.
        for (std::size_t at = 0; at < size; at += std::size_t{1} << 30U) {
            const auto n =
                static_cast<int>(std::min<std::size_t>(size - at, std::size_t{1} << 30U));
            MPI_Bcast(data.data() + at, n, MPI_CHAR, 0, MPI_COMM_WORLD);
        }
    }
    MPI_Barrier(MPI_COMM_WORLD);
    static_cast<void>(bytes);
    return {everyRank, seconds(start)};
}

}  // namespace

int main(int argc, char** argv) {
    MPI_Init(&argc, &argv);
    int rank = 0;
    int ranks = 1;
    MPI_Comm_rank(MPI_COMM_WORLD, &rank);
    MPI_Comm_size(MPI_COMM_WORLD, &ranks);
    if (argc < 2) {
        if (rank == 0) {
            std::cout << "usage: mpirun -n N mpi_frame_io <case folder> [frames]\n";
        }
        MPI_Finalize();
        return 2;
    }
    const std::filesystem::path dir(argv[1]);
    const int frames = argc > 2 ? std::stoi(argv[2]) : 48;
    const hydro::CasePaths paths{dir};
    const auto p = hydro::readEventParameters(paths.parameters(), nullptr);
    const auto rivers = hydro::readRiverList(paths.riverList());
    const auto grid = hydro::buildDrainageNetwork(paths.topoData(), *p);
    const hydro::RainGrid rain = hydro::placeRainPoints(*p);
    const auto plan = hydro::runoff::buildRoutingPlan(
        *grid, *rivers, hydro::runoff::orderRoutedCells(*grid, *rivers), rain, *p);
    const hydro::runoff::Decomposition d =
        hydro::runoff::decompose(hydro::runoff::readersOf(*plan), ranks);
    const hydro::runoff::RankWork work = hydro::runoff::rankWork(*plan, d, rank);
    std::vector<std::int32_t> counts;
    const std::vector<std::int64_t> all = hydro::runoff::framePositionsByRank(*plan, d, counts);
    const std::size_t frameValues = plan->frameTemplate.size();
    const std::vector<float> values(work.framePositions.size(), 1.5F);

    // Gathered to rank 0, placed, written.
    const std::filesystem::path gathered = dir / "output" / "bench-gathered.bin";
    const std::filesystem::path collective = dir / "output" / "bench-collective.bin";
    std::vector<int> displacements(counts.size());
    std::exclusive_scan(counts.begin(), counts.end(), displacements.begin(), 0);
    std::vector<float> received(rank == 0 ? all.size() : 0);
    std::vector<float> frame(plan->frameTemplate);
    std::FILE* out = rank == 0 ? std::fopen(gathered.c_str(), "wb") : nullptr;
    MPI_Barrier(MPI_COMM_WORLD);
    auto start = Clock::now();
    for (int f = 0; f < frames; ++f) {
        MPI_Gatherv(values.data(), static_cast<int>(values.size()), MPI_FLOAT, received.data(),
                    counts.data(), displacements.data(), MPI_FLOAT, 0, MPI_COMM_WORLD);
        if (rank == 0) {
            hydro::runoff::placeValues(all, received, frame);
            std::fwrite(frame.data(), sizeof(float), frame.size(), out);
            std::fflush(out);
        }
    }
    if (out != nullptr) {
        std::fclose(out);
    }
    MPI_Barrier(MPI_COMM_WORLD);
    const double gatherTime = seconds(start);

    // Every rank writes its values in place; rank 0 also the cells nobody routes.
    std::vector<std::pair<std::int64_t, float>> mine;
    for (std::size_t i = 0; i < work.framePositions.size(); ++i) {
        mine.emplace_back(work.framePositions[i], values[i]);
    }
    if (rank == 0) {
        std::vector<bool> routed(frameValues, false);
        for (const std::int64_t pos : all) {
            routed[static_cast<std::size_t>(pos)] = true;
        }
        for (std::size_t pos = 0; pos < frameValues; ++pos) {
            if (!routed[pos]) {
                mine.emplace_back(static_cast<std::int64_t>(pos), plan->frameTemplate[pos]);
            }
        }
    }
    std::sort(mine.begin(), mine.end());
    std::vector<int> offsets;
    std::vector<float> ordered;
    for (const auto& [pos, v] : mine) {
        offsets.push_back(static_cast<int>(pos));
        ordered.push_back(v);
    }
    MPI_Datatype view = MPI_DATATYPE_NULL;
    MPI_Type_create_indexed_block(static_cast<int>(offsets.size()), 1, offsets.data(), MPI_FLOAT,
                                  &view);
    MPI_Type_commit(&view);
    MPI_File file = MPI_FILE_NULL;
    MPI_File_open(MPI_COMM_WORLD, collective.c_str(), MPI_MODE_CREATE | MPI_MODE_WRONLY,
                  MPI_INFO_NULL, &file);
    MPI_Barrier(MPI_COMM_WORLD);
    start = Clock::now();
    for (int f = 0; f < frames; ++f) {
        const auto at = static_cast<MPI_Offset>(f) * static_cast<MPI_Offset>(frameValues)
                        * static_cast<MPI_Offset>(sizeof(float));
        MPI_File_set_view(file, at, MPI_FLOAT, view, "native", MPI_INFO_NULL);
        MPI_File_write_all(file, ordered.data(), static_cast<int>(ordered.size()), MPI_FLOAT,
                           MPI_STATUS_IGNORE);
    }
    MPI_File_close(&file);
    MPI_Barrier(MPI_COMM_WORLD);
    const double collectiveTime = seconds(start);
    MPI_Type_free(&view);

    const auto [readEvery, readBroadcast] = timeInput(
        {paths.topoData() / "modDem.bin", paths.topoData() / "flowDir.bin",
         paths.topoData() / "flowAcc.bin", paths.topoData() / "riverNum.bin", paths.rainfall()},
        rank);
    if (rank == 0) {
        const bool same = fileBytes(gathered) == fileBytes(collective);
        const double mb = static_cast<double>(frameValues) * 4.0 * frames / 1e6;
        std::cout << std::fixed << std::setprecision(3) << ranks << " ranks, " << frames
                  << " frames of " << frameValues << " values (" << mb << " MB)\n"
                  << "  gathered to rank 0 and written: " << gatherTime << " s (" << mb / gatherTime
                  << " MB/s)\n"
                  << "  collective MPI-IO write:         " << collectiveTime << " s ("
                  << mb / collectiveTime << " MB/s)" << (same ? ", same bytes" : ", BYTES DIFFER")
                  << "\n"
                  << "  input read by every rank:        " << readEvery << " s\n"
                  << "  input read by rank 0, broadcast: " << readBroadcast << " s\n";
        std::filesystem::remove(gathered);
        std::filesystem::remove(collective);
    }
    MPI_Finalize();
    return 0;
}
