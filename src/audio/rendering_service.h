// Turns a MIDI file into sound with the synthesizer. One service per conversion job.
#pragma once

#include <memory>
#include <string>

#include "audio/synth_renderer.h"
#include "base/reporter.h"

namespace velorna {

// What the synthesizer layer keeps for the job.
struct RenderingState {
  std::unique_ptr<LoadedSoundFont> font;
  RenderOptions options;
};

struct RenderingService {
  RenderingService();
  ~RenderingService();
  RenderingService(const RenderingService&) = delete;
  RenderingService& operator=(const RenderingService&) = delete;

  std::string soundFontPath;  // the SoundFont in use once started
  // Pass the synthesizer's own log to the reporter given to StartRendering, which must then
  // outlive the service or StopRendering.
  bool verbose = false;
  std::unique_ptr<RenderingState> state;
};

// The first of the SoundFonts Debian installs that exists (FluidR3_GM, default-GM, then
// TimGM6mb); the first of them when none does.
std::string DefaultSoundFontPath();

// Loads the SoundFont the front end names, or else the first default that loads; shows
// "ソフトウェア音源が使用できません。 (PATH)" and returns false when none loads.
bool StartRendering(RenderingService& service, Reporter& reporter, const std::string& soundFont);
// The AIFF a rendering goes to: wavPath cut at the last "." of its file name, plus ".aiff".
std::string AiffPathFor(const std::string& wavPath);

// Renders the MIDI file into an AIFF beside wavPath, then converts it to wavPath.
// "エラー発生 PATH" and false when the file can't be read or rendered.
bool RenderMidiToWave(RenderingService& service, Reporter& reporter, const std::string& midiPath,
                      const std::string& wavPath);
// Releases the SoundFont; the synthesizer's log goes nowhere again.
void StopRendering(RenderingService& service);

}  // namespace velorna
