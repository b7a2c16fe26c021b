// Small Standard MIDI Files written by the tests themselves.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

namespace velorna::test {

struct ShortSong {
  int notes = 4;      // quarter notes at 120 bpm, rising through the octave
  int textBytes = 0;  // a text event this long at the start (0: none)
  bool drums = true;  // a hi-hat on channel 10 under every note
};

std::vector<uint8_t> MakeShortSong(const ShortSong& song);
void WriteShortSong(const std::filesystem::path& path, const ShortSong& song);

}  // namespace velorna::test
