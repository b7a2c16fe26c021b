#include "conversion/note_retune.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <set>
#include <vector>

#include "audio/render_synth.h"
#include "base/library_error.h"
#include "conversion/conversion_messages.h"
#include "conversion/copy_timing.h"
#include "midi/song_edit.h"

namespace velorna {

namespace {

constexpr int64_t kNever = std::numeric_limits<int64_t>::max();
constexpr uint32_t kAllSoundOff = 120;  // the controller that stops a channel's voices at once

// Inserts e at `index` at the time of the event standing there.
[[nodiscard]] bool InsertBefore(MidiContext& ctx, MidiTrack& track, size_t index, MidiEvent e) {
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
[[nodiscard]] bool InsertBehind(MidiContext& ctx, MidiTrack& track, size_t index, MidiEvent e) {
  if (track.count() >= track.maxEvents()) {
    ShowMdtkError(*ctx.reporter, code::kMdtkTooMuchData);
    return false;
  }
  e.delta = 0;
  track.events.insert(track.events.begin() + static_cast<ptrdiff_t>(index) + 1, std::move(e));
  return true;
}

bool IsNote(const SongNoteIndex& index, int32_t i) {
  const MidiTrack* source = index.song ? index.song->track.get() : nullptr;
  return source && source->state == ts::kNotes && i >= 0 && i < source->count() &&
         source->events[static_cast<size_t>(i)].status == st::kNote;
}

// The events a copy of a note of channel `ch` may keep, in song order: the channel's own
// list merged with the channel-less one, or every event when the index scans.
class CopyFeed {
 public:
  CopyFeed(const SongNoteIndex& index, int ch) {
    const bool indexed = !index.fullScan && ch >= 0 && ch < kMidiChannels;
    own_ = indexed ? &index.channelEvents[static_cast<size_t>(ch)] : &index.scan;
    shared_ = indexed ? &index.sharedEvents : &none_;
  }
  CopyFeed(const CopyFeed&) = delete;
  CopyFeed& operator=(const CopyFeed&) = delete;
  // The positions that may be of the note's channel, for its set-up and window.
  const std::vector<int32_t>& own() const { return *own_; }
  // The next position, or -1 at the end.
  int32_t Next() {
    const bool ownLeft = a_ < own_->size();
    const bool sharedLeft = b_ < shared_->size();
    if (!ownLeft && !sharedLeft) return -1;
    if (ownLeft && (!sharedLeft || (*own_)[a_] < (*shared_)[b_])) return (*own_)[a_++];
    return (*shared_)[b_++];
  }

 private:
  const std::vector<int32_t>* own_;
  const std::vector<int32_t>* shared_;
  std::vector<int32_t> none_;
  size_t a_ = 0;
  size_t b_ = 0;
};

// What the note's channel has set up by its time t.
ChannelSetup SetupAt(const SongNoteIndex& index, const CopyFeed& feed, int ch, int64_t t) {
  const auto& events = index.song->track->events;
  ChannelSetup setup;
  for (const int32_t k : feed.own()) {
    const auto at = static_cast<size_t>(k);
    if (index.times[at] > t) break;
    if (events[at].channel == ch) setup.Apply(events[at]);
  }
  return setup;
}

int64_t WindowEnd(const SongNoteIndex& index, const CopyFeed& feed, int ch, int64_t noteEnd) {
  const auto& events = index.song->track->events;
  SoundingWindow window(noteEnd);
  for (const int32_t k : feed.own()) {
    const auto at = static_cast<size_t>(k);
    if (events[at].channel == ch && !window.Feed(events[at], index.times[at])) break;
  }
  return window.End(index.times.empty() ? noteEnd : index.times.back());
}

NoteRetuning RetuningOf(const SongNoteIndex& index, const CopyFeed& feed, int32_t i,
                        const Tuning& tuning) {
  const MidiEvent& note = index.song->track->events[static_cast<size_t>(i)];
  const int64_t t = index.times[static_cast<size_t>(i)];
  return SetupAt(index, feed, note.channel, t)
      .RetuningOf(note, TargetOf(tuning, i, note.note), index.pitch.get(), index.plainBend);
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

bool SetPitchBendAt(MidiContext& ctx, MidiTrack& track, int msb, int lsb, int64_t time,
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
    return true;
  }
  MidiEvent bend = MakeBend(channel, 0);
  bend.value = msb;
  bend.note = lsb;
  // Behind a reset of all controllers, which would undo it, and in front of the tick's notes.
  if (firstNote > lastReset)
    return InsertBefore(ctx, track, static_cast<size_t>(firstNote), std::move(bend));
  if (lastReset >= 0)
    return InsertBehind(ctx, track, static_cast<size_t>(lastReset), std::move(bend));
  return InsertEventAtTime(ctx, std::move(bend), track, time, 1);
}

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
  const CopyFeed feed(index, index.song->track->events[static_cast<size_t>(i)].channel);
  return RetuningOf(index, feed, i, tuning);
}

NoteCopy BuildNoteCopy(MidiContext& ctx, const SongNoteIndex& index, int32_t i,
                       const Tuning& tuning) {
  if (!IsNote(index, i)) {
    ShowMdtkError(*ctx.reporter, code::kMdtkInternal);
    return {};
  }
  const MidiFormat0Data& song = *index.song;
  const MidiTrack& source = *song.track;
  const size_t noteIndex = static_cast<size_t>(i);
  const int64_t t = index.times[noteIndex];
  const int ch = source.events[noteIndex].channel;
  CopyFeed feed(index, ch);
  const NoteRetuning retuning = RetuningOf(index, feed, i, tuning);
  if (retuning.unmapped) return {nullptr, retuning};
  MidiEvent note = source.events[noteIndex];
  const int key = note.note;
  note.note += retuning.keyShift;
  const std::optional<int64_t> stolen = StolenTick(index, i);
  // Given way at its own start (more notes than the polyphony start at one tick): no sound.
  if (stolen && *stolen <= t) return {nullptr, retuning};
  const int64_t release = std::min(ReleaseTick(index, i), stolen.value_or(kNever));
  note.duration = static_cast<int32_t>(std::min<int64_t>(note.duration, release - t));
  // A stolen note's sound ends at once, whatever pedal is held: as a stolen voice does.
  const int64_t end = stolen ? *stolen : WindowEnd(index, feed, ch, release);
  // The release tail hears the events up to here.
  const int64_t endMicros = index.clock.Microseconds(end);
  const int64_t heardUntil = endMicros + kEndingCapMicros;
  // The single pass lets a voice ring until the song's ending cap, however early it was
  // released: the tail is held open that long (a rendering ends anyway once its voices
  // have), though only the events of its first seconds are kept.
  const int64_t songEnd = std::max(end, index.times.empty() ? end : index.times.back());
  const int64_t endOfTrack =
      index.clock.TickAtMicros(songEnd, index.clock.Microseconds(songEnd) + kTailHoldMicros);
  const bool rhythm = retuning.rhythmPart;
  const int offset = retuning.offset;
  auto shift = [offset](int bend) { return ClampBend(int64_t{bend} - offset); };

  auto copy = std::make_unique<MidiFormat0Data>();
  copy->division = song.division;
  copy->state = song.state;
  copy->track = std::make_unique<MidiTrack>();
  MidiTrack& track = *copy->track;
  track.state = ts::kNotes;

  if (!index.endsWithEndOfTrack) ctx.reporter->ShowText(conversion_msg::kNoEndOfTrack);
  int64_t last = 0;
  // An edit that does not fit fails the whole copy (the edit has said why): a copy without
  // its retuning bend would sound at the wrong pitch.
  bool full = false;
  auto append = [&](const MidiEvent& e, int64_t time) {
    if (full) return false;
    MidiEvent kept = e;
    kept.delta = DeltaBetween(last, time);
    last = time;
    full = !AppendEvent(ctx, track, std::move(kept));
    return !full;
  };
  // The note goes behind every other event kept at its tick, so that the tick's set-up,
  // and then the retuning, stand in front of it.
  bool notePending = true;
  auto flushNote = [&] {
    if (notePending) append(note, t);
    notePending = false;
  };
  bool cutPending = stolen.has_value();
  auto flushCut = [&] {
    if (!cutPending) return;
    flushNote();
    append(MakeControlChange(ch, kAllSoundOff, 0), *stolen);
    cutPending = false;
  };
  for (int32_t next = feed.Next(); next >= 0 && !full; next = feed.Next()) {
    const auto k = static_cast<size_t>(next);
    if (k == noteIndex) continue;
    const MidiEvent& e = source.events[k];
    const int64_t time = index.times[k];
    if (k > noteIndex && time > end && index.clock.Microseconds(time) > heardUntil) {
      // Past the tail: in song order, nothing later is kept either.
      if (index.fullScan) continue;
      break;
    }
    // A program change behind the note at its own tick chooses the sound of later notes
    // only (two parts sharing a channel); the writer would put it in front of the note.
    const bool laterProgram = k > noteIndex && time == t && e.status == st::kProgram;
    const bool keep = e.status != st::kNote && e.status != st::kDisabled && !laterProgram &&
                      (e.channel == ch || e.channel == kNoChannel);
    if (!keep) continue;
    if (k > noteIndex && time > t) flushNote();
    if (cutPending && time > *stolen) flushCut();
    const bool ownChannel = !rhythm && e.channel == ch;
    if (ownChannel && e.status == st::kPitchBend) {
      // A bend at the note's tick is part of the base; the retuning bend replaces it.
      if (time == t) continue;
      if (time > t) {
        MidiEvent shifted = e;
        SetBend(shifted, shift(BendOf(e)));
        append(shifted, time);
        continue;
      }
    }
    if (ownChannel && e.status == st::kKeyPressure && e.note == key) {
      MidiEvent moved = e;
      moved.note = note.note;
      append(moved, time);
      continue;
    }
    // A reset inside the window re-centres the bend; the note must stay retuned.
    if (append(e, time) && ownChannel && time > t && IsControl(e, cc::kResetAll)) {
      append(MakeBend(ch, shift(kCentreBend)), time);
    }
  }
  if (index.endsWithEndOfTrack) {
    flushNote();
    flushCut();
    if (endOfTrack > last && ch >= 0 && ch < kMidiChannels) append(TailHolder(ch), endOfTrack);
    append(source.events.back(), std::max(endOfTrack, last));
  }
  flushCut();
  flushNote();
  if (full || !AddRetuningBend(ctx, track, retuning, t, ch)) return {nullptr, retuning, true};
  return {std::move(copy), retuning};
}

bool AddRetuningBend(MidiContext& ctx, MidiTrack& copy, const NoteRetuning& retuning, int64_t t,
                     int channel) {
  if (retuning.rhythmPart) return true;
  const int bend = retuning.bend;
  if (!SetPitchBendAt(ctx, copy, bend >> kDataBits, bend & kDataMask, t, channel)) return false;
  if (!retuning.defaultRange) return true;
  // In front of the retuning bend: behind the End of Track it would come too late.
  const std::ptrdiff_t at = LastBendAt(copy, t, channel);
  if (at < 0) return false;
  const size_t b = static_cast<size_t>(at);
  return InsertBefore(ctx, copy, b,
                      MakeControlChange(channel, cc::kDataEntryMsb, rpn::kDefaultBendRange)) &&
         InsertBefore(ctx, copy, b, MakeControlChange(channel, cc::kRpnLsb, rpn::kBendRangeLsb)) &&
         InsertBefore(ctx, copy, b, MakeControlChange(channel, cc::kRpnMsb, rpn::kBendRangeMsb));
}

}  // namespace velorna
