// Encodes a track in events form into one MTrk chunk in its own byte buffer.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "midi/midi_types.h"

namespace velorna {

// Writes v as a variable-length quantity (1 to 4 bytes); returns the count.
int WriteVarLen(uint32_t v, uint8_t* out);
void EncodeTrack(MidiContext& ctx, MidiTrack& track);
int32_t EncodeEvent(MidiContext& ctx, const MidiEvent& e, std::vector<uint8_t>& out);
int32_t EncodeMetaEvent(MidiContext& ctx, const MidiEvent& e, std::vector<uint8_t>& out);
void SetupEventsFirst(MidiContext& ctx, MidiTrack& track);
void SysExFirst(MidiTrack& track);

}  // namespace velorna
