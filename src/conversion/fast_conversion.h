// The in-memory engine: the same sum as the file-based road (the drum pass plus every
// pitched note's rendering), without temporary files and without rendering any note's
// silence, spread over several threads.
#pragma once

#include <memory>
#include <string>

#include "audio/mix_accumulator.h"
#include "audio/synth_renderer.h"
#include "base/reporter.h"
#include "conversion/conversion_job.h"
#include "midi/midi_types.h"

namespace velorna {

// Adds the drum pass and every pitched note's rendering of the prepared song into the
// accumulator. Progress counts the song's events in order as their renderings complete; a
// Stop leaves the drum pass and the notes completed before it. False when rendering could
// not start at all (the reporter has said why).
// `loadedFont`, when given, is the job's SoundFont already loaded from `soundFontPath`: one
// thread renders with it, the others load their own.
bool MixAllRenderingsFast(const MidiFormat0Data& song, const std::string& soundFontPath,
                          std::unique_ptr<LoadedSoundFont> loadedFont,
                          const ConversionOptions& options, JobControl& control,
                          JobObserver& observer, Reporter& reporter, MixAccumulator& accumulator);

}  // namespace velorna
