#include "midi/song_time.h"

#include <algorithm>

#include "midi/note_pairing.h"
#include "midi/song_edit.h"

namespace velorna {

namespace {

int64_t SumOfDeltas(const MidiTrack& track) {
  int64_t sum = 0;
  for (const MidiEvent& e : track.events) sum += e.delta;
  return sum;
}

// Seconds per tick of a SMPTE division (high byte: minus the frame rate, low byte: ticks
// per frame); 0 when the field is not a usable SMPTE division.
double SmpteSecondsPerTick(int32_t division) {
  const auto frameByte = static_cast<int8_t>((division >> 8) & 0xFF);
  const int ticksPerFrame = division & 0xFF;
  double framesPerSecond = 0;
  switch (frameByte) {
    case -24:
      framesPerSecond = 24;
      break;
    case -25:
      framesPerSecond = 25;
      break;
    case -29:
      framesPerSecond = 30000.0 / 1001.0;
      break;  // 30 drop-frame
    case -30:
      framesPerSecond = 30;
      break;
    default:
      return 0;
  }
  if (ticksPerFrame == 0) return 0;
  return 1.0 / (framesPerSecond * ticksPerFrame);
}

constexpr double kMicrosecondsPerSecond = 1000000.0;

// Length of one tick at `tempo` (microseconds per quarter) under a usable division.
double SecondsPerTick(int32_t field, int64_t tempo) {
  if (IsSmpteDivision(field)) return SmpteSecondsPerTick(field);  // the tempo does not apply
  return static_cast<double>(tempo) / (static_cast<double>(field) * kMicrosecondsPerSecond);
}

}  // namespace

TempoMap BuildTempoMap(const MidiTrack& track, int32_t division) {
  const int32_t field = division & 0xFFFF;
  TempoMap map;
  if (!IsUsableDivision(field)) return map;
  map.push_back({0, 0.0, SecondsPerTick(field, kDefaultTempo)});
  int64_t tick = 0;
  for (const MidiEvent& e : track.events) {
    tick += e.delta;
    if (e.status != st::kMeta || e.kind != meta::kTempo) continue;
    const TempoSegment& last = map.back();
    const TempoSegment next{tick, SecondsAtTick(map, tick), SecondsPerTick(field, e.value)};
    if (next.tick == last.tick) {
      map.back() = next;  // several tempos at one tick: the last one rules
    } else {
      map.push_back(next);
    }
  }
  return map;
}

double SecondsAtTick(const TempoMap& map, int64_t tick) {
  if (map.empty()) return 0;
  auto after = std::upper_bound(map.begin(), map.end(), tick,
                                [](int64_t t, const TempoSegment& s) { return t < s.tick; });
  const TempoSegment& s = after == map.begin() ? map.front() : *(after - 1);
  return s.seconds + static_cast<double>(tick - s.tick) * s.secondsPerTick;
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
  const int32_t field = division & 0xFFFF;
  if (IsSmpteDivision(field)) return SmpteSecondsPerTick(field) > 0;
  return field != 0;
}

double TicksToSeconds(const MidiTrack& track, int64_t limit, int32_t division) {
  const int32_t field = division & 0xFFFF;
  if (!IsUsableDivision(field)) return 0;
  const bool smpte = IsSmpteDivision(field);
  const double smpteTick = smpte ? SmpteSecondsPerTick(field) : 0;
  double seconds = 0;
  int64_t tempo = kDefaultTempo;
  int64_t elapsed = 0;
  for (const MidiEvent& e : track.events) {
    if (elapsed >= limit) break;
    int64_t d = e.delta;
    if (elapsed + d > limit) d = limit - elapsed;
    if (d != 0) {
      if (smpte) {
        // Real-time ticks: the tempo does not change their length.
        seconds += static_cast<double>(d) * smpteTick;
      } else {
        seconds += ((static_cast<double>(d) / field) * static_cast<double>(tempo)) / 1000000.0;
      }
    }
    if (e.status == st::kMeta && e.kind == meta::kTempo) tempo = e.value;
    elapsed += e.delta;
  }
  return seconds;
}

}  // namespace velorna
