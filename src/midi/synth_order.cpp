#include "midi/synth_order.h"

#include <algorithm>
#include <list>
#include <queue>

namespace velorna {

namespace {

using Key = std::pair<int32_t, int32_t>;  // channel, note

Key KeyOf(const MidiEvent& e) {
  return {e.channel, e.note};
}

MidiEvent& EventOf(MidiEvent& e) {
  return e;
}
MidiEvent& EventOf(TickedEvent& e) {
  return e.event;
}

// Reorders the notes of one tick [begin, end): whole elements move.
template <class Element>
void ReorderTick(std::vector<Element>& ev, size_t begin, size_t end, OpenNotes& open) {
  std::list<Element> order;
  auto lastOn = order.end();
  std::map<Key, typename std::list<Element>::iterator> firstOn, latestOn;
  std::map<Key, int> closed;
  for (size_t i = begin; i < end; ++i) {
    const MidiEvent& e = EventOf(ev[i]);
    if (e.status == st::kNoteOn) {
      lastOn = order.insert(order.end(), std::move(ev[i]));
      firstOn.try_emplace(KeyOf(EventOf(*lastOn)), lastOn);
      latestOn[KeyOf(EventOf(*lastOn))] = lastOn;
      continue;
    }
    if (e.status != st::kNoteOff) {
      order.push_back(std::move(ev[i]));
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
    order.insert(target, std::move(ev[i]));
  }
  size_t i = begin;
  for (Element& element : order) {
    ev[i] = std::move(element);
    const MidiEvent& e = EventOf(ev[i]);
    if (e.status == st::kNoteOn) {
      ++open[KeyOf(e)];
    } else if (e.status == st::kNoteOff) {
      const auto it = open.find(KeyOf(e));
      if (it != open.end() && it->second > 0) --it->second;
    }
    ++i;
  }
}

// Calls `each(begin, end)` for every run of events at one tick.
template <class Each>
void ForEachTick(const std::vector<TickedEvent>& events, Each each) {
  for (size_t begin = 0; begin < events.size();) {
    size_t end = begin + 1;
    while (end < events.size() && events[end].tick == events[begin].tick) ++end;
    each(begin, end);
    begin = end;
  }
}

void OrderNotes(std::vector<TickedEvent>& events) {
  OpenNotes open;
  ForEachTick(events, [&](size_t begin, size_t end) { ReorderTick(events, begin, end, open); });
}

MidiEvent NoteOffOf(const MidiEvent& note) {
  MidiEvent off;
  off.status = st::kNoteOff;
  off.note = note.note;
  off.channel = note.channel;
  off.velocity = 64;
  return off;
}

}  // namespace

TickRank RankInTick(const MidiEvent& e) {
  if (e.status == st::kSysEx || e.status == st::kEscape) return TickRank::kSysEx;
  if (e.status == st::kNoteOn || e.status == st::kNoteOff) return TickRank::kNote;
  if (e.IsEndOfTrack()) return TickRank::kEndOfTrack;
  return TickRank::kSetUp;
}

void OrderNotesOfTick(std::vector<MidiEvent>& events, size_t begin, size_t end, OpenNotes& open) {
  std::vector<int32_t> deltas;
  deltas.reserve(end - begin);
  for (size_t i = begin; i < end; ++i) deltas.push_back(events[i].delta);
  ReorderTick(events, begin, end, open);
  for (size_t i = begin; i < end; ++i) events[i].delta = deltas[i - begin];
}

std::vector<TickedEvent> SplitNotes(std::vector<TickedEvent> notes) {
  // Pending note-offs by end tick; of several at one tick the later note's comes first.
  struct Pending {
    int64_t end;
    size_t order;
    MidiEvent off;
    int32_t source;
    bool operator>(const Pending& o) const { return end != o.end ? end > o.end : order < o.order; }
  };
  std::priority_queue<Pending, std::vector<Pending>, std::greater<Pending>> pending;
  std::vector<TickedEvent> out;
  out.reserve(notes.size() * 2);
  const auto emitNextOff = [&] {
    out.push_back({pending.top().end, pending.top().off, pending.top().source});
    pending.pop();
  };
  for (size_t i = 0; i < notes.size(); ++i) {
    MidiEvent& e = notes[i].event;
    const int64_t t = notes[i].tick;
    const int32_t source = notes[i].source;
    if (e.status == st::kDisabled || (e.status == st::kNote && e.velocity == 0)) continue;
    while (!pending.empty() && pending.top().end <= t) emitNextOff();
    if (e.status != st::kNote) {
      out.push_back({t, std::move(e), source});
      continue;
    }
    const int64_t length = std::max(e.duration, 0);
    e.status = st::kNoteOn;
    e.duration = 0;
    MidiEvent off = NoteOffOf(e);
    out.push_back({t, std::move(e), source});
    if (length == 0) {
      out.push_back({t, std::move(off), source});
    } else {
      pending.push({t + length, i, std::move(off), source});
    }
  }
  while (!pending.empty()) emitNextOff();
  // The End of Track closes the list, at the tick of the last event.
  const auto eot = std::find_if(out.begin(), out.end(),
                                [](const TickedEvent& e) { return e.event.IsEndOfTrack(); });
  if (eot != out.end() && eot + 1 != out.end()) {
    const int64_t last = out.back().tick;
    std::rotate(eot, eot + 1, out.end());
    out.back().tick = last;
  }
  OrderNotes(out);
  return out;
}

std::vector<TickedEvent> InSynthOrder(std::vector<TickedEvent> notes) {
  std::vector<TickedEvent> events = SplitNotes(std::move(notes));
  ForEachTick(events, [&](size_t begin, size_t end) {
    std::stable_sort(events.begin() + static_cast<ptrdiff_t>(begin),
                     events.begin() + static_cast<ptrdiff_t>(end),
                     [](const TickedEvent& a, const TickedEvent& b) {
                       return RankInTick(a.event) < RankInTick(b.event);
                     });
  });
  // Once more with the set-up in front: the notes' order is settled on their own.
  OrderNotes(events);
  return events;
}

}  // namespace velorna
