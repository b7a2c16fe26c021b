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
  // Every worker renders with a copy of its own, and with two or more the drum pass has one
  // too; a lone worker shares its copy with the drum pass.
  const int64_t copies = room + 1;
  fit.workers = static_cast<int>(std::clamp<int64_t>(copies > 2 ? copies - 1 : 1, 1, wanted));
  fit.lowered = fit.workers < wanted && asked > 0;
  return fit;
}

}  // namespace velorna
