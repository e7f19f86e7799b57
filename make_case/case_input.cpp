#include "make_case/case_input.h"

#include <fstream>
#include <sstream>

#include "common/number_stream.h"
#include "common/raw_grid_io.h"

namespace hydro::make_case {

namespace {

namespace fs = std::filesystem;

template <class T>
Result<CaseGrid<T>> readGrid(const fs::path& caseDir, const char* name, const EventParameters& p) {
    const CasePaths paths{caseDir};
    RawValueReader reader;
    if (fs::is_directory(paths.topoData() / name) || !reader.open(paths.topoData() / name)) {
        return Error{std::string(name) + " cannot open.", ErrorKind::kCannotOpen};
    }
    CaseGrid<T> grid;
    grid.valuesInFile = reader.valueCount().value_or(0);
    const GridShape shape{p.studyRows, p.studyCols};
    const auto cols = static_cast<std::size_t>(p.studyCols);
    grid.values.assign(static_cast<std::size_t>(shape.cellCount()), T{});
    // Files run from the south row to the north row, each row west to east.
    for (std::int64_t k = 0; k < shape.cellCount(); k += p.studyCols) {
        const auto first = static_cast<std::size_t>(shape.indexOfFilePosition(k));
        if (reader.read(std::span<T>(grid.values.data() + first, cols)) < cols) {
            break;
        }
    }
    return grid;
}

}  // namespace

Result<EventParameters> readCaseParameters(const fs::path& caseDir) {
    auto params = readEventParameters(CasePaths{caseDir}.parameters());
    if (!params) {
        return params.error();
    }
    if (const Status tooLarge = checkGridSize(*params); !tooLarge) {
        return tooLarge.error();
    }
    if (const Status offGlobe = checkLatitudes(*params); !offGlobe) {
        return offGlobe.error();
    }
    return params;
}

Result<std::string> readCaseParameterText(const fs::path& caseDir) {
    std::ifstream in(CasePaths{caseDir}.parameters(), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    if (!in) {
        return Error{"param-event.dat cannot be read."};
    }
    return text.str();
}

Result<std::vector<std::int32_t>> readCaseRivers(const fs::path& caseDir) {
    auto rivers = readRiverList(CasePaths{caseDir}.riverList());
    if (!rivers) {
        return rivers.error();
    }
    return rivers->sorted();
}

Result<CaseGrid<float>> readCaseFloatGrid(const fs::path& caseDir, const char* name,
                                          const EventParameters& p) {
    return readGrid<float>(caseDir, name, p);
}

Result<CaseGrid<std::int32_t>> readCaseIntGrid(const fs::path& caseDir, const char* name,
                                               const EventParameters& p) {
    return readGrid<std::int32_t>(caseDir, name, p);
}

RainGrid caseRainPoints(const EventParameters& p) {
    return placeRainPoints(p);
}

Result<RainFile> readCaseRain(const fs::path& caseDir, const EventParameters& p) {
    const fs::path path = CasePaths{caseDir}.rainfall();
    RainFile rain{placeRainPoints(p), 0};
    if (const Status read = readRainfall(path, rain.grid); !read) {
        return read.error();
    }
    TokenReader tokens;
    if (!tokens.open(path)) {
        return Error{"ROF file cannot open.", ErrorKind::kCannotOpen};
    }
    while (tokens.next()) {
        ++rain.numbersInFile;
    }
    return rain;
}

}  // namespace hydro::make_case
