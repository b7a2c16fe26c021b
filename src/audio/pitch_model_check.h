// Whether the FluidSynth loaded at run time sounds pitch as pitch_realisation.h models it:
// Debian may update the library under an installed program, and a synthesizer that stopped
// truncating to whole cents would leave every aimed note about half a cent off.
#pragma once

#include "audio/render_synth.h"
#include "audio/soundfont_pitch.h"

namespace velorna {

// Renders a few blocks of one note of `font`, unbent and bent by a fraction of a cent that
// the model says the truncation takes away, and holds them sample for sample alike. True
// as well when the check finds nothing to render (no verdict).
[[nodiscard]] bool PitchModelHolds(const LoadedSoundFont& font, const SoundFontPitch* pitch);

// The bend nearest `cents` and nothing from the rate: for a synthesizer the model does not
// describe.
PitchRealisation PlainBend(double cents, int semitones);

}  // namespace velorna
