// Builds note-form tracks and songs from short event lists, and describes tracks as one
// line per event so whole tracks compare in one assertion.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "midi/midi_types.h"

namespace velorna::test {

MidiEvent Note(int32_t delta, int channel, int note, int32_t duration, int velocity = 100);
MidiEvent Control(int32_t delta, int channel, int controller, int value);
MidiEvent Program(int32_t delta, int channel, int program);
MidiEvent Bend(int32_t delta, int channel, int bend);
MidiEvent Tempo(int32_t delta, int microsecondsPerQuarter);
MidiEvent EndOfTrack(int32_t delta);
// GS use-for-rhythm-part setting (F0 41 10 42 12 40 1x 15 map sum F7) for a channel.
MidiEvent RhythmPart(int32_t delta, int channel, int map);
// Pitch-bend range through RPN 0,0: controllers 101 = 0, 100 = 0, 6 = semitones (and 38 =
// cents when given); the first event carries `delta`.
std::vector<MidiEvent> BendRange(int32_t delta, int channel, int semitones, int cents = -1);

MidiTrack MakeTrack(std::vector<MidiEvent> events, int32_t state = ts::kNotes);
std::unique_ptr<MidiFormat0Data> MakeSong(std::vector<MidiEvent> events, int division = 480);
// Concatenates event lists, for songs written with BendRange among single events.
std::vector<MidiEvent> Events(std::initializer_list<std::vector<MidiEvent>> parts);

std::vector<int64_t> AbsoluteTimes(const MidiTrack& track);
// E.g. "+480 note ch0 67 dur480", "+0 bend ch0 8273", "+0 cc ch0 101=0", "+480 eot".
std::string Describe(const MidiEvent& e);
std::vector<std::string> Describe(const MidiTrack& track);

}  // namespace velorna::test
