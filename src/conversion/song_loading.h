// Loading the user's song and preparing it for a conversion.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
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

// The same for a song held in memory (`name` stands for it in messages).
[[nodiscard]] bool PrepareSongBytes(MidiContext& ctx, std::span<const uint8_t> bytes,
                                    const std::string& name, std::unique_ptr<MidiFormat0Data>& song,
                                    int& seconds, PlayingTime* playing = nullptr);

// The frames a mix of the song spans at `sampleRate`: the song's own length (its playing
// time truncated, plus one second) at least, past it room for the tails, cut back to where
// they end.
struct MixLength {
  int64_t songFrames = 0;
  int64_t endFrames = 0;
};
[[nodiscard]] MixLength MixLengthOf(int seconds, const PlayingTime& playing, int sampleRate);

}  // namespace velorna
