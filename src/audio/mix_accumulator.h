// Sums of renderings at the mix's format (16-bit stereo at the output's rate): held whole in
// memory for a short mix (MixAccumulator), or kept in a scratch file for a long one
// (SpooledMix). A conversion writes its mix as it is finished (SoundFileStream) and holds
// neither whole.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "audio/wave_data.h"
#include "base/file_io.h"
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

// Sums in 16-bit steps as the output takes them (full scale 1.0); exact, since every sum
// below 2^24 steps is a float.
[[nodiscard]] std::vector<float> SumsAsMix(std::span<const int32_t> sums);

// The mix's format: 16-bit stereo at `sampleRate`.
CWaveData MixFormat(int sampleRate = kSampleRate);
// The most frames a 16-bit stereo WAV holds.
inline constexpr int64_t kMaxMixFrames = static_cast<int64_t>(kMaxWavDataBytes / (kChannels * 2));

// `seconds` × `sampleRate` zeroed frames. A length past the WAV size limit shows
// "出力が大きすぎます。" before anything is allocated and gives nullopt.
std::optional<MixAccumulator> CreateMixAccumulator(Reporter& reporter, int64_t seconds,
                                                   int sampleRate = kSampleRate);

// Room past the song's last event for the renderings' and the effects' tails.
inline constexpr int64_t kEndingCapSeconds = 10;
inline constexpr int64_t kEndingCapFrames = kEndingCapSeconds * kSampleRate;  // at the default

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

// A mix kept in a scratch file rather than in memory, for renderings that arrive whole and
// out of song order: each is added window by window, and the sums are read back in song
// order. Its memory is one window whatever the song's length; the file has no name, so
// nothing of it outlives the run. The sums are floats counted in 16-bit steps: exact for
// 16-bit renderings (any sum below 2^24 steps), and unrounded for float ones.
class SpooledMix {
 public:
  // `frames` zeroed frames in the mix's format at `sampleRate`; ok() is false when no
  // scratch file could be made.
  SpooledMix(int64_t frames, int sampleRate);
  bool ok() const { return file_.fd >= 0; }
  // As MixWaveFile; also false (with "ファイルが開けませんでした。") when the sums could not
  // be read or written.
  bool AddWaveFile(Reporter& reporter, const std::string& path);
  // Adds a run of a rendering (interleaved stereo, full scale 1.0) from song frame
  // `startFrame` on; what lies outside the mix is dropped. False as AddWaveFile.
  bool AddRun(Reporter& reporter, int64_t startFrame, std::span<const float> run);
  // Hands the mix over in song order (full scale 1.0), a window at a time, until `take`
  // gives false. False when it did, or the sums could not be read
  // ("ファイルが開けませんでした。" shown).
  bool ReadOut(Reporter& reporter, const std::function<bool(std::span<const float>)>& take);
  // Hands nothing out from `frame` on: a Stop ended the mix there.
  void EndAt(int64_t frame) { frames_ = std::clamp<int64_t>(frame, 0, frames_); }

 private:
  // A rendering already in the mix's format, read from its file a window at a time.
  bool AddSoundFile(Reporter& reporter, const std::string& path, const WaveFileSound& sound);
  // Adds `count` samples window by window; load(first, n) makes samples first..first+n-1
  // readable through sample(i) (false: the read failed).
  template <typename Load, typename SampleAt>
  bool AddWindows(Reporter& reporter, int64_t count, Load load, SampleAt sample);

  UniqueFd file_;
  int64_t frames_ = 0;
  int rate_ = 0;
  std::vector<float> window_;
};

}  // namespace velorna
