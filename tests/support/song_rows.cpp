#include "support/song_rows.h"

#include <algorithm>
#include <map>
#include <set>
#include <utility>

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

namespace {

// In track order, which is time order.
std::vector<NoteRow> KeptNotes(const MidiTrack& track) {
  std::vector<NoteRow> rows;
  int64_t tick = 0;
  for (const MidiEvent& e : track.events) {
    tick += e.delta;
    if (e.status == st::kNote && e.duration > 0 && e.velocity > 0)
      rows.push_back({tick, e.channel, e.note, e.velocity, e.duration});
  }
  return rows;
}

}  // namespace

std::vector<NoteRow> Notes(const MidiTrack& track) {
  auto rows = KeptNotes(track);
  std::sort(rows.begin(), rows.end());
  return rows;
}

std::vector<NoteRow> NotesAsWritten(const MidiTrack& track) {
  auto rows = KeptNotes(track);
  std::map<std::pair<int, int>, std::multiset<int64_t>> ends;
  for (const NoteRow& r : rows) ends[{r.channel, r.note}].insert(r.tick + r.duration);
  for (NoteRow& r : rows) {
    auto& free = ends[{r.channel, r.note}];
    const auto end = free.upper_bound(r.tick);
    if (end == free.end()) continue;
    r.duration = static_cast<int>(*end - r.tick);
    free.erase(end);
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
    const bool fromData = e.status == st::kKeyPressure || e.status == st::kSysEx ||
                          e.status == st::kEscape || e.status == st::kMeta;
    const size_t n =
        fromData ? std::min(static_cast<size_t>(std::max(e.size, 0)), e.data.size()) : 0;
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
