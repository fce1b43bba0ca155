// Cleaning of sorted bin bounds: repeated bounds are dropped (at least two
// always remain) and the outer bounds may be opened to infinity.
#pragma once

#include <cstddef>
#include <vector>

namespace vb::core {

// Walks the ascending `bounds` in order; a bound less than or equal to the one
// before it (dropped or not) is marked, while fewer than count - 2 are marked,
// so a run of equal bounds keeps its first one. NaN compares false and is
// never marked. Then sets the first kept bound to -inf when `lower_inf` and the
// last kept bound to +inf when `upper_inf` (count must be at least 1 for
// either). Returns the marked positions, ascending.
std::vector<std::size_t> clean_bounds(double *bounds, std::size_t count, bool lower_inf,
                                      bool upper_inf);

}  // namespace vb::core
