#include "results/event_time.h"

#include <chrono>

namespace hydro::results {

std::string isoNow() {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    return fromUnixSeconds(std::chrono::duration_cast<std::chrono::seconds>(now).count())
        .isoAfter(0);
}

std::string commandHistory(const std::string& program, std::span<const std::string> args,
                           const EventStart& start) {
    std::string history = isoNow() + " " + program;
    for (const std::string& a : args) {
        history += " " + a;
    }
    if (start.fallback) {
        history += std::string("\n") + kFallbackNote;
    }
    return history;
}

}  // namespace hydro::results
