// Operations on an event's data buffer (module MUEV).
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "midi/midi_types.h"

namespace velorna {

// Replaces the data with n bytes (+8 zero bytes); more than 256 bytes warns and keeps them.
void SetEventData(MidiContext& ctx, MidiEvent& e, std::span<const uint8_t> bytes);
// Byte i of data, 0 past size+8 (with MUEV 0x06000002).
uint8_t EventDataByte(MidiContext& ctx, const MidiEvent& e, int64_t i);
// Copies every field but channel (the copy constructor copies channel too).
void CopyEvent(MidiEvent& to, const MidiEvent& from);
// The rhythm map a GS "use for rhythm part" message sets its channel to (0: a normal part);
// none for any other event. A channel other than 10 with a map is a rhythm part: its notes are
// drum sounds, never retuned.
[[nodiscard]] std::optional<int> RhythmMapOf(const MidiEvent& e);
// A MIDI Tuning Standard message, by its body (the bytes after F0 and any length field):
// universal real-time or non-real-time, sub-ID 08.
[[nodiscard]] bool IsTuningSysExBody(std::span<const uint8_t> body);
// Status 240, kind 1, value 127, data F0 07 7F 7F 04 01 00 7F F7.
void MakeMasterVolume(MidiEvent& e);

}  // namespace velorna
