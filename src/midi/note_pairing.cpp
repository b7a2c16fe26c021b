#include "midi/note_pairing.h"

#include <algorithm>
#include <deque>
#include <limits>
#include <list>
#include <map>
#include <queue>
#include <utility>
#include <vector>

#include "base/library_error.h"
#include "midi/song_edit.h"

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

MidiEvent MakeNoteOff(const MidiEvent& note) {
  MidiEvent off;
  off.status = st::kNoteOff;
  off.note = note.note;
  off.channel = note.channel;
  off.velocity = 64;
  return off;
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

// Moves the first End of Track to the end of the list, at the time of the last event.
void EndOfTrackLast(MidiTrack& track) {
  auto& ev = track.events;
  const auto eot =
      std::find_if(ev.begin(), ev.end(), [](const MidiEvent& e) { return e.IsEndOfTrack(); });
  if (eot == ev.end() || eot + 1 == ev.end()) return;
  (eot + 1)->delta = ToDelta(int64_t{(eot + 1)->delta} + eot->delta);
  eot->delta = 0;
  std::rotate(eot, eot + 1, ev.end());
}

// Reorders one tick [begin, end) of the event list; deltas stay at their positions.
// `open` counts the notes per key still sounding from earlier ticks.
void ReorderTick(std::vector<MidiEvent>& ev, size_t begin, size_t end, std::map<Key, int>& open) {
  std::list<MidiEvent> order;
  auto lastOn = order.end();
  std::map<Key, std::list<MidiEvent>::iterator> firstOn, latestOn;
  std::map<Key, int> closed;
  for (size_t i = begin; i < end; ++i) {
    MidiEvent& e = ev[i];
    if (e.status == st::kNoteOn) {
      lastOn = order.insert(order.end(), std::move(e));
      firstOn.try_emplace(KeyOf(*lastOn), lastOn);
      latestOn[KeyOf(*lastOn)] = lastOn;
      continue;
    }
    if (e.status != st::kNoteOff) {
      order.push_back(std::move(e));
      continue;
    }
    const Key key = KeyOf(e);
    auto target = lastOn;
    const auto openIt = open.find(key);
    if (lastOn == order.end()) {
      if (openIt != open.end() && openIt->second > closed[key]) ++closed[key];
    } else if (openIt != open.end() && openIt->second > closed[key]) {
      // It ends an earlier note: it must not stop a new note of its key at this tick.
      ++closed[key];
      const auto same = firstOn.find(key);
      if (same != firstOn.end()) target = same->second;
    } else {
      // It ends a note of this tick (a zero-length note): keep it behind that note-on.
      const auto same = latestOn.find(key);
      if (same != latestOn.end() && same->second == lastOn) target = order.end();
    }
    order.insert(target, std::move(e));
  }

  size_t i = begin;
  for (MidiEvent& e : order) {
    const int32_t delta = ev[i].delta;
    ev[i] = std::move(e);
    ev[i].delta = delta;
    if (ev[i].status == st::kNoteOn) {
      ++open[KeyOf(ev[i])];
    } else if (ev[i].status == st::kNoteOff) {
      const auto it = open.find(KeyOf(ev[i]));
      if (it != open.end() && it->second > 0) --it->second;
    }
    ++i;
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

  // Pending note-offs by end time; of several at one tick the later note's comes first.
  struct Pending {
    int64_t end;
    size_t order;  // index of the note
    MidiEvent off;
    bool operator>(const Pending& o) const { return end != o.end ? end > o.end : order < o.order; }
  };
  std::priority_queue<Pending, std::vector<Pending>, std::greater<Pending>> pending;
  std::vector<MidiEvent> out;
  out.reserve(track.events.size() * 2);
  int64_t previous = 0;
  auto emit = [&](MidiEvent&& e, int64_t t) {
    e.delta = ClampTicks(t - previous);
    previous = t;
    out.push_back(std::move(e));
  };
  auto emitNextOff = [&] {
    emit(MidiEvent(pending.top().off), pending.top().end);
    pending.pop();
  };

  for (size_t i = 0; i < track.events.size(); ++i) {
    MidiEvent& e = track.events[i];
    if (e.status == st::kDisabled) continue;
    // A note's release comes before whatever else happens at its end tick.
    while (!pending.empty() && pending.top().end <= at[i]) {
      emitNextOff();
    }
    if (e.status != st::kNote) {
      emit(std::move(e), at[i]);
      continue;
    }
    const int64_t length = std::max(e.duration, 0);
    e.status = st::kNoteOn;
    e.duration = 0;
    MidiEvent off = MakeNoteOff(e);
    emit(std::move(e), at[i]);
    if (length == 0) {
      emit(std::move(off), at[i]);  // a zero-length note: released right after it starts
    } else {
      pending.push({at[i] + length, i, std::move(off)});
    }
  }
  while (!pending.empty()) {
    emitNextOff();
  }
  track.events = std::move(out);
  EndOfTrackLast(track);
  track.state = ts::kEvents;
  NoteOffsBeforeNoteOns(ctx, track);
}

void NoteOffsBeforeNoteOns(MidiContext& ctx, MidiTrack& track) {
  if (!RequireState(ctx, track, ts::kEvents)) return;
  auto& ev = track.events;
  std::map<Key, int> open;
  size_t begin = 0;
  while (begin < ev.size()) {
    size_t end = begin + 1;
    while (end < ev.size() && ev[end].delta == 0) ++end;
    ReorderTick(ev, begin, end, open);
    begin = end;
  }
}

}  // namespace velorna
