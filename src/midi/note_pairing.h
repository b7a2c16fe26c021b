// Between events form (note-on/note-off) and note form (one event with a duration).
#pragma once

#include "midi/midi_types.h"

namespace velorna {

void VelocityZeroToNoteOff(MidiContext& ctx, MidiTrack& track);
void EventsToNotes(MidiContext& ctx, MidiTrack& track);
void NotesToEvents(MidiContext& ctx, MidiTrack& track);
void NoteOffsBeforeNoteOns(MidiContext& ctx, MidiTrack& track);

}  // namespace velorna
