#include "bin_bounds.hpp"

#include <limits>

namespace vb::core {

std::vector<std::size_t> clean_bounds(double *bounds, std::size_t count, bool lower_inf,
                                      bool upper_inf) {
    std::vector<std::size_t> dropped;
    const std::size_t limit = count > 2 ? count - 2 : 0;
    for (std::size_t i = 1; i < count && dropped.size() < limit; ++i)
        if (bounds[i] <= bounds[i - 1]) dropped.push_back(i);
    if (count == 0) return dropped;
    // Position 0 is never marked; the last kept one is the last position unless
    // that was marked.
    std::size_t last_kept = count - 1;
    for (auto it = dropped.rbegin(); it != dropped.rend() && *it == last_kept; ++it) --last_kept;
    constexpr double kInfinity = std::numeric_limits<double>::infinity();
    if (lower_inf) bounds[0] = -kInfinity;
    if (upper_inf) bounds[last_kept] = kInfinity;
    return dropped;
}

}  // namespace vb::core
