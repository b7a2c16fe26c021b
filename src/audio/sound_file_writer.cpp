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
#include "audio/level_meter.h"
#include "audio/sample_rounding.h"
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

// A value rounds past a depth's highest step exactly when it reaches this beyond it.
constexpr double kHalfStep = 0.5;
// Full scale of 16-bit output, in steps.
constexpr double kFullScale16 = 32768.0;
// Below half a 16-bit step a sample rounds to 0.
constexpr float kHalfStep16 = 0.5f / 32768.0f;
constexpr size_t kBlockSamples = 32768;
// A peak below this rounds to no sample past the highest of any depth of 16 bits or more.
constexpr double kUnclippedPeak = 1.0 - 1.0 / kFullScale16;

struct SndfileCloser {
  void operator()(SNDFILE* file) const { sf_close(file); }
};
using SndfilePtr = std::unique_ptr<SNDFILE, SndfileCloser>;

bool IsPlainWav(SoundFileType type, const OutputFormat& format) {
  return type == SoundFileType::kWav && format.bits == kPlainBits && format.gainDb == 0.0 &&
         !format.normalize && !format.loudness;
}

// Whether the whole mix must be known before the first sample is written.
bool ScalesWholeMix(const OutputFormat& format) {
  return format.normalize || format.loudness.has_value();
}

// Gain and normalization or the loudness target as one factor, so the mix is scaled once.
// A silent mix has no peak or loudness to bring up and keeps the gain alone.
double MixScale(const LevelMeter* mix, const OutputFormat& format) {
  double db = format.gainDb;
  if (mix == nullptr) return DbToLinear(db);
  if (format.normalize && mix->peak() > 0.0) db += kNormalizedPeakDb - LinearToDb(mix->peak());
  if (format.loudness) {
    double toTarget = 0.0;
    if (const auto loudness = mix->Loudness()) toTarget = *format.loudness - *loudness;
    if (const auto truePeak = mix->TruePeakDb(); truePeak && std::isfinite(*truePeak))
      toTarget = std::min(toTarget, format.truePeakDb - *truePeak);
    db += toTarget;
  }
  return DbToLinear(db);
}

// The program's own 16-bit samples: each rounded and clipped, as the mix always was.
int16_t PlainSample(float x, int64_t& clipped) {
  const int64_t v = RoundSample(static_cast<double>(x) * kFullScale16);
  if (v > std::numeric_limits<int16_t>::max() || v < std::numeric_limits<int16_t>::min()) {
    ++clipped;
    return v > 0 ? std::numeric_limits<int16_t>::max() : std::numeric_limits<int16_t>::min();
  }
  return static_cast<int16_t>(v);
}

