#include "export/midi_export.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <map>
#include <tuple>

#include "base/file_io.h"
#include "base/library_error.h"
#include "base/limits.h"
#include "conversion/channel_setup.h"
#include "conversion/conversion_messages.h"
#include "conversion/note_retune.h"
#include "export/export_messages.h"
#include "midi/event_data.h"
#include "midi/midi_constants.h"
#include "midi/smf_reader.h"
#include "midi/track_encoder.h"
#include "tuning/adaptive.h"
#include "tuning/mts.h"
#include "tuning/played_tuning.h"
#include "tuning/song_tuning.h"

namespace velorna {
namespace {

using Message = std::vector<uint8_t>;

constexpr int kDrumChannel = 9;
constexpr int kMpeMaster = 0;
constexpr int kMpeMembersBesideDrums = 8;  // channels 2-9: the zone stops before the drums
constexpr int kMpeDefaultRange = 48;
constexpr int kRpnZoneLayout = 6;  // the MPE configuration message
constexpr int kCentreData = 64;
constexpr int kDefaultVelocityOff = 64;
// How long a released note is taken to ring: a channel is not given another bend before.
constexpr double kReleaseTailSeconds = 1.0;
constexpr double kSameBend = 1e-9;  // cents: offsets closer than this are one bend
constexpr int kMaxKeyShift = 127;

// Controllers a channel starts with on a synthesizer; a channel handed to another source
// channel gets the source's value or this one, so nothing of the former source stays.
constexpr std::array<std::pair<int, int>, 8> kControllerDefaults{
    {{1, 0}, {7, 100}, {10, 64}, {11, 127}, {64, 0}, {65, 0}, {66, 0}, {67, 0}}};

bool IsChannelMessage(const MidiEvent& e) {
  return e.status >= st::kNoteOff && e.status < st::kSysEx && e.channel >= 0 &&
         e.channel < kMidiChannels;
}

bool IsNoteEvent(const MidiEvent& e) {
  return e.status == st::kNoteOn || e.status == st::kNoteOff;
}

// Controllers that select or enter parameters, or change the channel's mode: a snapshot
// never replays them as values.
bool IsParameterOrMode(int controller) {
  return controller == static_cast<int>(cc::kBankSelect) || controller == 32 ||
         controller == static_cast<int>(cc::kDataEntryMsb) ||
         controller == static_cast<int>(cc::kDataEntryLsb) ||
         (controller >= 96 && controller <= 101) || controller >= 120;
}

Message Control(int channel, int controller, int value) {
  return {static_cast<uint8_t>(0xB0 | channel), static_cast<uint8_t>(controller),
          static_cast<uint8_t>(value & kDataMask)};
}

void AddRpn(std::vector<Message>& out, int channel, int number, int msb,
            std::optional<int> lsb = std::nullopt) {
  out.push_back(Control(channel, cc::kRpnMsb, 0));
  out.push_back(Control(channel, cc::kRpnLsb, number));
  out.push_back(Control(channel, cc::kDataEntryMsb, msb));
  if (lsb) out.push_back(Control(channel, cc::kDataEntryLsb, *lsb));
}

void AddRpnNull(std::vector<Message>& out, int channel) {
  out.push_back(Control(channel, cc::kRpnMsb, rpn::kNull));
  out.push_back(Control(channel, cc::kRpnLsb, rpn::kNull));
}

Message Bend(int channel, int value) {
  return {static_cast<uint8_t>(0xE0 | channel), static_cast<uint8_t>(value & kDataMask),
          static_cast<uint8_t>((value >> kDataBits) & kDataMask)};
}

// A channel as the song sets it up, followed in song order: what an output channel carrying
// its notes must be given.
struct SourceState {
  ChannelSetup setup;  // bend, bend range, rhythm map, bank and program
  std::array<int16_t, 128> controllers{};
  bool programSet = false;
  int pressure = 0;
  std::array<int, 2> fine{kCentreData, 0};
  std::array<int, 2> coarse{kCentreData, 0};
  int selectMsb = rpn::kNull;  // the parameter the song has selected, to give back after ours
  int selectLsb = rpn::kNull;
  bool nrpn = false;

  SourceState() { controllers.fill(-1); }

  void Apply(const MidiEvent& e) {
    setup.Apply(e);
    if (e.status == st::kProgram) programSet = true;
    if (e.status == st::kChannelPressure) pressure = e.value;
    if (e.status != st::kControl || e.kind >= controllers.size()) return;
    const bool rpnSelected = !nrpn && selectMsb == 0;
    if (rpnSelected && (e.kind == cc::kDataEntryMsb || e.kind == cc::kDataEntryLsb)) {
      const size_t part = e.kind == cc::kDataEntryMsb ? 0 : 1;
      if (selectLsb == rpn::kFineTune) fine[part] = e.value;
      if (selectLsb == rpn::kCoarseTune) coarse[part] = e.value;
    }
    switch (e.kind) {
      case cc::kRpnMsb:
        selectMsb = e.value;
        nrpn = false;
        break;
      case cc::kRpnLsb:
        selectLsb = e.value;
        nrpn = false;
        break;
      case cc::kNrpnMsb:
        selectMsb = e.value;
        nrpn = true;
        break;
      case cc::kNrpnLsb:
        selectLsb = e.value;
        nrpn = true;
        break;
      case cc::kResetAll:
        selectMsb = selectLsb = rpn::kNull;
        nrpn = false;
        break;
      default:
        break;
    }
    controllers[e.kind] = static_cast<int16_t>(e.value);
  }

