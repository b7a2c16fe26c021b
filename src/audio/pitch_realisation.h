// How the synthesizer sounds a bent note, and how a rendering is made to sound any pitch
// exactly.
//
// FluidSynth turns a voice's pitch into a playback rate only after truncating its absolute
// pitch (key × 100 plus the pitch wheel's contribution) to whole cents, and its default
// pitch-wheel modulator contributes 12700 × (bend − 8192) / 8192 × semitones / 128 cents,
// counting only the whole semitones of the bend range. So a bend alone lands a note up to
// a cent below where it was meant to be.
//
// A synthesizer made at R × 2^(−r/1200) Hz whose samples are used as R Hz ones sounds every
// frequency exactly r cents higher. The bend is therefore chosen so that its contribution
// lies midway between two whole cents (safe from any rounding in the synthesizer), and the
// rendering's sample rate adds the rest.
#pragma once

#include "audio/render_timing.h"
#include "midi/midi_constants.h"

namespace velorna {

// What the rendering's rate may add at most: well inside the synthesizer's accepted rates,
// and a change of envelope times below 6 % (0.06 % for the usual part of a cent).
inline constexpr double kMaxRateShiftCents = 100;

// A voice's pitch before the wheel is added: `computed` as the synthesizer's arithmetic
// gives it (whose whole cents it sounds), `exact` the pitch it stands for. Both may be
// given from any whole number of cents (their difference is what counts).
struct VoicePitch {
  double computed = 0;
  double exact = 0;
};

struct PitchRealisation {
  int bend = kCentreBend;     // the pitch-wheel value, 0..kMaxBend
  double bendCents = 0;       // what the voice sounds with it, from its exact pitch
  double rateShiftCents = 0;  // what the rendering's rate adds, 0..kMaxRateShiftCents
};

// Cents the synthesizer's pitch wheel contributes at `bend` with a range of `semitones`,
// before the truncation.
double WheelCents(int bend, int semitones);
// The whole cents a note sounds bent by at `bend`, rendered at the output rate.
double SoundedBendCents(int bend, int semitones);

// What a voice of pitch `voice` sounds with `bend`, in cents from its exact pitch.
double SoundedCents(int bend, int semitones, const VoicePitch& voice);

// The bend and rate shift that sound `cents` above the voice's exact pitch (by default a
// key's own, a whole number of cents), with the channel's bend range at `semitones` (whole
// semitones, as the synthesizer counts them). Beyond the bend's reach the bend stays at its
// limit and the rate adds at most its maximum; below it the rate adds nothing. 0 cents on a
// voice that sounds its exact pitch keeps the bend centred.
PitchRealisation RealisePitch(double cents, int semitones, const VoicePitch& voice = {});

// The rates to render at so that the rendering, used at `outputRate`, sounds
// `rateShiftCents` higher: the synthesizer at outputRate × 2^(−r/1200), the output rate
// itself for 0.
RenderRates RenderRateFor(double rateShiftCents, int outputRate = kSampleRate);

}  // namespace velorna
