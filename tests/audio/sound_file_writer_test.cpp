#include "audio/sound_file_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <numbers>

#include "support/smf_bytes.h"
#include "support/sound_files.h"
#include "support/temp_dir.h"

namespace velorna {
namespace {

using test::ReadBytes;
using test::SoxDecode32;
using test::TempDir;

constexpr int kToneHz = 1000;

// `seconds` of a tone of `amplitude` 16-bit steps on the left and exactly twice that on the
// right, plus a few sums that only a saturating writer gets right.
MixAccumulator Tone(int64_t seconds, double amplitude) {
  RecordingReporter rec;
  MixAccumulator acc = *CreateMixAccumulator(rec, seconds);
  for (uint64_t f = 0; f < FrameCount(acc); ++f) {
    const double s = std::sin(2.0 * std::numbers::pi * kToneHz * static_cast<double>(f) / 44100);
    acc.sum[2 * f] = static_cast<int32_t>(std::lround(amplitude * s));
    acc.sum[2 * f + 1] = 2 * acc.sum[2 * f];
  }
  acc.sum[10] = 40000;
  acc.sum[11] = -40000;
  acc.sum[12] = std::numeric_limits<int32_t>::min();
  return acc;
}

template <typename Samples>
int64_t PeakOf(const Samples& samples) {
  int64_t peak = 0;
  for (const int32_t s : samples) peak = std::max(peak, std::abs(int64_t{s}));
  return peak;
}

// Peak of decoded samples as a fraction of full scale.
double Peak(const std::vector<int32_t>& samples) {
  return static_cast<double>(PeakOf(samples)) / 2147483648.0;
}

TEST(SoundFileWriter, EveryTypeDecodesToTheSaturatedSums) {
  TempDir dir;
  const MixAccumulator acc = Tone(1, 12000.0);
  for (const int bits : {kPlainBits, kHighBits}) {
    // The sums in the decoder's 32-bit scale, clipped at the output's depth.
    std::vector<int32_t> expected(acc.sum.size());
    const int64_t high = (int64_t{1} << (bits - 1)) - 1;
    for (size_t i = 0; i < acc.sum.size(); ++i) {
      const int64_t atDepth = int64_t{acc.sum[i]} << (bits - kPlainBits);
      expected[i] = static_cast<int32_t>(std::clamp(atDepth, -high - 1, high) << (32 - bits));
    }
    for (const char* name : {"out.wav", "out.flac", "out.aiff", "OUT.AIF"}) {
      SCOPED_TRACE(std::string(name) + " at " + std::to_string(bits) + " bits");
      RecordingReporter rec;
      const auto path = dir / (std::to_string(bits) + name);
      ASSERT_TRUE(WriteSoundFile(rec, acc, OutputFormat{bits}, path.string()));
      EXPECT_TRUE(rec.texts().empty());
      EXPECT_EQ(SoxDecode32(path), expected);
    }
  }
  // The plain WAV is the program's own, to the byte.
  RecordingReporter rec;
  ASSERT_TRUE(WriteMixAccumulator(rec, acc, (dir / "own.wav").string()));
  EXPECT_EQ(ReadBytes(dir / "16out.wav"), ReadBytes(dir / "own.wav"));
}

TEST(SoundFileWriter, GainAndNormalizationScaleTheMixOnceAtFullDepth) {
  TempDir dir;
  // A quiet mix: 24-bit output must bring out more than padded 16-bit steps.
  MixAccumulator acc = Tone(2, 300.0);
  acc.sum[10] = acc.sum[11] = acc.sum[12] = 0;
  const auto write = [&](const OutputFormat& format, const std::string& name) {
    RecordingReporter rec;
    EXPECT_TRUE(WriteSoundFile(rec, acc, format, (dir / name).string()));
    return SoxDecode32(dir / name);
  };
  const auto normalized = write({kHighBits, 0.0, true}, "n.wav");
  ASSERT_EQ(normalized.size(), acc.sum.size());
  constexpr double kStep24 = 1.0 / (1 << 23);
  EXPECT_NEAR(Peak(normalized), std::pow(10.0, kNormalizedPeakDb / 20), kStep24);
  const bool finerThan16Bits =
      std::any_of(normalized.begin(), normalized.end(), [](int32_t s) { return s % 0x10000 != 0; });
  EXPECT_TRUE(finerThan16Bits);
  // Left is half the right all along: the scale is one factor for the whole mix.
  for (size_t f = 0; f < normalized.size() / 2; f += 97)
    EXPECT_NEAR(normalized[2 * f] * 2.0, normalized[2 * f + 1], 512.0) << f;

  EXPECT_NEAR(Peak(write({kHighBits, -3.0, true}, "n3.flac")), std::pow(10.0, -4.0 / 20), kStep24);
  const double gained = static_cast<double>(PeakOf(acc.sum)) * std::pow(10.0, 6.0 / 20) / 32768;
  EXPECT_NEAR(Peak(write({kPlainBits, 6.0, false}, "g6.aiff")), gained, 1.0 / 32768);

  // A silent mix stays silent rather than dividing by its zero peak.
  std::fill(acc.sum.begin(), acc.sum.end(), 0);
  const auto silent = write({kPlainBits, 0.0, true}, "silent.flac");
  EXPECT_EQ(silent, std::vector<int32_t>(acc.sum.size(), 0));
}

TEST(SoundFileWriter, RefusalsLeaveNothingBehind) {
  TempDir dir;
  const MixAccumulator acc = Tone(1, 1000.0);
  RecordingReporter unknown;
  EXPECT_FALSE(WriteSoundFile(unknown, acc, {}, (dir / "out.mp3").string()));
  EXPECT_EQ(unknown.texts(),
            std::vector<std::string>{"フォーマットが違う音声ファイルを処理しようとしました。"});
  RecordingReporter missing;
  EXPECT_FALSE(WriteSoundFile(missing, acc, {kHighBits}, (dir / "no" / "out.flac").string()));
  EXPECT_EQ(missing.texts(), std::vector<std::string>{"ファイルが開けませんでした。"});
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

}  // namespace
}  // namespace velorna
