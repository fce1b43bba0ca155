// Durations in whole seconds split into days, hours, minutes and seconds with
// floor division, and the short sentence that names the two largest units.
#pragma once

#include <string>

namespace vb::core {

struct DurationParts {
    long long days;
    long long hours;
    long long minutes;
    long long seconds;
};

DurationParts split_duration(long long total_seconds);

// "1 days and 1 hours", "2 hours and 0 minutes", "2 minutes and 5 seconds",
// "45 seconds": always plural, the smaller unit shown even when zero.
std::string duration_sentence(long long total_seconds);

}  // namespace vb::core
