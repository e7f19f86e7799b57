#pragma once

// Opt-in CPU timings of the stages of a command, for finding where its time goes. Off unless
// the environment variable MAKE_CASE_STAGE_CPU is set to something other than "" or "0".

#include <ostream>
#include <string_view>

namespace hydro::make_case {

/// Prints, at each `lap`, the CPU seconds spent since the last lap (or since construction): the
/// whole process's user + system time, summed over its threads, and the calling thread's own.
/// On idle cores a stage's wall time is about the calling thread's share when the other threads
/// work alongside it. Prints nothing when off; a lap costs two system calls when on.
class StageClock {
public:
    explicit StageClock(std::ostream& out);
    void lap(std::string_view stage);
    [[nodiscard]] bool on() const { return on_; }

private:
    std::ostream& out_;
    bool on_ = false;
    double process_ = 0.0;
    double thread_ = 0.0;
};

}  // namespace hydro::make_case
