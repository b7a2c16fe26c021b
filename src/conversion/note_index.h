// A song indexed once, so that each pitched note's single-note copy is built with work in
// proportion to what the copy keeps rather than to the whole song. The copies are the ones
// BuildSingleNoteCopy makes, event for event.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "conversion/note_retune.h"
#include "midi/midi_types.h"

namespace velorna {

struct SongNoteIndex {
  const MidiFormat0Data* song = nullptr;  // must outlive the index, unchanged
  std::vector<int64_t> times;             // absolute tick of every event
  // Positions of the events a copy may keep (neither notes nor disabled), per channel and
  // for the channel-less events; the closing End of Track is in neither.
  std::array<std::vector<int32_t>, 16> channelEvents;
  std::vector<int32_t> sharedEvents;
  bool endsWithEndOfTrack = false;
};

// Null when the song has no track in note form.
std::unique_ptr<SongNoteIndex> IndexSong(const MidiFormat0Data& song);

// The copy for note i, as BuildSingleNoteCopy(ctx, song, i, times[i], cents) makes it.
std::unique_ptr<MidiFormat0Data> BuildIndexedNoteCopy(MidiContext& ctx, const SongNoteIndex& index,
                                                      int32_t i, const CentTable& cents);

}  // namespace velorna
