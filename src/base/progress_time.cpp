#include "base/progress_time.h"

#include <cmath>
#include <cstdio>

namespace velorna {
namespace {

constexpr int kFullPercent = 100;
constexpr long long kSecondsPerMinute = 60;
constexpr long long kSecondsPerHour = 3600;

}  // namespace

std::optional<double> RemainingSeconds(double elapsedSeconds, int percent) {
  if (percent <= 0 || elapsedSeconds <= 0) return std::nullopt;
  if (percent >= kFullPercent) return 0.0;
  return elapsedSeconds * (kFullPercent - percent) / percent;
}

std::string ClockText(double seconds) {
  const long long total = seconds > 0 ? std::llround(seconds) : 0;
  char text[32];
  if (total >= kSecondsPerHour) {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", total / kSecondsPerHour,
                  total % kSecondsPerHour / kSecondsPerMinute, total % kSecondsPerMinute);
  } else {
    std::snprintf(text, sizeof text, "%02lld:%02lld", total / kSecondsPerMinute,
                  total % kSecondsPerMinute);
  }
  return text;
}

std::string DurationText(double seconds) {
  if (seconds >= static_cast<double>(kSecondsPerMinute)) return ClockText(seconds);
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", seconds > 0 ? seconds : 0.0);
  return text;
}

}  // namespace velorna
