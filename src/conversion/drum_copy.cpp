#include "conversion/drum_copy.h"

#include "conversion/copy_timing.h"
#include "midi/midi_constants.h"
#include "midi/song_edit.h"

namespace velorna {

std::unique_ptr<MidiFormat0Data> BuildDrumCopy(MidiContext& ctx, const SongNoteIndex& index) {
  auto copy = CopySong(ctx, *index.song);
  if (!copy || !copy->track) return copy;
  MidiTrack& track = *copy->track;
  for (auto& e : track.events)
    if (e.channel != kDrumChannel && e.channel != kNoChannel) e.status = st::kDisabled;
  RemoveDisabledEvents(track);
  // The renderer stops a tail limit after the last message: a message that changes nothing,
  // held past the song's end, lets the last cymbal ring as far as the ending cap.
  auto& events = track.events;
  if (!index.endsWithEndOfTrack || index.times.empty() || events.empty() ||
      !events.back().IsEndOfTrack() || track.count() >= track.maxEvents())
    return copy;
  const int64_t songEnd = index.times.back();
  const int64_t held =
      index.clock.TickAtMicros(songEnd, index.clock.Microseconds(songEnd) + kTailHoldMicros);
  if (held <= songEnd) return copy;
  MidiEvent holder = TailHolder(kDrumChannel);
  holder.delta = ToDelta(int64_t{events.back().delta} + (held - songEnd));
  events.back().delta = 0;
  events.insert(events.end() - 1, std::move(holder));
  return copy;
}

}  // namespace velorna