int SndfileFormat(SoundFileType type, int bits) {
  const int depth = bits == kFloatBits  ? SF_FORMAT_FLOAT
                    : bits == kHighBits ? SF_FORMAT_PCM_24
                                        : SF_FORMAT_PCM_16;
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

template <typename T>
std::span<const uint8_t> AsBytes(std::span<const T> samples) {
  return {reinterpret_cast<const uint8_t*>(samples.data()), samples.size_bytes()};
}

class Stream final : public SoundFileStream {
 public:
  Stream(Reporter& reporter, const std::string& path)
      : reporter_(reporter), path_(path), file_(path) {}
  bool Start(const CWaveData& mixFormat, SoundFileType type, const OutputFormat& format, bool plain,
             int64_t minFrames, int64_t maxFrames);

  bool plainWav() const override { return plain_; }
  int64_t position() const override { return position_; }
  int64_t endFrame() const override { return maxFrames_; }
  bool Put(std::span<const float> mix) override;
  bool PutSilence(int64_t frames) override;
  void EndAt(int64_t frame) override {
    maxFrames_ = std::max(std::min(maxFrames_, frame), emitted_);
    minFrames_ = std::min(minFrames_, maxFrames_);
  }
  bool Close() override;
  OutputLevel level() const override { return level_; }

 private:
  bool Fail(const std::string& text);
  // The message, then where and why: the output's name, or the folder of the scratch files.
  bool FailAt(const std::string& where, int error);
  bool FailWrite(int error) {
    return error == 0 || FailAt(spool_.fd >= 0 ? ScratchFolder() : path_, error);
  }
  bool FailScratch(int error) { return error == 0 || FailAt(ScratchFolder(), error); }
  bool FailOutput() { return FailAt(path_, file_.error()); }
  // Writes what is held back, then `mix` (or `zeros` frames of silence), as output.
  bool Emit(std::span<const float> mix, int64_t zeros = 0);
  bool Encode(std::span<const float> mix);
  bool OpenEncoder();
  bool Finish();
  void MeasureOutput();

  Reporter& reporter_;
  std::string path_;
  AtomicFile file_;
  UniqueFd spool_;  // the encoded file, when the output cannot be written out of order
  UniqueFd whole_;  // the unscaled mix, when it is scaled as a whole
  int out_ = -1;    // where the encoded file goes
  SndfilePtr sound_;
  CWaveData format_;
  SoundFileType type_ = SoundFileType::kWav;
  OutputFormat shape_;
  bool plain_ = true;
  double scale_ = 1.0;
  bool levelFromMix_ = false;             // the output's level is the mix's moved by scale_
  std::unique_ptr<LevelMeter> mixMeter_;  // the unscaled mix, for the scale
  std::unique_ptr<LevelMeter> outMeter_;  // the output as written
  double outPeak_ = 0.0;                  // highest written sample, full scale 1.0
  OutputLevel level_;
  int64_t minFrames_ = 0;
  int64_t maxFrames_ = 0;
  int64_t limitFrames_ = 0;
  int64_t position_ = 0;
  int64_t held_ = 0;     // silent frames past the song's length, written if sound follows
  int64_t emitted_ = 0;  // frames passed on as output
  bool failed_ = false;
  std::vector<uint8_t> bytes_;
  std::vector<int> shaped_;
  std::vector<float> scaled_;
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
  const int rate = static_cast<int>(format_.sampleRate);
  try {
    bytes_.resize(kBlockSamples * sizeof(int32_t));
    shaped_.resize(kBlockSamples);
    scaled_.resize(kBlockSamples);
    // The output's true peak is worth its cost only where a ceiling was asked for.
    const LevelMeterMode mode{.range = format.measureRange,
                              .truePeak = format.loudness.has_value()};
    outMeter_ = std::make_unique<LevelMeter>(rate, mode);
    // A mix scaled as a whole is measured as it is made, in full: the output's level is then
    // the mix's moved by the scale, and the pass that writes it (all that is left after a
    // Stop) only converts.
    if (!plain_ && ScalesWholeMix(format)) mixMeter_ = std::make_unique<LevelMeter>(rate, mode);
  } catch (const std::bad_alloc&) {
    return Fail(audio_msg::kOutOfMemory);
  }
  if (plain_) return FailWrite(WriteAll(out_, MakeWaveHeader(format_, 0)));
  if (!mixMeter_) return OpenEncoder();
  whole_ = OpenScratchFile();
  return whole_.fd >= 0 || FailScratch(errno);
}

bool Stream::OpenEncoder() {
  scale_ = MixScale(mixMeter_.get(), shape_);
  // Where no sample can reach full scale, nothing clips and the output's level is the mix's
  // moved by the scale (rounding at the output's depth moves it by far less than shown).
  levelFromMix_ = mixMeter_ != nullptr &&
                  (shape_.bits == kFloatBits || mixMeter_->peak() * scale_ < kUnclippedPeak);
  SF_INFO info{};
  info.samplerate = static_cast<int>(format_.sampleRate);
  info.channels = format_.channels;
  info.format = SndfileFormat(type_, shape_.bits);
  // The descriptor stays ours: closing the encoder writes its sizes but leaves it open.
  sound_.reset(sf_open_fd(out_, SFM_WRITE, &info, SF_FALSE));
  if (sound_ == nullptr) return Fail(audio_msg::kCannotOpen);
  // A float file's peak chunk carries the time it was written: left out, so that the same
  // song gives the same bytes.
  sf_command(sound_.get(), SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
  return true;
}

bool Stream::Encode(std::span<const float> mix) {
  for (size_t first = 0; first < mix.size(); first += kBlockSamples) {
    const size_t n = std::min(kBlockSamples, mix.size() - first);
    const auto part = mix.subspan(first, n);
    if (plain_) {
      auto* out = reinterpret_cast<int16_t*>(bytes_.data());
      for (size_t i = 0; i < n; ++i) {
        const int16_t v = PlainSample(part[i], level_.clippedSamples);
        scaled_[i] = static_cast<float>(v / kFullScale16);
        outPeak_ = std::max(outPeak_, std::abs(v / kFullScale16));
        if constexpr (std::endian::native == std::endian::little) {
          std::memcpy(out + i, &v, 2);
        } else {
          audio_bytes::PutLe16(bytes_.data() + i * 2, static_cast<uint16_t>(v));
        }
      }
      if (!levelFromMix_) outMeter_->Add(std::span(scaled_).first(n));
      if (!FailWrite(WriteAll(out_, std::span(bytes_.data(), n * 2)))) return false;
      continue;
    }
    sf_count_t written = 0;
    if (shape_.bits == kFloatBits) {
      // Float keeps what passes full scale: nothing clips.
      for (size_t i = 0; i < n; ++i) scaled_[i] = static_cast<float>(part[i] * scale_);
      for (size_t i = 0; i < n; ++i)
        outPeak_ = std::max(outPeak_, static_cast<double>(std::fabs(scaled_[i])));
      written = sf_write_float(sound_.get(), scaled_.data(), static_cast<sf_count_t>(n));
    } else {
      // Rounded at the output's own depth, clipped there, then left-justified in 32 bits
      // as libsndfile's int interface takes it. This loop is all the pass after a Stop does
      // with a mix scaled as a whole, so it stays lean: the peak is kept in steps.
      const int full = 1 << (shape_.bits - 1);
      const int justify = 1 << (32 - shape_.bits);
      const double toSteps = scale_ * static_cast<double>(full);
      // Clipped before it is rounded, so that the loop runs on whole vectors; NaN counts as
      // clipped low, as RoundSample has it.
      const double top = full - 1 + kHalfStep, bottom = -full - kHalfStep;
      const float* in = part.data();
      int* out = shaped_.data();
      int peak = 0;
      int clipped = 0;  // of at most kBlockSamples
      for (size_t i = 0; i < n; ++i) {
        const double x = static_cast<double>(in[i]) * toSteps;
        const bool high = x >= top, low = !(x > bottom);
        clipped += static_cast<int>(high || low);
        const double inside = high ? full - 1 : low ? -full : x;
        const int v = RoundSmallSample(inside);
        peak = std::max(peak, v < 0 ? -v : v);
        out[i] = v * justify;
      }
      level_.clippedSamples += clipped;
      outPeak_ = std::max(outPeak_, static_cast<double>(peak) / static_cast<double>(full));
      if (!levelFromMix_) {
        const double step = 1.0 / static_cast<double>(full) / justify;
        for (size_t i = 0; i < n; ++i) scaled_[i] = static_cast<float>(shaped_[i] * step);
      }
      written = sf_write_int(sound_.get(), shaped_.data(), static_cast<sf_count_t>(n));
    }
    if (!levelFromMix_) outMeter_->Add(std::span(scaled_).first(n));
    if (written != static_cast<sf_count_t>(n)) return Fail(audio_msg::kCannotOpen);
  }
  return true;
}

bool Stream::Emit(std::span<const float> mix, int64_t zeros) {
  zeros += held_;
  held_ = 0;
  const int64_t frames = zeros + static_cast<int64_t>(mix.size() / kChannels);
  if (frames > limitFrames_ - emitted_) return Fail(audio_msg::kTooLarge);
  emitted_ += frames;
  const auto take = [&](std::span<const float> part) {
    if (whole_.fd < 0) return Encode(part);
    mixMeter_->Add(part);
    return FailScratch(WriteAll(whole_.fd, AsBytes(part)));
  };
  static const std::vector<float> kZeros(kBlockSamples, 0.0f);
  for (int64_t left = zeros * kChannels; left > 0;) {
    const int64_t n = std::min<int64_t>(left, kBlockSamples);
    if (!take(std::span(kZeros).first(static_cast<size_t>(n)))) return false;
    left -= n;
  }
  return take(mix);
}

bool Stream::Put(std::span<const float> mix) {
  if (failed_) return false;
  const int64_t count = static_cast<int64_t>(mix.size() / kChannels);
  const int64_t frames = std::clamp<int64_t>(maxFrames_ - position_, 0, count);
  const auto silent = [&](int64_t f) { return RoundsToSilence(mix[2 * f], mix[2 * f + 1]); };
  int64_t f = 0;
  while (f < frames) {
    const int64_t from = f;
    if (position_ + f >= minFrames_ && silent(f)) {
      while (f < frames && silent(f)) ++f;
      held_ += f - from;
      continue;
    }
    while (f < frames && (position_ + f < minFrames_ || !silent(f))) ++f;
    if (!Emit(mix.subspan(static_cast<size_t>(from * kChannels),
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

void Stream::MeasureOutput() {
  level_.peakDb = LinearToDb(outPeak_);
  if (levelFromMix_) {
    const double gainDb = LinearToDb(scale_);
    const auto moved = [&](std::optional<double> db) {
      return db ? std::optional(*db + gainDb) : std::nullopt;
    };
    level_.loudness = moved(mixMeter_->Loudness());
    level_.loudnessRange = mixMeter_->LoudnessRange();  // a gain leaves the range as it is
    level_.truePeakDb = moved(mixMeter_->TruePeakDb());
    return;
  }
  level_.loudness = outMeter_->Loudness();
  level_.loudnessRange = outMeter_->LoudnessRange();
  level_.truePeakDb = outMeter_->TruePeakDb();
}

bool Stream::Finish() {
  // Silence up to the song's own length, or up to where a Stop ended the mix; frames past
  // it that were held back stay out.
  if (emitted_ < minFrames_) {
    held_ = 0;
    if (!Emit({}, minFrames_ - emitted_)) return false;
  }
  if (whole_.fd >= 0) {
    if (!OpenEncoder()) return false;
    std::vector<float> block(kBlockSamples);
    const int64_t total = emitted_ * kChannels;
    for (int64_t at = 0; at < total;) {
      const auto n = static_cast<size_t>(std::min<int64_t>(total - at, kBlockSamples));
      const auto part = std::span(block).first(n);
      const std::span<uint8_t> bytes(reinterpret_cast<uint8_t*>(part.data()), part.size_bytes());
      if (!FailScratch(ReadAllAt(whole_.fd, bytes, at * 4)) || !Encode(part)) return false;
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
  MeasureOutput();
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
  if (!type || !FormatFitsType(format, *type)) {
    reporter.ShowText(audio_msg::kWrongFormat);
    return nullptr;
  }
  const bool plain = plainWav || IsPlainWav(*type, format);
  auto stream = std::make_unique<Stream>(reporter, path);
  if (!stream->Start(mixFormat, *type, format, plain, minFrames, maxFrames)) return nullptr;
  return stream;
}

bool FormatFitsType(const OutputFormat& format, SoundFileType type) {
  if (format.bits == kFloatBits) return type != SoundFileType::kFlac;
  return format.bits == kPlainBits || format.bits == kHighBits;
}

bool RoundsToSilence(float left, float right) {
  return std::fabs(left) < kHalfStep16 && std::fabs(right) < kHalfStep16;
}

}  // namespace velorna
