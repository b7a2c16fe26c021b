// A song's length in ticks and its playing time in seconds.
#pragma once

#include <cstdint>
#include <vector>

#include "midi/midi_types.h"

namespace velorna {

int64_t TrackLengthTicks(MidiContext& ctx, const MidiTrack& track);
// `division` is the raw header field: SMPTE timing when its high bit is set.
double TicksToSeconds(const MidiTrack& track, int64_t limit, int32_t division);

// Seconds at any tick of a track, from its tempo changes: one segment per tempo in force,
// so a note's end (its start plus `duration`) finds its time as readily as an event's.
struct TempoSegment {
  int64_t tick = 0;
  double seconds = 0;
  double secondsPerTick = 0;
};
using TempoMap = std::vector<TempoSegment>;
// Empty when the division gives ticks no length.
TempoMap BuildTempoMap(const MidiTrack& track, int32_t division);
double SecondsAtTick(const TempoMap& map, int64_t tick);

// SMPTE timing: frames per second (24, 25, 29.97, 30) times ticks per frame.
bool IsSmpteDivision(int32_t division);
// Ticks have a length: a non-zero tick count, or SMPTE with a known frame rate and at
// least one tick per frame.
bool IsUsableDivision(int32_t division);

}  // namespace velorna
