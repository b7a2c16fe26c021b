// The drum pass's copy of the song: the drum channel and the channel-less events, played
// as they are, without retuning.
#pragma once

#include <memory>

#include "midi/midi_types.h"

namespace velorna {

std::unique_ptr<MidiFormat0Data> BuildDrumCopy(MidiContext& ctx, const MidiFormat0Data& song);

}  // namespace velorna
