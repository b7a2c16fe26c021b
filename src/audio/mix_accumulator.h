// The sum of all renderings of a song, 16-bit stereo at the output's rate, written as the
// output WAV.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "audio/wave_data.h"
#include "base/limits.h"
#include "base/reporter.h"

namespace velorna {

// Each sample is summed in 32 bits and brought to 16 bits only when written, so loud
// overlapping renderings clip instead of wrapping and the order of adding does not matter.
struct MixAccumulator {
  CWaveData format;          // 1, 2, rate, rate × 4, 4, 16; its samples stay empty
  std::vector<int32_t> sum;  // two per frame, left before right
};

inline uint64_t SampleBytes(const MixAccumulator& acc) {
  return acc.sum.size() * 2;
}
inline uint64_t FrameCount(const MixAccumulator& acc) {
  return acc.sum.size() / 2;
}

// `seconds` × `sampleRate` zeroed frames. A length past the WAV size limit shows
// "出力が大きすぎます。" before anything is allocated and gives nullopt.
std::optional<MixAccumulator> CreateMixAccumulator(Reporter& reporter, int64_t seconds,
                                                   int sampleRate = kSampleRate);

// Room past the song's last event for the renderings' and the effects' tails.
inline constexpr int64_t kEndingCapSeconds = 10;
inline constexpr int64_t kEndingCapFrames = kEndingCapSeconds * kSampleRate;  // at the default

// Grows the accumulator with zeroed frames to `frames`, held within the WAV size limit.
// False, leaving it as it was, when memory runs out.
bool GrowMixAccumulator(MixAccumulator& acc, int64_t frames);
// Drops the silent frames at the end, keeping at least `minFrames`.
void TrimTrailingSilence(MixAccumulator& acc, uint64_t minFrames);

// Reads a rendered WAV file, brings it to the accumulator's format and adds it from the
// first frame. False when the file could not be read or brought to the format (the reason
// has been shown); a file that holds no sound adds nothing and gives true.
bool MixWaveFile(Reporter& reporter, MixAccumulator& acc, const std::string& path);
// The same for a rendering already read; a record without samples adds nothing, and gives
// false when it has no format either (the read failed).
bool MixWaveData(Reporter& reporter, MixAccumulator& acc, CWaveData wave);

// Adds a rendering held in memory (interleaved 16-bit stereo at its rate) whose first frame
// falls on song frame `startFrame`; the parts outside the accumulator are dropped. Not
// synchronised: threads adding into one accumulator take turns under the caller's lock.
void MixSamples(MixAccumulator& acc, std::span<const int16_t> interleavedStereo,
                int64_t startFrame);

// Writes the accumulator with every sum saturated to -32768..32767. The file is replaced
// only once complete. Shows "ファイルが開けませんでした。" and returns false on failure.
bool WriteMixAccumulator(Reporter& reporter, const MixAccumulator& acc, const std::string& path);

}  // namespace velorna
