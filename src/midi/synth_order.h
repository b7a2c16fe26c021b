// The order in which a synthesizer playing a song receives the events of one tick.
//
// A song in note form keeps no order within a tick, but a synthesizer hears one: what a
// note is to sound like (system exclusives first, then the channels' set-up) must reach it
// before the note starts, a note released at the tick is released before a note of the
// same key starts there, and a note struck and released at one tick is released behind
// its note-on. The writer plays a tick's events in this order, and so does every plan of
// a rendering: a note rendered alone hears its events as the whole song would give them.
#pragma once

#include <cstdint>
#include <map>
#include <utility>
#include <vector>

#include "midi/midi_types.h"

namespace velorna {

// One event at its absolute tick.
struct TickedEvent {
  int64_t tick = 0;
  MidiEvent event;
  int32_t source = -1;  // its position in the song it comes from; -1 for none
};

// Places within a tick, in the order they are played.
enum class TickRank { kSysEx, kSetUp, kNote, kEndOfTrack };
TickRank RankInTick(const MidiEvent& e);

// Notes of each channel and key sounding from earlier ticks, carried from tick to tick.
using OpenNotes = std::map<std::pair<int32_t, int32_t>, int>;

// The note-ons and note-offs of one tick [begin, end) in the order the synthesizer must
// get them: a note-off ending an earlier note goes before the tick's note-on of its key,
// one ending a note of this tick stays behind it. Other events keep their places; so do
// the deltas of `events`.
void OrderNotesOfTick(std::vector<MidiEvent>& events, size_t begin, size_t end, OpenNotes& open);

// Note form (kNote with a duration; ticks never decreasing) to note-ons and note-offs in
// the order a synthesizer playing it receives them. A note's release comes before whatever
// else happens at its end tick (of several, the later note's first); a note of no length
// is released right behind its start; a note of velocity 0 is no note.
std::vector<TickedEvent> InSynthOrder(std::vector<TickedEvent> notes);
// Only the first step of InSynthOrder: notes split into note-ons and note-offs, each tick's
// notes ordered, the set-up left where it stands.
std::vector<TickedEvent> SplitNotes(std::vector<TickedEvent> notes);

}  // namespace velorna
