// A SoundFont made by a test: one preset (bank 0, program 0) playing a looped pure sine, with
// no vibrato, no detuned layers and a switch-like envelope, so that what comes out of the
// synthesizer can be measured exactly. As SoundFont 2, or as 3 with the sine compressed.
#pragma once

#include <filesystem>

namespace velorna::test {

struct ToneFont {
  int rootKey = 69;         // the key at which the sine plays at its recorded pitch
  int periodSamples = 100;  // one period of the sine: 441 Hz at 44100 Hz
  int periods = 40;         // recorded periods; all but the first and last are looped
  double amplitude = 0.5;   // of the recorded sine, full scale 1
  int correction = 0;       // the sample's pitch correction, cents
  int scaleTune = 100;      // the instrument zone's cents per key
  bool compressed = false;  // SoundFont 3: the sample stored as Ogg Vorbis
};

// Writes the SoundFont to `path`; false when it could not be written.
bool WriteToneFont(const std::filesystem::path& path, const ToneFont& tone = {});

}  // namespace velorna::test
