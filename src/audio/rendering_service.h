// Turns a MIDI file into sound with the synthesizer. One service per conversion job.
#pragma once

#include <memory>
#include <string>

#include "base/reporter.h"

namespace velorna {

struct RenderingState;  // the loaded SoundFont and what the synthesizer layer keeps

struct RenderingService {
  RenderingService();
  ~RenderingService();
  RenderingService(const RenderingService&) = delete;
  RenderingService& operator=(const RenderingService&) = delete;

  std::string soundFontPath;  // the SoundFont in use once started
  bool verbose = false;       // pass the synthesizer's own log to the reporter
  std::unique_ptr<RenderingState> state;
};

// The SoundFont the front end names, else the first default that exists.
std::string DefaultSoundFontPath();

// Loads the SoundFont; shows "ソフトウェア音源が使用できません。 (PATH)" and returns false
// when none loads.
bool StartRendering(RenderingService& service, Reporter& reporter, const std::string& soundFont);
// Renders the MIDI file into an AIFF beside wavPath, then converts it to wavPath.
// "エラー発生 PATH" and false when the file can't be read or rendered.
bool RenderMidiToWave(RenderingService& service, Reporter& reporter, const std::string& midiPath,
                      const std::string& wavPath);
void StopRendering(RenderingService& service);

}  // namespace velorna
