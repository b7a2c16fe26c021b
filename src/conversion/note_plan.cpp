#include "conversion/note_plan.h"

#include <algorithm>
#include <limits>
#include <span>

#include "audio/pitch_realisation.h"
#include "audio/render_synth.h"
#include "base/library_error.h"
#include "conversion/conversion_messages.h"
#include "conversion/copy_timing.h"
#include "midi/song_edit.h"

namespace velorna {

namespace {

constexpr int64_t kNever = std::numeric_limits<int64_t>::max();
constexpr uint32_t kAllSoundOff = 120;  // the controller that stops a channel's voices at once

// Places of the replaceable kinds in SetUpEvents::last: the 128 controllers, then the key
// pressures of the 128 keys, then these.
constexpr int kKeyPressureSlots = 128;
constexpr int kBendSlot = 256;
constexpr int kChannelPressureSlot = 257;
constexpr int kProgramSlot = 258;
// Replaced entries are cleared out once they outnumber half the list and this many.
constexpr size_t kCompactAfter = 64;

// Controllers whose message only stores a value while no voice sounds, so that a later one
// of the same number leaves no trace of it. Not: the registered and non-registered
// parameters with their data entry (each entry acts on the parameter then selected), the
// bank selects (a program change reads them; handled apart), sostenuto and portamento
// control (they mark the notes sounding or the key struck), and the channel mode messages.
bool OnlyStoresAValue(uint32_t controller) {
  switch (controller) {
    case cc::kDataEntryMsb:
    case cc::kDataEntryLsb:
    case cc::kDataIncrement:
    case cc::kDataDecrement:
    case cc::kNrpnLsb:
    case cc::kNrpnMsb:
    case cc::kRpnLsb:
    case cc::kRpnMsb:
    case cc::kSostenuto:
    case cc::kPortamentoControl:
      return false;
    default:
      return controller < cc::kFirstChannelMode;
  }
}

// The slot of a set-up event that a later one of its kind replaces; -1 when none does.
int SlotOf(const MidiEvent& e) {
  switch (e.status) {
    case st::kControl:
      return OnlyStoresAValue(e.kind) ? static_cast<int>(e.kind) : -1;
    case st::kKeyPressure:
      return e.note >= 0 && e.note < kKeyCount ? kKeyPressureSlots + e.note : -1;
    case st::kPitchBend:
      return kBendSlot;
    case st::kChannelPressure:
      return kChannelPressureSlot;
    case st::kProgram:
      return kProgramSlot;
    default:
      return -1;
  }
}

bool IsNoteAt(const SongNoteIndex& index, int32_t i) {
  const MidiTrack* source = index.song ? index.song->track.get() : nullptr;
  return source && source->state == ts::kNotes && i >= 0 && i < source->count() &&
         source->events[static_cast<size_t>(i)].status == st::kNote;
}

// Merges two position lists in song order.
std::vector<int32_t> Merged(std::span<const int32_t> a, std::span<const int32_t> b) {
  std::vector<int32_t> out(a.size() + b.size());
  std::merge(a.begin(), a.end(), b.begin(), b.end(), out.begin());
  return out;
}

std::span<const int32_t> From(const std::vector<int32_t>& list, int32_t i) {
  const auto it = std::lower_bound(list.begin(), list.end(), i);
  return {it, list.end()};
}

// The plan's events as the synthesizer gets them. Ticks never go back (a file's deltas
// cannot), and a tempo after `lastTempoTick` is not the plan's.
void TimePlan(NotePlan& plan, const SongClock& clock, int sampleRate) {
  plan.events.clear();
  int64_t tick = 0;
  int64_t previous = 0;
  for (const TickedEvent& e : InSynthOrder(plan.song)) {
    tick += std::max<int64_t>(e.tick - previous, 0);
    previous = e.tick;
    std::vector<uint8_t> message = SynthMessageOf(e.event);
    if (message.empty()) continue;
    const int64_t sample =
        SongSampleOfMicroseconds(clock.Microseconds(tick, plan.lastTempoTick), sampleRate);
    plan.events.push_back(
        TimedEvent{sample, BlockStartAtOrAfter(sample), std::move(message), e.source});
  }
  DropReplacedSetUp(plan.events);
  plan.lastBlock =
      plan.events.empty() ? 0 : plan.events.back().blockStart + TailLimitFrames(sampleRate);
}

// The tick at which a rendering's last message holds its tail open, up to the ending cap.
int64_t HeldEnd(const SongNoteIndex& index, int64_t end) {
  const int64_t songEnd = std::max(end, index.times.empty() ? end : index.times.back());
  return index.clock.TickAtMicros(songEnd, index.clock.Microseconds(songEnd) + kTailHoldMicros);
}

// Puts the retuning bend at the note's tick t, behind a reset of all controllers there
// (which would undo it) and in front of the note; the song's bend range in front of it
// where the song sets none. Nothing for a rhythm part.
void AddRetuningBend(std::vector<TickedEvent>& song, const NoteRetuning& retuning, int64_t t,
                     int ch) {
  if (retuning.rhythmPart) return;
  std::ptrdiff_t lastBend = -1, lastReset = -1, firstNote = -1, atOrBefore = 0;
  for (size_t k = 0; k < song.size() && song[k].tick <= t; ++k) {
    const MidiEvent& e = song[k].event;
    if (!e.IsEndOfTrack()) atOrBefore = static_cast<std::ptrdiff_t>(k) + 1;
    if (song[k].tick < t || e.channel != ch) continue;
    const auto at = static_cast<std::ptrdiff_t>(k);
    if (e.status == st::kPitchBend) lastBend = at;
    if (IsControl(e, cc::kResetAll)) lastReset = at;
    if (e.status == st::kNote && firstNote < 0) firstNote = at;
  }
  std::ptrdiff_t bend = lastBend;
  if (lastBend >= 0 && lastBend > lastReset) {
    SetBend(song[static_cast<size_t>(lastBend)].event, retuning.bend);
  } else {
    bend = firstNote > lastReset ? firstNote : lastReset >= 0 ? lastReset + 1 : atOrBefore;
    song.insert(song.begin() + bend, TickedEvent{t, MakeBend(ch, retuning.bend)});
  }
  if (!retuning.defaultRange) return;
  const MidiEvent range[] = {MakeControlChange(ch, cc::kRpnMsb, rpn::kBendRangeMsb),
                             MakeControlChange(ch, cc::kRpnLsb, rpn::kBendRangeLsb),
                             MakeControlChange(ch, cc::kDataEntryMsb, rpn::kDefaultBendRange)};
  std::vector<TickedEvent> added;
  for (const MidiEvent& e : range) added.push_back({t, e});
  song.insert(song.begin() + bend, added.begin(), added.end());
}

}  // namespace

void NotePlanner::SetUpEvents::Add(const MidiEvent& e, int32_t at) {
  const int slot = SlotOf(e);
  // A program change reads the bank selects before it: they stay.
  if (e.status == st::kProgram) last[cc::kBankSelect] = last[cc::kBankSelectLsb] = -1;
  if (slot >= 0) {
    int32_t& previous = last[static_cast<size_t>(slot)];
    if (previous >= 0) {
      kept[static_cast<size_t>(previous)] = -1;
      ++replaced;
    }
    previous = static_cast<int32_t>(kept.size());
  }
  kept.push_back(at);
  if (replaced < kept.size() / 2 + kCompactAfter) return;
  std::vector<int32_t> newPlace(kept.size(), -1);
  size_t n = 0;
  for (size_t k = 0; k < kept.size(); ++k) {
    if (kept[k] < 0) continue;
    newPlace[k] = static_cast<int32_t>(n);
    kept[n++] = kept[k];
  }
  kept.resize(n);
  replaced = 0;
  for (int32_t& place : last) {
    if (place >= 0) place = newPlace[static_cast<size_t>(place)];
  }
}

NotePlanner::NotePlanner(const SongNoteIndex& index, const Tuning& tuning, int sampleRate)
    : index_(index), tuning_(tuning), rate_(sampleRate) {
  if (!index.song || !index.song->track) return;
  const auto& events = index.song->track->events;
  for (const int32_t k : index.sharedEvents) {
    if (!SynthMessageOf(events[static_cast<size_t>(k)]).empty()) systemExclusives_.push_back(k);
  }
}

void NotePlanner::SweepTo(int32_t i) {
  const auto& events = index_.song->track->events;
  for (; swept_ < i; ++swept_) {
    const MidiEvent& e = events[static_cast<size_t>(swept_)];
    if (e.status == st::kNote || e.status == st::kDisabled || e.channel < 0 ||
        e.channel >= kMidiChannels)
      continue;
    ChannelState& channel = channels_[static_cast<size_t>(e.channel)];
    channel.setup.Apply(e);
    channel.pedals.Feed(e, index_.times[static_cast<size_t>(swept_)]);
    channel.setUp.Add(e, swept_);
  }
}

template <class Visit>
void NotePlanner::Feed(int ch, int32_t i, Visit visit) const {
  if (index_.fullScan) {
    for (const int32_t k : index_.scan)
      if (!visit(k)) return;
    return;
  }
  std::vector<int32_t> setUp;
  for (const int32_t k : channels_[static_cast<size_t>(ch)].setUp.kept) {
    if (k >= 0) setUp.push_back(k);
  }
  const auto sysex = std::span<const int32_t>(systemExclusives_)
                         .first(From(systemExclusives_, i).data() - systemExclusives_.data());
  for (const int32_t k : Merged(setUp, sysex))
    if (!visit(k)) return;
  // From the note on, the two lists are merged as far as the visit goes.
  const std::span<const int32_t> own = From(index_.channelEvents[static_cast<size_t>(ch)], i);
  const std::span<const int32_t> shared = From(index_.sharedEvents, i);
  size_t a = 0, b = 0;
  while (a < own.size() || b < shared.size()) {
    const bool ownFirst = a < own.size() && (b == shared.size() || own[a] < shared[b]);
    if (!visit(ownFirst ? own[a++] : shared[b++])) return;
  }
}

NotePlan NotePlanner::Plan(Reporter& reporter, int32_t i) {
  NotePlan plan;
  plan.note = i;
  if (!IsNoteAt(index_, i) || i < swept_) {
    ShowMdtkError(reporter, code::kMdtkInternal);
    return plan;
  }
  SweepTo(i);
  const auto& events = index_.song->track->events;
  const size_t noteIndex = static_cast<size_t>(i);
  const MidiEvent& source = events[noteIndex];
  const int64_t t = index_.times[noteIndex];
  const int ch = source.channel;
  const bool ownList = !index_.fullScan;
  const std::vector<int32_t>& channelList =
      ownList ? index_.channelEvents[static_cast<size_t>(ch)] : index_.scan;

  // The channel's set-up for the note: what came before it, and what stands at its tick.
  ChannelSetup setup = ownList ? channels_[static_cast<size_t>(ch)].setup : ChannelSetup{};
  for (const int32_t k : ownList ? From(channelList, i) : std::span<const int32_t>(channelList)) {
    const auto at = static_cast<size_t>(k);
    if (index_.times[at] > t) break;
    if (events[at].channel == ch) setup.Apply(events[at]);
  }
  plan.retuning = setup.RetuningOf(source, TargetOf(tuning_, i, source.note), index_.pitch.get(),
                                   index_.plainBend);
  plan.rates = RenderRateFor(plan.retuning.rateShiftCents, rate_);
  const NoteRetuning& retuning = plan.retuning;
  if (retuning.unmapped) return plan;
  MidiEvent note = source;
  const int key = note.note;
  note.note += retuning.keyShift;
  const std::optional<int64_t> stolen = StolenTick(index_, i);
  // Given way at its own start (more notes than the polyphony start at one tick): no sound.
  if (stolen && *stolen <= t) return plan;
  const int64_t release = std::min(ReleaseTick(index_, i), stolen.value_or(kNever));
  note.duration = static_cast<int32_t>(std::min<int64_t>(note.duration, release - t));

  // Where the note stops sounding: at its release, or at the release of a pedal held there.
  // A stolen note's sound ends at once, whatever pedal is held: as a stolen voice does.
  int64_t end = stolen.value_or(0);
  if (!stolen) {
    SoundingWindow window = ownList ? channels_[static_cast<size_t>(ch)].pedals.Opened(release)
                                    : SoundingWindow(release);
    for (const int32_t k : ownList ? From(channelList, i) : std::span<const int32_t>(channelList)) {
      const auto at = static_cast<size_t>(k);
      if (events[at].channel == ch && !window.Feed(events[at], index_.times[at])) break;
    }
    end = window.End(index_.times.empty() ? release : index_.times.back());
  }
  // The release tail hears the events up to here.
  const int64_t heardUntil = index_.clock.Microseconds(end) + kEndingCapMicros;
  plan.tailHeardUntil = SongSampleOfMicroseconds(heardUntil, rate_);
  // The single pass lets a voice ring until the song's ending cap, however early it was
  // released: the tail is held open that long (a rendering ends anyway once its voices
  // have), though only the events of its first seconds are kept.
  const int64_t endOfTrack = HeldEnd(index_, end);
  const bool rhythm = retuning.rhythmPart;
  const int offset = retuning.offset;
  auto shift = [offset](int bend) { return ClampBend(int64_t{bend} - offset); };

  if (!index_.endsWithEndOfTrack) reporter.ShowText(conversion_msg::kNoEndOfTrack);
  std::vector<TickedEvent>& song = plan.song;
  int64_t last = 0;
  // A song whose time runs backward is played as its file would be: never back in time.
  // Its tempo changes are then only those the plan keeps.
  SongClock kept(index_.song->division);
  plan.lastTempoTick = kNever;
  auto append = [&](const MidiEvent& e, int64_t time, int32_t from) {
    last += DeltaBetween(last, time);
    if (e.status == st::kMeta) {
      if (e.kind == meta::kTempo) kept.AddTempo(last, e.value);
      return;  // heard by nobody
    }
    song.push_back({last, e, from});
  };
  // The note goes behind every other event kept at its tick, so that the tick's set-up,
  // and then the retuning, stand in front of it.
  bool notePending = true;
  auto flushNote = [&] {
    if (notePending) append(note, t, i);
    notePending = false;
  };
  bool cutPending = stolen.has_value();
  auto flushCut = [&] {
    if (!cutPending) return;
    flushNote();
    append(MakeControlChange(ch, kAllSoundOff, 0), *stolen, -1);
    cutPending = false;
  };
  Feed(ch, i, [&](int32_t k) {
    const auto at = static_cast<size_t>(k);
    if (at == noteIndex) return true;
    const MidiEvent& e = events[at];
    const int64_t time = index_.times[at];
    if (at > noteIndex && time > end && index_.clock.Microseconds(time) > heardUntil) {
      // Past the tail: in song order, nothing later is kept either.
      if (index_.fullScan) return true;
      plan.lastTempoTick = time - 1;
      return false;
    }
    // A program change behind the note at its own tick chooses the sound of later notes
    // only (two parts sharing a channel); the writer would put it in front of the note.
    const bool laterProgram = at > noteIndex && time == t && e.status == st::kProgram;
    const bool keep = e.status != st::kNote && e.status != st::kDisabled && !laterProgram &&
                      (e.channel == ch || e.channel == kNoChannel);
    if (!keep) return true;
    if (at > noteIndex && time > t) flushNote();
    if (cutPending && time > *stolen) flushCut();
    const bool ownChannel = !rhythm && e.channel == ch;
    if (ownChannel && e.status == st::kPitchBend) {
      // A bend at the note's tick is part of the base; the retuning bend replaces it.
      if (time == t) return true;
      if (time > t) {
        MidiEvent shifted = e;
        SetBend(shifted, shift(BendOf(e)));
        append(shifted, time, k);
        return true;
      }
    }
    if (ownChannel && e.status == st::kKeyPressure && e.note == key) {
      MidiEvent moved = e;
      moved.note = note.note;
      append(moved, time, k);
      return true;
    }
    append(e, time, k);
    // A reset inside the window re-centres the bend; the note must stay retuned.
    if (ownChannel && time > t && IsControl(e, cc::kResetAll))
      append(MakeBend(ch, shift(kCentreBend)), time, -1);
    return true;
  });
  // Without its End of Track the song's copy could not be written: it is not rendered.
  if (!index_.endsWithEndOfTrack) return plan;
  flushNote();
  flushCut();
  if (endOfTrack > last && ch >= 0 && ch < kMidiChannels) append(TailHolder(ch), endOfTrack, -1);
  song.push_back(
      {std::max(endOfTrack, last), events.back(), static_cast<int32_t>(events.size()) - 1});
  AddRetuningBend(song, retuning, t, ch);
  plan.sounds = true;
  plan.firstBlock = FirstBlockOf(index_, i, rate_);
  if (index_.fullScan) plan.lastTempoTick = kNever;
  TimePlan(plan, index_.fullScan ? kept : index_.clock, rate_);
  return plan;
}

int64_t FirstBlockOf(const SongNoteIndex& index, int32_t i, int sampleRate) {
  const int64_t t = index.times[static_cast<size_t>(i)];
  return BlockStartAtOrAfter(SongSampleOfMicroseconds(index.clock.Microseconds(t), sampleRate));
}

NotePlan PlanDrums(const SongNoteIndex& index, int sampleRate) {
  NotePlan plan;
  plan.rates = RenderRateFor(0, sampleRate);
  plan.lastTempoTick = kNever;
  if (!index.song || !index.song->track) return plan;
  const auto& events = index.song->track->events;
  for (size_t k = 0; k < events.size(); ++k) {
    const MidiEvent& e = events[k];
    if (e.status == st::kDisabled || (e.channel != kDrumChannel && e.channel != kNoChannel))
      continue;
    // Tempo and the other meta events reach no synthesizer; the clock has the tempo.
    if (e.status == st::kMeta && !e.IsEndOfTrack()) continue;
    plan.song.push_back({index.times[k], e, static_cast<int32_t>(k)});
  }
  // The renderer stops a tail limit after the last message: a message that changes nothing,
  // held past the song's end, lets the last cymbal ring as far as the ending cap.
  if (index.endsWithEndOfTrack && !plan.song.empty() && plan.song.back().event.IsEndOfTrack()) {
    const int64_t songEnd = index.times.back();
    const int64_t held = HeldEnd(index, songEnd);
    if (held > songEnd) {
      plan.song.back().tick = held;
      plan.song.insert(plan.song.end() - 1, TickedEvent{held, TailHolder(kDrumChannel)});
    }
  }
  plan.sounds = true;
  TimePlan(plan, index.clock, sampleRate);
  return plan;
}

}  // namespace velorna
