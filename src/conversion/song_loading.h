// Loading the user's song and preparing it for a conversion.
#pragma once

#include <memory>
#include <string>

#include "midi/midi_types.h"
#include "midi/smf_reader.h"
#include "midi/song_time.h"

namespace velorna {

// Where the song's playing time ends, on its clock.
struct PlayingTime {
  SongClock clock{0};
  int64_t endTick = 0;
};

// Loads and prepares the song; `seconds` is its playing time truncated, plus one, and
// `playing`, when given, the playing time itself. False when the file was not loaded (the
// reader has said why).
[[nodiscard]] bool LoadAndPrepareSong(MidiContext& ctx, const std::string& path,
                                      const FileOpenHook& hook,
                                      std::unique_ptr<MidiFormat0Data>& song, int& seconds,
                                      PlayingTime* playing = nullptr);

}  // namespace velorna
