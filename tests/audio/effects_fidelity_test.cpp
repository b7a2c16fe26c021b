// Our reverb and chorus against FluidSynth's own, measured on held pure tones at every output
// rate: the same note is played once by a synthesizer with its effects on (the single pass)
// and once the way Velorna renders it, dry with its sends run through our effects.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "audio/chorus.h"
#include "audio/render_synth.h"
#include "audio/reverb.h"
#include "audio/synth_renderer.h"
#include "base/limits.h"
#include "support/temp_dir.h"
#include "support/tone_font.h"

namespace velorna {
namespace {

constexpr int kReverbCc = 91;
constexpr int kChorusCc = 93;
constexpr int kVelocity = 127;

struct Stereo {
  std::vector<float> left, right;
  size_t frames() const { return left.size(); }
};

Stereo Difference(const Stereo& a, const Stereo& b) {
  Stereo d{a.left, a.right};
  for (size_t i = 0; i < d.frames(); ++i) {
    d.left[i] -= b.left[i];
    d.right[i] -= b.right[i];
  }
  return d;
}

double Energy(const Stereo& s, size_t from, size_t to) {
  double e = 0;
  for (size_t i = from; i < to; ++i) e += double(s.left[i]) * s.left[i] + s.right[i] * s.right[i];
  return e;
}

double Decibels(double energyRatio) {
  return 10.0 * std::log10(energyRatio);
}

// One note: its key, the effect controllers, and how long it is held and then rendered, in
// seconds.
struct Note {
  int key = 69;
  int reverb = 0;
  int chorus = 0;
  double held = 1;
  double total = 2;
};

class EffectsFidelityTest : public testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    InstallSynthLog();  // the font has no drum kit for channel 10, which is fine here
    ASSERT_TRUE(test::WriteToneFont(font_));
  }

  static int Rate() { return GetParam(); }
  static size_t Frames(double seconds) { return static_cast<size_t>(seconds * Rate()); }

  // The note through FluidSynth: with its effects on when `effects`, else dry.
  Stereo SinglePass(const Note& note, bool effects) {
    FluidSettingsPtr settings = MakeRenderSettings();
    fluid_settings_t* s = settings.get();
    EXPECT_TRUE(SetRenderRate(s, Rate()));
    fluid_settings_setint(s, "synth.reverb.active", effects ? 1 : 0);
    fluid_settings_setint(s, "synth.chorus.active", effects ? 1 : 0);
    fluid_settings_setint(s, "synth.ladspa.active", 0);
    FluidSynthPtr synth = MakeRenderSynth(s);
    return Play(synth.get(), note, [&](int64_t, std::span<float> l, std::span<float> r) {
      return fluid_synth_write_float(synth.get(), static_cast<int>(l.size()), l.data(), 0, 1,
                                     r.data(), 0, 1) == FLUID_OK;
    });
  }

  // The note as Velorna renders it: dry voices, and the sends through our own effects.
  Stereo OurRoad(const Note& note) {
    FluidSettingsPtr settings = MakeRenderSettings();
    EXPECT_TRUE(SetRenderRate(settings.get(), Rate()));
    DrySynth dry = MakeDrySynth(std::move(settings));
    Reverb reverb({.sampleRate = Rate()});
    Chorus chorus({.sampleRate = Rate()});
    std::array<float, kBlockFrames> reverbSend, chorusSend;
    return Play(dry.synth.get(), note, [&](int64_t pos, std::span<float> l, std::span<float> r) {
      if (!ProcessDryWithSends(dry.synth.get(), {l, r, reverbSend, chorusSend})) return false;
      reverb.Process(pos, reverbSend, l, r);
      chorus.Process(pos, chorusSend, l, r);
      return true;
    });
  }

  template <typename Render>
  Stereo Play(fluid_synth_t* synth, const Note& note, Render render) {
    const size_t frames = (Frames(note.total) + kBlockFrames - 1) / kBlockFrames * kBlockFrames;
    Stereo out{std::vector<float>(frames), std::vector<float>(frames)};
    EXPECT_NE(synth, nullptr);
    if (synth == nullptr) return out;
    EXPECT_NE(fluid_synth_sfload(synth, font_.c_str(), 1), FLUID_FAILED);
    fluid_synth_cc(synth, 0, kReverbCc, note.reverb);
    fluid_synth_cc(synth, 0, kChorusCc, note.chorus);
    fluid_synth_noteon(synth, 0, note.key, kVelocity);
    for (size_t pos = 0; pos < frames; pos += kBlockFrames) {
      if (pos == Frames(note.held) / kBlockFrames * kBlockFrames)
        fluid_synth_noteoff(synth, 0, note.key);
      EXPECT_TRUE(render(static_cast<int64_t>(pos), std::span(out.left).subspan(pos, kBlockFrames),
                         std::span(out.right).subspan(pos, kBlockFrames)));
    }
    return out;
  }

  test::TempDir dir_;
  std::string font_ = (dir_ / "tone.sf2").string();
};

