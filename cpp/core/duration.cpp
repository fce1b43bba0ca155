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
    rest -= parts.days * kDay;
    parts.hours = floor_div(rest, kHour);
    rest -= parts.hours * kHour;
    parts.minutes = floor_div(rest, kMinute);
    rest -= parts.minutes * kMinute;
    parts.seconds = rest;
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
