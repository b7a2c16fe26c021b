#include "cli/song_listing.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "audio/rendering_service.h"
#include "base/display_text.h"
#include "cli/tuning_options.h"
#include "conversion/conversion_messages.h"
#include "conversion/note_retune.h"
#include "conversion/song_loading.h"
#include "midi/song_time.h"
#include "tuning/adaptive.h"
#include "tuning/played_tuning.h"
#include "tuning/song_tuning.h"
#include "tuning/tuning.h"

namespace velorna::cli {

namespace {

constexpr std::array<const char*, kPitchClassCount> kNoteNames{"C",  "C#", "D",  "D#", "E",  "F",
                                                               "F#", "G",  "G#", "A",  "A#", "B"};
constexpr int kChannelBase = 1;       // musicians count channels from 1
constexpr int kProgramBase = 1;       // and programs too
constexpr int kOctaveOfKeyZero = -1;  // C4 = key 60
constexpr int kBendDataBits = 7;
constexpr double kMicrosecondsPerMinute = 60e6;

// Where a tick lies in song time: seconds through the song's tempo changes, bar and beat
// through its time signatures (4/4 until the first).
class ListingClock {
 public:
  explicit ListingClock(const MidiFormat0Data& song)
      : division_(song.division),
        clock_(SongClock::OfTrack(*song.track, song.division)),
        end_(SpannedTicks(*song.track, std::numeric_limits<int64_t>::max())) {
    int64_t tick = 0;
    for (const MidiEvent& e : song.track->events) {
      tick += e.delta;
      if (e.status == st::kMeta && e.kind == meta::kTimeSignature && e.value > 0)
        signatures_.push_back({tick, e.value / kSignatureScale, e.value % kSignatureScale});
    }
  }

  // On the song clock, no later than the song's last event.
  double Seconds(int64_t tick) const { return clock_.Seconds(std::min(tick, end_)); }

  // "bar:beat", the beat with two decimals when the tick falls between beats.
  std::string BarBeat(int64_t tick) const {
    const int32_t quarter = division_ & kDivisionMask;
    if (IsSmpteDivision(division_) || quarter == 0) return "-";
    Signature current{0, kDefaultBeats, kDefaultBeatUnit};
    int64_t bar = 1;
    for (const Signature& next : signatures_) {
      if (next.tick > tick) break;
      const int64_t barTicks = BarTicks(current, quarter);
      bar += (next.tick - current.tick + barTicks - 1) / barTicks;  // a partial bar counts
      current = next;
    }
    const int64_t barTicks = BarTicks(current, quarter);
    const int64_t into = tick - current.tick;
    const double beatTicks = static_cast<double>(barTicks) / current.beats;
    const double beat = 1 + static_cast<double>(into % barTicks) / beatTicks;
    char text[48];
    if (beat == std::floor(beat)) {
      std::snprintf(text, sizeof text, "%lld:%d", static_cast<long long>(bar + into / barTicks),
                    static_cast<int>(beat));
    } else {
      std::snprintf(text, sizeof text, "%lld:%.2f", static_cast<long long>(bar + into / barTicks),
                    beat);
    }
    return text;
  }

 private:
  static constexpr int32_t kSignatureScale = 256;  // numerator * 256 + denominator
  static constexpr int32_t kDivisionMask = 0xFFFF;
  static constexpr int kDefaultBeats = 4;
  static constexpr int kDefaultBeatUnit = 4;
  static constexpr int kQuarterUnit = 4;

  struct Signature {
    int64_t tick;
    int beats;
    int unit;  // 4: quarter notes, 8: eighths
  };

  static int64_t BarTicks(const Signature& s, int32_t quarter) {
    return std::max<int64_t>(
        1, int64_t{quarter} * kQuarterUnit * std::max(1, s.beats) / std::max(1, s.unit));
  }

