#include "conversion/note_ends.h"

#include <algorithm>
#include <cmath>

#include "base/limits.h"

namespace velorna {

namespace {
constexpr double kCentsPerOctave = 1200.0;
// FluidSynth notices a voice's end only at its own blocks, and ours are rounded to blocks.
constexpr int64_t kEndSlackFrames = 2 * kBlockFrames;
}  // namespace

std::optional<int64_t> LatestEnd(const NoteEnd& seen, const NoteSound& again) {
  if (again.keyShift != seen.sound.keyShift || seen.sound.synthRate <= 0) return std::nullopt;
  // The events come at the same frames in any tuning. After the last one only time-based things end
  // a voice: its envelopes, which run at the synthesizer's rate and so stretch with it in song
  // time, and a sample without a loop running out, which takes longer the lower the note sounds.
  const double slower = std::max({1.0, again.synthRate / seen.sound.synthRate,
                                  std::exp2((seen.sound.target - again.target) / kCentsPerOctave)});
  const auto ringing = static_cast<int64_t>(
      std::ceil(static_cast<double>(std::max<int64_t>(seen.end - seen.lastEvent, 0)) * slower));
  return seen.lastEvent + ringing + kEndSlackFrames;
}

void NoteEnds::Record(int32_t note, const NoteEnd& end) {
  std::lock_guard lock(mutex_);
  ends_[note] = end;
}

std::optional<NoteEnd> NoteEnds::Find(int32_t note) const {
  std::lock_guard lock(mutex_);
  const auto found = ends_.find(note);
  if (found == ends_.end()) return std::nullopt;
  return found->second;
}

}  // namespace velorna
