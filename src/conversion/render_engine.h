// The one interface the job renders through: an engine takes the prepared song, its tuning
// and the job's SoundFont, and writes the sum of every rendering to the job's output.
#pragma once

#include <memory>

#include "audio/sound_file_writer.h"
#include "audio/synth_renderer.h"
#include "base/limits.h"
#include "base/reporter.h"
#include "conversion/job_control.h"
#include "midi/midi_types.h"
#include "tuning/tuning.h"

namespace velorna {

struct EngineTask {
  const MidiFormat0Data& song;  // prepared, in note form
  const Tuning& tuning;
  std::unique_ptr<LoadedSoundFont> font;  // the job's, handed over for the run
  JobControl& control;
  JobObserver& observer;
  Reporter& reporter;
  int sampleRate = kSampleRate;  // the output's: every rendering is timed and used at it
};

class RenderEngine {
 public:
  virtual ~RenderEngine() = default;
  // Writes the sum of the drum pass and every pitched note's rendering to `out`, in song
  // order, holding a bounded stretch of it. Progress counts the song's events; a Stop
  // leaves what was rendered before it. False when rendering could not start at all or
  // the output failed (the reporter has said why): nothing is to be written.
  virtual bool MixAll(EngineTask& task, SoundFileStream& out) = 0;
};

}  // namespace velorna
