// Turns the SoundFont a front end names into a loaded one, and a MIDI file into sound with
// the synthesizer (the file engine's road).
#pragma once

#include <memory>
#include <string>

#include "audio/synth_renderer.h"
#include "base/reporter.h"

namespace velorna {

// The first of the SoundFonts Debian installs that exists (FluidR3_GM, default-GM, then
// TimGM6mb); the first of them when none does.
std::string DefaultSoundFontPath();

// The SoundFont file a run would load (the one named, else the first default that exists)
// and why it cannot be opened for reading: an errno value, or 0. It reads no more than the
// file's first bytes, so that a run names a missing SoundFont once, before any song.
struct SoundFontAccess {
  std::string path;
  int error = 0;
};
[[nodiscard]] SoundFontAccess CheckSoundFontAccess(const std::string& soundFont);

// Loads the SoundFont the front end names, or else the first default that loads; shows
// "ソフトウェア音源が使用できません。 (PATH)" and gives null when none loads.
std::unique_ptr<LoadedSoundFont> ResolveSoundFont(Reporter& reporter, const std::string& soundFont);

// The AIFF a rendering goes to: wavPath cut at the last "." of its file name, plus ".aiff".
std::string AiffPathFor(const std::string& wavPath);

// Renders the MIDI file into an AIFF beside wavPath, then converts it to wavPath.
// "エラー発生 PATH" and false when the file can't be read or rendered; false with the reason
// shown when the WAV can't be made; false alone after a stop (options.stop).
bool RenderMidiToWave(const LoadedSoundFont& font, Reporter& reporter, const std::string& midiPath,
                      const std::string& wavPath, const RenderOptions& options = {});

// Renders the MIDI file into `sink` as it is made, unrounded; fails as RenderMidiToWave.
bool RenderMidiToSink(const LoadedSoundFont& font, Reporter& reporter, const std::string& midiPath,
                      const FloatRenderSink& sink, const RenderOptions& options = {});

}  // namespace velorna
