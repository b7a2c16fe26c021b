#include "tuning/tuning_choice.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "support/scala_text.h"
#include "tuning/adaptive.h"

namespace velorna {
namespace {

KeyboardMap Map(const std::string& text) {
  const ScalaRead<KeyboardMap> r = ParseKbm(text);
  EXPECT_TRUE(r.value) << ScalaErrorText(r.error, "test.kbm");
  return r.value.value_or(DefaultKeyboardMap());
}

Scale Steps(int steps) {
  return ParseScl(test::EqualStepsScl(steps, 1200)).value.value();
}

// A reference pitch is where A4 sounds, whatever the source, the tonic or a .kbm's own
// reference says; where A4 is unmapped, the .kbm's reference key sounds at it. Without one,
// every source keeps the targets it always had.
TEST(TuningChoice, A4SoundsAtTheReferencePitch) {
  const KeyboardMap at415 =
      Map("12\n0\n127\n60\n69\n415\n12\n0\n1\n2\n3\n4\n5\n6\n7\n8\n9\n10\n11\n");
  // Keys 68-70 unmapped; key 60 is the reference, at 250 Hz.
  const KeyboardMap noA = Map("12\n0\n127\n60\n60\n250\n12\n0\n1\n2\n3\n4\n5\n6\n7\nx\nx\nx\n11\n");
  struct Case {
    const char* name;
    TuningChoice choice;
    int key;  // the key that must sound at `hz`
    double hz;
  };
  const Case cases[] = {
      {"Werckmeister III", {PresetId::kWerckmeister3, kDefaultTonicIndex, 415}, 69, 415},
      {"pure on D", {kPureIntervalCents, *FindTonic("D"), 442}, 69, 442},
      {"just on Eb", {PresetId::kJust, *FindTonic("Eb"), 380}, 69, 380},
      {"19 steps", {ScalaSource{Steps(19), std::nullopt}, *FindTonic("G"), 500}, 69, 500},
      {".kbm at 415, --a4 415", {ScalaSource{Steps(12), at415}, kDefaultTonicIndex, 415}, 69, 415},
      {".kbm at 415, --a4 440", {ScalaSource{Steps(12), at415}, kDefaultTonicIndex, 440}, 69, 440},
      {".kbm at 415 alone", {ScalaSource{Steps(12), at415}, kDefaultTonicIndex, {}}, 69, 415},
      {"A4 unmapped", {ScalaSource{Steps(12), noA}, kDefaultTonicIndex, 430}, 60, 430},
  };
  for (const Case& c : cases) {
    const Tuning tuning = BuildTuning(c.choice);
    const KeyTarget target = tuning.keys[static_cast<size_t>(c.key)];
    ASSERT_TRUE(target) << c.name;
    EXPECT_NEAR(KeyFrequencyHz(c.key, *target), c.hz, 1e-9) << c.name;
    // The whole tuning moves together: its intervals stay as the source has them.
    TuningChoice unset = c.choice;
    unset.a4Hz.reset();
    const Tuning source = BuildTuning(unset);
    for (size_t k = 0; k < kKeyCount; ++k) {
      ASSERT_EQ(tuning.keys[k].has_value(), source.keys[k].has_value()) << c.name << " " << k;
      if (tuning.keys[k]) {
        EXPECT_NEAR(*tuning.keys[k] - *target, *source.keys[k] - *source.keys[c.key], 1e-9)
            << c.name << " key " << k;
      }
    }
  }
  // No reference pitch: exactly the default tuning, A4 where pure intervals on C put it.
  EXPECT_EQ(BuildTuning({}).keys, Tuning{}.keys);
  EXPECT_NEAR(*A4FrequencyHz(Tuning{}), 435.952, 0.001);
}

// Adaptive intonation aims at twelve-tone just intervals: other scales are told apart.
TEST(TuningChoice, TwelveToneOctavesAreToldApart) {
  EXPECT_TRUE(IsTwelveToneOctave(BuildTuning({PresetId::kWerckmeister3, 3, 415}).keys));
  EXPECT_TRUE(IsTwelveToneOctave(BuildTuning({ScalaSource{Steps(12), std::nullopt}, 0, {}}).keys));
  EXPECT_FALSE(IsTwelveToneOctave(BuildTuning({ScalaSource{Steps(19), std::nullopt}, 0, {}}).keys));
  EXPECT_FALSE(IsTwelveToneOctave(
      BuildTuning(
          {ScalaSource{ParseScl(test::EqualStepsScl(13, 1901.955)).value.value(), std::nullopt},
           0,
           {}})
          .keys));
}

}  // namespace
}  // namespace velorna
