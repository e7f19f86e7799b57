#pragma once

// Text placed in XML documents (the GIS descriptions of the grids, the hydrograph pictures).

#include <string>
#include <string_view>

namespace hydro {

/// `text` with the five XML special characters escaped.
[[nodiscard]] std::string xmlEscape(std::string_view text);

}  // namespace hydro
