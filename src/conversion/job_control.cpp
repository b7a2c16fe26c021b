#include "conversion/job_control.h"

namespace velorna {

void ShowProgress(const JobControl& control, JobObserver& observer) {
  observer.ShowProgress(JobProgress{control.m_progress.load(),
                                    std::chrono::steady_clock::now() - control.m_startTick});
}

}  // namespace velorna
