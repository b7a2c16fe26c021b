#include "conversion/memory_policy.h"

#include <algorithm>
#include <thread>

namespace velorna {

WorkerFit FitWorkers(int asked, int64_t soundFontBytes, int64_t addressLimit) {
  WorkerFit fit;
  const int64_t font = std::max<int64_t>(soundFontBytes, 0);
  const int wanted =
      std::max(1, asked > 0 ? asked : static_cast<int>(std::thread::hardware_concurrency()));
  // The first worker renders with the job's own SoundFont; every other loads one more.
  int64_t room = (kRunMemoryBytes - kJobBaseBytes - kWorkerBytes) / (font + kWorkerBytes);
  if (addressLimit >= 0) {
    const int64_t base = kProgramAddressBytes + kSoundFontLoadFactor * font;
    if (addressLimit < base + kWorkerBytes + kWorkerReservedBytes) {
      fit.refused = true;
      return fit;
    }
    room = std::min(room, (addressLimit - base - kWorkerBytes - kWorkerReservedBytes) /
                              (font + kWorkerBytes + kWorkerReservedBytes));
  }
  fit.workers = static_cast<int>(std::clamp<int64_t>(room + 1, 1, wanted));
  fit.lowered = fit.workers < wanted && asked > 0;
  return fit;
}

}  // namespace velorna
