// How a conversion learns the pitches it aims from: the SoundFont's key pitches, and whether
// the loaded FluidSynth sounds them as modelled.
#pragma once

#include <memory>

#include "audio/render_synth.h"
#include "base/reporter.h"
#include "conversion/note_retune.h"

namespace velorna {

// The song's index with the SoundFont's key pitches. Where the loaded FluidSynth does not
// sound pitch as pitch_realisation.h models it (checked once per process), the index keeps
// to plain bends and `reporter` says so. Null when the song has no track in note form.
std::unique_ptr<SongNoteIndex> IndexSongForFont(const MidiFormat0Data& song,
                                                const LoadedSoundFont& font, Reporter& reporter);

}  // namespace velorna
