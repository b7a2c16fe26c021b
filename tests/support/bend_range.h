// The bend range a song's set-up gives a channel, read the simple way: a check on what the
// conversion's own channel set-up concludes.
#pragma once

#include <cstdint>

#include "midi/midi_types.h"

namespace velorna {

// Pitch-bend range in semitones (cents as the fraction) that applies at `time`; 0 when the
// song sets none, or sets 0.
double FindBendSensitivity(const MidiFormat0Data& song, int channel, int64_t time);

}  // namespace velorna
