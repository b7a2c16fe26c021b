#include "audio/mix_accumulator.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

#include "audio/audio_messages.h"
#include "audio/byte_order.h"
#include "base/file_io.h"
#include "base/limits.h"

namespace velorna {

CWaveData MixFormat(int sampleRate) {
  CWaveData f;
  f.formatTag = kWaveFormatPcm;
  f.channels = kChannels;
  f.sampleRate = static_cast<uint32_t>(sampleRate);
  f.byteRate = f.sampleRate * kChannels * 2;
  f.blockAlign = kChannels * 2;
  f.bitsPerSample = 16;
  return f;
}

std::vector<float> SumsAsMix(std::span<const int32_t> sums) {
  std::vector<float> mix(sums.size());
  for (size_t i = 0; i < sums.size(); ++i)
    mix[i] = static_cast<float>(static_cast<double>(sums[i]) / 32768.0);
  return mix;
}

namespace {

// Saturates at the 32-bit bounds: only some 65536 full-scale renderings on one sample
// could reach them.
inline int32_t AddSaturated(int32_t a, int32_t b) {
  const int64_t s = int64_t{a} + b;
  return static_cast<int32_t>(std::clamp<int64_t>(s, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

// Adds `count` samples produced by sampleAt(i) from sum position `first` on; both mixing
// paths go through here so they give the same sums.
template <typename SampleAt>
void AddSamples(std::vector<int32_t>& sum, int64_t first, uint64_t count, SampleAt sampleAt) {
  uint64_t skip = 0;
  if (first < 0) {
    skip = static_cast<uint64_t>(-first);
    first = 0;
  }
  if (skip >= count || static_cast<uint64_t>(first) >= sum.size()) return;
  const uint64_t n = std::min<uint64_t>(count - skip, sum.size() - static_cast<uint64_t>(first));
  int32_t* dst = sum.data() + first;
  for (uint64_t i = 0; i < n; ++i) dst[i] = AddSaturated(dst[i], sampleAt(skip + i));
}

// Keeps only the source frames that reach into a mix of `mixFrames` frames. A low rate
// or an overlong rendering would otherwise be converted whole: a 16 KB file at 1 Hz is
// gigabytes at the mix's rate. Mix frame i reads source frames floor(i / ratio) and the one
// after it; 2 / ratio more keep the resampled length past the mix's end, so every frame
// that is added comes out as it would from the whole rendering.
void DropFramesPastTheMix(CWaveData& r, uint64_t mixFrames, uint32_t mixRate) {
  const uint64_t frameBytes = uint64_t{r.channels} * (r.bitsPerSample / 8u);
  if (mixFrames == 0) {
    r.samples.clear();
    return;
  }
  const double ratio = static_cast<double>(mixRate) / r.sampleRate;
  const double keep =
      std::floor(static_cast<double>(mixFrames - 1) / ratio) + 2.0 + std::ceil(2.0 / ratio);
  if (keep * static_cast<double>(frameBytes) < static_cast<double>(r.samples.size())) {
    r.samples.resize(static_cast<size_t>(keep) * frameBytes);
  }
}

// Channels, depth and rate of a rendering brought to the accumulator's; false when that
// cannot be done. Depth goes first so mono 24-bit data is widened as whole samples.
bool BringToAccumulatorFormat(Reporter& reporter, CWaveData& r, uint64_t mixFrames,
                              uint32_t mixRate) {
  const bool known = r.formatTag == kWaveFormatPcm && (r.channels == 1 || r.channels == 2) &&
                     (r.bitsPerSample == 8 || r.bitsPerSample == 16 || r.bitsPerSample == 24);
  if (!known || r.sampleRate == 0) {
    reporter.ShowText(audio_msg::kWrongFormat);
    return false;
  }
  DropFramesPastTheMix(r, mixFrames, mixRate);
  if (r.bitsPerSample == 8) Convert8BitTo16Bit(r);
  if (r.bitsPerSample == 24) Convert24BitTo16Bit(r);
  if (r.channels == 1) ConvertMonoToStereo(r);
  if (!ResampleWave(r, mixRate)) {
    reporter.ShowText(audio_msg::kWrongFormat);
    return false;
  }
  return true;
}

enum class Prepared { kAdd, kNothing, kFailed };

// A read rendering brought to the mix's format, as far as it reaches into `mixFrames`.
Prepared PrepareRendering(Reporter& reporter, CWaveData& r, uint64_t mixFrames, uint32_t mixRate) {
  // A file that was read and holds no sound (a copy that never sounded) adds nothing and
  // is no failure; a read that failed left no format.
  if (r.samples.empty()) return r.channels != 0 ? Prepared::kNothing : Prepared::kFailed;
  try {
    if (!BringToAccumulatorFormat(reporter, r, mixFrames, mixRate)) return Prepared::kFailed;
  } catch (const std::bad_alloc&) {
    reporter.ShowText(audio_msg::kOutOfMemory);
    return Prepared::kFailed;
  }
  return Prepared::kAdd;
}

// Sample i of a prepared rendering.
auto SampleReader(const CWaveData& r) {
  const uint8_t* bytes = r.samples.data();
  return [bytes](uint64_t i) {
    return int32_t{static_cast<int16_t>(audio_bytes::Le16(bytes + i * 2))};
  };
}

// A spooled mix's window: 2 MB of sums.
constexpr int64_t kSpoolWindowSamples = int64_t{1} << 19;

std::span<uint8_t> AsWritableBytes(std::span<float> sums) {
  return {reinterpret_cast<uint8_t*>(sums.data()), sums.size_bytes()};
}

// One 16-bit step of full scale 1.0.
constexpr float kStepsPerFullScale = 32768.0f;

}  // namespace

std::optional<MixAccumulator> CreateMixAccumulator(Reporter& reporter, int64_t seconds,
                                                   int sampleRate) {
  seconds = std::max<int64_t>(seconds, 0);
  const uint64_t bytesPerSecond = uint64_t(std::max(sampleRate, 1)) * kChannels * 2;
  if (static_cast<uint64_t>(seconds) > kMaxWavDataBytes / bytesPerSecond) {
    reporter.ShowText(audio_msg::kTooLarge);
    return std::nullopt;
  }
  MixAccumulator acc;
  acc.format = MixFormat(sampleRate);
  try {
    acc.sum.assign(static_cast<size_t>(seconds) * acc.format.sampleRate * kChannels, 0);
  } catch (const std::bad_alloc&) {
    reporter.ShowText(audio_msg::kOutOfMemory);
    return std::nullopt;
  }
  return acc;
}

void TrimTrailingSilence(MixAccumulator& acc, uint64_t minFrames) {
  uint64_t frames = FrameCount(acc);
  const auto silent = [&](uint64_t frame) {
    return acc.sum[frame * kChannels] == 0 && acc.sum[frame * kChannels + 1] == 0;
  };
  while (frames > minFrames && silent(frames - 1)) --frames;
  acc.sum.resize(frames * kChannels);
}

bool MixWaveFile(Reporter& reporter, MixAccumulator& acc, const std::string& path) {
  return MixWaveData(reporter, acc, ReadWaveFile(reporter, path));
}

bool MixWaveData(Reporter& reporter, MixAccumulator& acc, CWaveData r) {
  const Prepared prepared = PrepareRendering(reporter, r, FrameCount(acc), acc.format.sampleRate);
  if (prepared != Prepared::kAdd) return prepared == Prepared::kNothing;
  AddSamples(acc.sum, 0, r.samples.size() / 2, SampleReader(r));
  return true;
}

void MixSamples(MixAccumulator& acc, std::span<const int16_t> interleavedStereo,
                int64_t startFrame) {
  // Frames this far out cannot overlap the accumulator; keeps startFrame * 2 in range.
  constexpr int64_t kFar = int64_t{1} << 60;
  if (startFrame >= kFar || startFrame <= -kFar) return;
  const int16_t* src = interleavedStereo.data();
  AddSamples(acc.sum, startFrame * kChannels, interleavedStereo.size(),
             [src](uint64_t i) { return int32_t{src[i]}; });
}

SpooledMix::SpooledMix(int64_t frames, int sampleRate)
    : file_(OpenScratchFile()), frames_(frames), rate_(sampleRate) {
  // Unwritten parts of the file read as zeros and take no room.
  if (ok() && ::ftruncate(file_.fd, static_cast<off_t>(frames * kChannels * 4)) != 0)
    file_ = UniqueFd();
}

bool SpooledMix::AddWaveFile(Reporter& reporter, const std::string& path) {
  const CWaveData mixFormat = MixFormat(rate_);
  if (const auto sound = LocateWaveSound(path);
      sound && sound->format.formatTag == mixFormat.formatTag &&
      sound->format.channels == mixFormat.channels &&
      sound->format.bitsPerSample == mixFormat.bitsPerSample &&
      sound->format.sampleRate == mixFormat.sampleRate)
    return AddSoundFile(reporter, path, *sound);
  CWaveData r = ReadWaveFile(reporter, path);
  const Prepared prepared =
      PrepareRendering(reporter, r, static_cast<uint64_t>(frames_), static_cast<uint32_t>(rate_));
  if (prepared != Prepared::kAdd) return prepared == Prepared::kNothing;
  const auto count = static_cast<int64_t>(r.samples.size() / 2);
  const auto sample = SampleReader(r);
  return AddWindows(
      reporter, count, [&](int64_t, int64_t) { return true; }, sample);
}

bool SpooledMix::AddSoundFile(Reporter& reporter, const std::string& path,
                              const WaveFileSound& sound) {
  // Read a window at a time: a rendering an hour long is never held whole.
  const UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.fd < 0) {
    reporter.ShowText(audio_msg::kFileNotFound);
    return false;
  }
  std::vector<uint8_t> piece;
  const auto load = [&](int64_t first, int64_t n) {
    piece.resize(static_cast<size_t>(n) * 2);
    return ReadAllAt(file.fd, piece, static_cast<int64_t>(sound.offset) + first * 2) == 0;
  };
  int64_t pieceFirst = 0;
  const auto sample = [&](uint64_t i) {
    return int32_t{static_cast<int16_t>(audio_bytes::Le16(&piece[(i - pieceFirst) * 2]))};
  };
  return AddWindows(
      reporter, static_cast<int64_t>(sound.format.dataSize / 2),
      [&](int64_t first, int64_t n) {
        pieceFirst = first;
        return load(first, n);
      },
      sample);
}

template <typename Load, typename SampleAt>
bool SpooledMix::AddWindows(Reporter& reporter, int64_t count, Load load, SampleAt sample) {
  const int64_t end = std::min(count, frames_ * kChannels);
  window_.resize(static_cast<size_t>(kSpoolWindowSamples));
  for (int64_t first = 0; first < end; first += kSpoolWindowSamples) {
    const int64_t n = std::min(kSpoolWindowSamples, end - first);
    if (!load(first, n)) {
      reporter.ShowText(audio_msg::kCannotOpen);
      return false;
    }
    // A rendering is silent before its note: only the windows it sounds in are touched.
    bool sounds = false;
    for (int64_t i = first; i < first + n && !sounds; ++i) sounds = sample(i) != 0;
    if (!sounds) continue;
    const auto window = std::span(window_).first(static_cast<size_t>(n));
    if (ReadAllAt(file_.fd, AsWritableBytes(window), first * 4) != 0) {
      reporter.ShowText(audio_msg::kCannotOpen);
      return false;
    }
    for (int64_t i = 0; i < n; ++i)
      window[static_cast<size_t>(i)] +=
          static_cast<float>(sample(static_cast<uint64_t>(first + i)));
    if (WriteAllAt(file_.fd, AsWritableBytes(window), first * 4) != 0) {
      reporter.ShowText(audio_msg::kCannotOpen);
      return false;
    }
  }
  return true;
}

bool SpooledMix::AddRun(Reporter& reporter, int64_t startFrame, std::span<const float> run) {
  window_.resize(static_cast<size_t>(kSpoolWindowSamples));
  const int64_t total = frames_ * kChannels;
  int64_t from = 0;  // in `run`
  int64_t at = startFrame * kChannels;
  if (at < 0) {
    from = -at;
    at = 0;
  }
  const auto count = static_cast<int64_t>(run.size());
  while (from < count && at < total) {
    const int64_t n = std::min({kSpoolWindowSamples, count - from, total - at});
    const auto window = std::span(window_).first(static_cast<size_t>(n));
    if (ReadAllAt(file_.fd, AsWritableBytes(window), at * 4) != 0) {
      reporter.ShowText(audio_msg::kCannotOpen);
      return false;
    }
    for (int64_t i = 0; i < n; ++i)
      window[static_cast<size_t>(i)] += run[static_cast<size_t>(from + i)] * kStepsPerFullScale;
    if (WriteAllAt(file_.fd, AsWritableBytes(window), at * 4) != 0) {
      reporter.ShowText(audio_msg::kCannotOpen);
      return false;
    }
    from += n;
    at += n;
  }
  return true;
}

bool SpooledMix::ReadOut(Reporter& reporter,
                         const std::function<bool(std::span<const float>)>& take) {
  window_.resize(static_cast<size_t>(kSpoolWindowSamples));
  const int64_t total = frames_ * kChannels;
  for (int64_t first = 0; first < total; first += kSpoolWindowSamples) {
    const auto window =
        std::span(window_).first(static_cast<size_t>(std::min(kSpoolWindowSamples, total - first)));
    if (ReadAllAt(file_.fd, AsWritableBytes(window), first * 4) != 0) {
      reporter.ShowText(audio_msg::kCannotOpen);
      return false;
    }
    for (float& sum : window) sum /= kStepsPerFullScale;
    if (!take(window)) return false;
  }
  return true;
}

}  // namespace velorna
