#include "conversion/drum_copy.h"

#include "midi/song_edit.h"

namespace velorna {

std::unique_ptr<MidiFormat0Data> BuildDrumCopy(MidiContext& ctx, const MidiFormat0Data& song) {
  auto copy = CopySong(ctx, song);
  if (!copy || !copy->track) return copy;
  for (auto& e : copy->track->events)
    if (e.channel != kDrumChannel && e.channel != kNoChannel) e.status = st::kDisabled;
  RemoveDisabledEvents(*copy->track);
  return copy;
}

}  // namespace velorna
