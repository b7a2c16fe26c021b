// A song's track flattened into comparable rows: its notes and its other events, each at
// its absolute tick.
#pragma once

#include <compare>
#include <cstdint>
#include <ostream>
#include <vector>

#include "midi/midi_types.h"

namespace velorna::test {

struct NoteRow {
  int64_t tick = 0;
  int channel = 0;
  int note = 0;
  int velocity = 0;
  int duration = 0;
  auto operator<=>(const NoteRow&) const = default;
};

struct EventRow {
  int64_t tick = 0;
  uint32_t status = 0;
  int channel = 0;
  uint32_t kind = 0;
  int value = 0;
  int note = 0;
  std::vector<uint8_t> data;  // the `size` bytes of an event written from its data
  bool operator==(const EventRow&) const = default;
};

std::ostream& operator<<(std::ostream& os, const NoteRow& r);
std::ostream& operator<<(std::ostream& os, const EventRow& r);

// Notes (status 16) that the writer keeps (a duration and a velocity), sorted.
std::vector<NoteRow> Notes(const MidiTrack& track);
// The same notes as a file carries them: where notes of one channel and pitch overlap,
// each note-on ends at the first free note-off after it, so nested notes swap their ends.
std::vector<NoteRow> NotesAsWritten(const MidiTrack& track);
// Every event that is neither a note nor a note-on or note-off, in track order.
std::vector<EventRow> OtherEvents(const MidiTrack& track);
// The other events of a note-form track in the order the writer puts them: a copy goes
// through the same note splitting and within-tick reordering as WriteSmf.
std::vector<EventRow> OtherEventsInWriterOrder(MidiContext& ctx, const MidiTrack& notes);

}  // namespace velorna::test
