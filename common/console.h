#pragma once

// Console helpers shared by the three programs: every line they print ends with a line break
// and a flush, and numbers use the stream's default format (6 significant digits).

#include <ostream>

namespace hydro {

/// Prints the parts one after another, then a line break, then flushes.
template <class... Parts>
void sayLine(std::ostream& out, const Parts&... parts) {
    ((out << parts), ...);
    out << std::endl;
}

}  // namespace hydro
