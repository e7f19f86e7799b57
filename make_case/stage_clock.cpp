#include "make_case/stage_clock.h"

#include <sys/resource.h>

#include <cstdlib>
#include <iomanip>
#include <string>

namespace hydro::make_case {

namespace {

double cpuSeconds(int who) {
    rusage usage{};
    if (getrusage(who, &usage) != 0) {
        return 0.0;
    }
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

}  // namespace

StageClock::StageClock(std::ostream& out) : out_(out) {
    const char* flag = std::getenv("MAKE_CASE_STAGE_CPU");
    on_ = flag != nullptr && !std::string(flag).empty() && std::string(flag) != "0";
    if (on_) {
        process_ = cpuSeconds(RUSAGE_SELF);
        thread_ = cpuSeconds(RUSAGE_THREAD);
    }
}

void StageClock::lap(std::string_view stage) {
    if (!on_) {
        return;
    }
    const double process = cpuSeconds(RUSAGE_SELF);
    const double thread = cpuSeconds(RUSAGE_THREAD);
    out_ << "cpu " << std::fixed << std::setprecision(3) << process - process_ << " s (this thread "
         << thread - thread_ << " s)  " << stage << std::defaultfloat << std::endl;
    process_ = process;
    thread_ = thread;
}

}  // namespace hydro::make_case
