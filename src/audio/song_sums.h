// Song-time sums of the dry voices and raw sends of many renderings. They are summed in
// fixed point, so the order in which renderings arrive (from any number of threads) never
// changes a bit of the result; stretches that are complete run through the effects once and
// go to the output as they are finished, in float, unrounded and unclipped.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <vector>

#include "audio/chorus.h"
#include "audio/dry_rendering.h"
#include "audio/mix_sink.h"
#include "audio/reverb.h"
#include "audio/sound_file_writer.h"

namespace velorna {

inline constexpr int kSumLanes = 4;  // dry left, dry right, reverb send, chorus send
inline constexpr int64_t kSumChunkFrames = 16384;
static_assert(kSumChunkFrames % kBlockFrames == 0);

// Consecutive blocks of one rendering, gathered before they are added, already in fixed
// point: the conversion runs on the rendering's thread, and only integer adds are left for
// the turns taken at the sums.
class BlockRun {
 public:
  int64_t startFrame = 0;

  int64_t frames() const { return frames_; }
  void Clear() { frames_ = 0; }
  void Reserve(int64_t frames);
  // False when the block does not follow on from the run (the run must be added first).
  bool Append(const DryBlock& block);

  // Block `k`'s samples of `lane`.
  std::span<const int64_t> Samples(int64_t k, int lane) const {
    return {lanes_[static_cast<size_t>(lane)].data() + k * kBlockFrames, kBlockFrames};
  }
  // Whether block `k` holds a non-zero sample in `lane`: silent sends need no adding.
  bool Sounds(int64_t k, int lane) const {
    return (sounding_[static_cast<size_t>(k)] >> lane & 1) != 0;
  }

 private:
  int64_t frames_ = 0;
  std::array<std::vector<int64_t>, kSumLanes> lanes_;  // sized ahead: no zero fills per block
  std::vector<uint8_t> sounding_;                      // a bit per lane, per block
};

class SongSums {
 public:
  SongSums() = default;
  SongSums(const SongSums&) = delete;
  SongSums& operator=(const SongSums&) = delete;

  // Adds a run. Not synchronised: callers on several threads take turns. Frames before
  // the finished point are dropped (they can no longer change the output).
  void Add(const BlockRun& run);

  // Removes the chunks wholly before `frame` (all of them when `frame` is past the end) and
  // returns them for FinishChunks. Not synchronised, like Add.
  struct Chunk {
    std::array<std::array<int64_t, kSumChunkFrames>, kSumLanes> lanes{};
  };
  std::map<int64_t, std::unique_ptr<Chunk>> TakeChunksBefore(int64_t frame);

  // A copy of what chunk `number` holds so far (null: nothing), for finishing its start
  // before the rest is complete. Not synchronised, like Add.
  [[nodiscard]] std::unique_ptr<Chunk> CopyChunk(int64_t number) const;

  int64_t heldChunks() const { return static_cast<int64_t>(chunks_.size()); }

 private:
  std::map<int64_t, std::unique_ptr<Chunk>> chunks_;  // by chunk number
  int64_t takenBefore_ = 0;                           // chunk number
};

// Runs the effects over finished sums in song order and writes the result to the output.
// Used from one thread.
class SumFinisher {
 public:
  // The effects run at the output's rate.
  SumFinisher(MixSink& out, int sampleRate)
      : out_(out), reverb_({.sampleRate = sampleRate}), chorus_({.sampleRate = sampleRate}) {}
  // Writes every frame from where the last call stopped up to `untilFrame` (a multiple of
  // kSumChunkFrames, a multiple of kBlockFrames inside a chunk whose copy is in `chunks`, or
  // the output's end); `chunks` holds whatever of that stretch was
  // summed, the rest counts as silence. False once the output failed (the reason shown).
  bool Finish(const std::map<int64_t, std::unique_ptr<SongSums::Chunk>>& chunks,
              int64_t untilFrame);
  int64_t finished() const { return finished_; }

 private:
  MixSink& out_;
  Reverb reverb_;
  Chorus chorus_;
  int64_t finished_ = 0;
  std::vector<float> samples_;
};

}  // namespace velorna
