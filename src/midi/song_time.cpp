#include "midi/song_time.h"

#include <algorithm>
#include <limits>
#include <optional>

#include "base/limits.h"
#include "midi/note_pairing.h"
#include "midi/song_edit.h"

namespace velorna {

namespace {

// Later than any song could be rendered; keeps the sample number inside 64 bits at any rate.
constexpr int64_t kMaxMicroseconds = std::numeric_limits<int64_t>::max() / kSampleRate;
constexpr int32_t kDivisionField = 0xFFFF;
constexpr int kDropFrameRate = 29;  // 29.97 frames per second: 30000 frames per 1001 s

int64_t SumOfDeltas(const MidiTrack& track) {
  int64_t sum = 0;
  for (const MidiEvent& e : track.events) sum += e.delta;
  return sum;
}

// One tick of an SMPTE division (high byte: minus the frame rate, low byte: ticks per
// frame) as a fraction of microseconds; none for an unknown rate or no ticks per frame.
struct SmpteTick {
  int64_t numerator = 0;
  int64_t denominator = 1;
};
std::optional<SmpteTick> DecodeSmpte(int32_t division) {
  const int framesPerSecond = -static_cast<int8_t>((division >> 8) & 0xFF);
  const int ticksPerFrame = division & 0xFF;
  if (ticksPerFrame == 0) return std::nullopt;
  switch (framesPerSecond) {
    case 24:
    case 25:
    case 30:
      return SmpteTick{kMicrosecondsPerSecond, int64_t{framesPerSecond} * ticksPerFrame};
    case kDropFrameRate:
      return SmpteTick{kMicrosecondsPerSecond * 1001, int64_t{30000} * ticksPerFrame};
    default:
      return std::nullopt;
  }
}

int64_t ClampMicroseconds(__int128 us) {
  if (us < 0) return 0;
  if (us > kMaxMicroseconds) return kMaxMicroseconds;
  return static_cast<int64_t>(us);
}

}  // namespace

SongClock::SongClock(int32_t division) {
  const int32_t field = division & kDivisionField;
  if (IsSmpteDivision(field)) {
    smpte_ = true;
    const std::optional<SmpteTick> tick = DecodeSmpte(field);
    valid_ = tick.has_value();
    if (tick) {
      smpteNumerator_ = tick->numerator;
      smpteDenominator_ = tick->denominator;
    }
    return;
  }
  ticksPerQuarter_ = field;
  valid_ = ticksPerQuarter_ > 0;
  segments_.push_back(Segment{0, 0, kDefaultTempo});
}

SongClock SongClock::OfTrack(const MidiTrack& track, int32_t division) {
  SongClock clock(division);
  int64_t tick = 0;
  for (const MidiEvent& e : track.events) {
    tick += e.delta;
    if (e.status == st::kMeta && e.kind == meta::kTempo) clock.AddTempo(tick, e.value);
  }
  return clock;
}

void SongClock::AddTempo(int64_t tick, int32_t microsecondsPerQuarter) {
  if (smpte_ || !valid_) return;  // SMPTE time ignores tempo
  const Segment& last = segments_.back();
  tick = std::max(tick, last.tick);
  const __int128 scaled = last.scaledTime + static_cast<__int128>(tick - last.tick) * last.tempo;
  const int64_t tempo = microsecondsPerQuarter > 0 ? microsecondsPerQuarter : kDefaultTempo;
  if (tick == last.tick) {
    segments_.back().tempo = tempo;  // several tempos at one tick: the last one rules
  } else {
    segments_.push_back(Segment{tick, scaled, tempo});
  }
}

SongClock::Exact SongClock::ExactAt(int64_t tick, int64_t lastTempoTick) const {
  if (!valid_) return {0, 1};
  tick = std::max<int64_t>(tick, 0);
  if (smpte_) return {static_cast<__int128>(tick) * smpteNumerator_, smpteDenominator_};
  const int64_t segmentTick = std::max<int64_t>(std::min(tick, lastTempoTick), 0);
  auto it = std::upper_bound(segments_.begin(), segments_.end(), segmentTick,
                             [](int64_t t, const Segment& s) { return t < s.tick; });
  const Segment& seg = *(it - 1);
  return {seg.scaledTime + static_cast<__int128>(tick - seg.tick) * seg.tempo, ticksPerQuarter_};
}

int64_t SongClock::Microseconds(int64_t tick) const {
  return Microseconds(tick, tick);
}

int64_t SongClock::Microseconds(int64_t tick, int64_t lastTempoTick) const {
  const Exact at = ExactAt(tick, lastTempoTick);
  return ClampMicroseconds(at.scaled / at.scale);
}

double SongClock::Seconds(int64_t tick) const {
  return static_cast<double>(Microseconds(tick)) / static_cast<double>(kMicrosecondsPerSecond);
}

int64_t SongClock::FramesUntil(int64_t tick, int rate) const {
  const Exact at = ExactAt(tick, tick);
  const __int128 micros = std::min<__int128>(at.scaled, __int128{kMaxMicroseconds} * at.scale);
  const __int128 scale = static_cast<__int128>(at.scale) * kMicrosecondsPerSecond;
  return static_cast<int64_t>((micros * std::max(rate, 0) + scale - 1) / scale);
}

int64_t SongClock::TickAtMicros(int64_t from, int64_t micros) const {
  if (!valid_ || Microseconds(from) >= micros) return from;
  int64_t step = 1;
  while (Microseconds(from + step) < micros) {
    if (step > std::numeric_limits<int32_t>::max()) return from + step;  // no tempo moves it
    step *= 2;
  }
  int64_t lo = from + step / 2, hi = from + step;  // Microseconds(lo) < micros <= (hi)
  while (hi - lo > 1) {
    const int64_t mid = lo + (hi - lo) / 2;
    (Microseconds(mid) < micros ? lo : hi) = mid;
  }
  return hi;
}

int64_t TrackLengthTicks(MidiContext& ctx, const MidiTrack& track) {
  if (track.state != ts::kNotes) return SumOfDeltas(track);
  // Measured on note-on/note-off form so that a note sounding past the End of Track
  // lengthens the song.
  std::unique_ptr<MidiTrack> copy = CopyTrack(ctx, kTrackCapacity, track);
  NotesToEvents(ctx, *copy);
  return TrackLengthTicks(ctx, *copy);
}

bool IsSmpteDivision(int32_t division) {
  return (division & 0x8000) != 0;
}

bool IsUsableDivision(int32_t division) {
  return SongClock(division).valid();
}

int64_t SpannedTicks(const MidiTrack& track, int64_t limit) {
  int64_t elapsed = 0;
  for (const MidiEvent& e : track.events) {
    if (elapsed >= limit) break;
    elapsed += std::min<int64_t>(e.delta, limit - elapsed);
  }
  return elapsed;
}

double TicksToSeconds(const MidiTrack& track, int64_t limit, int32_t division) {
  return SongClock::OfTrack(track, division).Seconds(SpannedTicks(track, limit));
}

}  // namespace velorna
