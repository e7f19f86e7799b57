#include "results/event_time.h"

#include <chrono>

namespace hydro::results {

std::string isoNow() {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    return fromUnixSeconds(std::chrono::duration_cast<std::chrono::seconds>(now).count())
        .isoAfter(0);
}

}  // namespace hydro::results
