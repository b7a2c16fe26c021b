// What pitch the synthesizer gives each key of a SoundFont's presets, read from the file
// itself (FluidSynth's API tells neither a sample's root key nor its pitch correction).
//
// FluidSynth 2.3 computes a voice's pitch in cents as
//   scaleTune × (key − rootPitch / 100) + rootPitch  (+ the wheel)  + 100 × coarse + fine
// with rootPitch = 100 × (override root key, else the sample's) − the sample's correction,
// and sounds only its whole cents. A correction or a scale tune other than 100 can leave that
// a hair below a whole cent, which the truncation then loses entirely.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "audio/pitch_realisation.h"

namespace velorna {

inline constexpr double kDefaultScaleTune = 100;  // cents per key

// One layer (preset zone × instrument zone) as its voice's pitch is made.
struct LayerPitch {
  double rootPitch = 0;  // cents
  double scaleTune = kDefaultScaleTune;
  double coarseTune = 0;  // semitones, instrument and preset levels summed
  double fineTune = 0;    // cents, likewise
  // An LFO or the modulation envelope moves the pitch as the note plays, so its whole cent
  // changes where no fixed key pitch says.
  bool modulated = false;
};

// The layer's pitch at `key` in absolute cents (as FluidSynth computes it, and exactly).
VoicePitch PitchAtKey(const LayerPitch& layer, int key);

class SoundFontPitch {
 public:
  // Nothing when the file is no SoundFont 2 or 3 that can be read.
  static std::shared_ptr<const SoundFontPitch> Read(const std::string& path);

  // The layers a note starts on a melodic channel whose program change chose (bank,
  // program), first first; empty when the SoundFont has no preset there, nor any the
  // synthesizer falls back to.
  [[nodiscard]] std::vector<LayerPitch> Layers(int bank, int program, int key, int velocity) const;

  struct Range {
    int low = 0;
    int high = 127;
    bool Holds(int v) const { return v >= low && v <= high; }
  };
  // A zone's generators that bear on pitch; unset ones are nullopt.
  struct Zone {
    Range keys;
    Range velocities;
    int link = -1;  // instrument (preset zone) or sample (instrument zone); -1: global
    std::optional<double> coarseTune, fineTune, scaleTune, rootKey;
    std::optional<double> modLfoToPitch, vibLfoToPitch, modEnvToPitch;
  };
  struct ZoneList {
    std::optional<Zone> global;
    std::vector<Zone> zones;
  };
  struct Preset {
    int bank = 0;
    int program = 0;
    ZoneList zones;
  };
  struct Sample {
    int rootKey = 60;
    int correction = 0;  // cents
  };

  std::vector<Preset> presets;
  std::vector<ZoneList> instruments;
  std::vector<Sample> samples;

 private:
  const Preset* Find(int bank, int program) const;
};

// The key pitches of the SoundFont at `path`, read once for as long as the file keeps its
// size and modification time: every song of a collection, and every thread, shares them.
// Nothing when the file cannot be read (and nothing is kept).
std::shared_ptr<const SoundFontPitch> SharedSoundFontPitch(const std::string& path);

}  // namespace velorna
