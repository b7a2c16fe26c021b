#include "audio/sound_file_writer.h"

#include <sndfile.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <new>
#include <span>
#include <utility>
#include <vector>

#include "audio/audio_messages.h"
#include "base/file_io.h"
#include "base/limits.h"

namespace velorna {
namespace {

constexpr std::array<std::pair<std::string_view, SoundFileType>, 4> kExtensions{{
    {".wav", SoundFileType::kWav},
    {".flac", SoundFileType::kFlac},
    {".aiff", SoundFileType::kAiff},
    {".aif", SoundFileType::kAiff},
}};

// A sum of 1 is one step of 16-bit output; full scale is this many steps.
constexpr double kFullScale16 = 32768.0;
constexpr size_t kBlockSamples = 32768;

struct SndfileCloser {
  void operator()(SNDFILE* file) const { sf_close(file); }
};
using SndfilePtr = std::unique_ptr<SNDFILE, SndfileCloser>;

bool IsPlainWav(SoundFileType type, const OutputFormat& format) {
  return type == SoundFileType::kWav && format.bits == kPlainBits && format.gainDb == 0.0 &&
         !format.normalize;
}

double DecibelsToFactor(double db) {
  return std::pow(10.0, db / 20.0);
}

// Gain and normalization as one factor, so the mix is scaled once. A silent mix has no
// peak to bring up and keeps the gain alone.
double MixScale(const MixAccumulator& acc, const OutputFormat& format) {
  double scale = DecibelsToFactor(format.gainDb);
  if (format.normalize) {
    int64_t peak = 0;
    for (const int32_t s : acc.sum) peak = std::max(peak, std::abs(int64_t{s}));
    if (peak > 0)
      scale *= kFullScale16 * DecibelsToFactor(kNormalizedPeakDb) / static_cast<double>(peak);
  }
  return scale;
}

// Each sum scaled, rounded at the output's depth and saturated there, then left-justified
// in 32 bits as libsndfile's int interface takes it. Rounding at the output's own depth lets
// 24-bit output keep what a gain below 1 or a normalization brings out of the sums.
void ShapeBlock(std::span<const int32_t> sums, double scale, int bits, std::span<int> out) {
  const double toDepth = scale * static_cast<double>(1 << (bits - kPlainBits));
  const double highest = static_cast<double>((1 << (bits - 1)) - 1);
  const double lowest = -static_cast<double>(1 << (bits - 1));
  const int justify = 1 << (32 - bits);
  for (size_t i = 0; i < sums.size(); ++i) {
    const double v = std::clamp(std::round(sums[i] * toDepth), lowest, highest);
    out[i] = static_cast<int>(v) * justify;
  }
}

int SndfileFormat(SoundFileType type, int bits) {
  const int depth = bits == kHighBits ? SF_FORMAT_PCM_24 : SF_FORMAT_PCM_16;
  switch (type) {
    case SoundFileType::kWav:
      return SF_FORMAT_WAV | depth;
    case SoundFileType::kFlac:
      return SF_FORMAT_FLAC | depth;
    case SoundFileType::kAiff:
      return SF_FORMAT_AIFF | depth;
  }
  return 0;
}

// WAV and AIFF hold their sizes in 32 bits; FLAC has no such bound.
bool FitsTheContainer(SoundFileType type, const MixAccumulator& acc, int bits) {
  if (type == SoundFileType::kFlac) return true;
  const uint64_t bytes = acc.sum.size() * static_cast<uint64_t>(bits / 8);
  return bytes <= kMaxWavDataBytes;
}

bool WriteThroughLibsndfile(const MixAccumulator& acc, SoundFileType type,
                            const OutputFormat& format, const std::string& path) {
  AtomicFile file(path);
  if (file.Descriptor() < 0) return false;
  SF_INFO info{};
  info.samplerate = static_cast<int>(acc.format.sampleRate);
  info.channels = kChannels;
  info.format = SndfileFormat(type, format.bits);
  // The descriptor stays AtomicFile's: it flushes, renames and closes it.
  SndfilePtr sound(sf_open_fd(file.Descriptor(), SFM_WRITE, &info, SF_FALSE));
  if (!sound) return false;
  const double scale = MixScale(acc, format);
  std::vector<int> block(kBlockSamples);
  const std::span<const int32_t> sums(acc.sum);
  for (size_t first = 0; first < sums.size(); first += kBlockSamples) {
    const size_t n = std::min(kBlockSamples, sums.size() - first);
    ShapeBlock(sums.subspan(first, n), scale, format.bits, block);
    if (sf_write_int(sound.get(), block.data(), static_cast<sf_count_t>(n)) !=
        static_cast<sf_count_t>(n))
      return false;
  }
  // Closing writes the final sizes (and FLAC's stream summary) into the header.
  if (sf_close(sound.release()) != 0) return false;
  return file.Commit();
}

}  // namespace

std::optional<SoundFileType> SoundFileTypeForExtension(std::string_view extension) {
  std::string lower(extension);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  for (const auto& [name, type] : kExtensions) {
    if (lower == name) return type;
  }
  return std::nullopt;
}

std::optional<SoundFileType> SoundFileTypeFor(const std::string& path) {
  const std::string extension = std::filesystem::path(path).extension().string();
  std::error_code ec;
  const auto status = std::filesystem::status(path, ec);
  if (extension.empty() && !ec && std::filesystem::exists(status) &&
      !std::filesystem::is_regular_file(status) && !std::filesystem::is_directory(status))
    return SoundFileType::kWav;
  return SoundFileTypeForExtension(extension);
}

bool WriteSoundFile(Reporter& reporter, const MixAccumulator& acc, const OutputFormat& format,
                    const std::string& path) {
  const std::optional<SoundFileType> type = SoundFileTypeFor(path);
  if (!type || (format.bits != kPlainBits && format.bits != kHighBits)) {
    reporter.ShowText(audio_msg::kWrongFormat);
    return false;
  }
  if (IsPlainWav(*type, format)) return WriteMixAccumulator(reporter, acc, path);
  if (!FitsTheContainer(*type, acc, format.bits)) {
    reporter.ShowText(audio_msg::kTooLarge);
    return false;
  }
  bool written = false;
  try {
    written = WriteThroughLibsndfile(acc, *type, format, path);
  } catch (const std::bad_alloc&) {
    reporter.ShowText(audio_msg::kOutOfMemory);
    return false;
  }
  if (!written) reporter.ShowText(audio_msg::kCannotOpen);
  return written;
}

}  // namespace velorna
