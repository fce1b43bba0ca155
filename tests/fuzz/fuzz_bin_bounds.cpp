// Bin-bound cleaning against the pandas walk it stands for: mark an entry that
// is <= the one before it while fewer than len - 2 are marked, drop the marked
// ones, then open the first and last kept bounds to -inf and +inf.
#include "bin_bounds.hpp"
#include "fuzz_input.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

using namespace vb::core;
using vb::fuzz::literal;

namespace {

struct Cleaned {
    std::vector<std::size_t> dropped;
    std::vector<double> bounds;
};

Cleaned reference_clean(std::vector<double> bounds, bool lower_inf, bool upper_inf) {
    Cleaned result;
    for (std::size_t i = 1; i < bounds.size(); ++i)
        if (result.dropped.size() + 2 < bounds.size() && bounds[i] <= bounds[i - 1]) result.dropped.push_back(i);
    std::vector<std::size_t> kept;
    for (std::size_t i = 0; i < bounds.size(); ++i)
        if (std::find(result.dropped.begin(), result.dropped.end(), i) == result.dropped.end()) kept.push_back(i);
    if (!kept.empty() && lower_inf) bounds[kept.front()] = -HUGE_VAL;
    if (!kept.empty() && upper_inf) bounds[kept.back()] = HUGE_VAL;
    result.bounds = bounds;
    return result;
}

bool same_bits(const std::vector<double> &a, const std::vector<double> &b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    vb::fuzz::Input in(data, size);
    const bool lower_inf = in.flag(), upper_inf = in.flag();
    const bool sorted = in.flag();
    std::vector<double> bounds(in.byte() % 48);
    for (double &bound : bounds) bound = in.number();
    // get_bins passes bounds sorted as numpy sorts them (NaN last); any order
    // must still be safe.
    if (sorted)
        std::sort(bounds.begin(), bounds.end(),
                  [](double a, double b) { return std::isnan(b) ? !std::isnan(a) : a < b; });
    const std::string input = literal(bounds) + ", lower_inf=" + literal(lower_inf) + ", upper_inf=" + literal(upper_inf);

    const Cleaned expected = reference_clean(bounds, lower_inf, upper_inf);
    // The core walks the caller's buffer in place; an exact-size copy lets the
    // address sanitizer see any access past its end.
    std::unique_ptr<double[]> buffer(new double[bounds.size()]);
    std::copy(bounds.begin(), bounds.end(), buffer.get());
    const std::vector<std::size_t> dropped = clean_bounds(buffer.get(), bounds.size(), lower_inf, upper_inf);
    vb::fuzz::check_equal("clean_bounds dropped", dropped, expected.dropped, input);
    const std::vector<double> cleaned(buffer.get(), buffer.get() + bounds.size());
    if (!same_bits(cleaned, expected.bounds))
        vb::fuzz::mismatch("clean_bounds values", literal(cleaned), literal(expected.bounds), input);
    return 0;
}