  // Cents the song's own bend sounds as.
  double BendCents() const { return (setup.bend - kCentreBend) * RangeCents() / kCentreBend; }
  double RangeCents() const {
    const double s = setup.range.Sensitivity();
    return (s > 0 ? s : rpn::kDefaultBendRange) * kCentsPerSemitone;
  }
};

struct ExportNote {
  int32_t songIndex = 0;  // in the prepared song
  int track = 0;          // where its note-on stands in the file
  size_t position = 0;
  int source = 0;
  int key = 0;
  int velocity = 0;
  int64_t on = 0;
  int64_t release = 0;  // where a synthesizer playing the song releases it
  int64_t held = 0;     // ... or its pedal does
  int64_t silent = 0;   // ... plus its tail
  double target = 0;
  int channel = 0;  // chosen
  int outKey = 0;
  bool offTarget = false;        // sounds off its target while held: counted and reported
  std::vector<Message> prelude;  // at its tick, right before its note-on
};

struct Assignment {
  int64_t tick;
  int source;
  double offset;
};

struct OutChannel {
  int number = 0;
  int source = -1;
  double offset = 0;
  int64_t held = -1;
  int64_t silent = -1;
  double sounds = 0;                              // cents its bend carried when last given one
  std::vector<std::pair<int64_t, size_t>> keyed;  // (held until, note) placed on it
  std::vector<Assignment> timeline;
};

// The pedal states of one channel in song order: where a note released at a tick stops.
struct PedalTimeline {
  std::vector<std::pair<int64_t, bool>> changes;  // (tick, held after it)
  std::array<bool, 2> down{false, false};

  void Apply(const MidiEvent& e, int64_t tick) {
    const int which = e.kind == cc::kSustain ? 0 : e.kind == cc::kSostenuto ? 1 : -1;
    if (e.status != st::kControl || which < 0) return;
    down[static_cast<size_t>(which)] = e.value >= kPedalDown;
    changes.emplace_back(tick, down[0] || down[1]);
  }
  int64_t HeldUntil(int64_t release, int64_t songEnd) const {
    auto it = std::upper_bound(changes.begin(), changes.end(), std::make_pair(release, true));
    if (it == changes.begin() || !std::prev(it)->second) return release;
    for (; it != changes.end(); ++it)
      if (!it->second) return it->first;
    return std::max(release, songEnd);
  }
};

// A message of ours as a file holds it: a system exclusive carries its length after the F0.
Message InFile(Message m) {
  if (m.empty() || m.front() != 0xF0) return m;
  Message out{0xF0};
  uint8_t length[4];
  const int n = WriteVarLen(static_cast<uint32_t>(m.size() - 1), length);
  out.insert(out.end(), length, length + n);
  out.insert(out.end(), m.begin() + 1, m.end());
  return out;
}

struct Item {
  int64_t tick;
  int order;  // 0 releases, 1 the song's events in their order, 2 releases of zero-length notes
  Message bytes;
};

class Exporter {
 public:
  Exporter(MidiContext& ctx, const MidiFormat0Data& song, const SongNoteIndex& index,
           const Tuning& tuning, const ExportOptions& options)
      : ctx_(ctx), song_(song), index_(index), tuning_(tuning), options_(options) {}

  std::vector<uint8_t> Run(std::vector<std::unique_ptr<MidiTrack>>& tracks, ExportSummary& sum);

 private:
  void ScanSong();
  void CollectNotes(std::vector<std::unique_ptr<MidiTrack>>& tracks);
  void ChooseRange();
  void Place();
  void PlaceOnChannel(ExportNote& n, const SourceState& s);
  void PlaceMts(ExportNote& n);
  std::vector<Message> SetupBlock() const;
  std::vector<Message> Snapshot(int channel, const SourceState& s) const;
  int BendValue(double cents);
  const Assignment* AssignmentAt(const OutChannel& ch, int64_t tick) const;
  double RangeAt(int source, int64_t tick) const;
  void EmitTrack(size_t t, const MidiTrack& track, std::vector<Item>& items);
  void Forward(const MidiEvent& e, int64_t tick, std::vector<Item>& items,
               std::array<BendRangeRegisters, kMidiChannels>& select);
  void AfterReset(int64_t tick, std::vector<Item>& items);
  void Report(const ExportSummary& sum) const;

