#include "conversion/note_index.h"

#include <algorithm>
#include <limits>

#include "base/library_error.h"
#include "conversion/channel_setup.h"
#include "midi/song_edit.h"

namespace velorna {

namespace {

// What the note's channel has set up by t: one pass over the channel's own events.
NoteRetuning DescribeFromIndex(const SongNoteIndex& index, const std::vector<int32_t>& channel,
                               const MidiEvent& note, int64_t t, const CentTable& cents) {
  const auto& events = index.song->track->events;
  ChannelSetup setup;
  for (const int32_t k : channel) {
    if (index.times[static_cast<size_t>(k)] > t) break;
    setup.Apply(events[static_cast<size_t>(k)]);
  }
  return setup.RetuningOf(note, cents);
}

int64_t WindowEndFromIndex(const SongNoteIndex& index, const std::vector<int32_t>& channel,
                           int64_t noteEnd) {
  const auto& events = index.song->track->events;
  SoundingWindow window(noteEnd);
  for (const int32_t k : channel) {
    const auto at = static_cast<size_t>(k);
    if (!window.Feed(events[at], index.times[at])) break;
  }
  return window.End(index.times.empty() ? noteEnd : index.times.back());
}

}  // namespace

std::unique_ptr<SongNoteIndex> IndexSong(const MidiFormat0Data& song) {
  const MidiTrack* track = song.track.get();
  if (!track || track->state != ts::kNotes) return nullptr;
  auto index = std::make_unique<SongNoteIndex>();
  index->song = &song;
  const size_t n = track->events.size();
  index->times.resize(n);
  index->endsWithEndOfTrack = n > 0 && track->events.back().IsEndOfTrack();
  int64_t now = 0;
  for (size_t k = 0; k < n; ++k) {
    const MidiEvent& e = track->events[k];
    // The kept events of a copy form a prefix of each list only while time runs forward.
    if (e.delta < 0) return nullptr;
    now += e.delta;
    index->times[k] = now;
    if (e.status == st::kNote || e.status == st::kDisabled) continue;
    if (k + 1 == n && index->endsWithEndOfTrack) continue;
    const auto at = static_cast<int32_t>(k);
    if (e.channel == kNoChannel) {
      index->sharedEvents.push_back(at);
    } else if (e.channel >= 0 && e.channel < 16) {
      index->channelEvents[static_cast<size_t>(e.channel)].push_back(at);
    }
  }
  return index;
}

std::unique_ptr<MidiFormat0Data> BuildIndexedNoteCopy(MidiContext& ctx, const SongNoteIndex& index,
                                                      int32_t i, const CentTable& cents) {
  const MidiFormat0Data& song = *index.song;
  const MidiTrack* source = song.track.get();
  if (!source || source->state != ts::kNotes || i < 0 || i >= source->count() ||
      source->events[static_cast<size_t>(i)].status != st::kNote) {
    ShowMdtkError(*ctx.reporter, code::kMdtkInternal);
    return nullptr;
  }
  const size_t noteIndex = static_cast<size_t>(i);
  const MidiEvent& note = source->events[noteIndex];
  const int64_t t = index.times[noteIndex];
  const int ch = note.channel;
  if (ch < 0 || ch >= 16) return BuildSingleNoteCopy(ctx, song, i, t, cents);
  const std::vector<int32_t>& own = index.channelEvents[static_cast<size_t>(ch)];
  const std::vector<int32_t>& shared = index.sharedEvents;

  const int64_t end = WindowEndFromIndex(index, own, t + std::max(note.duration, 0));
  const NoteRetuning retuning = DescribeFromIndex(index, own, note, t, cents);
  const bool rhythm = retuning.rhythmPart;
  const int offset = retuning.offset;
  auto shift = [offset](int bend) { return ClampBend(int64_t{bend} - offset); };

  auto copy = std::make_unique<MidiFormat0Data>();
  copy->division = song.division;
  copy->state = song.state;
  copy->track = std::make_unique<MidiTrack>();
  MidiTrack& track = *copy->track;
  track.state = ts::kNotes;

  if (!index.endsWithEndOfTrack) ctx.reporter->ShowText("err3");
  int64_t last = 0;
  auto append = [&](const MidiEvent& e, int64_t time) {
    MidiEvent kept = e;
    kept.delta = DeltaBetween(last, time);
    last = time;
    return AppendEvent(ctx, track, std::move(kept));
  };
  bool notePending = true;
  auto flushNote = [&] {
    if (notePending) append(note, t);
    notePending = false;
  };
  // Both lists hold what the copy keeps as a prefix: everything before the note, then
  // what falls inside its window. They are merged in song order.
  const auto keeps = [&](int32_t k) {
    return static_cast<size_t>(k) < noteIndex || index.times[static_cast<size_t>(k)] <= end;
  };
  size_t a = 0;
  size_t b = 0;
  bool full = false;
  while (!full) {
    const bool ownNext = a < own.size() && keeps(own[a]);
    const bool sharedNext = b < shared.size() && keeps(shared[b]);
    if (!ownNext && !sharedNext) break;
    const bool takeOwn = ownNext && (!sharedNext || own[a] < shared[b]);
    const size_t k = static_cast<size_t>(takeOwn ? own[a++] : shared[b++]);
    const MidiEvent& e = source->events[k];
    const int64_t time = index.times[k];
    if (k > noteIndex && time > t) flushNote();
    const bool ownChannel = !rhythm && e.channel == ch;
    if (ownChannel && e.status == st::kPitchBend) {
      // A bend at the note's tick is part of the base; the retuning bend replaces it.
      if (time == t) continue;
      if (time > t) {
        MidiEvent shifted = e;
        SetBend(shifted, shift(BendOf(e)));
        full = !append(shifted, time);
        continue;
      }
    }
    full = !append(e, time);
    if (full) break;
    // A reset inside the window re-centres the bend; the note must stay retuned.
    if (ownChannel && time > t && IsControl(e, cc::kResetAll)) {
      append(MakeBend(ch, shift(kCentreBend)), time);
    }
  }
  if (!full && index.endsWithEndOfTrack) {
    flushNote();
    append(source->events.back(), std::max(end, last));
  }
  flushNote();
  AddRetuningBend(ctx, track, retuning, t, ch);
  return copy;
}

}  // namespace velorna
