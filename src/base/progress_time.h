// Times a front end shows while a job runs: the clock text and the time still to go.
#pragma once

#include <optional>
#include <string>

namespace velorna {

// Seconds still to go when `percent` of the work took `elapsedSeconds`; nothing until the
// first percent is done, when no estimate would mean anything.
std::optional<double> RemainingSeconds(double elapsedSeconds, int percent);

// "mm:ss", or "h:mm:ss" from an hour on; negative times count as zero.
std::string ClockText(double seconds);

// A duration to read at a glance: "4.2 s" below a minute, else the clock text.
std::string DurationText(double seconds);

}  // namespace velorna
