#include "conversion/copy_timing.h"

#include "midi/note_pairing.h"
#include "midi/track_encoder.h"

namespace velorna {

std::optional<std::vector<TimedEvent>> TimeCopyAsWritten(MidiContext& ctx, MidiFormat0Data& copy) {
  if (!copy.track || copy.track->state != ts::kNotes) return std::nullopt;
  MidiTrack& track = *copy.track;
  // The writer's steps before encoding, in its order.
  NotesToEvents(ctx, track);
  // The writer refuses a track without its End of Track: such a copy is never rendered.
  if (track.events.empty() || !track.events.back().IsEndOfTrack()) return std::nullopt;
  SetupEventsFirst(ctx, track);
  SysExFirst(track);
  NoteOffsBeforeNoteOns(ctx, track);
  copy.state = 1;
  return TimeTrackEvents(track, copy.division);
}

}  // namespace velorna
