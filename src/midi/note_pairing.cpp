#include "midi/note_pairing.h"

#include <algorithm>
#include <deque>
#include <limits>
#include <map>
#include <utility>
#include <vector>

#include "base/library_error.h"
#include "midi/song_edit.h"
#include "midi/synth_order.h"

namespace velorna {

namespace {

using Key = std::pair<int32_t, int32_t>;  // channel, note

Key KeyOf(const MidiEvent& e) {
  return {e.channel, e.note};
}

bool RequireState(MidiContext& ctx, const MidiTrack& track, int32_t state) {
  if (track.state == state) return true;
  ShowMdtkError(*ctx.reporter, code::kMdtkInternal);
  return false;
}

std::vector<int64_t> AbsoluteTimes(const MidiTrack& track) {
  std::vector<int64_t> at(track.events.size());
  int64_t t = 0;
  for (size_t i = 0; i < at.size(); ++i) {
    t += track.events[i].delta;
    at[i] = t;
  }
  return at;
}

int32_t ClampTicks(int64_t ticks) {
  return static_cast<int32_t>(std::clamp<int64_t>(ticks, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

// Notes beyond the event limit once split in two are dropped from the end of the track.
void DropNotesBeyondLimit(MidiContext& ctx, MidiTrack& track) {
  int64_t needed = 0;
  for (const MidiEvent& e : track.events) needed += e.status == st::kNote ? 2 : 1;
  if (needed <= kMaxEventsPerTrack) return;
  ShowMdtkError(*ctx.reporter, code::kMdtkTooMuchData);
  for (auto it = track.events.rbegin(); it != track.events.rend() && needed > kMaxEventsPerTrack;
       ++it) {
    if (it->status != st::kNote) continue;
    it->status = st::kDisabled;
    needed -= 2;
  }
}

}  // namespace

void VelocityZeroToNoteOff(MidiContext& ctx, MidiTrack& track) {
  if (!RequireState(ctx, track, ts::kEvents)) return;
  for (MidiEvent& e : track.events) {
    if (e.status == st::kNoteOn && e.velocity == 0) e.status = st::kNoteOff;
  }
}

void EventsToNotes(MidiContext& ctx, MidiTrack& track) {
  if (!RequireState(ctx, track, ts::kEvents)) return;
  VelocityZeroToNoteOff(ctx, track);
  auto& ev = track.events;
  const std::vector<int64_t> at = AbsoluteTimes(track);

  // Each note-off ends the earliest note-on of its channel and key still open.
  std::map<Key, std::deque<size_t>> open;
  for (size_t i = 0; i < ev.size(); ++i) {
    MidiEvent& e = ev[i];
    if (e.status == st::kNoteOn) {
      e.status = st::kNote;
      e.duration = 0;
      open[KeyOf(e)].push_back(i);
    } else if (e.status == st::kNoteOff) {
      const auto it = open.find(KeyOf(e));
      if (it != open.end() && !it->second.empty()) {
        const size_t on = it->second.front();
        it->second.pop_front();
        ev[on].duration = ClampTicks(at[i] - at[on]);
        // The key was struck again at this tick, before this note-off: the newest note
        // holds the key's only voice not yet released, and this note-off releases it.
        if (!it->second.empty() && at[it->second.back()] == at[i]) {
          ev[it->second.back()].releasedAtStart = true;
        }
      }
      e.status = st::kDisabled;
    }
  }
  // A note-on never released sounds to the end of its track.
  const int64_t trackEnd = at.empty() ? 0 : at.back();
  for (const auto& [key, ons] : open) {
    for (size_t on : ons) ev[on].duration = ClampTicks(trackEnd - at[on]);
  }
  RemoveDisabledEvents(track);
  track.state = ts::kNotes;
}

void NotesToEvents(MidiContext& ctx, MidiTrack& track) {
  if (!RequireState(ctx, track, ts::kNotes)) return;
  for (MidiEvent& e : track.events) {
    if (e.status == st::kNote && e.velocity == 0) e.status = st::kDisabled;
  }
  DropNotesBeyondLimit(ctx, track);
  const std::vector<int64_t> at = AbsoluteTimes(track);
  std::vector<TickedEvent> notes;
  notes.reserve(track.events.size());
  for (size_t i = 0; i < track.events.size(); ++i) {
    if (track.events[i].status != st::kDisabled)
      notes.push_back({at[i], std::move(track.events[i])});
  }
  std::vector<TickedEvent> split = SplitNotes(std::move(notes));
  track.events.clear();
  track.events.reserve(split.size());
  int64_t previous = 0;
  for (TickedEvent& e : split) {
    e.event.delta = ClampTicks(e.tick - previous);
    previous = e.tick;
    track.events.push_back(std::move(e.event));
  }
  track.state = ts::kEvents;
}

void NoteOffsBeforeNoteOns(MidiContext& ctx, MidiTrack& track) {
  if (!RequireState(ctx, track, ts::kEvents)) return;
  auto& ev = track.events;
  OpenNotes open;
  size_t begin = 0;
  while (begin < ev.size()) {
    size_t end = begin + 1;
    while (end < ev.size() && ev[end].delta == 0) ++end;
    OrderNotesOfTick(ev, begin, end, open);
    begin = end;
  }
}

}  // namespace velorna