  MidiContext& ctx_;
  const MidiFormat0Data& song_;
  const SongNoteIndex& index_;
  const Tuning& tuning_;
  const ExportOptions& options_;

  std::vector<int64_t> ticks_;  // of every event of the prepared song
  int64_t songEnd_ = 0;
  std::array<bool, kMidiChannels> rhythm_{};  // untouched: the drums and rhythm parts
  bool hasDrums_ = false;
  std::array<PedalTimeline, kMidiChannels> pedals_;
  std::array<std::vector<std::pair<int64_t, double>>, kMidiChannels> ranges_;  // (tick, cents)
  double songBendMax_ = 0;
  std::map<std::tuple<int64_t, int, int>, std::vector<int32_t>> songNotes_;
  std::vector<ExportNote> notes_;
  std::vector<std::vector<size_t>> notesOfTrack_;
  int range_ = rpn::kDefaultBendRange;
  std::vector<OutChannel> channels_;
  std::array<bool, kMidiChannels> sourceUsed_{};
  // mts: each source channel's key pitches as last told, and who holds each key.
  std::array<std::array<double, kKeyCount>, kMidiChannels> told_{};
  std::array<std::array<std::pair<int64_t, double>, kKeyCount>, kMidiChannels> holders_{};
  ExportSummary sum_;
  int64_t firstCrowded_ = -1;
};

void Exporter::ScanSong() {
  const MidiTrack& track = *song_.track;
  ticks_.resize(track.events.size());
  std::array<SourceState, kMidiChannels> states;
  int64_t now = 0;
  for (size_t i = 0; i < track.events.size(); ++i) {
    const MidiEvent& e = track.events[i];
    now += e.delta;
    ticks_[i] = now;
    if (const std::optional<int> map = RhythmMapOf(e);
        map && *map > 0 && e.channel >= 0 && e.channel < kMidiChannels)
      rhythm_[static_cast<size_t>(e.channel)] = true;
    if (e.channel < 0 || e.channel >= kMidiChannels) continue;
    const auto c = static_cast<size_t>(e.channel);
    if (e.status == st::kNote) {
      songEnd_ = std::max(songEnd_, now + std::max(e.duration, 0));
      songNotes_[{now, e.channel, e.note}].push_back(static_cast<int32_t>(i));
      if (e.channel == kDrumChannel) hasDrums_ = true;
      continue;
    }
    pedals_[c].Apply(e, now);
    const double before = states[c].RangeCents();
    states[c].Apply(e);
    if (ranges_[c].empty() || states[c].RangeCents() != before)
      ranges_[c].emplace_back(now, states[c].RangeCents());
    songBendMax_ = std::max(songBendMax_, std::fabs(states[c].BendCents()));
    songEnd_ = std::max(songEnd_, now);
  }
  rhythm_[kDrumChannel] = true;
  for (size_t c = 0; c < kMidiChannels; ++c)
    hasDrums_ = hasDrums_ || (rhythm_[c] && c != kDrumChannel);
}

void Exporter::CollectNotes(std::vector<std::unique_ptr<MidiTrack>>& tracks) {
  std::map<std::tuple<int64_t, int, int>, size_t> taken;
  notesOfTrack_.resize(tracks.size());
  for (size_t t = 0; t < tracks.size(); ++t) {
    int64_t now = 0;
    const auto& events = tracks[t]->events;
    for (size_t p = 0; p < events.size(); ++p) {
      const MidiEvent& e = events[p];
      now += e.delta;
      if (e.status != st::kNoteOn || e.velocity == 0 || !IsChannelMessage(e)) continue;
      if (rhythm_[static_cast<size_t>(e.channel)]) continue;
      const std::tuple<int64_t, int, int> at{now, e.channel, e.note};
      const auto found = songNotes_.find(at);
      size_t& next = taken[at];
      if (found == songNotes_.end() || next >= found->second.size()) continue;
      const int32_t i = found->second[next++];
      const KeyTarget target = TargetOf(tuning_, i, e.note);
      if (!target) continue;  // the tuning leaves the key unmapped: silent, as when rendered
      ExportNote n;
      n.songIndex = i;
      n.track = static_cast<int>(t);
      n.position = p;
      n.source = e.channel;
      n.key = e.note;
      n.velocity = e.velocity;
      n.on = now;
      n.release = std::max(now, ReleaseTick(index_, i));
      n.held = pedals_[static_cast<size_t>(e.channel)].HeldUntil(n.release, songEnd_);
      const int64_t micros = index_.clock.Microseconds(n.held) +
                             static_cast<int64_t>(kReleaseTailSeconds * kMicrosecondsPerSecond);
      n.silent = index_.clock.TickAtMicros(n.held, micros);
      n.target = *target;
      n.channel = e.channel;
      n.outKey = e.note;
      sourceUsed_[static_cast<size_t>(e.channel)] = true;
      notesOfTrack_[t].push_back(notes_.size());
      notes_.push_back(std::move(n));
    }
  }
  sum_.notes = static_cast<int>(notes_.size());
}

void Exporter::ChooseRange() {
  if (options_.form == ExportForm::kMts) return;
  if (options_.bendRange > 0) {
    range_ = options_.bendRange;
  } else if (options_.form == ExportForm::kMpe) {
    range_ = kMpeDefaultRange;
  } else {
    double offsets = 0;
    for (const ExportNote& n : notes_)
      offsets = std::max(offsets, std::fabs(n.target) > kCentsPerSemitone ? kCentsPerSemitone / 2
                                                                          : std::fabs(n.target));
    const double needed = (songBendMax_ + offsets) / kCentsPerSemitone;
    range_ = std::max(rpn::kDefaultBendRange, static_cast<int>(std::ceil(needed - 1e-9)));
  }
  std::vector<int> pool;
  if (options_.form == ExportForm::kMpe) {
    const int members = hasDrums_ ? kMpeMembersBesideDrums : kMidiChannels - 1;
    // Without drums the zone takes channel 10 as well.
    for (int c = 1; c <= members; ++c)
      if (!rhythm_[static_cast<size_t>(c)] || (c == kDrumChannel && !hasDrums_)) pool.push_back(c);
  } else {
    for (int c = 0; c < kMidiChannels; ++c)
      if (!rhythm_[static_cast<size_t>(c)]) pool.push_back(c);
  }
  for (const int c : pool) {
    OutChannel channel;
    channel.number = c;
    channels_.push_back(std::move(channel));
  }
}

int Exporter::BendValue(double cents) {
  const double steps = std::round(cents / (range_ * kCentsPerSemitone) * kCentreBend);
  const double value = kCentreBend + steps;
  if (value < 0 || value > kMaxBend) ++sum_.clippedBends;
  return ClampBend(static_cast<int64_t>(value));
}

std::vector<Message> Exporter::Snapshot(int channel, const SourceState& s) const {
  std::vector<Message> out;
  const auto value = [&](int controller, int fallback) {
    const int16_t v = s.controllers[static_cast<size_t>(controller)];
    return v >= 0 ? v : fallback;
  };
  out.push_back(Control(channel, cc::kBankSelect, value(cc::kBankSelect, 0)));
  out.push_back(Control(channel, 32, value(32, 0)));
  out.push_back({static_cast<uint8_t>(0xC0 | channel),
                 static_cast<uint8_t>(s.programSet ? s.setup.program : 0)});
  for (const auto& [controller, fallback] : kControllerDefaults)
    out.push_back(Control(channel, controller, value(controller, fallback)));
  for (int c = 0; c < static_cast<int>(s.controllers.size()); ++c) {
    const bool listed = std::any_of(kControllerDefaults.begin(), kControllerDefaults.end(),
                                    [c](const auto& d) { return d.first == c; });
    if (!listed && !IsParameterOrMode(c) && s.controllers[static_cast<size_t>(c)] >= 0)
      out.push_back(Control(channel, c, s.controllers[static_cast<size_t>(c)]));
  }
  out.push_back({static_cast<uint8_t>(0xD0 | channel), static_cast<uint8_t>(s.pressure)});
  AddRpn(out, channel, rpn::kFineTune, s.fine[0], s.fine[1]);
  AddRpn(out, channel, rpn::kCoarseTune, s.coarse[0], s.coarse[1]);
  AddRpn(out, channel, rpn::kBendRangeLsb, range_, 0);
  // The song's own selection back, so that its later data entries land where it meant.
  out.push_back(Control(channel, s.nrpn ? cc::kNrpnMsb : cc::kRpnMsb, s.selectMsb));
  out.push_back(Control(channel, s.nrpn ? cc::kNrpnLsb : cc::kRpnLsb, s.selectLsb));
  return out;
}

// Where it is free, a note takes a channel of its own bend; `bends` lets notes of one source
// and one bend share a channel first, `mpe` gives each note its own first. With none free,
// the least audible compromise: a channel whose notes are only ringing out (their tails take
// the new bend), else the channel of the same source whose bend is nearest (the note sounds
// off by the difference), else the channel whose bend sounds nearest (its held notes follow).
void Exporter::PlaceOnChannel(ExportNote& n, const SourceState& s) {
  int shift = 0;
  double offset = n.target;
  if (std::fabs(offset) > kCentsPerSemitone) {
    shift = static_cast<int>(std::lround(offset / kCentsPerSemitone));
    shift = std::clamp(n.key + shift, kLowestKey, kHighestKey) - n.key;
    offset -= shift * kCentsPerSemitone;
  }
  n.outKey = std::clamp(n.key + shift, kLowestKey, kMaxKeyShift);
  const auto sameBend = [&](const OutChannel& c) {
    return c.source == n.source && std::fabs(c.offset - offset) < kSameBend;
  };
  OutChannel* chosen = nullptr;
  const auto pick = [&](auto better) {
    for (OutChannel& c : channels_)
      if (better(c) && (!chosen || better.rank(c) < better.rank(*chosen))) chosen = &c;
  };
  struct Share {
    const decltype(sameBend)& same;
    int64_t on;
    bool operator()(const OutChannel& c) const { return same(c) && c.silent > on; }
    int64_t rank(const OutChannel& c) const { return c.number; }
  };
  struct Free {
    const decltype(sameBend)& same;
    int64_t on;
    int source;
    bool operator()(const OutChannel& c) const { return c.silent <= on; }
    std::tuple<int, int64_t, int> rank(const OutChannel& c) const {
      const int kind = same(c) ? 0 : c.source == source ? 1 : c.number == source ? 2 : 3;
      return {kind, c.silent, c.number};
    }
  };
  const Share share{sameBend, n.on};
  const Free free{sameBend, n.on, n.source};
  if (options_.form == ExportForm::kBends) {
    pick(share);
    if (!chosen) pick(free);
  } else {
    pick(free);
    if (!chosen) pick(share);
  }
  bool keepBend = false;
  if (!chosen) {
    for (OutChannel& c : channels_)
      if (c.held <= n.on && (!chosen || c.silent < chosen->silent)) chosen = &c;
    if (chosen) ++sum_.tailsTaken;
  }
  if (!chosen) {
    if (firstCrowded_ < 0) firstCrowded_ = n.on;
    n.offTarget = true;
    for (OutChannel& c : channels_)
      if (c.source == n.source &&
          (!chosen || std::fabs(c.offset - offset) < std::fabs(chosen->offset - offset)))
        chosen = &c;
    if (chosen) {
      keepBend = true;
      sum_.worstCents = std::max(sum_.worstCents, std::fabs(chosen->offset - offset));
    }
    if (!chosen) {
      // The notes held there follow the new bend: the channel whose bend sounds nearest moves
      // them least (measured: fewer notes off, and by less, than the one released soonest).
      const double sounds = s.BendCents() + offset;
      const auto rank = [&](const OutChannel& c) {
        return std::pair{std::fabs(c.sounds - sounds), c.held};
      };
      for (OutChannel& c : channels_)
        if (!chosen || rank(c) < rank(*chosen)) chosen = &c;
    }
    if (!chosen) return;
  }
  n.channel = chosen->number;
  const double sounds = s.BendCents() + offset;
  // A channel that takes another bend or part moves the notes still held on it: they sound
  // off as well, and are counted with the note that took it.
  std::erase_if(chosen->keyed, [&](const auto& k) { return k.first <= n.on; });
  if (chosen->source != n.source || (!keepBend && std::fabs(chosen->offset - offset) >= kSameBend))
    for (const auto& [until, other] : chosen->keyed) {
      notes_[other].offTarget = true;
      sum_.worstCents = std::max(sum_.worstCents, std::fabs(chosen->sounds - sounds));
    }
  chosen->keyed.emplace_back(n.held, static_cast<size_t>(&n - notes_.data()));
  if (chosen->source != n.source) {
    n.prelude = Snapshot(chosen->number, s);
    chosen->source = n.source;
    chosen->offset = offset;
    n.prelude.push_back(Bend(chosen->number, BendValue(s.BendCents() + offset)));
    chosen->sounds = sounds;
    chosen->timeline.push_back({n.on, n.source, offset});
  } else if (!keepBend && std::fabs(chosen->offset - offset) >= kSameBend) {
    chosen->offset = offset;
    chosen->sounds = sounds;
    n.prelude.push_back(Bend(chosen->number, BendValue(s.BendCents() + offset)));
    chosen->timeline.push_back({n.on, n.source, offset});
  }
  chosen->held = std::max(chosen->held, n.held);
  chosen->silent = std::max(chosen->silent, n.silent);
}

// A real-time change retunes the notes of the key that sound; a key held by an earlier note
// with another target follows the new one, which is counted and reported.
void Exporter::PlaceMts(ExportNote& n) {
  const auto c = static_cast<size_t>(n.source);
  const auto k = static_cast<size_t>(n.key);
  const double wanted = AbsoluteCents(n.key, n.target);
  const auto& [heldUntil, heldTarget] = holders_[c][k];
  if (heldUntil > n.on && std::fabs(heldTarget - wanted) >= kSameBend) ++sum_.sharedKeys;
  holders_[c][k] = {std::max(heldUntil, n.held), wanted};
  if (std::fabs(told_[c][k] - wanted) < kSameBend) return;
  told_[c][k] = wanted;
  n.prelude.push_back(MtsSingleNoteChange(n.source, n.key, wanted));
}

void Exporter::Place() {
  std::vector<size_t> order(notes_.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    return std::tie(notes_[a].on, notes_[a].songIndex) <
           std::tie(notes_[b].on, notes_[b].songIndex);
  });
  for (size_t c = 0; c < kMidiChannels; ++c)
    for (size_t k = 0; k < kKeyCount; ++k)
      told_[c][k] = AbsoluteCents(static_cast<int>(k), tuning_.keys[k].value_or(0.0));
  std::array<SourceState, kMidiChannels> states;
  const auto& events = song_.track->events;
  size_t next = 0;
  for (const size_t i : order) {
    ExportNote& n = notes_[i];
    // Every set-up event up to and at the note's tick, as the snapshot and the bend see it.
    for (; next < events.size() && ticks_[next] <= n.on; ++next) {
      const MidiEvent& e = events[next];
      if (e.channel >= 0 && e.channel < kMidiChannels && e.status != st::kNote)
        states[static_cast<size_t>(e.channel)].Apply(e);
    }
    if (options_.form == ExportForm::kMts) {
      PlaceMts(n);
    } else {
      PlaceOnChannel(n, states[static_cast<size_t>(n.source)]);
    }
  }
  for (const ExportNote& n : notes_)
    if (n.offTarget) sum_.crowded.push_back(n.songIndex);
  sum_.withoutChannel = static_cast<int>(sum_.crowded.size());
}

std::vector<Message> Exporter::SetupBlock() const {
  std::vector<Message> out;
  switch (options_.form) {
    case ExportForm::kMts:
      // One bulk dump holds the fixed tuning (readers warn of every large message); each
      // channel's own program, which its later changes retune alone, gets it key by key.
      out.push_back(MtsBulkDump(0, tuning_.keys));
      for (int c = 0; c < kMidiChannels; ++c) {
        if (!sourceUsed_[static_cast<size_t>(c)]) continue;
        for (Message& m : MtsAllKeysChange(c, tuning_.keys)) out.push_back(std::move(m));
      }
      // The bank first: the program's data entry is what makes a synthesizer apply it.
      for (int c = 0; c < kMidiChannels; ++c) {
        if (!sourceUsed_[static_cast<size_t>(c)]) continue;
        AddRpn(out, c, rpn::kTuningBank, 0);
        AddRpn(out, c, rpn::kTuningProgram, c);
        AddRpnNull(out, c);
      }
      break;
    case ExportForm::kMpe:
      AddRpn(out, kMpeMaster, kRpnZoneLayout, static_cast<int>(channels_.size()));
      AddRpnNull(out, kMpeMaster);
      [[fallthrough]];
    case ExportForm::kBends:
      for (const OutChannel& c : channels_) {
        if (c.timeline.empty()) continue;
        AddRpn(out, c.number, rpn::kBendRangeLsb, range_, 0);
        AddRpnNull(out, c.number);
      }
      break;
  }
  return out;
}

const Assignment* Exporter::AssignmentAt(const OutChannel& ch, int64_t tick) const {
  const auto it = std::upper_bound(ch.timeline.begin(), ch.timeline.end(), tick,
                                   [](int64_t t, const Assignment& a) { return t < a.tick; });
  return it == ch.timeline.begin() ? nullptr : &*std::prev(it);
}

double Exporter::RangeAt(int source, int64_t tick) const {
  const auto& r = ranges_[static_cast<size_t>(source)];
  const auto it = std::upper_bound(r.begin(), r.end(), std::make_pair(tick, 1e300));
  return it == r.begin() ? rpn::kDefaultBendRange * kCentsPerSemitone : std::prev(it)->second;
}

// A source channel's event goes to every output channel carrying its notes then; its bends
// with their offset added, its bend range (which ours replaces) nowhere.
void Exporter::Forward(const MidiEvent& e, int64_t tick, std::vector<Item>& items,
                       std::array<BendRangeRegisters, kMidiChannels>& select) {
  BendRangeRegisters& sel = select[static_cast<size_t>(e.channel)];
  const bool entry = e.status == st::kControl && !sel.nrpnSelected && sel.rpnMsb == 0 &&
                     (e.kind == cc::kDataEntryMsb || e.kind == cc::kDataEntryLsb);
  if (e.status == st::kControl) sel.Apply(e);
  // The song's own tuning choice is in the targets already; a receiver must not add it.
  if (entry && (sel.rpnLsb == rpn::kTuningProgram || sel.rpnLsb == rpn::kTuningBank)) return;
  if (options_.form == ExportForm::kMts) {
    Message bytes;
    (void)EncodeEvent(ctx_, e, bytes);
    items.push_back({tick, 1, std::move(bytes)});
    return;
  }
  if (entry && sel.rpnLsb == rpn::kBendRangeLsb) return;
  for (const OutChannel& ch : channels_) {
    const Assignment* a = AssignmentAt(ch, tick);
    if (!a || a->source != e.channel) continue;
    MidiEvent copy = e;
    copy.channel = ch.number;
    if (e.status == st::kPitchBend) {
      const double cents = (BendOf(e) - kCentreBend) * RangeAt(e.channel, tick) / kCentreBend;
      items.push_back({tick, 1, Bend(ch.number, BendValue(cents + a->offset))});
      continue;
    }
    Message bytes;
    (void)EncodeEvent(ctx_, copy, bytes);
    items.push_back({tick, 1, std::move(bytes)});
  }
}

// A system reset forgets the set-up: given again, with every carrying channel's bend.
void Exporter::AfterReset(int64_t tick, std::vector<Item>& items) {
  for (Message& m : SetupBlock()) {
    // The tuning tables outlive a reset; only the channels' selection is given again.
    if (options_.form == ExportForm::kMts && m.front() == 0xF0) continue;
    items.push_back({tick, 1, InFile(std::move(m))});
  }
  if (options_.form == ExportForm::kMts) return;
  for (const OutChannel& ch : channels_)
    if (const Assignment* a = AssignmentAt(ch, tick))
      items.push_back({tick, 1, Bend(ch.number, BendValue(a->offset))});
}

void Exporter::EmitTrack(size_t t, const MidiTrack& track, std::vector<Item>& items) {
  std::array<BendRangeRegisters, kMidiChannels> select;
  if (t == 0)
    for (Message& m : SetupBlock()) items.push_back({0, 1, InFile(std::move(m))});
  const std::vector<size_t>& own = notesOfTrack_[t];
  size_t nextNote = 0;
  int64_t now = 0;
  for (size_t p = 0; p < track.events.size(); ++p) {
    const MidiEvent& e = track.events[p];
    now += e.delta;
    if (e.IsEndOfTrack() || e.status == st::kDisabled) continue;
    if (nextNote < own.size() && notes_[own[nextNote]].position == p) {
      ExportNote& n = notes_[own[nextNote++]];
      for (Message& m : n.prelude) items.push_back({now, 1, InFile(std::move(m))});
      items.push_back({now,
                       1,
                       {static_cast<uint8_t>(0x90 | n.channel), static_cast<uint8_t>(n.outKey),
                        static_cast<uint8_t>(n.velocity)}});
      items.push_back({n.release,
                       n.release == n.on ? 2 : 0,
                       {static_cast<uint8_t>(0x80 | n.channel), static_cast<uint8_t>(n.outKey),
                        static_cast<uint8_t>(kDefaultVelocityOff)}});
      continue;
    }
    if (IsMtsMessage(e)) continue;  // carried by the targets, in the export's own way
    if (IsChannelMessage(e) && !rhythm_[static_cast<size_t>(e.channel)]) {
      // Pitched notes come from the index, released where a synthesizer releases them.
      if (IsNoteEvent(e)) continue;
      Forward(e, now, items, select);
      continue;
    }
    Message bytes;
    (void)EncodeEvent(ctx_, e, bytes);
    items.push_back({now, 1, std::move(bytes)});
    if (e.status == st::kSysEx && (e.kind == sysex::kGmSystemOn || e.kind == sysex::kGsSystemMode))
      AfterReset(now, items);
  }
}

void AppendBe(std::vector<uint8_t>& out, uint32_t value, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// Also counts the note-ons it writes.
std::vector<uint8_t> Chunk(std::vector<Item>& items, int& noteOns) {
  std::stable_sort(items.begin(), items.end(), [](const Item& a, const Item& b) {
    return std::tie(a.tick, a.order) < std::tie(b.tick, b.order);
  });
  std::vector<uint8_t> body;
  int64_t last = 0;
  for (const Item& item : items) {
    if (item.bytes.empty()) continue;  // an event the encoder could not write has said so
    uint8_t delta[4];
    const int n = WriteVarLen(static_cast<uint32_t>(item.tick - last), delta);
    body.insert(body.end(), delta, delta + n);
    last = item.tick;
    body.insert(body.end(), item.bytes.begin(), item.bytes.end());
    if (item.bytes.size() == 3 && (item.bytes[0] & 0xF0) == st::kNoteOn && item.bytes[2] > 0)
      ++noteOns;
  }
  body.insert(body.end(), {0x00, 0xFF, 0x2F, 0x00});
  std::vector<uint8_t> chunk{'M', 'T', 'r', 'k'};
  AppendBe(chunk, static_cast<uint32_t>(body.size()), 4);
  chunk.insert(chunk.end(), body.begin(), body.end());
  return chunk;
}

std::vector<uint8_t> Exporter::Run(std::vector<std::unique_ptr<MidiTrack>>& tracks,
                                   ExportSummary& sum) {
  ScanSong();
  CollectNotes(tracks);
  ChooseRange();
  Place();
  std::vector<uint8_t> file{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1};
  AppendBe(file, static_cast<uint32_t>(tracks.size()), 2);
  AppendBe(file, static_cast<uint32_t>(song_.division), 2);
  for (size_t t = 0; t < tracks.size(); ++t) {
    std::vector<Item> items;
    // Our own encodings have no buffer to copy; the track's own ones keep theirs.
    EmitTrack(t, *tracks[t], items);
    const std::vector<uint8_t> chunk = Chunk(items, sum_.noteOns);
    file.insert(file.end(), chunk.begin(), chunk.end());
  }
  sum = sum_;
  Report(sum_);
  return file;
}

// Whole numbers: the translations take a message's numbers as placeholders.
std::string Whole(double value) {
  return std::to_string(static_cast<int64_t>(std::ceil(value)));
}

void Exporter::Report(const ExportSummary& sum) const {
  Reporter& r = *ctx_.reporter;
  if (sum.withoutChannel > 0) {
    ShowLibraryError(r, LibraryModule::EXPT, code::kExptCrowded,
                     export_msg::Crowded(sum.withoutChannel,
                                         Whole(std::floor(index_.clock.Seconds(firstCrowded_))),
                                         Whole(sum.worstCents)),
                     ReportKind::kWarning);
  }
  if (sum.clippedBends > 0)
    ShowLibraryError(r, LibraryModule::EXPT, code::kExptBendClipped,
                     export_msg::BendClipped(sum.clippedBends, range_), ReportKind::kWarning);
  if (sum.sharedKeys > 0)
    ShowLibraryError(r, LibraryModule::EXPT, code::kExptSharedKey,
                     export_msg::SharedKey(sum.sharedKeys), ReportKind::kWarning);
}

}  // namespace

std::optional<std::vector<uint8_t>> ExportSongBytes(MidiContext& ctx, MidiLoader& loader,
                                                    const Tuning& tuning,
                                                    const ExportOptions& options,
                                                    ExportSummary* summary) {
  if (loader.fileLength == 0) return std::nullopt;
  // The file's own tracks, read again without the messages the load has already given.
  SilentReporter quiet;
  MidiContext quietCtx(quiet);
  std::optional<SmfTracks> tracks = ReadTrackChunks(quietCtx, loader.fileBytes);
  PrepareSong(ctx, loader);
  if (!tracks || !loader.song || !loader.song->track) return std::nullopt;
  const std::unique_ptr<SongNoteIndex> index = IndexSong(*loader.song);
  if (!index) return std::nullopt;
  if (options.adaptive && !IsTwelveToneOctave(tuning.keys)) {
    ctx.reporter->ShowText(conversion_msg::kAdaptiveNeedsTwelveTones);
    return std::nullopt;
  }
  const Tuning played =
      PlayedTuning(tuning, *loader.song, options.adaptive, options.ignoreSongTuning);
  ExportSummary sum;
  Exporter exporter(ctx, *loader.song, *index, played, options);
  std::vector<uint8_t> bytes = exporter.Run(tracks->tracks, sum);
  if (summary) *summary = sum;
  return bytes;
}

std::string ExportPathFor(const std::string& songPath, const std::string& folder, ExportForm form) {
  const std::filesystem::path song(songPath);
  const char* suffix = form == ExportForm::kMpe   ? "-mpe.mid"
                       : form == ExportForm::kMts ? "-mts.mid"
                                                  : "-bends.mid";
  const std::filesystem::path dir =
      folder.empty() ? song.parent_path() : std::filesystem::path(folder);
  return (dir / (song.stem().string() + suffix)).string();
}

// Why Velorna's own reader would not give back every note of `bytes`, an export that wrote
// `noteOns` note-ons; none when it gives them all. The reader's limits decide, read as it reads.
std::optional<std::string> UnreadableBecause(const std::vector<uint8_t>& bytes, int noteOns) {
  SilentReporter quiet;
  MidiContext ctx(quiet);
  MidiLoader back = LoadSmfFromBytes(ctx, bytes);
  PrepareSong(ctx, back);
  int kept = 0;
  if (back.song && back.song->track)
    for (const MidiEvent& e : back.song->track->events) kept += e.status == st::kNote ? 1 : 0;
  if (kept >= noteOns) return std::nullopt;
  if (kept == 0 && static_cast<int64_t>(bytes.size()) > kSongCapacity)
    return export_msg::LargerThanRead(static_cast<int64_t>(bytes.size()), kSongCapacity);
  return export_msg::NotesLostOnRead(kept, noteOns);
}

bool ExportSong(const std::string& songPath, const std::string& outPath, const Tuning& tuning,
                const ExportOptions& options, Reporter& reporter, ExportSummary* summary) {
  MidiContext ctx(reporter);
  MidiLoader loader = LoadSmf(ctx, songPath);
  ExportSummary sum;
  const std::optional<std::vector<uint8_t>> bytes =
      ExportSongBytes(ctx, loader, tuning, options, &sum);
  if (summary) *summary = sum;
  if (!bytes) return false;
  AtomicFile out(outPath);
  if (!out.Write(*bytes) || !out.Commit()) {
    reporter.ShowText(PathAndCause(outPath, out.error()));
    return false;
  }
  // The file is for other synthesizers and DAWs, which take it whole; only Velorna's own
  // reader has its limits, and the user is told so.
  if (const std::optional<std::string> why = UnreadableBecause(*bytes, sum.noteOns))
    ShowLibraryError(reporter, LibraryModule::EXPT, code::kExptUnreadable, outPath + ": " + *why);
  return true;
}

}  // namespace velorna
