// How far the other layers of a layered note miss when the bend and the rendering's rate are
// aimed at its first layer. For every preset of a SoundFont and every key whose note starts
// more than one layer (velocity 100), each target from -50 to +50 cents in steps of 0.37
// cent is realised for the first layer at the default bend range, and every other layer's
// sounded pitch is held against the same target from its own pitch.
//
// usage: layer_pitch [SOUNDFONT]   (default: FluidR3_GM)
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "audio/pitch_realisation.h"
#include "audio/soundfont_pitch.h"

namespace {

using namespace velorna;

constexpr int kVelocity = 100;
constexpr int kRange = 2;  // semitones: the default bend range
constexpr double kLowestTarget = -50;
constexpr double kHighestTarget = 50;
constexpr double kTargetStep = 0.37;  // not a divisor of a cent: every fraction is visited
constexpr double kAudibleCents = 0.1;

VoicePitch FromWhole(const VoicePitch& v) {
  const double whole = std::floor(v.exact);
  return {v.computed - whole, v.exact - whole};
}

}  // namespace

int main(int argc, char** argv) {
  const std::string path = argc > 1 ? argv[1] : "/usr/share/sounds/sf2/FluidR3_GM.sf2";
  const auto font = SoundFontPitch::Read(path);
  if (!font) {
    std::fprintf(stderr, "layer_pitch: cannot read %s\n", path.c_str());
    return 1;
  }
  long layeredKeys = 0, missingKeys = 0, layers = 0, missingLayers = 0;
  double worst = 0;
  std::string worstAt;
  for (const SoundFontPitch::Preset& preset : font->presets) {
    for (int key = 0; key <= kHighestKey; ++key) {
      const auto keyLayers = font->Layers(preset.bank, preset.program, key, kVelocity);
      if (keyLayers.size() < 2) continue;
      ++layeredKeys;
      const VoicePitch first = FromWhole(PitchAtKey(keyLayers.front(), key));
      bool keyMisses = false;
      for (size_t l = 1; l < keyLayers.size(); ++l) {
        const VoicePitch other = FromWhole(PitchAtKey(keyLayers[l], key));
        double layerWorst = 0;
        for (double t = kLowestTarget; t <= kHighestTarget; t += kTargetStep) {
          const PitchRealisation p = RealisePitch(t, kRange, first);
          const double sounded = SoundedCents(p.bend, kRange, other) + p.rateShiftCents;
          layerWorst = std::max(layerWorst, std::fabs(sounded - t));
        }
        ++layers;
        if (layerWorst > kAudibleCents) {
          ++missingLayers;
          keyMisses = true;
        }
        if (layerWorst > worst) {
          worst = layerWorst;
          worstAt = "bank " + std::to_string(preset.bank) + " program " +
                    std::to_string(preset.program) + " key " + std::to_string(key) + " layer " +
                    std::to_string(l + 1);
        }
      }
      missingKeys += keyMisses;
    }
  }
  std::printf("%s: %ld preset keys start several layers (%ld layers besides the first)\n",
              path.c_str(), layeredKeys, layers);
  std::printf("layers off by more than %.1f cent at some target: %ld, on %ld preset keys\n",
              kAudibleCents, missingLayers, missingKeys);
  std::printf("worst miss: %.3f cent (%s)\n", worst, worstAt.empty() ? "none" : worstAt.c_str());
  return 0;
}
