#include "audio/aiff_data.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <tuple>

#include "audio/wave_data.h"
#include "base/limits.h"
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

std::vector<uint8_t> Be32(uint32_t v) {
  return {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
}

std::vector<uint8_t> Chunk(const char* id, const std::vector<uint8_t>& payload) {
  std::vector<uint8_t> c(id, id + 4);
  const auto size = Be32(static_cast<uint32_t>(payload.size()));
  c.insert(c.end(), size.begin(), size.end());
  c.insert(c.end(), payload.begin(), payload.end());
  if (payload.size() & 1) c.push_back(0);
  return c;
}

const std::vector<uint8_t> kRate44100 = {0x40, 0x0E, 0xAC, 0x44, 0, 0, 0, 0, 0, 0};

std::vector<uint8_t> Comm(uint16_t channels, uint16_t bits,
                          const std::vector<uint8_t>& rate = kRate44100) {
  std::vector<uint8_t> p = {
      static_cast<uint8_t>(channels >> 8), static_cast<uint8_t>(channels), 0, 0, 0, 0,
      static_cast<uint8_t>(bits >> 8),     static_cast<uint8_t>(bits)};
  p.insert(p.end(), rate.begin(), rate.end());
  return Chunk("COMM", p);
}

std::vector<uint8_t> Ssnd(const std::vector<uint8_t>& sound, uint32_t offset = 0) {
  std::vector<uint8_t> p = Be32(offset);
  p.insert(p.end(), 4, 0);
  p.insert(p.end(), sound.begin(), sound.end());
  return Chunk("SSND", p);
}

std::vector<uint8_t> Form(std::initializer_list<std::vector<uint8_t>> chunks) {
  std::vector<uint8_t> body = {'A', 'I', 'F', 'F'};
  for (const auto& c : chunks) body.insert(body.end(), c.begin(), c.end());
  return Chunk("FORM", body);
}

struct Converted {
  bool ok = false;
  std::vector<std::string> texts;
  std::vector<uint8_t> wav;  // the whole written file
};

Converted Convert(const TempDir& dir, const std::vector<uint8_t>& aiff) {
  WriteBytes(dir / "r.aiff", aiff);
  std::filesystem::remove(dir / "r.wav");
  RecordingReporter rec;
  Converted c;
  c.ok = ConvertAiffToWave(rec, (dir / "r.aiff").string(), (dir / "r.wav").string());
  c.texts = rec.texts();
  if (std::filesystem::exists(dir / "r.wav")) c.wav = ReadBytes(dir / "r.wav");
  return c;
}

uint32_t Le32At(const std::vector<uint8_t>& b, size_t at) {
  uint32_t v;
  std::memcpy(&v, &b[at], 4);
  return v;
}

class SoxAiffFormats : public testing::TestWithParam<std::tuple<int, int, int>> {};

TEST_P(SoxAiffFormats, ConvertsToWhatSoxDecodes) {
  const auto [rate, bits, channels] = GetParam();
  TempDir dir;
  const auto aiff = dir / "in.aiff";
  ASSERT_TRUE(MakeSoxSound(aiff, rate, bits, channels));
  RecordingReporter rec;
  const auto wav = (dir / "out.wav").string();
  ASSERT_TRUE(ConvertAiffToWave(rec, aiff.string(), wav));
  EXPECT_TRUE(rec.texts().empty());

  // sox reads the written WAV as the same sound it reads from the AIFF.
  EXPECT_EQ(SoxDecode32(wav), SoxDecode32(aiff));
  CWaveData w = ReadWaveFile(rec, wav);
  EXPECT_EQ(w.sampleRate, static_cast<uint32_t>(rate));
  EXPECT_EQ(w.channels, channels);
  EXPECT_EQ(w.bitsPerSample, bits);
  EXPECT_EQ(w.blockAlign, channels * bits / 8);
  EXPECT_EQ(w.byteRate, static_cast<uint32_t>(channels * bits / 8 * rate));
  EXPECT_EQ(ReadBytes(wav).size(), 44 + w.samples.size());
  EXPECT_TRUE(rec.texts().empty());
}

INSTANTIATE_TEST_SUITE_P(All, SoxAiffFormats,
                         testing::Combine(testing::Values(22050, 44100, 48000),
                                          testing::Values(8, 16, 24), testing::Values(1, 2)));

// Every whole rate written is read back as itself; 44100 as the files always held it.
TEST(SampleRateToExtended, IsReadBackExactly) {
  const auto written = SampleRateToExtended(44100);
  EXPECT_EQ(std::vector<uint8_t>(written.begin(), written.end()), kRate44100);
  std::vector<uint32_t> rates(kOutputRates.begin(), kOutputRates.end());
  for (uint32_t hz = 1; hz <= 768000; hz = hz * 3 + 1) rates.push_back(hz);
  for (const uint32_t r : rates) EXPECT_EQ(ExtendedToSampleRate(SampleRateToExtended(r)), r);
}

TEST(ExtendedToSampleRate, ReadsTheWholeValue) {
  auto rate = [](std::vector<uint8_t> b) {
    return ExtendedToSampleRate(std::span<const uint8_t, 10>(b.data(), 10));
  };
  EXPECT_EQ(rate(kRate44100), 44100u);
  EXPECT_EQ(rate({0x40, 0x0E, 0xBB, 0x80, 0, 0, 0, 0, 0, 0}), 48000u);
  EXPECT_EQ(rate({0x40, 0x0D, 0xAC, 0x44, 0, 0, 0, 0, 0, 0}), 22050u);
  EXPECT_EQ(rate({0x40, 0x0D, 0xAD, 0xDD, 0x17, 0x45, 0xD1, 0x74, 0x5D, 0x17}), 22254u);
  EXPECT_EQ(rate({0x40, 0x0B, 0xFA, 0, 0, 0, 0, 0, 0, 0}), 8000u);
  EXPECT_EQ(rate({0x40, 0x00, 0x80, 0, 0, 0, 0, 0, 0, 0}), 2u);
  EXPECT_EQ(rate({0xC0, 0x0E, 0xAC, 0x44, 0, 0, 0, 0, 0, 0}), 0u);  // negative
  EXPECT_EQ(rate({0x40, 0x12, 0xBB, 0x80, 0, 0, 0, 0, 0, 0}), 768000u);
  EXPECT_EQ(rate({0x40, 0x13, 0xBB, 0x80, 0, 0, 0, 0, 0, 0}), 0u);  // 1536000
  EXPECT_EQ(rate({0x3F, 0xFE, 0x80, 0, 0, 0, 0, 0, 0, 0}), 0u);     // 0.5
  EXPECT_EQ(rate({0x7F, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0}), 0u);
  EXPECT_EQ(rate(std::vector<uint8_t>(10, 0)), 0u);
}

TEST(ConvertAiffToWave, SixteenBitIsSwappedAndPartialFramesDropped) {
  TempDir dir;
  const auto c = Convert(dir, Form({Comm(2, 16), Ssnd({1, 2, 3, 4, 5, 6, 7, 8, 9, 10})}));
  ASSERT_TRUE(c.ok);
  ASSERT_EQ(c.wav.size(), 52u);
  EXPECT_EQ(Le32At(c.wav, 4), 44u);
  EXPECT_EQ(Le32At(c.wav, 40), 8u);
  EXPECT_EQ(std::vector<uint8_t>(c.wav.begin() + 44, c.wav.end()),
            (std::vector<uint8_t>{2, 1, 4, 3, 6, 5, 8, 7}));
  // The offset field is recorded only: the sound still starts after blockSize.
  const auto shifted = Convert(dir, Form({Comm(2, 16), Ssnd({1, 2, 3, 4}, 2)}));
  EXPECT_EQ(std::vector<uint8_t>(shifted.wav.begin() + 44, shifted.wav.end()),
            (std::vector<uint8_t>{2, 1, 4, 3}));
}

TEST(ConvertAiffToWave, EightBitRebiasedAndTwentyFourBitSwapped) {
  TempDir dir;
  auto c = Convert(dir, Form({Comm(1, 8), Ssnd({0x80, 0xFF, 0x00, 0x7F})}));
  ASSERT_TRUE(c.ok);
  EXPECT_EQ(std::vector<uint8_t>(c.wav.begin() + 44, c.wav.end()),
            (std::vector<uint8_t>{0x00, 0x7F, 0x80, 0xFF}));
  c = Convert(dir, Form({Comm(1, 24), Ssnd({0x56, 0x34, 0x12, 0xFF, 0xFE, 0xFD, 0xAA})}));
  ASSERT_TRUE(c.ok);
  EXPECT_EQ(std::vector<uint8_t>(c.wav.begin() + 44, c.wav.end()),
            (std::vector<uint8_t>{0x12, 0x34, 0x56, 0xFD, 0xFE, 0xFF}));
}

TEST(ConvertAiffToWave, FindsCommonAndSoundChunksByIdPastOddChunks) {
  TempDir dir;
  const auto name = Chunk("NAME", {'a', 'b', 'c'});  // odd: padded
  const auto mark = Chunk("MARK", {0, 0});
  auto c = Convert(dir, Form({name, Comm(2, 16), mark, Ssnd({1, 2, 3, 4})}));
  ASSERT_TRUE(c.ok);
  EXPECT_TRUE(c.texts.empty());
  EXPECT_EQ(std::vector<uint8_t>(c.wav.begin() + 44, c.wav.end()),
            (std::vector<uint8_t>{2, 1, 4, 3}));
  // Sound before the common chunk is found as well.
  c = Convert(dir, Form({Ssnd({1, 2, 3, 4}), Comm(2, 16)}));
  EXPECT_TRUE(c.ok);
  EXPECT_EQ(c.wav.size(), 48u);
}

// Sound longer than the converter's piece, in frames that straddle its pieces, comes out as
// the conversion in memory gives it.
TEST(ConvertAiffToWave, LongSoundIsCopiedInPiecesAsInMemory) {
  TempDir dir;
  std::vector<uint8_t> sound(3'000'005);  // 24-bit stereo; the partial last frame is dropped
  for (size_t i = 0; i < sound.size(); ++i) sound[i] = static_cast<uint8_t>(i * 31 % 251);
  const auto aiff = Form({Comm(2, 24), Ssnd(sound)});
  const auto c = Convert(dir, aiff);
  ASSERT_TRUE(c.ok);
  RecordingReporter rec;
  CWaveData whole;
  ASSERT_TRUE(AiffToWaveData(rec, CAiffData(rec, aiff), whole));
  EXPECT_EQ(std::vector<uint8_t>(c.wav.begin() + 44, c.wav.end()), whole.samples);
}

TEST(ConvertAiffToWave, UnusableFilesWriteNothing) {
  TempDir dir;
  const std::vector<std::string> aiffError{"Aiff Error"};
  auto c = Convert(dir, Form({Chunk("COMT", {0, 0})}));
  EXPECT_FALSE(c.ok);
  EXPECT_EQ(c.texts, aiffError);
  EXPECT_TRUE(c.wav.empty());

  c = Convert(dir, Form({Comm(0, 16), Ssnd({1, 2})}));
  EXPECT_FALSE(c.ok);
  EXPECT_EQ(c.texts, aiffError);
  c = Convert(dir, Form({Comm(2, 4), Ssnd({1, 2})}));
  EXPECT_FALSE(c.ok);
  EXPECT_EQ(c.texts, aiffError);
  c = Convert(dir, Form({Comm(2, 16), Chunk("SSND", {0, 0, 0})}));
  EXPECT_FALSE(c.ok);
  EXPECT_EQ(c.texts, aiffError);
  // Frames too wide for the WAV header's 16-bit block size or 32-bit byte rate.
  c = Convert(dir, Form({Comm(4608, 7168), Ssnd({1, 2})}));
  EXPECT_FALSE(c.ok);
  EXPECT_EQ(c.texts, aiffError);
  const std::vector<uint8_t> rate768000 = {0x40, 0x12, 0xBB, 0x80, 0, 0, 0, 0, 0, 0};
  c = Convert(dir, Form({Comm(4095, 128, rate768000), Ssnd({1, 2})}));
  EXPECT_FALSE(c.ok);
  EXPECT_EQ(c.texts, aiffError);

  // A form type other than AIFF is reported, and reading goes on.
  auto image = Form({Comm(2, 16), Ssnd({1, 2, 3, 4})});
  std::memcpy(&image[8], "AIFC", 4);
  c = Convert(dir, image);
  EXPECT_TRUE(c.ok);
  EXPECT_EQ(c.texts, aiffError);

  // A missing file: the file helper names the path, then the reason.
  RecordingReporter rec;
  const std::string absent = (dir / "absent.aiff").string();
  EXPECT_FALSE(ConvertAiffToWave(rec, absent, (dir / "x.wav").string()));
  ASSERT_EQ(rec.texts().size(), 2u);
  EXPECT_EQ(rec.texts()[0], absent);
  EXPECT_EQ(rec.reports()[1].module, "GENE");
  EXPECT_FALSE(std::filesystem::exists(dir / "x.wav"));
}

TEST(ConvertAiffToWave, TruncatedFilesStayInBounds) {
  TempDir dir;
  const auto good = Form({Chunk("COMT", {1, 2, 3}), Comm(2, 16), Ssnd({1, 2, 3, 4, 5, 6, 7, 8})});
  for (size_t n = 0; n < good.size(); ++n) {
    const auto c = Convert(dir, std::vector<uint8_t>(good.begin(), good.begin() + n));
    EXPECT_FALSE(c.ok) << n;
    EXPECT_FALSE(c.texts.empty()) << n;
  }
  // The form size claims more than the file holds.
  auto image = good;
  image[4] = 0x10;
  EXPECT_FALSE(Convert(dir, image).ok);
}

TEST(ConvertAiffToWave, UnknownRateWritesZero) {
  TempDir dir;
  const auto c = Convert(dir, Form({Comm(2, 16, std::vector<uint8_t>(10, 0)), Ssnd({1, 2, 3, 4})}));
  ASSERT_TRUE(c.ok);
  EXPECT_EQ(Le32At(c.wav, 24), 0u);
  EXPECT_EQ(Le32At(c.wav, 28), 0u);
}

}  // namespace
}  // namespace velorna
