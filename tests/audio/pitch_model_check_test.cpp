#include "audio/pitch_model_check.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "support/temp_dir.h"
#include "support/tone_font.h"

namespace velorna {
namespace {

// The model holds for the FluidSynth this runs with, on Debian's SoundFonts and on one whose
// sample's correction leaves its keys a hair below a whole cent; and the check tells a model
// that does not hold: the corrected sample taken for an uncorrected one.
TEST(PitchModelCheck, HoldsForTheLinkedSynthesizerAndTellsAWrongModel) {
  test::TempDir dir;
  test::ToneFont tone;
  tone.correction = -4;
  const std::string corrected = (dir / "tone.sf2").string();
  ASSERT_TRUE(test::WriteToneFont(corrected, tone));
  for (const std::string& path : {std::string("/usr/share/sounds/sf2/TimGM6mb.sf2"),
                                  std::string("/usr/share/sounds/sf2/FluidR3_GM.sf2"), corrected}) {
    const auto font = LoadSoundFont(path);
    ASSERT_TRUE(font) << path;
    EXPECT_TRUE(PitchModelHolds(*font, SoundFontPitch::Read(path).get())) << path;
  }
  const auto font = LoadSoundFont(corrected);
  ASSERT_TRUE(font);
  EXPECT_FALSE(PitchModelHolds(*font, nullptr));
}

// The plain bend lands within half a wheel step of any target in reach, at any range.
TEST(PitchModelCheck, PlainBendAimsAtTheTarget) {
  for (int semitones = 1; semitones <= 24; ++semitones) {
    const double step = WheelCents(kCentreBend + 1, semitones);
    for (double cents = -95 * semitones; cents <= 95 * semitones; cents += 7.3) {
      const PitchRealisation p = PlainBend(cents, semitones);
      EXPECT_LE(std::fabs(p.bendCents - cents), step / 2 + 1e-9) << semitones << " " << cents;
      EXPECT_EQ(p.rateShiftCents, 0);
    }
  }
  EXPECT_EQ(PlainBend(0, 2).bend, kCentreBend);
}

}  // namespace
}  // namespace velorna
