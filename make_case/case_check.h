#pragma once

// `make_case check`: validates a case folder before hours of computing. Every finding is one
// line; errors mean the simulator would fail or produce garbage, warnings that it runs but
// perhaps not as meant.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <ostream>

#include "case/channel_width.h"

namespace hydro::make_case {

struct CheckSummary {
    int errors = 0;
    int warnings = 0;
};

/// A state file to hold against the case, and the scheme of the run that would go on from it
/// (StateOrigin::scheme; the state's own when none is given).
struct StateToCheck {
    std::filesystem::path file;
    std::optional<std::uint32_t> scheme;
};

/// Runs every check on `caseDir`, and on `state` against it when one is given, printing one
/// line per finding and a summary line. The physics (Courant numbers) take `channelWidth`, or
/// the model's law; the state is held against `channelWidth`, or its own law.
[[nodiscard]] CheckSummary checkCase(const std::filesystem::path& caseDir, std::ostream& out,
                                     const std::optional<StateToCheck>& state = std::nullopt,
                                     const std::optional<ChannelWidthLaw>& channelWidth = {});

}  // namespace hydro::make_case
