#include "conversion/note_retune.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <set>
#include <vector>

#include "audio/render_synth.h"

namespace velorna {

namespace {

bool IsNote(const SongNoteIndex& index, int32_t i) {
  const MidiTrack* source = index.song ? index.song->track.get() : nullptr;
  return source && source->state == ts::kNotes && i >= 0 && i < source->count() &&
         source->events[static_cast<size_t>(i)].status == st::kNote;
}

// What the note's channel has set up by its time t.
ChannelSetup SetupAt(const SongNoteIndex& index, int ch, int64_t t) {
  const auto& events = index.song->track->events;
  const bool indexed = !index.fullScan && ch >= 0 && ch < kMidiChannels;
  ChannelSetup setup;
  for (const int32_t k : indexed ? index.channelEvents[static_cast<size_t>(ch)] : index.scan) {
    const auto at = static_cast<size_t>(k);
    if (index.times[at] > t) break;
    if (events[at].channel == ch) setup.Apply(events[at]);
  }
  return setup;
}

// The note's place in the index's key lists; none for a note off the channels and keys.
std::optional<size_t> KeySlot(const MidiEvent& note) {
  if (note.channel < 0 || note.channel >= kMidiChannels || note.note < 0 || note.note >= kKeyCount)
    return std::nullopt;
  return static_cast<size_t>(note.channel * kKeyCount + note.note);
}

// The first tick of a sorted list after t, or `otherwise` when that comes first.
int64_t FirstAfter(const std::vector<int64_t>& ticks, int64_t t, int64_t otherwise) {
  const auto it = std::upper_bound(ticks.begin(), ticks.end(), t);
  return it == ticks.end() ? otherwise : std::min(*it, otherwise);
}

// A note of the sweep for the polyphony cap: from its start to the end of its window.
struct SoundingNote {
  int64_t start = 0;
  int64_t end = 0;
  int32_t at = 0;  // event position
};

// The window ends of a channel's notes (their `end` holding the release on entry), with the
// pedals followed once through the channel's events: the notes whose window is still open
// share one window per set of pedals held.
void ExtendByPedals(const SongNoteIndex& index, int ch, std::vector<SoundingNote>& notes,
                    std::vector<size_t> ofChannel) {
  const auto& events = index.song->track->events;
  const int64_t songEnd = index.times.empty() ? 0 : index.times.back();
  std::sort(ofChannel.begin(), ofChannel.end(),
            [&](size_t a, size_t b) { return notes[a].end < notes[b].end; });
  struct Group {
    SoundingWindow window;
    std::vector<size_t> members;
  };
  std::vector<Group> open;
  SoundingWindow pedals(std::numeric_limits<int64_t>::max());
  size_t next = 0;
  const auto openUntil = [&](int64_t time) {
    for (; next < ofChannel.size() && notes[ofChannel[next]].end < time; ++next) {
      if (!pedals.Held()) continue;
      const size_t n = ofChannel[next];
      const auto same = std::find_if(open.begin(), open.end(),
                                     [&](const Group& g) { return g.window.HoldsAs(pedals); });
      if (same != open.end()) {
        same->members.push_back(n);
      } else {
        open.push_back({pedals.Opened(notes[n].end), {n}});
      }
    }
  };
  const auto close = [&](const Group& g) {
    for (const size_t n : g.members) notes[n].end = g.window.End(songEnd);
  };
  for (const int32_t k : index.channelEvents[static_cast<size_t>(ch)]) {
    const auto at = static_cast<size_t>(k);
    if (events[at].channel != ch) continue;
    const int64_t time = index.times[at];
    openUntil(time);
    for (size_t g = 0; g < open.size();) {
      if (!open[g].window.Feed(events[at], time)) {
        close(open[g]);
        open.erase(open.begin() + static_cast<ptrdiff_t>(g));
        continue;
      }
      // Windows holding the same pedals end together from here on.
      const auto earlier =
          std::find_if(open.begin(), open.begin() + static_cast<ptrdiff_t>(g),
                       [&](const Group& o) { return o.window.HoldsAs(open[g].window); });
      if (earlier != open.begin() + static_cast<ptrdiff_t>(g)) {
        earlier->members.insert(earlier->members.end(), open[g].members.begin(),
                                open[g].members.end());
        open.erase(open.begin() + static_cast<ptrdiff_t>(g));
        continue;
      }
      ++g;
    }
    pedals.Feed(events[at], time);
  }
  openUntil(std::numeric_limits<int64_t>::max());
  for (const Group& g : open) close(g);
}

// At each note-on, with the polyphony's worth of notes still sounding, the oldest of them
// (the earliest start, then the earliest in the song) is cut there.
std::vector<std::pair<int32_t, int64_t>> StolenNotes(const SongNoteIndex& index) {
  const auto& events = index.song->track->events;
  std::vector<SoundingNote> notes;
  std::array<std::vector<size_t>, kMidiChannels> byChannel;
  for (size_t k = 0; k < events.size(); ++k) {
    const MidiEvent& e = events[k];
    // Notes off the sixteen channels come only with a song whose time runs backward.
    if (e.status != st::kNote || e.channel == kDrumChannel || e.channel < 0 ||
        e.channel >= kMidiChannels) {
      continue;
    }
    const auto at = static_cast<int32_t>(k);
    byChannel[static_cast<size_t>(e.channel)].push_back(notes.size());
    notes.push_back({index.times[k], ReleaseTick(index, at), at});
  }
  if (notes.size() <= static_cast<size_t>(kRenderPolyphony)) return {};
  // A song whose time runs backward has no channel lists to follow: its notes end at release.
  if (!index.fullScan) {
    for (int ch = 0; ch < kMidiChannels; ++ch)
      ExtendByPedals(index, ch, notes, byChannel[static_cast<size_t>(ch)]);
  }
  std::stable_sort(notes.begin(), notes.end(),
                   [](const SoundingNote& a, const SoundingNote& b) { return a.start < b.start; });
  std::vector<std::pair<int32_t, int64_t>> stolen;
  std::set<std::pair<int64_t, size_t>> byEnd, byStart;  // of the notes sounding
  for (size_t n = 0; n < notes.size(); ++n) {
    const int64_t now = notes[n].start;
    // Notes ending at this tick are off before it starts: the writer puts note-offs first.
    while (!byEnd.empty() && byEnd.begin()->first <= now) {
      byStart.erase({notes[byEnd.begin()->second].start, byEnd.begin()->second});
      byEnd.erase(byEnd.begin());
    }
    if (byStart.size() >= static_cast<size_t>(kRenderPolyphony)) {
      const size_t oldest = byStart.begin()->second;
      stolen.emplace_back(notes[oldest].at, now);
      byStart.erase(byStart.begin());
      byEnd.erase({notes[oldest].end, oldest});
    }
    if (notes[n].end > now) {
      byStart.emplace(now, n);
      byEnd.emplace(notes[n].end, n);
    }
  }
  std::sort(stolen.begin(), stolen.end());
  return stolen;
}

}  // namespace

std::unique_ptr<SongNoteIndex> IndexSong(const MidiFormat0Data& song,
                                         std::shared_ptr<const SoundFontPitch> pitch) {
  const MidiTrack* track = song.track.get();
  if (!track || track->state != ts::kNotes) return nullptr;
  auto index = std::make_unique<SongNoteIndex>();
  index->song = &song;
  index->pitch = std::move(pitch);
  const size_t n = track->events.size();
  index->times.resize(n);
  index->endsWithEndOfTrack = n > 0 && track->events.back().IsEndOfTrack();
  const size_t listed = index->endsWithEndOfTrack ? n - 1 : n;
  index->keyOns.resize(size_t{kMidiChannels} * kKeyCount);
  index->keyOffs.resize(index->keyOns.size());
  index->clock = SongClock(song.division);
  int64_t now = 0;
  for (size_t k = 0; k < n; ++k) {
    const MidiEvent& e = track->events[k];
    index->fullScan = index->fullScan || e.delta < 0 ||
                      (e.status == st::kNote && (e.channel < 0 || e.channel >= kMidiChannels));
    now += e.delta;
    index->times[k] = now;
    if (e.status == st::kMeta && e.kind == meta::kTempo) index->clock.AddTempo(now, e.value);
    if (const auto slot = KeySlot(e); slot && e.status == st::kNote) {
      index->keyOns[*slot].emplace_back(now, static_cast<int32_t>(k));
      index->keyOffs[*slot].push_back(now + std::max(e.duration, 0));
    }
    if (e.status == st::kNote || e.status == st::kDisabled || k == listed) continue;
    const auto at = static_cast<int32_t>(k);
    if (e.channel == kNoChannel) {
      index->sharedEvents.push_back(at);
    } else if (e.channel >= 0 && e.channel < kMidiChannels) {
      index->channelEvents[static_cast<size_t>(e.channel)].push_back(at);
    }
  }
  for (auto& ons : index->keyOns) std::sort(ons.begin(), ons.end());
  for (auto& ticks : index->keyOffs) std::sort(ticks.begin(), ticks.end());
  if (index->fullScan) {
    index->channelEvents = {};
    index->sharedEvents.clear();
    index->scan.resize(listed);
    for (size_t k = 0; k < listed; ++k) index->scan[k] = static_cast<int32_t>(k);
  }
  index->stolen = StolenNotes(*index);
  return index;
}

int64_t ReleaseTick(const SongNoteIndex& index, int32_t i) {
  if (!IsNote(index, i)) return 0;
  const MidiEvent& note = index.song->track->events[static_cast<size_t>(i)];
  const int64_t t = index.times[static_cast<size_t>(i)];
  if (note.releasedAtStart) return t;
  const int64_t end = t + std::max(note.duration, 0);
  const auto slot = KeySlot(note);
  if (!slot) return end;
  // At one tick the writer puts note-offs before note-ons: only later ones release the note.
  // A note-on of the same key later in the song releases it, even at the same tick.
  const auto& ons = index.keyOns[*slot];
  const auto restruck = std::upper_bound(ons.begin(), ons.end(), std::pair{t, i});
  const int64_t struck = restruck == ons.end() ? end : std::min(restruck->first, end);
  return FirstAfter(index.keyOffs[*slot], t, struck);
}

std::optional<int64_t> StolenTick(const SongNoteIndex& index, int32_t i) {
  const auto it = std::lower_bound(index.stolen.begin(), index.stolen.end(),
                                   std::pair{i, std::numeric_limits<int64_t>::min()});
  if (it == index.stolen.end() || it->first != i) return std::nullopt;
  return it->second;
}

NoteRetuning DescribeRetuning(const SongNoteIndex& index, int32_t i, const Tuning& tuning) {
  if (!IsNote(index, i)) return NoteRetuning{};
  const MidiEvent& note = index.song->track->events[static_cast<size_t>(i)];
  return SetupAt(index, note.channel, index.times[static_cast<size_t>(i)])
      .RetuningOf(note, TargetOf(tuning, i, note.note), index.pitch.get(), index.plainBend);
}

}  // namespace velorna
