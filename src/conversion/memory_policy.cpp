#include "conversion/memory_policy.h"

#include <algorithm>
#include <thread>

namespace velorna {

WorkerFit FitWorkers(int asked, int64_t soundFontBytes, int64_t addressLimit) {
  WorkerFit fit;
  const int64_t font = std::max<int64_t>(soundFontBytes, 0);
  const int wanted =
      std::max(1, asked > 0 ? asked : static_cast<int>(std::thread::hardware_concurrency()));
  // Copies of the SoundFont besides the job's own that the bound has room for.
  int64_t room = (kRunMemoryBytes - kJobBaseBytes - kMaxOpenNotes * kOpenNoteBytes - kWorkerBytes) /
                 (font + kWorkerBytes);
  if (addressLimit >= 0) {
    const int64_t base = kProgramAddressBytes + kSoundFontLoadFactor * font;
    if (addressLimit < base + kWorkerBytes + kWorkerReservedBytes) {
      fit.refused = true;
      return fit;
    }
    room = std::min(room, (addressLimit - base - kWorkerBytes - kWorkerReservedBytes) /
                              (font + kWorkerBytes + kWorkerReservedBytes));
  }
  // As many workers as the copies they need leave room for.
  const int64_t copies = room + 1;
  fit.workers = 1;
  while (fit.workers < wanted && SoundFontCopies(fit.workers + 1) <= copies) ++fit.workers;
  fit.lowered = fit.workers < wanted && asked > 0;
  return fit;
}

}  // namespace velorna
