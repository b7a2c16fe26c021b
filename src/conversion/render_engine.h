// The one interface the job renders through: an engine takes the prepared song, its tuning
// and the job's SoundFont, and writes the sum of every rendering to the job's output.
#pragma once

#include <memory>
#include <vector>

#include "audio/mix_sink.h"
#include "audio/sound_file_writer.h"
#include "audio/synth_renderer.h"
#include "base/limits.h"
#include "base/reporter.h"
#include "conversion/job_control.h"
#include "midi/midi_types.h"
#include "tuning/tuning.h"

namespace velorna {

class NoteEnds;

struct EngineTask {
  const MidiFormat0Data& song;  // prepared, in note form
  const Tuning& tuning;
  // The job's, handed over for the run; the fast engine hands one back when it ends (a
  // preview renders again at once, without loading it).
  std::unique_ptr<LoadedSoundFont> font;
  JobControl& control;
  JobObserver& observer;
  Reporter& reporter;
  int sampleRate = kSampleRate;  // the output's: every rendering is timed and used at it
  // Playback from a point of the song: the renderings that still sound there start from
  // their onsets, those that ended before it are left out. The sink takes the mix from the
  // song's start all the same, and keeps what it needs.
  int64_t startFrame = 0;
  // How far past what the sink has taken the fast engine may render; 0: its own bound
  // (20 s). A preview keeps it short, so that a rendering left waiting takes no processor.
  int64_t lookAheadFrames = 0;
  // This much from startFrame on (to the end of a sum chunk) goes to the sink block by block
  // as it completes, not in whole chunks: a preview's restart, which must catch up with the
  // output, is heard sooner. The bytes are the same either way.
  int64_t eagerFrames = 0;
  // Where notes' voices were seen to end, shared by the renderings of one song and SoundFont
  // (a preview's); null: none kept. The fast engine records every note it renders to its
  // end, and from a startFrame leaves out the notes seen to fall silent, effects' tails and
  // all, well before it (see note_ends.h).
  NoteEnds* noteEnds = nullptr;
  // Copies of the same SoundFont loaded beforehand, for the fast engine's other threads
  // (each renders with its own): taken instead of loading them, and handed back with the
  // rest when the engine ends.
  std::vector<std::unique_ptr<LoadedSoundFont>> spareFonts = {};
};

class RenderEngine {
 public:
  virtual ~RenderEngine() = default;
  // Writes the sum of the drum pass and every pitched note's rendering to `out`, in song
  // order (from task.startFrame on, only the fast engine leaves out what ended before it), holding
  // a bounded stretch of it. Progress counts the song's events; a Stop leaves what was rendered
  // before it. False when rendering could not start at all or the output failed (the reporter has
  // said why): nothing is to be written.
  virtual bool MixAll(EngineTask& task, MixSink& out) = 0;
};

}  // namespace velorna
