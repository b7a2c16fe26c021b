#include "audio/mix_accumulator.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>

#include "audio/audio_messages.h"
#include "audio/byte_order.h"
#include "base/file_io.h"
#include "base/limits.h"

namespace velorna {
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

CWaveData AccumulatorFormat(int sampleRate) {
  CWaveData f;
  f.formatTag = kWaveFormatPcm;
  f.channels = kChannels;
  f.sampleRate = static_cast<uint32_t>(sampleRate);
  f.byteRate = f.sampleRate * kChannels * 2;
  f.blockAlign = kChannels * 2;
  f.bitsPerSample = 16;
  return f;
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
  acc.format = AccumulatorFormat(sampleRate);
  try {
    acc.sum.assign(static_cast<size_t>(seconds) * acc.format.sampleRate * kChannels, 0);
  } catch (const std::bad_alloc&) {
    reporter.ShowText(audio_msg::kOutOfMemory);
    return std::nullopt;
  }
  return acc;
}

bool GrowMixAccumulator(MixAccumulator& acc, int64_t frames) {
  constexpr int64_t kMaxFrames = static_cast<int64_t>(kMaxWavDataBytes / (kChannels * 2));
  frames = std::min(frames, kMaxFrames);
  if (frames <= static_cast<int64_t>(FrameCount(acc))) return true;
  try {
    acc.sum.resize(static_cast<size_t>(frames) * kChannels, 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
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
  // A file that was read and holds no sound (a copy that never sounded) adds nothing and
  // is no failure; a read that failed left no format.
  if (r.samples.empty()) return r.channels != 0;
  try {
    if (!BringToAccumulatorFormat(reporter, r, FrameCount(acc), acc.format.sampleRate))
      return false;
  } catch (const std::bad_alloc&) {
    reporter.ShowText(audio_msg::kOutOfMemory);
    return false;
  }
  const uint8_t* bytes = r.samples.data();
  AddSamples(acc.sum, 0, r.samples.size() / 2, [bytes](uint64_t i) {
    return int32_t{static_cast<int16_t>(audio_bytes::Le16(bytes + i * 2))};
  });
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

bool WriteMixAccumulator(Reporter& reporter, const MixAccumulator& acc, const std::string& path) {
  const uint64_t sampleBytes = SampleBytes(acc);
  if (sampleBytes > kMaxWavDataBytes) {
    reporter.ShowText(audio_msg::kTooLarge);
    return false;
  }
  // Saturated in blocks as they are written: no second whole-song buffer.
  AtomicFile file(path);
  bool written = file.Write(MakeWaveHeader(acc.format, sampleBytes));
  constexpr size_t kBlockSamples = 32768;
  std::array<uint8_t, kBlockSamples * 2> block;
  for (size_t first = 0; written && first < acc.sum.size(); first += kBlockSamples) {
    const size_t n = std::min(kBlockSamples, acc.sum.size() - first);
    SaturateTo16(std::span(acc.sum).subspan(first, n), block.data());
    written = file.Write(std::span<const uint8_t>(block.data(), n * 2));
  }
  written = written && file.Commit();
  if (!written) reporter.ShowText(audio_msg::kCannotOpen);
  return written;
}

}  // namespace velorna
