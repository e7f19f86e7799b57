#include "case/case.h"

namespace hydro {

Result<CaseData> readCase(const std::filesystem::path& root) {
    const CasePaths paths{root};
    auto params = readEventParameters(paths.parameters());
    if (!params) {
        return params.error();
    }
    if (const Status tooLarge = checkGridSize(*params); !tooLarge) {
        return tooLarge.error();
    }
    if (const Status offTheGlobe = checkLatitudes(*params); !offTheGlobe) {
        return offTheGlobe.error();
    }
    auto rivers = readRiverList(paths.riverList());
    if (!rivers) {
        return rivers.error();
    }
    auto grid = buildDrainageNetwork(paths.topoData(), *params);
    if (!grid) {
        return grid.error();
    }
    return CaseData{*params, std::move(*rivers), std::move(*grid)};
}

Result<RainGrid> readCaseRainfall(const std::filesystem::path& root, const EventParameters& p) {
    RainGrid rain = placeRainPoints(p);
    if (auto read = readRainfall(CasePaths{root}.rainfall(), rain); !read) {
        return read.error();
    }
    return rain;
}

Result<CaseEvent> readCaseEvent(const std::filesystem::path& root) {
    auto data = readCase(root);
    if (!data) {
        return data.error();
    }
    auto rain = readCaseRainfall(root, data->params);
    if (!rain) {
        return rain.error();
    }
    const auto start = readEventStart(CasePaths{root}.rainfall());
    if (!start) {
        return start.error();
    }
    return CaseEvent{std::move(*data), std::move(*rain), *start};
}

}  // namespace hydro
