// The drum pass's copy of the song: the drum channel and the channel-less events, played
// as they are, without retuning.
#pragma once

#include <memory>

#include "conversion/note_retune.h"
#include "midi/midi_types.h"

namespace velorna {

// The copy of the indexed song. Its end is held open as a note's copy's is, so the drums
// ring on until the song's ending cap as they do in a single pass.
std::unique_ptr<MidiFormat0Data> BuildDrumCopy(MidiContext& ctx, const SongNoteIndex& index);

}  // namespace velorna
