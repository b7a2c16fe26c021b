// Decodes the bytes of one track chunk (held in track.bytes, `pos` at 8) into events.
#pragma once

#include <cstdint>

#include "midi/midi_types.h"

namespace velorna {

void ParseEvent(MidiContext& ctx, MidiTrack& track);
int32_t ReadDeltaTime(MidiContext& ctx, MidiTrack& track);
int32_t DecodeEventBody(MidiContext& ctx, MidiTrack& track, MidiEvent& e, int statusByte);
void ClassifySysEx(MidiEvent& e);
int32_t DecodeMetaEvent(MidiContext& ctx, MidiTrack& track, MidiEvent& e);
int32_t ReadMetaText(MidiContext& ctx, MidiTrack& track, MidiEvent& e);
int32_t PackTimeSignature(MidiContext& ctx, int numerator, int denominatorPower);
int32_t FindMasterVolume(MidiContext& ctx, const MidiTrack& track);
void PrependMasterVolume(MidiContext& ctx, MidiTrack& track);

}  // namespace velorna
