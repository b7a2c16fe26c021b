// The tunings a song carries itself: MIDI Tuning Standard messages (bulk dumps, single-note
// changes, scale/octave tunings) and the channels' choice of tuning program and bank (RPN 3
// and 4). A note they govern sounds where they put it, whatever tuning is chosen.
#pragma once

#include <cstdint>
#include <vector>

#include "midi/midi_types.h"
#include "tuning/tuning.h"

namespace velorna {

// The song's own target of every note its tuning data govern, by event index of the
// prepared (note-form) song; none for the others. Empty when the song carries no tuning.
std::vector<KeyTarget> SongTuningTargets(const MidiFormat0Data& song);

// A MIDI Tuning Standard message (bulk dump, single-note change, scale/octave tuning).
bool IsMtsMessage(const MidiEvent& e);

// `chosen` with the governed notes at the song's targets: the form the engines render.
Tuning WithSongTuning(const Tuning& chosen, const MidiFormat0Data& song);

}  // namespace velorna
