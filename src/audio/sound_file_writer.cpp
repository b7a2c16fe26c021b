#include "audio/sound_file_writer.h"

#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <new>
#include <span>
#include <utility>
#include <vector>

#include "audio/audio_messages.h"
#include "audio/byte_order.h"
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
double MixScale(int64_t peak, const OutputFormat& format) {
  double scale = DecibelsToFactor(format.gainDb);
  if (format.normalize && peak > 0)
    scale *= kFullScale16 * DecibelsToFactor(kNormalizedPeakDb) / static_cast<double>(peak);
  return scale;
}

// Little-endian 16-bit output of each sum, clipped to the 16-bit range.
void SaturateTo16(std::span<const int32_t> sums, uint8_t* out) {
  for (size_t i = 0; i < sums.size(); ++i) {
    const auto v = static_cast<int16_t>(std::clamp<int32_t>(sums[i], -32768, 32767));
    if constexpr (std::endian::native == std::endian::little) {
      std::memcpy(out + i * 2, &v, 2);
    } else {
      audio_bytes::PutLe16(out + i * 2, static_cast<uint16_t>(v));
    }
  }
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
int64_t ContainerFrameLimit(SoundFileType type, int bits) {
  if (type == SoundFileType::kFlac) return std::numeric_limits<int64_t>::max();
  return static_cast<int64_t>(kMaxWavDataBytes / (uint64_t{kChannels} * (bits / 8)));
}

std::span<const uint8_t> AsBytes(std::span<const int32_t> sums) {
  return {reinterpret_cast<const uint8_t*>(sums.data()), sums.size_bytes()};
}

class Stream final : public SoundFileStream {
 public:
  Stream(Reporter& reporter, const std::string& path)
      : reporter_(reporter), path_(path), file_(path) {}
  bool Start(const CWaveData& mixFormat, SoundFileType type, const OutputFormat& format, bool plain,
             int64_t minFrames, int64_t maxFrames);

  int64_t position() const override { return position_; }
  int64_t endFrame() const override { return maxFrames_; }
  bool Put(std::span<const int32_t> sums) override;
  bool PutSilence(int64_t frames) override;
  void EndAt(int64_t frame) override {
    maxFrames_ = std::max(std::min(maxFrames_, frame), emitted_);
    minFrames_ = std::min(minFrames_, maxFrames_);
  }
  bool Close() override;

 private:
  bool Fail(const std::string& text);
  // The message, then where and why: the output's name, or the folder of the scratch files.
  bool FailAt(const std::string& where, int error);
  bool FailWrite(int error) {
    return error == 0 || FailAt(spool_.fd >= 0 ? ScratchFolder() : path_, error);
  }
  bool FailScratch(int error) { return error == 0 || FailAt(ScratchFolder(), error); }
  bool FailOutput() { return FailAt(path_, file_.error()); }
  // Writes what is held back, then `sums` (or `zeros` frames of silence), as output.
  bool Emit(std::span<const int32_t> sums, int64_t zeros = 0);
  bool Encode(std::span<const int32_t> sums);
  bool OpenEncoder();
  bool Finish();

  Reporter& reporter_;
  std::string path_;
  AtomicFile file_;
  UniqueFd spool_;  // the encoded file, when the output cannot be written out of order
  UniqueFd sums_;   // the raw sums, when normalizing
  int out_ = -1;    // where the encoded file goes
  SndfilePtr sound_;
  CWaveData format_;
  SoundFileType type_ = SoundFileType::kWav;
  OutputFormat shape_;
  bool plain_ = true;
  double scale_ = 1.0;
  int64_t peak_ = 0;
  int64_t minFrames_ = 0;
  int64_t maxFrames_ = 0;
  int64_t limitFrames_ = 0;
  int64_t position_ = 0;
  int64_t held_ = 0;     // silent frames past the song's length, written if sound follows
  int64_t emitted_ = 0;  // frames passed on as output
  bool failed_ = false;
  std::vector<uint8_t> bytes_;
  std::vector<int> shaped_;
};

bool Stream::Fail(const std::string& text) {
  if (!failed_) reporter_.ShowText(text);
  failed_ = true;
  return false;
}

bool Stream::FailAt(const std::string& where, int error) {
  if (!failed_) {
    reporter_.ShowText(audio_msg::kCannotOpen);
    reporter_.ShowText(PathAndCause(where, error));
  }
  failed_ = true;
  return false;
}

bool Stream::Start(const CWaveData& mixFormat, SoundFileType type, const OutputFormat& format,
                   bool plain, int64_t minFrames, int64_t maxFrames) {
  format_ = mixFormat;
  type_ = type;
  shape_ = format;
  plain_ = plain;
  minFrames_ = std::max<int64_t>(minFrames, 0);
  maxFrames_ = std::max(maxFrames, minFrames_);
  limitFrames_ = ContainerFrameLimit(type, plain ? kPlainBits : format.bits);
  if (minFrames_ > limitFrames_) return Fail(audio_msg::kTooLarge);
  struct stat status {};
  if (file_.Descriptor() < 0) return FailOutput();
  if (::fstat(file_.Descriptor(), &status) != 0) return FailAt(path_, errno);
  out_ = file_.Descriptor();
  if (!S_ISREG(status.st_mode) || file_.streamed()) {
    spool_ = OpenScratchFile();
    out_ = spool_.fd;
  }
  if (out_ < 0) return FailScratch(errno);
  try {
    bytes_.resize(kBlockSamples * sizeof(int32_t));
    shaped_.resize(kBlockSamples);
  } catch (const std::bad_alloc&) {
    return Fail(audio_msg::kOutOfMemory);
  }
  if (plain_) return FailWrite(WriteAll(out_, MakeWaveHeader(format_, 0)));
  if (!shape_.normalize) return OpenEncoder();
  sums_ = OpenScratchFile();
  return sums_.fd >= 0 || FailScratch(errno);
}

bool Stream::OpenEncoder() {
  scale_ = MixScale(peak_, shape_);
  SF_INFO info{};
  info.samplerate = static_cast<int>(format_.sampleRate);
  info.channels = format_.channels;
  info.format = SndfileFormat(type_, shape_.bits);
  // The descriptor stays ours: closing the encoder writes its sizes but leaves it open.
  sound_.reset(sf_open_fd(out_, SFM_WRITE, &info, SF_FALSE));
  return sound_ != nullptr || Fail(audio_msg::kCannotOpen);
}

bool Stream::Encode(std::span<const int32_t> sums) {
  for (size_t first = 0; first < sums.size(); first += kBlockSamples) {
    const size_t n = std::min(kBlockSamples, sums.size() - first);
    const auto part = sums.subspan(first, n);
    if (plain_) {
      SaturateTo16(part, bytes_.data());
      if (!FailWrite(WriteAll(out_, std::span(bytes_.data(), n * 2)))) return false;
      continue;
    }
    ShapeBlock(part, scale_, shape_.bits, shaped_);
    if (sf_write_int(sound_.get(), shaped_.data(), static_cast<sf_count_t>(n)) !=
        static_cast<sf_count_t>(n))
      return Fail(audio_msg::kCannotOpen);
  }
  return true;
}

bool Stream::Emit(std::span<const int32_t> sums, int64_t zeros) {
  zeros += held_;
  held_ = 0;
  const int64_t frames = zeros + static_cast<int64_t>(sums.size() / kChannels);
  if (frames > limitFrames_ - emitted_) return Fail(audio_msg::kTooLarge);
  emitted_ += frames;
  const auto take = [&](std::span<const int32_t> part) {
    if (!shape_.normalize || plain_) return Encode(part);
    for (const int32_t s : part) peak_ = std::max(peak_, std::abs(int64_t{s}));
    return FailScratch(WriteAll(sums_.fd, AsBytes(part)));
  };
  static const std::vector<int32_t> kZeros(kBlockSamples, 0);
  for (int64_t left = zeros * kChannels; left > 0;) {
    const int64_t n = std::min<int64_t>(left, kBlockSamples);
    if (!take(std::span(kZeros).first(static_cast<size_t>(n)))) return false;
    left -= n;
  }
  return take(sums);
}

bool Stream::Put(std::span<const int32_t> sums) {
  if (failed_) return false;
  const int64_t count = static_cast<int64_t>(sums.size() / kChannels);
  const int64_t frames = std::clamp<int64_t>(maxFrames_ - position_, 0, count);
  const auto silent = [&](int64_t f) { return sums[2 * f] == 0 && sums[2 * f + 1] == 0; };
  int64_t f = 0;
  while (f < frames) {
    const int64_t from = f;
    if (position_ + f >= minFrames_ && silent(f)) {
      while (f < frames && silent(f)) ++f;
      held_ += f - from;
      continue;
    }
    while (f < frames && (position_ + f < minFrames_ || !silent(f))) ++f;
    if (!Emit(sums.subspan(static_cast<size_t>(from * kChannels),
                           static_cast<size_t>((f - from) * kChannels))))
      return false;
  }
  position_ += count;
  return true;
}

bool Stream::PutSilence(int64_t frames) {
  if (failed_) return false;
  frames = std::max<int64_t>(frames, 0);
  const int64_t counted = std::clamp<int64_t>(maxFrames_ - position_, 0, frames);
  const int64_t written = std::clamp<int64_t>(minFrames_ - position_, 0, counted);
  if (written > 0 && !Emit({}, written)) return false;
  held_ += counted - written;
  position_ += frames;
  return true;
}

bool Stream::Finish() {
  // Silence up to the song's own length, or up to where a Stop ended the mix; frames past
  // it that were held back stay out.
  if (emitted_ < minFrames_) {
    held_ = 0;
    if (!Emit({}, minFrames_ - emitted_)) return false;
  }
  if (shape_.normalize && !plain_) {
    if (!OpenEncoder()) return false;
    std::vector<int32_t> block(kBlockSamples);
    const int64_t total = emitted_ * kChannels;
    for (int64_t at = 0; at < total;) {
      const auto n = static_cast<size_t>(std::min<int64_t>(total - at, kBlockSamples));
      const auto part = std::span(block).first(n);
      const std::span<uint8_t> bytes(reinterpret_cast<uint8_t*>(part.data()), part.size_bytes());
      if (!FailScratch(ReadAllAt(sums_.fd, bytes, at * 4)) || !Encode(part)) return false;
      at += static_cast<int64_t>(n);
    }
  }
  if (plain_) {
    const auto header = MakeWaveHeader(format_, static_cast<uint64_t>(emitted_) * kChannels * 2);
    if (!FailWrite(WriteAllAt(out_, header, 0))) return false;
  } else if (sf_close(sound_.release()) != 0) {
    // Closing writes the final sizes (and FLAC's stream summary) into the header.
    return Fail(audio_msg::kCannotOpen);
  }
  if (spool_.fd >= 0) {
    struct stat status {};
    if (::fstat(spool_.fd, &status) != 0) return FailScratch(errno);
    for (int64_t at = 0; at < status.st_size;) {
      const auto n = static_cast<size_t>(
          std::min<int64_t>(status.st_size - at, static_cast<int64_t>(bytes_.size())));
      const auto part = std::span(bytes_).first(n);
      if (!FailScratch(ReadAllAt(spool_.fd, part, at))) return false;
      if (!file_.Write(part)) return FailOutput();
      at += static_cast<int64_t>(n);
    }
  }
  return file_.Commit() || FailOutput();
}

bool Stream::Close() {
  if (failed_) return false;
  try {
    return Finish();
  } catch (const std::bad_alloc&) {
    return Fail(audio_msg::kOutOfMemory);
  }
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

std::unique_ptr<SoundFileStream> SoundFileStream::Open(Reporter& reporter,
                                                       const CWaveData& mixFormat,
                                                       const OutputFormat& format,
                                                       const std::string& path, int64_t minFrames,
                                                       int64_t maxFrames, bool plainWav,
                                                       std::optional<SoundFileType> type) {
  if (plainWav) type = SoundFileType::kWav;
  if (!type) type = SoundFileTypeFor(path);
  if (!type || (format.bits != kPlainBits && format.bits != kHighBits)) {
    reporter.ShowText(audio_msg::kWrongFormat);
    return nullptr;
  }
  const bool plain = plainWav || IsPlainWav(*type, format);
  auto stream = std::make_unique<Stream>(reporter, path);
  if (!stream->Start(mixFormat, *type, format, plain, minFrames, maxFrames)) return nullptr;
  return stream;
}

bool WriteSoundFile(Reporter& reporter, const MixAccumulator& acc, const OutputFormat& format,
                    const std::string& path) {
  const auto frames = static_cast<int64_t>(FrameCount(acc));
  const auto stream = SoundFileStream::Open(reporter, acc.format, format, path, frames, frames);
  return stream && stream->Put(acc.sum) && stream->Close();
}

bool WriteMixAccumulator(Reporter& reporter, const MixAccumulator& acc, const std::string& path) {
  const auto frames = static_cast<int64_t>(FrameCount(acc));
  const auto stream = SoundFileStream::Open(reporter, acc.format, {}, path, frames, frames, true);
  return stream && stream->Put(acc.sum) && stream->Close();
}

}  // namespace velorna
