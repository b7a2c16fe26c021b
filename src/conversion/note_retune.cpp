#include "conversion/note_retune.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "base/library_error.h"
#include "conversion/channel_setup.h"
#include "midi/song_edit.h"

namespace velorna {

namespace {

std::vector<int64_t> AbsoluteTimes(const MidiTrack& track) {
  std::vector<int64_t> times(track.events.size());
  int64_t now = 0;
  for (size_t k = 0; k < times.size(); ++k) {
    now += track.events[k].delta;
    times[k] = now;
  }
  return times;
}

// The channel's set-up that applies to a note at time t: its events up to t.
ChannelSetup SetupAt(const MidiTrack& track, const std::vector<int64_t>& times, int ch, int64_t t) {
  ChannelSetup setup;
  for (size_t k = 0; k < times.size() && times[k] <= t; ++k) {
    if (track.events[k].channel == ch) setup.Apply(track.events[k]);
  }
  return setup;
}

int64_t WindowEnd(const MidiTrack& track, const std::vector<int64_t>& times, int ch,
                  int64_t noteEnd) {
  SoundingWindow window(noteEnd);
  for (size_t k = 0; k < times.size(); ++k) {
    if (track.events[k].channel == ch && !window.Feed(track.events[k], times[k])) break;
  }
  return window.End(times.empty() ? noteEnd : times.back());
}

// Inserts e at `index` at the time of the event standing there.
bool InsertBefore(MidiContext& ctx, MidiTrack& track, size_t index, MidiEvent e) {
  if (track.count() >= track.maxEvents()) {
    ShowMdtkError(*ctx.reporter, code::kMdtkTooMuchData);
    return false;
  }
  e.delta = track.events[index].delta;
  track.events[index].delta = 0;
  track.events.insert(track.events.begin() + static_cast<ptrdiff_t>(index), std::move(e));
  return true;
}

// Inserts e right behind `index`, at the same time.
bool InsertBehind(MidiContext& ctx, MidiTrack& track, size_t index, MidiEvent e) {
  if (track.count() >= track.maxEvents()) {
    ShowMdtkError(*ctx.reporter, code::kMdtkTooMuchData);
    return false;
  }
  e.delta = 0;
  track.events.insert(track.events.begin() + static_cast<ptrdiff_t>(index) + 1, std::move(e));
  return true;
}

std::ptrdiff_t LastBendAt(const MidiTrack& track, int64_t time, int channel) {
  std::ptrdiff_t found = -1;
  int64_t now = 0;
  for (size_t k = 0; k < track.events.size(); ++k) {
    now += track.events[k].delta;
    if (now > time) break;
    const MidiEvent& e = track.events[k];
    if (now == time && e.channel == channel && e.status == st::kPitchBend) {
      found = static_cast<std::ptrdiff_t>(k);
    }
  }
  return found;
}

}  // namespace

NoteRetuning DescribeRetuning(const MidiFormat0Data& song, int32_t i, int64_t t,
                              const CentTable& cents) {
  const std::vector<int64_t> times = AbsoluteTimes(*song.track);
  const MidiEvent& note = song.track->events[static_cast<size_t>(i)];
  return SetupAt(*song.track, times, note.channel, t).RetuningOf(note, cents);
}

int BendOffset(int cents, double sensitivity) {
  int64_t rangeCents = std::llround(sensitivity * 100.0);
  if (rangeCents <= 0) rangeCents = 200;
  // Integer division truncates toward zero, as the offset must.
  return static_cast<int>(-(int64_t{8191} * cents) / rangeCents);
}

int BendValue(int base, int cents, double sensitivity) {
  return ClampBend(int64_t{base} - BendOffset(cents, sensitivity));
}

double FindBendSensitivity(const MidiFormat0Data& song, int channel, int64_t time) {
  if (!song.track) return 0;
  BendRangeRegisters range;
  int64_t now = 0;
  for (const MidiEvent& e : song.track->events) {
    now += e.delta;
    if (now > time) break;
    if (e.status == st::kControl && e.channel == channel) range.Apply(e);
  }
  return range.Sensitivity();
}

void SetPitchBendAt(MidiContext& ctx, MidiTrack& track, int msb, int lsb, int64_t time,
                    int channel) {
  std::ptrdiff_t lastBend = -1;
  std::ptrdiff_t lastReset = -1;
  std::ptrdiff_t firstNote = -1;
  int64_t now = 0;
  for (size_t k = 0; k < track.events.size(); ++k) {
    now += track.events[k].delta;
    if (now > time) break;
    const MidiEvent& e = track.events[k];
    if (now < time || e.channel != channel) continue;
    const auto at = static_cast<std::ptrdiff_t>(k);
    if (e.status == st::kPitchBend) lastBend = at;
    if (IsControl(e, cc::kResetAll)) lastReset = at;
    if ((e.status == st::kNote || e.status == st::kNoteOn) && firstNote < 0) firstNote = at;
  }
  if (lastBend >= 0 && lastBend > lastReset) {
    track.events[static_cast<size_t>(lastBend)].value = msb;
    track.events[static_cast<size_t>(lastBend)].note = lsb;
    return;
  }
  MidiEvent bend = MakeBend(channel, 0);
  bend.value = msb;
  bend.note = lsb;
  // Behind a reset of all controllers, which would undo it, and in front of the tick's notes.
  if (firstNote > lastReset) {
    InsertBefore(ctx, track, static_cast<size_t>(firstNote), std::move(bend));
  } else if (lastReset >= 0) {
    InsertBehind(ctx, track, static_cast<size_t>(lastReset), std::move(bend));
  } else {
    InsertEventAtTime(ctx, std::move(bend), track, time, 1);
  }
}

std::unique_ptr<MidiFormat0Data> BuildSingleNoteCopy(MidiContext& ctx, const MidiFormat0Data& song,
                                                     int32_t i, int64_t t, const CentTable& cents) {
  const MidiTrack* source = song.track.get();
  if (!source || source->state != ts::kNotes || i < 0 || i >= source->count() ||
      source->events[static_cast<size_t>(i)].status != st::kNote) {
    ShowMdtkError(*ctx.reporter, code::kMdtkInternal);
    return nullptr;
  }
  const std::vector<int64_t> times = AbsoluteTimes(*source);
  const MidiEvent& note = source->events[static_cast<size_t>(i)];
  const int ch = note.channel;
  const int64_t end = WindowEnd(*source, times, ch, t + std::max(note.duration, 0));
  const NoteRetuning retuning = SetupAt(*source, times, ch, t).RetuningOf(note, cents);
  const bool rhythm = retuning.rhythmPart;
  const int offset = retuning.offset;
  auto shift = [offset](int bend) { return ClampBend(int64_t{bend} - offset); };

  auto copy = std::make_unique<MidiFormat0Data>();
  copy->division = song.division;
  copy->state = song.state;
  copy->track = std::make_unique<MidiTrack>();
  MidiTrack& track = *copy->track;
  track.state = ts::kNotes;

  const size_t n = source->events.size();
  const size_t noteIndex = static_cast<size_t>(i);
  const bool endsWithEndOfTrack = source->events.back().IsEndOfTrack();
  if (!endsWithEndOfTrack) ctx.reporter->ShowText("err3");
  int64_t last = 0;
  auto append = [&](const MidiEvent& e, int64_t time) {
    MidiEvent kept = e;
    kept.delta = DeltaBetween(last, time);
    last = time;
    return AppendEvent(ctx, track, std::move(kept));
  };
  // The note goes behind every other event kept at its tick, so that the tick's set-up,
  // and then the retuning, stand in front of it.
  bool notePending = true;
  auto flushNote = [&] {
    if (notePending) append(note, t);
    notePending = false;
  };
  for (size_t k = 0; k < n; ++k) {
    const MidiEvent& e = source->events[k];
    if (k + 1 == n && endsWithEndOfTrack) {
      flushNote();
      append(e, std::max(end, last));
      break;
    }
    if (k == noteIndex) continue;
    const bool keep = e.status != st::kNote && e.status != st::kDisabled &&
                      (e.channel == ch || e.channel == kNoChannel) &&
                      (k < noteIndex || times[k] <= end);
    if (!keep) continue;
    if (k > noteIndex && times[k] > t) flushNote();
    const bool ownChannel = !rhythm && e.channel == ch;
    if (ownChannel && e.status == st::kPitchBend) {
      // A bend at the note's tick is part of the base; the retuning bend replaces it.
      if (times[k] == t) continue;
      if (times[k] > t) {
        MidiEvent shifted = e;
        SetBend(shifted, shift(BendOf(e)));
        if (!append(shifted, times[k])) break;
        continue;
      }
    }
    if (!append(e, times[k])) break;
    // A reset inside the window re-centres the bend; the note must stay retuned.
    if (ownChannel && times[k] > t && IsControl(e, cc::kResetAll)) {
      append(MakeBend(ch, shift(kCentreBend)), times[k]);
    }
  }
  flushNote();
  AddRetuningBend(ctx, track, retuning, t, ch);
  return copy;
}

void AddRetuningBend(MidiContext& ctx, MidiTrack& copy, const NoteRetuning& retuning, int64_t t,
                     int channel) {
  if (retuning.rhythmPart) return;
  const int bend = retuning.bend;
  SetPitchBendAt(ctx, copy, bend >> 7, bend & 127, t, channel);
  if (retuning.defaultRange) {
    // In front of the retuning bend: behind the End of Track it would come too late.
    const std::ptrdiff_t at = LastBendAt(copy, t, channel);
    if (at >= 0) {
      const size_t b = static_cast<size_t>(at);
      InsertBefore(ctx, copy, b, MakeControlChange(channel, 6, 2));
      InsertBefore(ctx, copy, b, MakeControlChange(channel, 100, 0));
      InsertBefore(ctx, copy, b, MakeControlChange(channel, 101, 0));
    }
  }
}

}  // namespace velorna
