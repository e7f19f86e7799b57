#pragma once

// The one line of an error, put together as `sayLine` would print it (numbers in the stream's
// default format), so that moving a message from a print to a returned error keeps its text.

#include <sstream>

#include "common/result.h"

namespace hydro::make_case {

template <class... Parts>
[[nodiscard]] Error errorLine(const Parts&... parts) {
    std::ostringstream line;
    ((line << parts), ...);
    return Error{line.str()};
}

}  // namespace hydro::make_case
