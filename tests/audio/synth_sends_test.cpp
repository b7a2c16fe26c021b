#include "audio/synth_sends.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace velorna {
namespace {

constexpr const char* kSoundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";

struct Sums {
  double dry = 0, reverb = 0, chorus = 0;
};

double AbsSum(const std::vector<float>& v) {
  double s = 0;
  for (float x : v) s += std::fabs(x);
  return s;
}

// Plays middle C on a piano with the given effect sends and sums what comes out.
Sums PlayNote(FluidSettingsPtr settings, int reverbCc, int chorusCc) {
  DrySynth dry = MakeDrySynth(std::move(settings));
  EXPECT_TRUE(dry.synth);
  if (!dry.synth) return {};
  fluid_synth_t* synth = dry.synth.get();
  EXPECT_NE(fluid_synth_sfload(synth, kSoundFont, 1), FLUID_FAILED);
  fluid_synth_program_change(synth, 0, 0);
  fluid_synth_cc(synth, 0, 91, reverbCc);
  fluid_synth_cc(synth, 0, 93, chorusCc);
  fluid_synth_noteon(synth, 0, 60, 100);
  Sums sums;
  const size_t frames = 100;  // not a multiple of the synthesizer's block
  std::vector<float> l(frames, 9.0f), r(frames, 9.0f), rev(frames, 9.0f), cho(frames, 9.0f);
  for (int block = 0; block < 50; ++block) {
    EXPECT_TRUE(ProcessDryWithSends(synth, {l, r, rev, cho}));
    sums.dry += AbsSum(l) + AbsSum(r);
    sums.reverb += AbsSum(rev);
    sums.chorus += AbsSum(cho);
  }
  return sums;
}

TEST(SynthSendsTest, EachSendComesOutOnItsOwn) {
  const Sums reverbOnly = PlayNote(MakeDrySynthSettings(), 127, 0);
  EXPECT_GT(reverbOnly.dry, 1.0);
  EXPECT_GT(reverbOnly.reverb, 1.0);
  EXPECT_EQ(reverbOnly.chorus, 0.0);

  const Sums chorusOnly = PlayNote(MakeDrySynthSettings(), 0, 127);
  EXPECT_GT(chorusOnly.chorus, 1.0);
  // The preset brings a little reverb of its own; controller 91 adds the rest.
  EXPECT_LT(chorusOnly.reverb, 0.5 * reverbOnly.reverb);
  // The sends are taken off the voices, not out of the dry signal.
  EXPECT_DOUBLE_EQ(chorusOnly.dry, reverbOnly.dry);
}

TEST(SynthSendsTest, WithoutEffectRoutingTheSendsStaySilent) {
  FluidSettingsPtr settings = MakeDrySynthSettings();
  ASSERT_TRUE(settings);
  ASSERT_EQ(fluid_settings_setint(settings.get(), "synth.ladspa.active", 0), FLUID_OK);
  const Sums sums = PlayNote(std::move(settings), 127, 127);
  EXPECT_GT(sums.dry, 1.0);
  EXPECT_EQ(sums.reverb, 0.0);
  EXPECT_EQ(sums.chorus, 0.0);
}

TEST(SynthSendsTest, RejectsBlocksOfUnequalLength) {
  DrySynth dry = MakeDrySynth(MakeDrySynthSettings());
  ASSERT_TRUE(dry.synth);
  std::vector<float> a(64), b(64), c(63), d(64);
  EXPECT_FALSE(ProcessDryWithSends(dry.synth.get(), {a, b, c, d}));
  EXPECT_FALSE(ProcessDryWithSends(nullptr, {a, b, d, d}));
}

}  // namespace
}  // namespace velorna
