// Merging tracks into one, and the small track operations the merge rests on.
#pragma once

#include <cstdint>
#include <string>

#include "midi/midi_types.h"

namespace velorna {

void MergeTrackInto(MidiContext& ctx, int nameMode, const MidiTrack& source, MidiTrack& dest);
int GetTrackName(const MidiTrack& track, std::string& name);
int RemoveTrackName(MidiTrack& track);
void PrependTrackName(MidiContext& ctx, MidiTrack& track, const std::string& name);
void ClearTrack(MidiTrack& track);
void DeleteEventAt(MidiTrack& track, int32_t index);
void FixEndOfTrack(MidiContext& ctx, MidiTrack& track);

}  // namespace velorna
