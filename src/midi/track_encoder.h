// Encodes a track in events form into one MTrk chunk in its own byte buffer.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "midi/midi_types.h"

namespace velorna {

// Largest value a variable-length quantity of four bytes holds.
inline constexpr uint32_t kMaxVarLen = 0x0FFFFFFF;

// Writes v as a variable-length quantity (1 to 4 bytes); returns the count. Values above
// kMaxVarLen are written as kMaxVarLen: callers that can meet them report it themselves.
int WriteVarLen(uint32_t v, uint8_t* out);
// State 1 -> 0: the whole chunk, header included, in track.bytes; `length` its size.
void EncodeTrack(MidiContext& ctx, MidiTrack& track);
// Both append the event's bytes (no delta time) to `out` and return their count.
int32_t EncodeEvent(MidiContext& ctx, const MidiEvent& e, std::vector<uint8_t>& out);
int32_t EncodeMetaEvent(MidiContext& ctx, const MidiEvent& e, std::vector<uint8_t>& out);
// Within each tick, move the set-up events (everything but note-ons, note-offs and the
// End of Track) ahead of the notes; SysExFirst then moves system exclusives ahead of those.
// Both keep the order of the events they move and of those they pass.
void SetupEventsFirst(MidiContext& ctx, MidiTrack& track);
void SysExFirst(MidiTrack& track);

}  // namespace velorna
