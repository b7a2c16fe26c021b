#include "audio/soundfont_pitch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>

#include "support/temp_dir.h"
#include "support/tone_font.h"

namespace velorna {
namespace {

// Debian's SoundFonts, read from their files: TimGM6mb corrects 226 of its 520 samples (by
// up to 50 cents); FluidR3 corrects none but sets a scale tune on 20 instruments; its mono
// SoundFont 3 edition differs in both.
TEST(SoundFontPitch, ReadsWhatTheSynthesizerPitchesFrom) {
  struct Case {
    const char* path;
    size_t samples;
    size_t corrected;
    int largestCorrection;
    size_t scaleTuned;
  };
  const Case cases[] = {
      {"/usr/share/sounds/sf2/TimGM6mb.sf2", 520, 226, 50, 24},
      {"/usr/share/sounds/sf2/FluidR3_GM.sf2", 0, 0, 0, 20},
      // SoundFont 3, its samples compressed and its sample list's odd size left unpadded.
      {"/usr/share/sounds/sf3/FluidR3Mono_GM.sf3", 1037, 19, 50, 28},
  };
  for (const Case& c : cases) {
    if (!std::filesystem::exists(c.path)) {
      GTEST_LOG_(INFO) << "not installed: " << c.path;
      continue;
    }
    const auto font = SoundFontPitch::Read(c.path);
    ASSERT_TRUE(font) << c.path;
    const auto corrected = std::count_if(font->samples.begin(), font->samples.end(),
                                         [](const auto& s) { return s.correction != 0; });
    int largest = 0;
    for (const auto& s : font->samples) largest = std::max(largest, std::abs(s.correction));
    const auto scaleTuned =
        std::count_if(font->instruments.begin(), font->instruments.end(), [](const auto& inst) {
          const auto tuned = [](const auto& z) { return z.scaleTune && *z.scaleTune != 100; };
          return (inst.global && tuned(*inst.global)) ||
                 std::any_of(inst.zones.begin(), inst.zones.end(), tuned);
        });
    if (c.samples != 0) {
      EXPECT_EQ(font->samples.size(), c.samples) << c.path;
    }
    EXPECT_EQ(static_cast<size_t>(corrected), c.corrected) << c.path;
    EXPECT_EQ(largest, c.largestCorrection) << c.path;
    EXPECT_EQ(static_cast<size_t>(scaleTuned), c.scaleTuned) << c.path;
    // Every General MIDI program sounds some key with some layer.
    for (int program = 0; program < 128; ++program) {
      int sounding = 0;
      for (int key = 0; key < 128; ++key)
        sounding += font->Layers(0, program, key, 100).empty() ? 0 : 1;
      EXPECT_GT(sounding, 0) << c.path << " " << program;
    }
  }
  EXPECT_FALSE(SoundFontPitch::Read("/usr/share/sounds/sf2"));
  EXPECT_FALSE(SoundFontPitch::Read("/etc/passwd"));
}

// A correction of -4 cents leaves the keys' computed pitch a hair below a whole cent, which
// the synthesizer's truncation loses; a scale tune of 50 puts the keys 50 cents apart.
TEST(SoundFontPitch, KeyPitchesAsTheSynthesizerComputesThem) {
  test::TempDir dir;
  struct Case {
    int correction;
    int scaleTune;
    double centsPerKey;
    double truncationLoss;  // what truncating the key's pitch loses
    bool compressed;
  };
  for (const Case& c : {Case{-4, 100, 100, 1, false}, Case{0, 50, 50, 0, false},
                        Case{0, 100, 100, 0, false}, Case{-4, 100, 100, 1, true}}) {
    test::ToneFont tone;
    tone.correction = c.correction;
    tone.scaleTune = c.scaleTune;
    tone.compressed = c.compressed;
    const auto path = (dir / "tone.sf2").string();
    ASSERT_TRUE(test::WriteToneFont(path, tone));
    const auto font = SoundFontPitch::Read(path);
    ASSERT_TRUE(font);
    for (int key = 40; key < 100; ++key) {
      const std::vector<LayerPitch> layers = font->Layers(0, 0, key, 100);
      ASSERT_EQ(layers.size(), 1u);
      const VoicePitch p = PitchAtKey(layers[0], key);
      const double rootPitch = tone.rootKey * 100 - c.correction;
      EXPECT_NEAR(p.exact, rootPitch + c.centsPerKey * (key - rootPitch / 100), 1e-9) << key;
      // Around middle C, where the sum's rounding falls below the whole cent.
      if (key >= 60 && key < 72) {
        EXPECT_EQ(p.exact - std::floor(p.computed), c.truncationLoss) << key;
      }
    }
  }
}

// A collection's songs share one reading; a SoundFont rewritten in place is read anew.
TEST(SoundFontPitch, ReadOnceWhileTheFileStaysAsItIs) {
  test::TempDir dir;
  const auto path = (dir / "tone.sf2").string();
  test::ToneFont tone;
  tone.correction = -4;
  ASSERT_TRUE(test::WriteToneFont(path, tone));
  const auto first = SharedSoundFontPitch(path);
  ASSERT_TRUE(first);
  EXPECT_EQ(SharedSoundFontPitch(path), first);
  const auto written = std::filesystem::last_write_time(path);
  tone.correction = -7;  // the same size
  ASSERT_TRUE(test::WriteToneFont(path, tone));
  std::filesystem::last_write_time(path, written + std::chrono::seconds(1));
  const auto second = SharedSoundFontPitch(path);
  ASSERT_TRUE(second);
  EXPECT_NE(second, first);
  EXPECT_EQ(second->samples.at(0).correction, -7);
  EXPECT_EQ(first->samples.at(0).correction, -4);
  std::filesystem::remove(path);
  EXPECT_FALSE(SharedSoundFontPitch(path));
}

}  // namespace
}  // namespace velorna
