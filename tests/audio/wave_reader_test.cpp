#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>

#include "audio/wave_data.h"
#include "support/smf_bytes.h"
#include "support/sound_files.h"
#include "support/temp_dir.h"

namespace velorna {
namespace {

using test::MakeSoxSound;
using test::ReadBytes;
using test::SoxDecode32;
using test::TempDir;
using test::WriteBytes;

const std::string kTag = "不明なタグが検出されました。処理は継続可能です。";
const std::string kBroken = "音声ファイルが壊れています。";

std::vector<int16_t> AsInt16(const std::vector<uint8_t>& bytes) {
  std::vector<int16_t> out(bytes.size() / 2);
  std::memcpy(out.data(), bytes.data(), out.size() * 2);
  return out;
}

// sox's 32-bit decoding cut to 16 bits the way the program cuts deeper samples.
std::vector<int16_t> TopHalves(const std::vector<int32_t>& samples) {
  std::vector<int16_t> out;
  for (int32_t s : samples) out.push_back(static_cast<int16_t>(s >> 16));
  return out;
}

class SoxWaveFormats : public testing::TestWithParam<std::tuple<int, int, int>> {};

TEST_P(SoxWaveFormats, ReadsAndWidensToWhatSoxDecodes) {
  const auto [rate, bits, channels] = GetParam();
  TempDir dir;
  const auto path = dir / "in.wav";
  ASSERT_TRUE(MakeSoxSound(path, rate, bits, channels));
  RecordingReporter rec;
  CWaveData wave = ReadWaveFile(rec, path.string());
  EXPECT_TRUE(rec.texts().empty());
  EXPECT_EQ(wave.formatTag, 1);  // 24-bit comes as the extensible format
  EXPECT_EQ(wave.channels, channels);
  EXPECT_EQ(wave.sampleRate, static_cast<uint32_t>(rate));
  EXPECT_EQ(wave.bitsPerSample, bits);
  ASSERT_FALSE(wave.samples.empty());

  if (bits == 8) Convert8BitTo16Bit(wave);
  if (bits == 24) Convert24BitTo16Bit(wave);
  const auto expected = TopHalves(SoxDecode32(path));
  EXPECT_EQ(AsInt16(wave.samples), expected);
  EXPECT_EQ(wave.blockAlign, 2 * channels);
  EXPECT_EQ(wave.byteRate, static_cast<uint32_t>(2 * channels * rate));

  if (channels == 1) {
    ConvertMonoToStereo(wave);
    const auto stereo = AsInt16(wave.samples);
    ASSERT_EQ(stereo.size(), expected.size() * 2);
    for (size_t i = 0; i < expected.size(); ++i) {
      ASSERT_EQ(stereo[2 * i], expected[i]);
      ASSERT_EQ(stereo[2 * i + 1], expected[i]);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(All, SoxWaveFormats,
                         testing::Combine(testing::Values(22050, 44100, 48000),
                                          testing::Values(8, 16, 24), testing::Values(1, 2)));

// A 16-bit stereo sox file taken apart so chunks can be put between "fmt " and "data".
struct PlainWave {
  std::vector<uint8_t> fmt;   // the whole chunk
  std::vector<uint8_t> data;  // the whole chunk
  std::vector<int16_t> samples;

  std::vector<uint8_t> With(std::initializer_list<std::vector<uint8_t>> middle,
                            std::vector<uint8_t> first = {}) const {
    std::vector<uint8_t> body = {'W', 'A', 'V', 'E'};
    body.insert(body.end(), first.begin(), first.end());
    body.insert(body.end(), fmt.begin(), fmt.end());
    for (const auto& c : middle) body.insert(body.end(), c.begin(), c.end());
    body.insert(body.end(), data.begin(), data.end());
    return Chunk("RIFF", body);
  }

  static std::vector<uint8_t> Chunk(const char* id, const std::vector<uint8_t>& payload,
                                    bool pad = true) {
    std::vector<uint8_t> c(id, id + 4);
    const auto n = static_cast<uint32_t>(payload.size());
    for (int i = 0; i < 4; ++i) c.push_back(static_cast<uint8_t>(n >> (8 * i)));
    c.insert(c.end(), payload.begin(), payload.end());
    if (pad && (n & 1)) c.push_back(0);
    return c;
  }
};

PlainWave MakePlainWave(const TempDir& dir) {
  const auto path = dir / "plain.wav";
  EXPECT_TRUE(MakeSoxSound(path, 44100, 16, 2, 0.01));
  const auto bytes = ReadBytes(path);
  PlainWave w;
  // sox writes RIFF, WAVE, a 16-byte "fmt " and "data" for plain 16-bit PCM.
  EXPECT_EQ(std::string(bytes.begin() + 36, bytes.begin() + 40), "data");
  w.fmt.assign(bytes.begin() + 12, bytes.begin() + 36);
  w.data.assign(bytes.begin() + 36, bytes.end());
  w.samples = AsInt16(std::vector<uint8_t>(bytes.begin() + 44, bytes.end()));
  return w;
}

struct WalkResult {
  std::vector<std::string> texts;
  CWaveData wave;
};

WalkResult Read(const TempDir& dir, const std::vector<uint8_t>& image) {
  const auto path = dir / "walk.wav";
  WriteBytes(path, image);
  RecordingReporter rec;
  CWaveData wave = ReadWaveFile(rec, path.string());
  return {rec.texts(), std::move(wave)};
}

TEST(ReadWaveFile, ReportsUnknownChunksAndSkipsKnownOnes) {
  TempDir dir;
  const PlainWave w = MakePlainWave(dir);
  const auto fact = PlainWave::Chunk("fact", {1, 2, 3, 4});
  const auto list = PlainWave::Chunk("LIST", std::vector<uint8_t>(26, 'x'));
  const auto bext = PlainWave::Chunk("bext", std::vector<uint8_t>(10, 0));

  auto r = Read(dir, w.With({fact, list}));
  EXPECT_EQ(r.texts, std::vector<std::string>{kTag + " [LIST]"});
  EXPECT_EQ(AsInt16(r.wave.samples), w.samples);

  r = Read(dir, w.With({bext}));
  EXPECT_TRUE(r.texts.empty());
  EXPECT_EQ(AsInt16(r.wave.samples), w.samples);

  // Past the first unknown chunk, the skipped ids are reported too.
  r = Read(dir, w.With({list, bext}));
  EXPECT_EQ(r.texts, (std::vector<std::string>{kTag + " [LIST]", kTag + " [bext]"}));
  EXPECT_EQ(AsInt16(r.wave.samples), w.samples);

  // A bext before the format chunk is allowed too.
  r = Read(dir, w.With({}, bext));
  EXPECT_TRUE(r.texts.empty());
  EXPECT_EQ(AsInt16(r.wave.samples), w.samples);
}

TEST(ReadWaveFile, HonoursPadBytesAndLongFormatChunks) {
  TempDir dir;
  PlainWave w = MakePlainWave(dir);
  // Odd-sized chunks are followed by a pad byte; without honouring it "data" is missed.
  const auto odd = PlainWave::Chunk("LIST", {'a', 'b', 'c'});
  const auto oddSkipped = PlainWave::Chunk("umid", {1, 2, 3, 4, 5});
  auto r = Read(dir, w.With({oddSkipped, odd}));
  EXPECT_EQ(r.texts, std::vector<std::string>{kTag + " [LIST]"});
  EXPECT_EQ(AsInt16(r.wave.samples), w.samples);

  // An 18-byte format chunk: its first 16 bytes count, the rest is skipped with it.
  std::vector<uint8_t> fmt18(w.fmt.begin() + 8, w.fmt.end());
  fmt18.push_back(0);
  fmt18.push_back(0);
  w.fmt = PlainWave::Chunk("fmt ", fmt18);
  r = Read(dir, w.With({}));
  EXPECT_TRUE(r.texts.empty());
  EXPECT_EQ(r.wave.fmtSize, 18u);
  EXPECT_EQ(r.wave.channels, 2);
  EXPECT_EQ(AsInt16(r.wave.samples), w.samples);
}

TEST(ReadWaveFile, MissingIdsAndBadFactGiveNoSamples) {
  TempDir dir;
  const PlainWave w = MakePlainWave(dir);
  const auto good = w.With({});

  auto image = good;
  std::memcpy(image.data(), "RIFX", 4);
  auto r = Read(dir, image);
  EXPECT_EQ(r.texts, std::vector<std::string>{kTag + " [RIFF]"});
  EXPECT_TRUE(r.wave.samples.empty());

  image = good;
  std::memcpy(image.data() + 8, "AVI ", 4);
  r = Read(dir, image);
  EXPECT_EQ(r.texts, std::vector<std::string>{kTag + " [WAVE]"});
  EXPECT_TRUE(r.wave.samples.empty());

  image = good;
  std::memcpy(image.data() + 12, "fmt_", 4);
  r = Read(dir, image);
  EXPECT_EQ(r.texts, std::vector<std::string>{kTag + " [fmt ]"});
  EXPECT_TRUE(r.wave.samples.empty());

  r = Read(dir, w.With({PlainWave::Chunk("fact", std::vector<uint8_t>(8, 0))}));
  EXPECT_EQ(r.texts, std::vector<std::string>{kTag + " [fact]"});
  EXPECT_TRUE(r.wave.samples.empty());

  RecordingReporter rec;
  EXPECT_TRUE(ReadWaveFile(rec, (dir / "absent.wav").string()).samples.empty());
  EXPECT_EQ(rec.texts(), std::vector<std::string>{"ファイルが見つかりませんでした。"});

  // A folder opens for reading on Linux and claims a length near 2^63.
  rec.Clear();
  EXPECT_TRUE(ReadWaveFile(rec, dir.path().string()).samples.empty());
  EXPECT_EQ(rec.texts(), std::vector<std::string>{"ファイルが見つかりませんでした。"});
}

TEST(ReadWaveFile, WalkStaysInsideTheFile) {
  TempDir dir;
  const PlainWave w = MakePlainWave(dir);
  const auto good = w.With({PlainWave::Chunk("LIST", {'a', 'b', 'c'})});

  // No "data" chunk at all.
  std::vector<uint8_t> noData(good.begin(), good.begin() + 36);
  auto r = Read(dir, noData);
  EXPECT_EQ(r.texts, std::vector<std::string>{kBroken});
  EXPECT_TRUE(r.wave.samples.empty());

  // A data size running past the end.
  auto image = good;
  const size_t dataAt = image.size() - w.data.size();
  image[dataAt + 7] = 0x7F;
  r = Read(dir, image);
  EXPECT_EQ(r.texts.back(), kBroken);
  EXPECT_TRUE(r.wave.samples.empty());

  // Every truncation of a valid file ends cleanly without samples (ASan guards the reads).
  for (size_t n = 0; n < good.size(); n += (n < 80 ? 1 : 97)) {
    r = Read(dir, std::vector<uint8_t>(good.begin(), good.begin() + n));
    EXPECT_TRUE(r.wave.samples.empty()) << n;
    EXPECT_FALSE(r.texts.empty()) << n;
  }
}

TEST(ReadWaveFile, UnprintableIdsAreMasked) {
  TempDir dir;
  const PlainWave w = MakePlainWave(dir);
  auto r = Read(dir, w.With({PlainWave::Chunk("\x01\xFFzz", {1, 2})}));
  EXPECT_EQ(r.texts, std::vector<std::string>{kTag + " [??zz]"});
  EXPECT_EQ(AsInt16(r.wave.samples), w.samples);
}

}  // namespace
}  // namespace velorna