// Seconds for the wet tail to fall by 60 dB: Schroeder's backward integral, fitted from -5 to
// -25 dB and extrapolated.
double DecayTime(const Stereo& wet, size_t from, int rate) {
  std::vector<double> remaining(wet.frames() - from + 1, 0.0);
  for (size_t i = wet.frames(); i-- > from;) {
    remaining[i - from] =
        remaining[i - from + 1] + double(wet.left[i]) * wet.left[i] + wet.right[i] * wet.right[i];
  }
  double sumT = 0, sumY = 0, sumTT = 0, sumTY = 0, count = 0;
  for (size_t i = 0; i + 1 < remaining.size(); ++i) {
    const double level = Decibels(remaining[i] / remaining[0]);
    if (level > -5 || level < -25) continue;
    const double t = double(i) / rate;
    sumT += t;
    sumY += level;
    sumTT += t * t;
    sumTY += t * level;
    ++count;
  }
  const double slope = (count * sumTY - sumT * sumY) / (count * sumTT - sumT * sumT);
  return -60.0 / slope;
}

// Milliseconds from the note-on until the wet signal first reaches 1/1000 of its peak.
double OnsetMs(const Stereo& wet, int rate) {
  float peak = 0;
  for (size_t i = 0; i < wet.frames(); ++i)
    peak = std::max({peak, std::fabs(wet.left[i]), std::fabs(wet.right[i])});
  for (size_t i = 0; i < wet.frames(); ++i) {
    if (std::max(std::fabs(wet.left[i]), std::fabs(wet.right[i])) >= 1e-3f * peak)
      return 1000.0 * double(i) / rate;
  }
  return -1;
}

double Correlation(const Stereo& s, size_t from, size_t to) {
  double lr = 0, ll = 0, rr = 0;
  for (size_t i = from; i < to; ++i) {
    lr += double(s.left[i]) * s.right[i];
    ll += double(s.left[i]) * s.left[i];
    rr += double(s.right[i]) * s.right[i];
  }
  return lr / std::sqrt(ll * rr);
}

TEST_P(EffectsFidelityTest, ChorusOfAHeldNoteHasFluidSynthsLevelAndStereo) {
  const Note note{.chorus = 127, .held = 4, .total = 4};
  const Stereo dry = SinglePass(note, false);
  const Stereo theirs = Difference(SinglePass(note, true), dry);
  const Stereo ours = Difference(OurRoad(note), dry);
  // A steady stretch, well past the attack, over more than a modulation period.
  const size_t from = Frames(0.5), to = dry.frames();
  const double dryEnergy = Energy(dry, from, to);
  const double theirLevel = Decibels(Energy(theirs, from, to) / dryEnergy);
  const double ourLevel = Decibels(Energy(ours, from, to) / dryEnergy);
  EXPECT_GT(theirLevel, 0.0);  // a strong chorus: the probe measures something
  EXPECT_NEAR(ourLevel, theirLevel, 1.0);
  const double theirCorrelation = Correlation(theirs, from, to);
  EXPECT_LT(theirCorrelation, -0.5);
  EXPECT_NEAR(Correlation(ours, from, to), theirCorrelation, 0.2);
  // Modulated the same way from the same start, the two agree sample by sample.
  EXPECT_GT(Decibels(Energy(theirs, from, to) / Energy(Difference(ours, theirs), from, to)), 40.0);
}

// A short note per octave band from 250 Hz to 4 kHz (the tone's 441 Hz an octave down and up
// to three octaves up), with its reverb tail.
TEST_P(EffectsFidelityTest, ReverbDecaysStartsAndSoundsLikeFluidSynthsInEveryOctave) {
  for (int key : {57, 69, 81, 93, 105}) {
    SCOPED_TRACE("key " + std::to_string(key));
    const Note note{.key = key, .reverb = 127, .held = 0.25, .total = 3};
    const Stereo dry = SinglePass(note, false);
    const Stereo theirs = Difference(SinglePass(note, true), dry);
    const Stereo ours = Difference(OurRoad(note), dry);
    // The tail after the dry note has ended.
    const size_t tail = Frames(note.held + 0.1);
    const double theirTime = DecayTime(theirs, tail, Rate());
    EXPECT_GT(theirTime, 0.5);
    EXPECT_NEAR(DecayTime(ours, tail, Rate()), theirTime, 0.1 * theirTime);
    EXPECT_NEAR(OnsetMs(ours, Rate()), OnsetMs(theirs, Rate()), 10.0);
    const double theirEnergy = Energy(theirs, 0, theirs.frames());
    EXPECT_NEAR(Decibels(Energy(ours, 0, ours.frames()) / theirEnergy), 0.0, 1.0);
    EXPECT_GT(Decibels(theirEnergy / Energy(Difference(ours, theirs), 0, ours.frames())), 40.0);
  }
}

INSTANTIATE_TEST_SUITE_P(EveryOutputRate, EffectsFidelityTest, testing::ValuesIn(kOutputRates),
                         [](const testing::TestParamInfo<int>& info) {
                           return std::to_string(info.param) + "Hz";
                         });

}  // namespace
}  // namespace velorna
