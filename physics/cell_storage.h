#pragma once

// The water a routed cell's channel holds and the discharge at its outlet, from the node
// states either scheme keeps: the discharges Q at nodes 0..N for the linear scheme, the inflow
// of the last sub-step at node 0 and u = A^(1/3) at nodes 1..N for the conservative one. No
// I/O here.

#include <span>

namespace hydro::runoff {

/// Channel storage of a routed cell, m³: the flow area of nodes 1..N (each standing for the
/// reach of one space step upstream of it) under the scheme's rating curve, times the space
/// step `dx` (m). `nodes` holds the cell's N + 1 node states; `alpha` is the cell's factor of
/// Q = alpha * A^m (setupRouting). The linear scheme counts no area for a node without
/// positive discharge.
[[nodiscard]] double cellStorage(bool conservative, double dx, double alpha,
                                 std::span<const double> nodes);

/// Discharge at the cell's outlet (node N), m³/s: the node's Q for the linear scheme,
/// alpha * u^5 for the conservative one.
[[nodiscard]] double outletDischarge(bool conservative, double alpha,
                                     std::span<const double> nodes);

}  // namespace hydro::runoff
