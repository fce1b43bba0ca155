// Duration splitting against Python's floor division on unbounded integers:
//   days = s // 86400; rest = s - days * 86400; hours = rest // 3600; ...
// and the sentence built from the parts.
#include "duration.hpp"
#include "fuzz_input.hpp"

#include <climits>

using namespace vb::core;
using vb::fuzz::check_equal;
using vb::fuzz::literal;

namespace {

using Wide = __int128;

Wide floor_div(Wide a, Wide b) {
    Wide quotient = a / b;
    if (a % b != 0 && ((a < 0) != (b < 0))) --quotient;
    return quotient;
}

std::string text(Wide value) {
    if (value < 0) return "-" + text(-value);
    std::string digits;
    do {
        digits.insert(digits.begin(), char('0' + int(value % 10)));
        value /= 10;
    } while (value != 0);
    return digits;
}

std::string reference_sentence(long long seconds) {
    Wide rest = seconds;
    const Wide days = floor_div(rest, 86400);
    rest -= days * 86400;
    const Wide hours = floor_div(rest, 3600);
    rest -= hours * 3600;
    const Wide minutes = floor_div(rest, 60);
    rest -= minutes * 60;
    if (days > 0) return text(days) + " days and " + text(hours) + " hours";
    if (hours > 0) return text(hours) + " hours and " + text(minutes) + " minutes";
    if (minutes > 0) return text(minutes) + " minutes and " + text(rest) + " seconds";
    return text(rest) + " seconds";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    vb::fuzz::Input in(data, size);
    static const long long kEdges[] = {0, 1, -1, 59, 60, 3599, 3600, 86399, 86400, -86400, -86401,
                                       LLONG_MAX, LLONG_MIN, LLONG_MIN + 1, LLONG_MAX - 86399};
    const std::uint8_t choice = in.byte();
    long long seconds = static_cast<long long>(in.word());
    // Near an edge: wrapped around, as the edges include the extremes.
    if (choice < 128)
        seconds = static_cast<long long>(static_cast<unsigned long long>(kEdges[choice % (sizeof kEdges / sizeof kEdges[0])]) +
                                         (choice >> 4) - 4);
    const DurationParts parts = split_duration(seconds);
    const Wide total = Wide(parts.days) * 86400 + Wide(parts.hours) * 3600 + Wide(parts.minutes) * 60 + parts.seconds;
    if (total != seconds || parts.hours < 0 || parts.hours > 23 || parts.minutes < 0 || parts.minutes > 59 ||
        parts.seconds < 0 || parts.seconds > 59)
        vb::fuzz::mismatch("split_duration",
                           text(parts.days) + ", " + text(parts.hours) + ", " + text(parts.minutes) + ", " +
                               text(parts.seconds),
                           "floor-divided parts", literal(seconds));
    check_equal("duration_sentence", duration_sentence(seconds), reference_sentence(seconds), literal(seconds));
    return 0;
}
