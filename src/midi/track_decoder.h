// Decodes the bytes of one track chunk (held in track.bytes, `pos` at 8) into events.
// No read goes past `length`; every event advances `pos`.
#pragma once

#include <cstdint>
#include <span>

#include "midi/midi_types.h"

namespace velorna {

// Decodes the event at `pos`, appends it and advances `pos`. Requires state 0.
void ParseEvent(MidiContext& ctx, MidiTrack& track);
// Bytes the body at `pos` occupies (status byte included), 0 when not recognised.
// Does not move `pos`.
int32_t DecodeEventBody(MidiContext& ctx, MidiTrack& track, MidiEvent& e, int statusByte);
void ClassifySysEx(MidiEvent& e);
int32_t DecodeMetaEvent(MidiContext& ctx, MidiTrack& track, MidiEvent& e);
int32_t ReadMetaText(MidiContext& ctx, MidiTrack& track, MidiEvent& e);
int32_t PackTimeSignature(MidiContext& ctx, int numerator, int denominatorPower);
// The value of the track's last master-volume event, or -1.
int32_t FindMasterVolume(MidiContext& ctx, const MidiTrack& track);
void PrependMasterVolume(MidiContext& ctx, MidiTrack& track);

// Runs ParseEvent from `pos` until `length` (a track in state 0 whose `bytes` hold the
// chunk), resetting the show-once warnings first; then state 1.
void DecodeTrackEvents(MidiContext& ctx, MidiTrack& track);
// Decodes a whole chunk (header included) given as bytes in memory into `track`, which
// is emptied first. The span's size is the chunk's extent (the header's length field is
// not consulted); at most `capacity` bytes are taken.
void DecodeTrackBytes(MidiContext& ctx, MidiTrack& track,
                      std::span<const uint8_t> chunkIncludingHeader);

}  // namespace velorna
