// The tuning method: for one pitched note, a copy of the song holding what applies to
// that note, with a channel pitch bend that shifts it by its pitch class's offset.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "midi/midi_types.h"

namespace velorna {

using CentTable = std::array<int, 12>;
inline constexpr CentTable kPureIntervalCents{0, 12, 4, 16, -14, -2, -10, 2, 14, -16, 18, -12};

std::unique_ptr<MidiFormat0Data> BuildSingleNoteCopy(MidiContext& ctx, const MidiFormat0Data& song,
                                                     int32_t i, int64_t t, const CentTable& cents);
// Pitch-bend range in semitones (with cents as the fraction) that applies at `time`; 0 when none.
double FindBendSensitivity(const MidiFormat0Data& song, int channel, int64_t time);
void SetPitchBendAt(MidiContext& ctx, MidiTrack& track, int msb, int lsb, int64_t time, int channel);
// The bend for a note of `cents` under range `sensitivity` from `base`, clamped to 0..16383.
int BendValue(int base, int cents, double sensitivity);

}  // namespace velorna
