#include "duration.hpp"

namespace vb::core {
namespace {

constexpr long long kMinute = 60;
constexpr long long kHour = 60 * kMinute;
constexpr long long kDay = 24 * kHour;

// Python's // : rounds towards negative infinity.
long long floor_div(long long a, long long b) {
    long long quotient = a / b;
    if (a % b != 0 && ((a < 0) != (b < 0))) --quotient;
    return quotient;
}

// Python's % : takes the sign of the divisor. a - (a // b) * b without the
// product, which overflows for a near the lowest long long.
long long floor_mod(long long a, long long b) {
    long long remainder = a % b;
    if (remainder != 0 && ((remainder < 0) != (b < 0))) remainder += b;
    return remainder;
}

std::string pair_sentence(long long larger, const char *larger_unit, long long smaller,
                          const char *smaller_unit) {
    return std::to_string(larger) + " " + larger_unit + " and " + std::to_string(smaller) + " " +
           smaller_unit;
}

}  // namespace

DurationParts split_duration(long long total_seconds) {
    DurationParts parts{};
    long long rest = total_seconds;
    parts.days = floor_div(rest, kDay);
    rest = floor_mod(rest, kDay);
    parts.hours = rest / kHour;
    rest %= kHour;
    parts.minutes = rest / kMinute;
    parts.seconds = rest % kMinute;
    return parts;
}

std::string duration_sentence(long long total_seconds) {
    const DurationParts p = split_duration(total_seconds);
    if (p.days > 0) return pair_sentence(p.days, "days", p.hours, "hours");
    if (p.hours > 0) return pair_sentence(p.hours, "hours", p.minutes, "minutes");
    if (p.minutes > 0) return pair_sentence(p.minutes, "minutes", p.seconds, "seconds");
    return std::to_string(p.seconds) + " seconds";
}

}  // namespace vb::core
