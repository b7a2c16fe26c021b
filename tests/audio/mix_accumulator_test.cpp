#include "audio/mix_accumulator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "audio/sound_file_writer.h"
#include "support/smf_bytes.h"
#include "support/sound_files.h"
#include "support/temp_dir.h"
#include "support/whole_mix.h"

namespace velorna {
namespace {

using test::MakeSoxSound;
using test::ReadBytes;
using test::TempDir;

const std::string kWrongFormat = "フォーマットが違う音声ファイルを処理しようとしました。";

MixAccumulator Create(int64_t seconds) {
  RecordingReporter rec;
  auto acc = CreateMixAccumulator(rec, seconds);
  EXPECT_TRUE(acc.has_value());
  EXPECT_TRUE(rec.texts().empty());
  return std::move(*acc);
}

// A 44100 Hz 16-bit stereo WAV holding `samples`, written through the program's own writer.
std::string WriteStereo(const TempDir& dir, const std::string& name,
                        const std::vector<int16_t>& samples) {
  CWaveData w;
  w.formatTag = 1;
  w.channels = 2;
  w.sampleRate = 44100;
  w.byteRate = 176400;
  w.blockAlign = 4;
  w.bitsPerSample = 16;
  w.samples.resize(samples.size() * 2);
  std::memcpy(w.samples.data(), samples.data(), w.samples.size());
  RecordingReporter rec;
  const auto path = (dir / name).string();
  EXPECT_TRUE(WriteWaveFile(rec, path, w));
  return path;
}

std::vector<int16_t> WrittenSamples(const std::filesystem::path& path) {
  const auto bytes = ReadBytes(path);
  std::vector<int16_t> out((bytes.size() - 44) / 2);
  std::memcpy(out.data(), bytes.data() + 44, out.size() * 2);
  return out;
}

TEST(MixAccumulator, OneSecondGivesTheFullHeaderedFile) {
  TempDir dir;
  const MixAccumulator acc = Create(1);
  EXPECT_EQ(FrameCount(acc), 44100u);
  EXPECT_EQ(SampleBytes(acc), 176400u);
  RecordingReporter rec;
  const auto out = dir / "out.wav";
  ASSERT_TRUE(WriteMixAccumulator(rec, acc, out.string()));
  const auto bytes = ReadBytes(out);
  ASSERT_EQ(bytes.size(), 176444u);
  const uint8_t header[44] = {'R', 'I', 'F',  'F',  0x34, 0xB1, 0x02, 0,    'W',  'A',  'V',
                              'E', 'f', 'm',  't',  ' ',  16,   0,    0,    0,    1,    0,
                              2,   0,   0x44, 0xAC, 0,    0,    0x10, 0xB1, 0x02, 0,    4,
                              0,   16,  0,    'd',  'a',  't',  'a',  0x10, 0xB1, 0x02, 0};
  EXPECT_EQ(std::memcmp(bytes.data(), header, 44), 0);
  // Nothing is left beside the output.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(MixAccumulator, RefusesOutputPastTheWavLimitBeforeAllocating) {
  RecordingReporter rec;
  // 24347 s is the longest that fits 4 GiB; one more second does not.
  EXPECT_FALSE(CreateMixAccumulator(rec, 24348).has_value());
  EXPECT_FALSE(CreateMixAccumulator(rec, int64_t{1} << 40).has_value());
  EXPECT_EQ(rec.texts(), (std::vector<std::string>(2, "出力が大きすぎます。")));
  EXPECT_EQ(Create(0).sum.size(), 0u);
}

TEST(MixAccumulator, SumsWithHeadroomAndSaturatesOnlyWhenWritten) {
  TempDir dir;
  MixAccumulator forward = Create(1);
  MixAccumulator backward = Create(1);
  const std::vector<int16_t> a{30000, -30000, 20000, 5};
  const std::vector<int16_t> b{10000, -10000, 20000, 6};
  const std::vector<int16_t> c{-15000, 15000, -20000, -1};
  for (const auto* r : {&a, &b, &c}) MixSamples(forward, *r, 0);
  for (const auto* r : {&c, &b, &a}) MixSamples(backward, *r, 0);
  EXPECT_EQ(forward.sum, backward.sum);

  MixAccumulator pair = Create(1);
  MixSamples(pair, a, 0);
  MixSamples(pair, b, 0);
  RecordingReporter rec;
  const auto out = dir / "out.wav";
  ASSERT_TRUE(WriteMixAccumulator(rec, pair, out.string()));
  const auto written = WrittenSamples(out);
  EXPECT_EQ(std::vector<int16_t>(written.begin(), written.begin() + 5),
            (std::vector<int16_t>{32767, -32768, 32767, 11, 0}));
  // The three-way sum comes back in range: nothing was lost on the way.
  ASSERT_TRUE(WriteMixAccumulator(rec, forward, out.string()));
  EXPECT_EQ(WrittenSamples(out)[0], 25000);
}

TEST(MixAccumulator, InMemoryRenderingsStartAtTheirFrameAndAreCut) {
  MixAccumulator acc = Create(1);
  const std::vector<int16_t> r{1, 2, 3, 4, 5, 6};
  MixSamples(acc, r, 10);
  EXPECT_EQ(acc.sum[19], 0);
  EXPECT_EQ(acc.sum[20], 1);
  EXPECT_EQ(acc.sum[25], 6);
  MixSamples(acc, r, -2);  // only the third frame lands, on frame 0
  EXPECT_EQ(acc.sum[0], 5);
  EXPECT_EQ(acc.sum[1], 6);
  MixSamples(acc, r, 44099);  // only the first frame fits
  EXPECT_EQ(acc.sum[88198], 1);
  EXPECT_EQ(acc.sum[88199], 2);
  MixSamples(acc, r, 44100);
  MixSamples(acc, r, INT64_MAX);
  MixSamples(acc, r, INT64_MIN);
  int64_t total = 0;
  for (int32_t s : acc.sum) total += s;
  EXPECT_EQ(total, 21 + 11 + 3);
}

TEST(MixAccumulator, FileAndMemoryGiveTheSameSum) {
  TempDir dir;
  std::vector<int16_t> r(44100 * 2 + 1000);  // longer than the accumulator: the tail is lost
  for (size_t i = 0; i < r.size(); ++i) r[i] = static_cast<int16_t>((i * 7919) % 65536 - 32768);
  const auto path = WriteStereo(dir, "r.wav", r);
  MixAccumulator fromFile = Create(1);
  MixAccumulator fromMemory = Create(1);
  RecordingReporter rec;
  EXPECT_TRUE(MixWaveFile(rec, fromFile, path));
  EXPECT_TRUE(MixWaveFile(rec, fromFile, path));
  MixSamples(fromMemory, r, 0);
  MixSamples(fromMemory, r, 0);
  EXPECT_TRUE(rec.texts().empty());
  EXPECT_EQ(fromFile.sum, fromMemory.sum);
}

// The file engine's sums on disk: renderings that start late, cross windows and run past
// the mix's end sum as in memory, and come back in song order.
TEST(SpooledMix, GivesTheSumsOfTheAccumulator) {
  TempDir dir;
  constexpr size_t kFrames = 8 * 44100;
  std::vector<int16_t> late(kFrames * 2 + 5000, 0);
  for (size_t i = 300000 * 2; i < late.size(); ++i)
    late[i] = static_cast<int16_t>((i * 7919) % 65536 - 32768);
  const std::vector<int16_t> early(4000, 30000);
  const auto latePath = WriteStereo(dir, "late.wav", late);
  const auto earlyPath = WriteStereo(dir, "early.wav", early);
  MixAccumulator memory = Create(8);
  SpooledMix spooled(kFrames, kSampleRate);
  ASSERT_TRUE(spooled.ok());
  RecordingReporter rec;
  for (const auto& path : {latePath, earlyPath, latePath, earlyPath}) {
    EXPECT_TRUE(MixWaveFile(rec, memory, path));
    EXPECT_TRUE(spooled.AddWaveFile(rec, path));
  }
  std::vector<float> read;
  EXPECT_TRUE(spooled.ReadOut(rec, [&](std::span<const float> part) {
    read.insert(read.end(), part.begin(), part.end());
    return true;
  }));
  EXPECT_TRUE(rec.texts().empty());
  EXPECT_EQ(read, SumsAsMix(memory.sum));
}

// Each sox format reaches the accumulator as the converted samples of the record.
TEST(MixAccumulator, ConvertsChannelsDepthAndRateBeforeAdding) {
  TempDir dir;
  for (const auto& [rate, bits, channels] :
       {std::tuple{22050, 8, 1}, {48000, 24, 1}, {44100, 16, 2}, {22050, 24, 2}}) {
    const auto path = (dir / "r.wav").string();
    ASSERT_TRUE(MakeSoxSound(path, rate, bits, channels, 0.2));
    RecordingReporter rec;
    CWaveData w = ReadWaveFile(rec, path);
    if (bits == 8) Convert8BitTo16Bit(w);
    if (bits == 24) Convert24BitTo16Bit(w);
    if (channels == 1) ConvertMonoToStereo(w);
    ASSERT_TRUE(ResampleWave(w, 44100));
    std::vector<int16_t> expected(w.samples.size() / 2);
    std::memcpy(expected.data(), w.samples.data(), w.samples.size());

    MixAccumulator acc = Create(1);
    ASSERT_TRUE(MixWaveFile(rec, acc, path));
    EXPECT_TRUE(rec.texts().empty());
    MixAccumulator memory = Create(1);
    MixSamples(memory, expected, 0);
    EXPECT_EQ(acc.sum, memory.sum) << rate << " " << bits << " " << channels;
    // 0.2 s, less the silent tail of an interpolated rendering.
    EXPECT_NEAR(static_cast<double>(expected.size()), 0.2 * 44100 * 2, 8.0);
  }
}

CWaveData MakeRendering(uint32_t rate, uint16_t channels, uint16_t bits,
                        std::vector<uint8_t> bytes) {
  CWaveData w;
  w.formatTag = 1;
  w.channels = channels;
  w.sampleRate = rate;
  w.blockAlign = static_cast<uint16_t>(channels * bits / 8);
  w.byteRate = rate * w.blockAlign;
  w.bitsPerSample = bits;
  w.samples = std::move(bytes);
  return w;
}

TEST(MixAccumulator, LowRateRenderingIsConvertedOnlyAsFarAsTheMixReaches) {
  // 16000 frames at 1 Hz would be 2.8 GB at 44100 Hz; the mix needs one second of it.
  std::vector<uint8_t> bytes(16000, 200);
  bytes[0] = 128;
  MixAccumulator acc = Create(1);
  RecordingReporter rec;
  ASSERT_TRUE(MixWaveData(rec, acc, MakeRendering(1, 1, 8, std::move(bytes))));
  EXPECT_TRUE(rec.texts().empty());
  // Between silence and 200 * 256 - 32768 = 18432 across the whole second.
  EXPECT_EQ(acc.sum[0], 0);
  EXPECT_EQ(acc.sum[2 * 22050], 9216);
  EXPECT_EQ(acc.sum[2 * 44099], 18431);
  EXPECT_EQ(acc.sum[2 * 44099 + 1], 18431);
}

TEST(MixAccumulator, CutRenderingGivesTheSameFramesAsTheWholeOne) {
  for (const uint32_t rate : {7u, 8000u, 22050u, 44100u, 48000u, 96000u, 768000u}) {
    for (const uint16_t channels : {1, 2}) {
      // Three seconds of noise, mixed into one second and into four.
      std::vector<uint8_t> bytes(size_t{rate} * 3 * channels * 2);
      uint32_t x = 12345;
      for (uint8_t& b : bytes) b = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 24);
      MixAccumulator shortMix = Create(1);
      MixAccumulator longMix = Create(4);
      RecordingReporter rec;
      ASSERT_TRUE(MixWaveData(rec, shortMix, MakeRendering(rate, channels, 16, bytes)));
      ASSERT_TRUE(MixWaveData(rec, longMix, MakeRendering(rate, channels, 16, bytes)));
      EXPECT_TRUE(std::equal(shortMix.sum.begin(), shortMix.sum.end(), longMix.sum.begin()))
          << rate << " Hz, " << channels << " channels";
    }
  }
}

TEST(MixAccumulator, UnusableRenderingsAddNothing) {
  TempDir dir;
  RecordingReporter rec;
  MixAccumulator acc = Create(1);

  const auto path = (dir / "r.wav").string();
  ASSERT_TRUE(MakeSoxSound(path, 44100, 16, 3));
  EXPECT_FALSE(MixWaveFile(rec, acc, path));
  ASSERT_TRUE(MakeSoxSound(path, 44100, 32, 2));
  EXPECT_FALSE(MixWaveFile(rec, acc, path));
  // A rate of 0 (an AIFF rate that was not understood) cannot be resampled.
  auto bytes = ReadBytes(WriteStereo(dir, "zero.wav", {100, 100}));
  std::memset(bytes.data() + 24, 0, 4);
  test::WriteBytes(dir / "zero.wav", bytes);
  EXPECT_FALSE(MixWaveFile(rec, acc, (dir / "zero.wav").string()));
  EXPECT_EQ(rec.texts(), std::vector<std::string>(3, kWrongFormat));

  rec.Clear();
  EXPECT_FALSE(MixWaveFile(rec, acc, (dir / "absent.wav").string()));
  EXPECT_EQ(rec.texts(), std::vector<std::string>{"ファイルが見つかりませんでした。"});
  for (int32_t s : acc.sum) ASSERT_EQ(s, 0);
}

// The message as it always was, then where and why.
void ExpectCannotOpenWithCause(const RecordingReporter& rec, const std::string& path) {
  ASSERT_EQ(rec.texts().size(), 2u);
  EXPECT_EQ(rec.texts()[0], "ファイルが開けませんでした。");
  EXPECT_EQ(rec.texts()[1].rfind(path + ": ", 0), 0u) << rec.texts()[1];
}

TEST(WriteMixAccumulator, FailureLeavesTheTargetAndNoLeftovers) {
  TempDir dir;
  MixAccumulator acc = Create(1);
  RecordingReporter rec;
  EXPECT_FALSE(WriteMixAccumulator(rec, acc, (dir / "missing" / "out.wav").string()));
  ExpectCannotOpenWithCause(rec, (dir / "missing" / "out.wav").string());

  // A folder where the output should go cannot be replaced; it and its content survive.
  std::filesystem::create_directories(dir / "out.wav" / "keep");
  rec.Clear();
  EXPECT_FALSE(WriteMixAccumulator(rec, acc, (dir / "out.wav").string()));
  ExpectCannotOpenWithCause(rec, (dir / "out.wav").string());
  EXPECT_TRUE(std::filesystem::exists(dir / "out.wav" / "keep"));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);

  // An existing file is replaced whole.
  const auto path = dir / "song.wav";
  test::WriteBytes(path, std::vector<uint8_t>(500000, 0xEE));
  MixSamples(acc, std::vector<int16_t>{7, 8}, 0);
  ASSERT_TRUE(WriteMixAccumulator(rec, acc, path.string()));
  EXPECT_EQ(std::filesystem::file_size(path), 176444u);
  EXPECT_EQ(WrittenSamples(path)[1], 8);
}

}  // namespace
}  // namespace velorna
