// The synthesizer, rendered through the dry rendering with the bend and rate chosen for a
// pitch, sounds that pitch: a check of what we assume about how FluidSynth realises bends.
#include "audio/pitch_realisation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "audio/dry_rendering.h"
#include "audio/synth_renderer.h"
#include "support/pitch_measure.h"
#include "support/temp_dir.h"
#include "support/tone_font.h"

namespace velorna {
namespace {

constexpr int kKey = 72;
constexpr double kToneKeyHz = 441.0;  // the tone font's key 69
constexpr int kToneKey = 69;
constexpr int64_t kSettleFrames = 2048;  // past the attack
constexpr size_t kMeasuredFrames = 16384;

std::vector<uint8_t> Message(std::initializer_list<int> bytes) {
  std::vector<uint8_t> m;
  for (int b : bytes) m.push_back(static_cast<uint8_t>(b));
  return m;
}

// Cents above the key's own pitch that key 72 sounds with `p` under a range of `semitones`.
double SoundedCents(const LoadedSoundFont& font, fluid_settings_t* settings, int semitones,
                    const PitchRealisation& p) {
  std::vector<TimedEvent> events;
  for (auto m : {Message({0xB0, 101, 0}), Message({0xB0, 100, 0}), Message({0xB0, 6, semitones}),
                 Message({0xE0, p.bend & 0x7F, p.bend >> 7}), Message({0x90, kKey, 100})}) {
    events.push_back(TimedEvent{0, 0, m});
  }
  DryRendering dry;
  EXPECT_TRUE(dry.Start(font, settings, std::move(events), false, RenderRateFor(p.rateShiftCents)));
  std::vector<float> left;
  const int64_t limit = kSettleFrames + static_cast<int64_t>(kMeasuredFrames);
  dry.RenderUntil(limit, [&](const DryBlock& block) {
    if (block.frame >= kSettleFrames) left.insert(left.end(), block.left.begin(), block.left.end());
  });
  left.resize(kMeasuredFrames);
  const double nominal = kToneKeyHz * std::exp2((kKey - kToneKey) / 12.0);
  const double hz = test::PeakFrequency(left, kSampleRate, nominal / 2, nominal * 2);
  return 1200 * std::log2(hz / nominal);
}

// Ranges narrow and wide (at 127 semitones one step of the wheel spans 1.5 cents), targets
// whole, fractional and just either side of a whole cent, up and down.
TEST(PitchRealisation, TheSynthesizerSoundsTheChosenPitch) {
  const SynthLogRoute quiet(nullptr);  // the tone font has no preset for the other channels
  test::TempDir dir;
  const auto fontPath = dir / "tone.sf2";
  ASSERT_TRUE(test::WriteToneFont(fontPath));
  const auto font = LoadSoundFont(fontPath.string());
  ASSERT_TRUE(font);
  const FluidSettingsPtr settings = MakeRenderSettings();
  double worst = 0;
  for (int semitones : {1, 2, 3, 12, 24, 127}) {
    for (double cents :
         {0.0, -0.001, 0.999, 1.0, -10.0, -16.0, 12.0, 3.8631, -31.17, 86.3137, -99.999, 99.5}) {
      const PitchRealisation p = RealisePitch(cents, semitones);
      EXPECT_GE(p.rateShiftCents, 0);
      EXPECT_LT(p.rateShiftCents, 3);
      const double error = SoundedCents(*font, settings.get(), semitones, p) - cents;
      worst = std::max(worst, std::fabs(error));
      EXPECT_NEAR(error, 0, 0.01) << cents << " cents at a range of " << semitones;
    }
  }
  RecordProperty("worst_error_cents", std::to_string(worst));
}

// Beyond the wheel's reach the bend holds at its limit; the rate adds what it may upward
// and nothing downward, never leaving the synthesizer's accepted rates.
TEST(PitchRealisation, BeyondTheBendsReach) {
  const PitchRealisation high = RealisePitch(250, 2);
  EXPECT_EQ(high.bend, kMaxBend);
  EXPECT_NEAR(high.bendCents + high.rateShiftCents, 250, 1e-9);
  EXPECT_EQ(RealisePitch(1000, 2).rateShiftCents, kMaxRateShiftCents);
  const PitchRealisation low = RealisePitch(-250, 2);
  EXPECT_EQ(low.bend, 0);
  EXPECT_EQ(low.rateShiftCents, 0);
  EXPECT_EQ(RealisePitch(std::numeric_limits<double>::quiet_NaN(), 2).bend, kCentreBend);
  for (const int rate : kOutputRates) {
    EXPECT_EQ(RenderRateFor(0, rate).synth, rate);
    const RenderRates lowest = RenderRateFor(kMaxRateShiftCents, rate);
    EXPECT_EQ(lowest.output, rate);
    EXPECT_NEAR(1200 * std::log2(rate / lowest.synth), kMaxRateShiftCents, 1e-9);
    EXPECT_GT(lowest.synth, 8000);
  }
}

}  // namespace
}  // namespace velorna
