#include "conversion/job_control.h"

#include <cstdio>

namespace velorna {

namespace {
constexpr long long kSecondsPerMinute = 60;
}  // namespace

void ShowProgress(const JobControl& control, JobObserver& observer) {
  char progress[32];
  std::snprintf(progress, sizeof progress, "%d％", control.m_progress.load());
  const auto elapsed = std::chrono::steady_clock::now() - control.m_startTick;
  const long long seconds = std::chrono::duration_cast<std::chrono::seconds>(elapsed).count();
  char clock[32];
  std::snprintf(clock, sizeof clock, "%02lld:%02lld", seconds / kSecondsPerMinute,
                seconds % kSecondsPerMinute);
  observer.ShowProgress(progress, clock);
}

}  // namespace velorna
