#include "audio/sound_file_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <numbers>
#include <random>
#include <thread>

#include <sys/stat.h>

#include "support/smf_bytes.h"
#include "support/sound_files.h"
#include "support/temp_dir.h"
#include "support/whole_mix.h"

namespace velorna {
namespace {

using test::ReadBytes;
using test::ScopedTmpDir;
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
  ASSERT_EQ(missing.texts().size(), 2u);  // the message, then where and why
  EXPECT_EQ(missing.texts()[0], "ファイルが開けませんでした。");
  EXPECT_NE(missing.texts()[1].find("out.flac: "), std::string::npos) << missing.texts()[1];
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

// The mix fed to a stream in pieces of any size, silent ones as PutSilence, against the
// whole mix cut at maxFrames (or padded to minFrames) and trimmed of its trailing silence.
TEST(SoundFileStream, PiecesInAnyCutGiveTheWholeMixTrimmed) {
  TempDir dir;
  MixAccumulator acc = Tone(3, 5000.0);
  std::fill(acc.sum.begin() + 2 * 50000, acc.sum.begin() + 2 * 70000, 0);  // a rest
  std::fill(acc.sum.begin() + 2 * 97000, acc.sum.end(), 0);                // silence to the end
  std::mt19937 random(19);
  struct Case {
    int64_t minFrames, maxFrames, fed;
  };
  const OutputFormat flac24{kHighBits}, normalized{kPlainBits, 0.0, true};
  for (const Case c : {Case{44100, 120000, 132300}, Case{44100, 90000, 132300},
                       Case{120000, 130000, 60000}, Case{0, 132300, 132300}}) {
    MixAccumulator whole = acc;
    whole.sum.resize(static_cast<size_t>(std::min(c.fed, c.maxFrames)) * 2);
    whole.sum.resize(std::max(whole.sum.size(), static_cast<size_t>(c.minFrames) * 2), 0);
    TrimTrailingSilence(whole, static_cast<uint64_t>(c.minFrames));
    for (const auto& [name, format] :
         {std::pair{"w.wav", OutputFormat{}}, {"f.flac", flac24}, {"n.aiff", normalized}}) {
      SCOPED_TRACE(std::string(name) + " min " + std::to_string(c.minFrames) + " max " +
                   std::to_string(c.maxFrames));
      RecordingReporter rec;
      const auto streamed = dir / (std::string("s-") + name);
      auto stream = SoundFileStream::Open(rec, acc.format, format, streamed.string(), c.minFrames,
                                          c.maxFrames);
      ASSERT_TRUE(stream);
      for (int64_t at = 0; at < c.fed;) {
        const int64_t n = std::min<int64_t>(c.fed - at, random() % 20000 + 1);
        const auto piece = std::span(acc.sum).subspan(static_cast<size_t>(at) * 2, n * 2);
        const bool silent = std::all_of(piece.begin(), piece.end(), [](int32_t s) { return !s; });
        ASSERT_TRUE(silent && random() % 2 ? stream->PutSilence(n) : stream->Put(SumsAsMix(piece)));
        at += n;
        EXPECT_EQ(stream->position(), at);
      }
      ASSERT_TRUE(stream->Close());
      const auto expected = dir / name;
      ASSERT_TRUE(WriteSoundFile(rec, whole, format, expected.string()));
      EXPECT_EQ(ReadBytes(streamed), ReadBytes(expected));
      EXPECT_TRUE(rec.texts().empty());
    }
  }
}

// A FIFO cannot be written out of order: it gets, through a temporary file that has no
// name, the very bytes a regular file gets, and nothing is left in the temporary folder.
TEST(SoundFileStream, AFifoGetsTheBytesOfARegularFile) {
  TempDir dir;
  ScopedTmpDir tmp;
  const MixAccumulator acc = Tone(1, 3000.0);
  for (const auto& [name, bits] : {std::pair{"pipe", kPlainBits}, {"pipe.flac", kHighBits}}) {
    const auto fifo = dir / name;
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    test::Bytes received;
    std::jthread reader([&] { received = ReadBytes(fifo); });
    RecordingReporter rec;
    // A FIFO nobody reads yet is refused at once: tried again until the reader is there.
    bool written = false;
    for (int attempt = 0; attempt < 10000 && !written; ++attempt) {
      written = WriteSoundFile(rec, acc, OutputFormat{bits}, fifo.string());
      if (!written) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(written);
    reader.join();
    const auto file = dir / (std::string("file-") + name + (bits == kPlainBits ? ".wav" : ""));
    ASSERT_TRUE(WriteSoundFile(rec, acc, OutputFormat{bits}, file.string()));
    EXPECT_EQ(received, ReadBytes(file)) << name;
  }
  EXPECT_TRUE(std::filesystem::is_empty(tmp.path()));
}

// The container's size limit is found when sound reaches it, before anything past it is
// written, and what stood at the output stays; a song already past it is refused at once.
TEST(SoundFileStream, SizeLimitIsFoundWhenSoundReachesItAndReplacesNothing) {
  TempDir dir;
  const auto path = dir / "old.wav";
  test::WriteBytes(path, {'k', 'e', 'e', 'p'});
  const CWaveData format = MixFormat();
  const int64_t limit24 = static_cast<int64_t>(kMaxWavDataBytes / 6);
  RecordingReporter rec;
  auto stream =
      SoundFileStream::Open(rec, format, OutputFormat{kHighBits}, path.string(), 0, limit24 + 10);
  ASSERT_TRUE(stream);
  EXPECT_TRUE(stream->PutSilence(limit24));  // held back: nothing written yet
  const std::vector<float> sound = {1.0f / 32768, 1.0f / 32768};
  EXPECT_FALSE(stream->Put(sound));
  EXPECT_FALSE(stream->Close());
  stream.reset();
  EXPECT_EQ(rec.texts(), std::vector<std::string>{"出力が大きすぎます。"});
  RecordingReporter foreseen;
  EXPECT_FALSE(SoundFileStream::Open(foreseen, format, {}, path.string(), kMaxMixFrames + 1,
                                     kMaxMixFrames + 1));
  EXPECT_EQ(foreseen.texts(), rec.texts());
  EXPECT_EQ(ReadBytes(path), (test::Bytes{'k', 'e', 'e', 'p'}));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

}  // namespace
}  // namespace velorna
