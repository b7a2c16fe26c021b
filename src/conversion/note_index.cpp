#include "conversion/note_index.h"

#include <algorithm>
#include <limits>

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

int ClampBend(int64_t bend) {
  return static_cast<int>(std::clamp<int64_t>(bend, 0, kMaxBend));
}

// The bend range registers as a synthesizer keeps them, from power-on (all null).
struct RangeRegisters {
  int rpnMsb = kRegisterNull;
  int rpnLsb = kRegisterNull;
  bool nrpnSelected = false;
  int semitones = -1;  // none set
  int cents = 0;

  void Apply(const MidiEvent& e) {
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
  double Sensitivity() const { return semitones < 0 ? 0 : semitones + cents / 100.0; }
};

// What the note's channel has set up by t: one pass over the channel's own events.
NoteRetuning DescribeFromIndex(const SongNoteIndex& index, const std::vector<int32_t>& channel,
                               const MidiEvent& note, int64_t t, const CentTable& cents) {
  const auto& events = index.song->track->events;
  int map = 0;
  int base = kCentreBend;
  RangeRegisters range;
  for (const int32_t k : channel) {
    if (index.times[static_cast<size_t>(k)] > t) break;
    const MidiEvent& e = events[static_cast<size_t>(k)];
    if (e.status == st::kSysEx && e.kind == sysex::kRhythmPart) {
      map = e.data.size() > kRhythmMapByte ? e.data[kRhythmMapByte] : e.value;
    }
    if (e.status == st::kPitchBend) base = BendOf(e);
    if (e.status == st::kControl) {
      if (e.kind == cc::kResetAll) base = kCentreBend;
      range.Apply(e);
    }
  }
  NoteRetuning r;
  r.rhythmPart = map != 0;
  r.sensitivity = range.Sensitivity();
  r.defaultRange = r.sensitivity <= 0;
  if (r.defaultRange) r.sensitivity = 2;
  r.offset = BendOffset(cents[static_cast<size_t>(((note.note % 12) + 12) % 12)], r.sensitivity);
  r.baseBend = base;
  r.bend = ClampBend(int64_t{r.baseBend} - r.offset);
  return r;
}

// Where the note stops sounding: its end, or the release of a sustain or sostenuto pedal
// held there (the song's end when it is never released).
int64_t WindowEndFromIndex(const SongNoteIndex& index, const std::vector<int32_t>& channel,
                           int64_t noteEnd) {
  const auto& events = index.song->track->events;
  bool held[2] = {false, false};
  auto pedal = [](const MidiEvent& e) {
    return IsControl(e, cc::kSustain) ? 0 : IsControl(e, cc::kSostenuto) ? 1 : -1;
  };
  size_t p = 0;
  for (; p < channel.size() && index.times[static_cast<size_t>(channel[p])] <= noteEnd; ++p) {
    const MidiEvent& e = events[static_cast<size_t>(channel[p])];
    if (const int which = pedal(e); which >= 0) held[which] = e.value >= kPedalDown;
    if (IsControl(e, cc::kResetAll)) held[0] = held[1] = false;
  }
  int64_t end = noteEnd;
  for (; p < channel.size() && (held[0] || held[1]); ++p) {
    const size_t k = static_cast<size_t>(channel[p]);
    const MidiEvent& e = events[k];
    const int which = pedal(e);
    const bool reset = IsControl(e, cc::kResetAll);
    if (reset || (which >= 0 && held[which] && e.value < kPedalDown)) {
      end = index.times[k];
      if (reset)
        held[0] = held[1] = false;
      else
        held[which] = false;
    }
  }
  if (held[0] || held[1]) end = std::max(end, index.times.empty() ? end : index.times.back());
  return end;
}

int32_t DeltaBetween(int64_t from, int64_t to) {
  return static_cast<int32_t>(
      std::clamp<int64_t>(to - from, 0, std::numeric_limits<int32_t>::max()));
}

MidiEvent MakeBend(int channel, int bend) {
  MidiEvent e;
  e.status = st::kPitchBend;
  e.channel = channel;
  e.value = bend >> 7;
  e.note = bend & 127;
  return e;
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
        const int bend = shift(BendOf(e));
        shifted.value = bend >> 7;
        shifted.note = bend & 127;
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
