#include "conversion/note_retune.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "base/library_error.h"
#include "midi/song_edit.h"

namespace velorna {

namespace {

namespace cc {
constexpr uint32_t kDataEntryMsb = 6;
constexpr uint32_t kDataEntryLsb = 38;
constexpr uint32_t kSustain = 64;
constexpr uint32_t kSostenuto = 66;
constexpr uint32_t kNrpnLsb = 98;
constexpr uint32_t kNrpnMsb = 99;
constexpr uint32_t kRpnLsb = 100;
constexpr uint32_t kRpnMsb = 101;
constexpr uint32_t kResetAll = 121;
}  // namespace cc

constexpr int kRegisterNull = 127;
constexpr int kPedalDown = 64;
constexpr size_t kRhythmMapByte = 9;

bool IsControl(const MidiEvent& e, uint32_t controller) {
  return e.status == st::kControl && e.kind == controller;
}

int BendOf(const MidiEvent& e) {
  return e.value * 128 + e.note;
}

void SetBend(MidiEvent& e, int bend) {
  e.value = bend >> 7;
  e.note = bend & 127;
}

int ClampBend(int64_t bend) {
  return static_cast<int>(std::clamp<int64_t>(bend, 0, kMaxBend));
}

std::vector<int64_t> AbsoluteTimes(const MidiTrack& track) {
  std::vector<int64_t> times(track.events.size());
  int64_t now = 0;
  for (size_t k = 0; k < times.size(); ++k) {
    now += track.events[k].delta;
    times[k] = now;
  }
  return times;
}

// Set-up that applies to a note at time t on channel ch (the note itself is no set-up).
bool AppliesAt(const MidiEvent& e, int64_t time, int ch, int64_t t) {
  if (e.channel != ch && e.channel != kNoChannel) return false;
  if (e.status == st::kNote || e.status == st::kDisabled) return false;
  return time <= t;
}

bool IsRhythmPart(const MidiTrack& track, const std::vector<int64_t>& times, int ch, int64_t t) {
  int map = 0;
  for (size_t k = 0; k < times.size() && times[k] <= t; ++k) {
    const MidiEvent& e = track.events[k];
    if (e.status != st::kSysEx || e.kind != sysex::kRhythmPart || e.channel != ch) continue;
    map = e.data.size() > kRhythmMapByte ? e.data[kRhythmMapByte] : e.value;
  }
  return map != 0;
}

int BaseBend(const MidiTrack& track, const std::vector<int64_t>& times, int ch, int64_t t) {
  int base = kCentreBend;
  for (size_t k = 0; k < times.size() && times[k] <= t; ++k) {
    const MidiEvent& e = track.events[k];
    if (e.channel != ch || !AppliesAt(e, times[k], ch, t)) continue;
    if (e.status == st::kPitchBend) base = BendOf(e);
    if (IsControl(e, cc::kResetAll)) base = kCentreBend;
  }
  return base;
}

// Where the note stops sounding: its end, or, with a sustain or sostenuto pedal held there,
// the first release of that pedal (the song's end when it is never released).
int64_t WindowEnd(const MidiTrack& track, const std::vector<int64_t>& times, int ch,
                  int64_t noteEnd) {
  bool held[2] = {false, false};
  auto pedal = [](const MidiEvent& e) {
    return IsControl(e, cc::kSustain) ? 0 : IsControl(e, cc::kSostenuto) ? 1 : -1;
  };
  size_t k = 0;
  for (; k < times.size() && times[k] <= noteEnd; ++k) {
    const MidiEvent& e = track.events[k];
    if (e.channel != ch) continue;
    if (const int p = pedal(e); p >= 0) held[p] = e.value >= kPedalDown;
    if (IsControl(e, cc::kResetAll)) held[0] = held[1] = false;
  }
  int64_t end = noteEnd;
  for (; k < times.size() && (held[0] || held[1]); ++k) {
    const MidiEvent& e = track.events[k];
    if (e.channel != ch) continue;
    const int p = pedal(e);
    const bool reset = IsControl(e, cc::kResetAll);
    if (reset || (p >= 0 && held[p] && e.value < kPedalDown)) {
      end = times[k];
      if (reset)
        held[0] = held[1] = false;
      else
        held[p] = false;
    }
  }
  if (held[0] || held[1]) end = std::max(end, times.empty() ? end : times.back());
  return end;
}

MidiEvent MakeBend(int channel, int bend) {
  MidiEvent e;
  e.status = st::kPitchBend;
  e.channel = channel;
  SetBend(e, bend);
  return e;
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

int32_t DeltaBetween(int64_t from, int64_t to) {
  return static_cast<int32_t>(
      std::clamp<int64_t>(to - from, 0, std::numeric_limits<int32_t>::max()));
}

NoteRetuning Describe(const MidiFormat0Data& song, const std::vector<int64_t>& times,
                      const MidiEvent& note, int64_t t, const CentTable& cents) {
  NoteRetuning r;
  const int ch = note.channel;
  r.rhythmPart = IsRhythmPart(*song.track, times, ch, t);
  r.sensitivity = FindBendSensitivity(song, ch, t);
  r.defaultRange = r.sensitivity <= 0;
  if (r.defaultRange) r.sensitivity = 2;
  r.offset = BendOffset(cents[static_cast<size_t>(((note.note % 12) + 12) % 12)], r.sensitivity);
  r.baseBend = BaseBend(*song.track, times, ch, t);
  r.bend = ClampBend(int64_t{r.baseBend} - r.offset);
  return r;
}

}  // namespace

NoteRetuning DescribeRetuning(const MidiFormat0Data& song, int32_t i, int64_t t,
                              const CentTable& cents) {
  const std::vector<int64_t> times = AbsoluteTimes(*song.track);
  return Describe(song, times, song.track->events[static_cast<size_t>(i)], t, cents);
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
  // The registers start null, as in a synthesizer after power-on.
  int rpnMsb = kRegisterNull;
  int rpnLsb = kRegisterNull;
  bool nrpnSelected = false;
  int semitones = -1;  // none set
  int cents = 0;
  int64_t now = 0;
  for (const MidiEvent& e : song.track->events) {
    now += e.delta;
    if (now > time) break;
    if (e.status != st::kControl || e.channel != channel) continue;
    const bool rangeSelected = !nrpnSelected && rpnMsb == 0 && rpnLsb == 0;
    switch (e.kind) {
      case cc::kRpnMsb:
        rpnMsb = e.value;
        nrpnSelected = false;
        break;
      case cc::kRpnLsb:
        rpnLsb = e.value;
        nrpnSelected = false;
        break;
      case cc::kNrpnMsb:
      case cc::kNrpnLsb:
        nrpnSelected = true;
        break;
      case cc::kResetAll:
        rpnMsb = rpnLsb = kRegisterNull;
        nrpnSelected = false;
        break;
      case cc::kDataEntryMsb:
        if (rangeSelected) {
          semitones = e.value;
          cents = 0;
        }
        break;
      case cc::kDataEntryLsb:
        if (rangeSelected) {
          if (semitones < 0) semitones = 2;  // the synthesizer's own range
          cents = e.value;
        }
        break;
      default:
        break;
    }
  }
  if (semitones < 0) return 0;
  return semitones + cents / 100.0;
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
  const NoteRetuning retuning = Describe(song, times, note, t, cents);
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
