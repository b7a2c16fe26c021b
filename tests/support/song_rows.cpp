#include "support/song_rows.h"

#include <algorithm>

#include "midi/note_pairing.h"
#include "midi/track_encoder.h"

namespace velorna::test {

std::ostream& operator<<(std::ostream& os, const NoteRow& r) {
  return os << "{tick " << r.tick << " ch " << r.channel << " note " << r.note << " vel "
            << r.velocity << " dur " << r.duration << "}";
}

std::ostream& operator<<(std::ostream& os, const EventRow& r) {
  os << "{tick " << r.tick << " status " << r.status << " ch " << r.channel << " kind " << r.kind
     << " value " << r.value << " note " << r.note << " data";
  for (uint8_t b : r.data) os << ' ' << static_cast<int>(b);
  return os << "}";
}

std::vector<NoteRow> Notes(const MidiTrack& track) {
  std::vector<NoteRow> rows;
  int64_t tick = 0;
  for (const MidiEvent& e : track.events) {
    tick += e.delta;
    if (e.status == st::kNote && e.duration > 0 && e.velocity > 0)
      rows.push_back({tick, e.channel, e.note, e.velocity, e.duration});
  }
  std::sort(rows.begin(), rows.end());
  return rows;
}

std::vector<EventRow> OtherEvents(const MidiTrack& track) {
  std::vector<EventRow> rows;
  int64_t tick = 0;
  for (const MidiEvent& e : track.events) {
    tick += e.delta;
    if (e.status == st::kNote || e.status == st::kNoteOn || e.status == st::kNoteOff) continue;
    const size_t n = std::min(static_cast<size_t>(std::max(e.size, 0)), e.data.size());
    rows.push_back(
        {tick, e.status, e.channel, e.kind, e.value, e.note,
         std::vector<uint8_t>(e.data.begin(), e.data.begin() + static_cast<ptrdiff_t>(n))});
  }
  return rows;
}

std::vector<EventRow> OtherEventsInWriterOrder(MidiContext& ctx, const MidiTrack& notes) {
  MidiTrack copy = notes;
  NotesToEvents(ctx, copy);
  SetupEventsFirst(ctx, copy);
  SysExFirst(copy);
  NoteOffsBeforeNoteOns(ctx, copy);
  return OtherEvents(copy);
}

}  // namespace velorna::test