  int32_t division_;
  SongClock clock_;
  int64_t end_;
  std::vector<Signature> signatures_;
};

int PitchClass(int key) {
  return ((key % kPitchClassCount) + kPitchClassCount) % kPitchClassCount;
}

std::string NoteName(int key) {
  const int octave = (key - PitchClass(key)) / kPitchClassCount + kOctaveOfKeyZero;
  return std::string(kNoteNames[static_cast<size_t>(PitchClass(key))]) + std::to_string(octave) +
         " (" + std::to_string(key) + ")";
}

std::string ChannelName(int channel) {
  return channel == kNoChannel ? std::string("-") : std::to_string(channel + kChannelBase);
}

// A text event's bytes, without the zeros some files end their texts with, quoted with its
// control characters and invalid bytes escaped, so that no byte of a song acts on a terminal.
std::string MetaText(const MidiEvent& e) {
  if (e.size <= 0 || e.data.size() < static_cast<size_t>(e.size)) return "\"\"";
  std::string_view text(reinterpret_cast<const char*>(e.data.data()), static_cast<size_t>(e.size));
  while (!text.empty() && text.back() == '\0') text.remove_suffix(1);
  return "\"" + EscapeForDisplay(text) + "\"";
}

// The meta events a song may hold, by their type byte.
struct MetaName {
  uint32_t kind;
  const char* name;
};
constexpr std::array<MetaName, 7> kTextEventNames{{{1, "text"},
                                                   {2, "copyright"},
                                                   {3, "track name"},
                                                   {4, "instrument name"},
                                                   {5, "lyric"},
                                                   {6, "marker"},
                                                   {7, "cue point"}}};
constexpr uint32_t kSequencerSpecific = 0x7F;
constexpr uint32_t kKeySignature = 0x59;
constexpr int kMostAccidentals = 7;
// Tonics by the number of sharps (negative: flats), from seven flats to seven sharps.
constexpr std::array<const char*, 2 * kMostAccidentals + 1> kMajorKeys{
    "Cb", "Gb", "Db", "Ab", "Eb", "Bb", "F", "C", "G", "D", "A", "E", "B", "F#", "C#"};
constexpr std::array<const char*, 2 * kMostAccidentals + 1> kMinorKeys{
    "Ab", "Eb", "Bb", "F", "C", "G", "D", "A", "E", "B", "F#", "C#", "G#", "D#", "A#"};

std::string KeySignature(const MidiEvent& e) {
  if (e.data.size() < 2) return "key signature";
  const int sharps = static_cast<int8_t>(e.data[0]);
  const int mode = e.data[1];
  if (sharps < -kMostAccidentals || sharps > kMostAccidentals || mode > 1)
    return "key signature (sharps " + std::to_string(sharps) + ", mode " + std::to_string(mode) +
           ", not a key)";
  const size_t at = static_cast<size_t>(sharps + kMostAccidentals);
  const std::string accidentals = sharps == 0 ? "no sharps or flats"
                                              : std::to_string(std::abs(sharps)) +
                                                    (sharps > 0 ? " sharp" : " flat") +
                                                    (std::abs(sharps) > 1 ? "s" : "");
  return "key signature " + std::string(mode == 0 ? kMajorKeys[at] : kMinorKeys[at]) +
         (mode == 0 ? " major (" : " minor (") + accidentals + ")";
}

std::string DescribeMeta(const MidiEvent& e) {
  char text[64];
  switch (e.kind) {
    case meta::kTempo:
      std::snprintf(text, sizeof text, "tempo %.2f bpm", kMicrosecondsPerMinute / e.value);
      return text;
    case meta::kTimeSignature:
      return "time signature " + std::to_string(e.value >> 8) + "/" +
             std::to_string(e.value & 0xFF);
    case kKeySignature:
      return KeySignature(e);
    case meta::kEndOfTrack:
      return "end of track";
    case kSequencerSpecific:
      return "sequencer-specific, " + std::to_string(e.size) + " bytes";
    default:
      break;
  }
  for (const MetaName& name : kTextEventNames)
    if (name.kind == e.kind) return std::string(name.name) + " " + MetaText(e);
  return "meta " + std::to_string(e.kind);
}

std::string Describe(const MidiEvent& e, double lengthSeconds) {
  char text[160];
  switch (e.status) {
    case st::kNote:
      std::snprintf(text, sizeof text, "note %-9s velocity %3d  length %.3f s",
                    NoteName(e.note).c_str(), e.velocity, lengthSeconds);
      return text;
    case st::kKeyPressure:
      return "key pressure " + NoteName(e.note) + " " + std::to_string(e.value);
    case st::kControl:
      return "controller " + std::to_string(e.kind) + " = " + std::to_string(e.value);
    case st::kProgram:
      return "program " + std::to_string(e.value + kProgramBase);
    case st::kChannelPressure:
      return "channel pressure " + std::to_string(e.value);
    case st::kPitchBend: {
      const int bend = (e.value << kBendDataBits | e.note) - kCentreBend;
      std::snprintf(text, sizeof text, "pitch bend %+d (%+.1f %% of the range)", bend,
                    100.0 * bend / kCentreBend);
      return text;
    }
    case st::kSysEx:
    case st::kEscape:
      return "system exclusive, " + std::to_string(e.size) + " bytes";
    case st::kDisabled:
      return "(ignored)";
    case st::kMeta:
      return DescribeMeta(e);
    default:
      return "status " + std::to_string(e.status);
  }
}

void PrintEvents(const MidiFormat0Data& song) {
  std::printf("# tick channel status note velocity duration kind value\n");
  int64_t tick = 0;
  for (const MidiEvent& e : song.track->events) {
    tick += e.delta;
    std::printf("%lld %d %u %d %d %d %u %d\n", static_cast<long long>(tick), e.channel, e.status,
                e.note, e.velocity, e.duration, e.kind, e.value);
  }
}

// Calls visit(index, tick, event) for every note of the song, in order.
template <typename Visit>
void ForEachNote(const MidiFormat0Data& song, Visit visit) {
  int64_t tick = 0;
  const auto& events = song.track->events;
  for (size_t i = 0; i < events.size(); ++i) {
    tick += events[i].delta;
    if (events[i].status == st::kNote) visit(i, tick, events[i]);
  }
}

void PrintBends(const MidiFormat0Data& song, const SongNoteIndex& index, const Tuning& tuning) {
  std::printf("%s", ReferenceHeading(tuning).c_str());
  std::printf("# index tick channel note pitch-class cents sensitivity base-bend bend\n");
  ForEachNote(song, [&](size_t i, int64_t tick, const MidiEvent& e) {
    const int pc = PitchClass(e.note);
    std::printf("%zu %lld %d %d %d ", i, static_cast<long long>(tick), e.channel, e.note, pc);
    if (e.channel == kDrumChannel) {
      std::printf("drum\n");
      return;
    }
    const NoteRetuning r = DescribeRetuning(index, static_cast<int32_t>(i), tuning);
    if (r.rhythmPart) {
      std::printf("rhythm\n");
      return;
    }
    if (r.unmapped) {
      std::printf("unmapped\n");
      return;
    }
    std::printf("%g %d %d %d\n", r.target, static_cast<int>(r.sensitivity), r.baseBend, r.bend);
  });
}

void PrintEventsForPeople(const MidiFormat0Data& song) {
  const ListingClock clock(song);
  std::printf("# %9s  %-8s  %-3s  %s\n", "seconds", "bar:beat", "ch", "event");
  int64_t tick = 0;
  for (const MidiEvent& e : song.track->events) {
    tick += e.delta;
    if (e.added) continue;  // the reader's, not the song's
    const double at = clock.Seconds(tick);
    const double length = e.status == st::kNote ? clock.Seconds(tick + e.duration) - at : 0;
    std::printf("%11.3f  %-8s  %-3s  %s\n", at, clock.BarBeat(tick).c_str(),
                ChannelName(e.channel).c_str(), Describe(e, length).c_str());
  }
}

// `own`: the targets the song's own tuning data give (empty when it has none or they are
// ignored), and `channels` the channels tuned apart, named where they apply.
void PrintBendsForPeople(const MidiFormat0Data& song, const SongNoteIndex& index,
                         const Tuning& tuning, const std::vector<KeyTarget>& own,
                         const std::vector<ChannelKeys>& channels) {
  const ListingClock clock(song);
  std::printf("%s", ReferenceHeading(tuning).c_str());
  std::printf("# %9s  %-8s  %-3s  %-9s  %8s  %10s  %s\n", "seconds", "bar:beat", "ch", "note",
              "cents", "Hz", "bend (what it carries) and what the rendering rate adds");
  ForEachNote(song, [&](size_t i, int64_t tick, const MidiEvent& e) {
    std::printf("%11.3f  %-8s  %-3s  %-9s  ", clock.Seconds(tick), clock.BarBeat(tick).c_str(),
                ChannelName(e.channel).c_str(), NoteName(e.note).c_str());
    const bool drum = e.channel == kDrumChannel;
    const NoteRetuning r =
        drum ? NoteRetuning{} : DescribeRetuning(index, static_cast<int32_t>(i), tuning);
    if (drum || r.rhythmPart || r.unmapped) {
      std::printf("%8s  %10s  %s\n", "-", "-",
                  drum           ? "drum channel, not retuned"
                  : r.rhythmPart ? "rhythm part, not retuned"
                                 : "unmapped by the tuning, silent");
      return;
    }
    std::printf("%+8.1f  %10.3f  %d (%+.0f cents over %g semitones", r.target,
                KeyFrequencyHz(e.note, r.target), r.bend, r.bendCents, r.sensitivity);
    if (r.keyShift != 0) std::printf(", key %+d", r.keyShift);
    if (r.baseCents != 0) std::printf(", the song's bend %+.1f", r.baseCents);
    if (i < own.size() && own[i]) {
      std::printf(", the song's own MTS tuning");
    } else if (ChannelTarget(channels, e.channel, e.note)) {
      std::printf(", channel %d's tuning", e.channel + 1);
    }
    std::printf(") %+.2f\n", r.rateShiftCents);
  });
}

}  // namespace

bool Inspect(const CliOptions& options, const Tuning& tuning, Reporter& reporter) {
  MidiContext ctx(reporter);
  // A FIFO named as the song waits for its writer; Ctrl-C ends the wait as it ends inspect.
  static const std::atomic<int> kNeverStopped{0};
  ctx.stop = &kNeverStopped;
  std::unique_ptr<MidiFormat0Data> song;
  int seconds = 0;
  if (!LoadAndPrepareSong(ctx, options.inputs[0], {}, song, seconds)) return false;
  const std::unique_ptr<SongNoteIndex> index = IndexSong(
      *song,
      SoundFontPitch::Read(options.soundFont.empty() ? DefaultSoundFontPath() : options.soundFont));
  if (!index) return false;
  // The bends then show each note's chosen pitch, as the job would play it.
  const bool adaptive = options.adaptive && options.bends;
  if (adaptive && !IsTwelveToneOctave(tuning.keys)) {
    reporter.ShowText(conversion_msg::kAdaptiveNeedsTwelveTones);
    return false;
  }
  const std::vector<KeyTarget> own =
      options.ignoreSongTuning ? std::vector<KeyTarget>{} : SongTuningTargets(*song);
  const Tuning played = PlayedTuning(tuning, *song, adaptive, options.ignoreSongTuning);
  if (options.raw) {
    options.bends ? PrintBends(*song, *index, played) : PrintEvents(*song);
  } else {
    options.bends ? PrintBendsForPeople(*song, *index, played, own, tuning.channels)
                  : PrintEventsForPeople(*song);
  }
  return true;
}

}  // namespace velorna::cli
