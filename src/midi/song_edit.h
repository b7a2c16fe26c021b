// Copies, destruction and event-list editing. Every operation keeps the absolute time of
// each event that stays in the list.
#pragma once

#include <cstdint>
#include <memory>

#include "midi/midi_types.h"

namespace velorna {

[[nodiscard]] std::unique_ptr<MidiFormat0Data> CopySong(MidiContext& ctx,
                                                        const MidiFormat0Data& song);
void DestroySong(MidiContext& ctx, std::unique_ptr<MidiFormat0Data>& song);
void DestroySong(MidiContext& ctx, std::unique_ptr<MidiFormat1Data>& song);
[[nodiscard]] std::unique_ptr<MidiTrack> CopyTrack(MidiContext& ctx, int32_t capacity,
                                                   const MidiTrack& source);
// Releases the track's events and buffers (warning for events of 256 bytes or more).
void DestroyTrack(MidiContext& ctx, MidiTrack& track);

// Both report MDTK 0x0D000006 on a full track and then drop the event (returning false).
[[nodiscard]] bool AppendEvent(MidiContext& ctx, MidiTrack& track, MidiEvent event);
// mode 2: before every event of time t; other modes: after them, before an End of Track.
[[nodiscard]] bool InsertEventAtTime(MidiContext& ctx, MidiEvent event, MidiTrack& track, int64_t t,
                                     int mode);
void RemoveDisabledEvents(MidiTrack& track);
// A tick distance as a delta: held to 0..INT32_MAX, since a gap made by joining or removing
// events can pass the 32-bit range and must not wrap to a negative delta.
int32_t ToDelta(int64_t ticks);
// Control change `controller` = value on the channel, delta 0, no data.
MidiEvent MakeControlChange(int channel, uint32_t controller, int32_t value);

}  // namespace velorna
