// A song's length in ticks and the one clock that turns its ticks into time: the output's
// length, adaptive intonation and every rendering read the same exact integer clock.
#pragma once

#include <cstdint>
#include <vector>

#include "midi/midi_types.h"

namespace velorna {

int64_t TrackLengthTicks(MidiContext& ctx, const MidiTrack& track);

// Ticks to microseconds under a tempo map or an SMPTE rate (`division` is the raw header
// field), exact in integers. Tempo changes must be added in tick order; a tempo of 0 or
// less counts as the default one, as a synthesizer plays it.
class SongClock {
 public:
  explicit SongClock(int32_t division);
  // The tempo changes of a track (events or note form) in delta time.
  static SongClock OfTrack(const MidiTrack& track, int32_t division);
  // False for a division that gives no time (0 ticks per quarter note or per frame, or an
  // unknown frame rate).
  bool valid() const { return valid_; }
  void AddTempo(int64_t tick, int32_t microsecondsPerQuarter);
  // Rounded down; 0 before the song and for an invalid division, held below the point where
  // a sample number at any output rate would pass 64 bits.
  int64_t Microseconds(int64_t tick) const;
  // The same, for a copy of the song that holds no tempo change after `lastTempoTick`.
  int64_t Microseconds(int64_t tick, int64_t lastTempoTick) const;
  double Seconds(int64_t tick) const;
  // Frames of `rate` up to the tick, rounded up: the first frame at or past it.
  int64_t FramesUntil(int64_t tick, int rate) const;
  // The first tick from `from` on at which the clock reaches `micros`.
  int64_t TickAtMicros(int64_t from, int64_t micros) const;

 private:
  // The exact time at a tick: `scaled` / `scale` microseconds.
  struct Exact {
    __int128 scaled;
    int64_t scale;
  };
  Exact ExactAt(int64_t tick, int64_t lastTempoTick) const;
  struct Segment {
    int64_t tick;
    __int128 scaledTime;  // µs × ticks-per-quarter at `tick`, exact
    int64_t tempo;
  };
  bool valid_ = false;
  bool smpte_ = false;
  int64_t ticksPerQuarter_ = 0;
  int64_t smpteNumerator_ = 0;  // µs of one tick = numerator / denominator
  int64_t smpteDenominator_ = 1;
  std::vector<Segment> segments_;
};

// The tick a track's events reach, walked no further than `limit`.
int64_t SpannedTicks(const MidiTrack& track, int64_t limit);
// `division` is the raw header field: SMPTE timing when its high bit is set. The playing
// time runs to the last event (or `limit`), on the song clock.
double TicksToSeconds(const MidiTrack& track, int64_t limit, int32_t division);

// SMPTE timing: frames per second (24, 25, 29.97, 30) times ticks per frame.
bool IsSmpteDivision(int32_t division);
// Ticks have a length: a non-zero tick count, or SMPTE with a known frame rate and at
// least one tick per frame.
bool IsUsableDivision(int32_t division);

}  // namespace velorna
