// What a running job shares with its front end, and what it tells it besides messages:
// the Stop flag, progress, and the points tests place a Stop at.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>

namespace velorna {

// Points a running job passes, for tests that place a Stop exactly: the song is loaded,
// the drum copy is about to be rendered, the next event is about to be looked at, the output is
// about to be written.
enum class JobPoint { kLoaded, kDrumPass, kNote, kWriting };

// Shared between the job and its front end. The front end sets m_cancel; the job writes
// m_progress. m_startTick is taken when the worker starts.
struct JobControl {
  std::atomic<int> m_cancel{0};
  std::atomic<int> m_progress{0};
  std::atomic<int> m_running{0};
  std::atomic<int64_t> m_notes{0};  // the notes of the loaded song, for the front end's records
  std::chrono::steady_clock::time_point m_startTick = std::chrono::steady_clock::now();
  std::function<void(JobPoint)> testHook;  // called by whichever thread reaches the point
};

inline void PassPoint(JobControl& control, JobPoint point) {
  if (control.testHook) control.testHook(point);
}

// How far a job is, as numbers: each front end writes them its own way.
struct JobProgress {
  int percent = 0;                                // 0..100
  std::chrono::steady_clock::duration elapsed{};  // since the job started
};

// What the job tells its front end besides messages.
class JobObserver {
 public:
  virtual ~JobObserver() = default;
  virtual void ShowProgress(const JobProgress& progress) = 0;
};

// Tells the observer the job's progress and time so far.
void ShowProgress(const JobControl& control, JobObserver& observer);

}  // namespace velorna
