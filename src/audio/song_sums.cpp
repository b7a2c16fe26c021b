#include "audio/song_sums.h"

#include <algorithm>
#include <span>

namespace velorna {

namespace {

// 32 fractional bits: far below a 16-bit step, with room for any number of renderings.
constexpr double kFixedScale = 4294967296.0;
constexpr double kFixedLimit = 1125899906842624.0;  // 2^50: |sample| below 2^18

int64_t ToFixed(float x) {
  const double v = static_cast<double>(x) * kFixedScale;
  if (!(v > -kFixedLimit && v < kFixedLimit)) return 0;  // never reached by real voices
  return static_cast<int64_t>(v);
}

float FromFixed(int64_t v) {
  return static_cast<float>(static_cast<double>(v) / kFixedScale);
}

int64_t FloorDiv(int64_t a, int64_t b) {
  return a >= 0 ? a / b : -((-a + b - 1) / b);
}

}  // namespace

bool BlockRun::Append(const DryBlock& block) {
  if (frames() > 0 && block.frame != startFrame + frames()) return false;
  if (frames() == 0) startFrame = block.frame;
  const std::array<const float*, kSumLanes> from = {
      block.left.data(), block.right.data(), block.reverbSend.data(), block.chorusSend.data()};
  for (size_t lane = 0; lane < kSumLanes; ++lane) {
    std::vector<float>& to = lanes[lane];
    to.insert(to.end(), from[lane], from[lane] + kBlockFrames);
  }
  return true;
}

void SongSums::Add(const BlockRun& run) {
  const int64_t count = run.frames();
  int64_t j = 0;
  while (j < count) {
    const int64_t frame = run.startFrame + j;
    const int64_t number = FloorDiv(frame, kSumChunkFrames);
    const int64_t offset = frame - number * kSumChunkFrames;
    const int64_t n = std::min(count - j, kSumChunkFrames - offset);
    if (number >= takenBefore_) {
      std::unique_ptr<Chunk>& chunk = chunks_[number];
      if (!chunk) chunk = std::make_unique<Chunk>();
      for (size_t lane = 0; lane < kSumLanes; ++lane) {
        int64_t* to = chunk->lanes[lane].data() + offset;
        const float* from = run.lanes[lane].data() + j;
        for (int64_t k = 0; k < n; ++k) to[k] += ToFixed(from[k]);
      }
    }
    j += n;
  }
}

std::map<int64_t, std::unique_ptr<SongSums::Chunk>> SongSums::TakeChunksBefore(int64_t frame) {
  const int64_t limit = FloorDiv(frame, kSumChunkFrames);
  std::map<int64_t, std::unique_ptr<Chunk>> taken;
  while (!chunks_.empty() && chunks_.begin()->first < limit) {
    taken.insert(chunks_.extract(chunks_.begin()));
  }
  takenBefore_ = std::max(takenBefore_, limit);
  return taken;
}

std::unique_ptr<SongSums::Chunk> SongSums::CopyChunk(int64_t number) const {
  const auto found = chunks_.find(number);
  return found == chunks_.end() ? nullptr : std::make_unique<Chunk>(*found->second);
}

bool SumFinisher::Finish(const std::map<int64_t, std::unique_ptr<SongSums::Chunk>>& chunks,
                         int64_t untilFrame) {
  const int64_t outEnd = (out_.endFrame() + kBlockFrames - 1) / kBlockFrames * kBlockFrames;
  const int64_t end = std::min(untilFrame, outEnd);
  std::array<float, kBlockFrames> left, right, reverbSend, chorusSend;
  while (finished_ < end) {
    const int64_t number = finished_ / kSumChunkFrames;
    const int64_t chunkEnd = std::min(end, (number + 1) * kSumChunkFrames);
    const auto found = chunks.find(number);
    const SongSums::Chunk* chunk = found == chunks.end() ? nullptr : found->second.get();
    const int64_t first = finished_;
    samples_.assign(static_cast<size_t>(chunkEnd - first) * 2, 0.0f);
    bool sounding = false;
    for (int64_t pos = first; pos < chunkEnd; pos += kBlockFrames) {
      // Without sums the effects' silence stays exact silence: nothing to add.
      if (chunk == nullptr && reverb_.IsSilent() && chorus_.IsSilent()) continue;
      const size_t at = static_cast<size_t>(pos - number * kSumChunkFrames);
      for (size_t i = 0; i < kBlockFrames; ++i) {
        left[i] = chunk ? FromFixed(chunk->lanes[0][at + i]) : 0.0f;
        right[i] = chunk ? FromFixed(chunk->lanes[1][at + i]) : 0.0f;
        reverbSend[i] = chunk ? FromFixed(chunk->lanes[2][at + i]) : 0.0f;
        chorusSend[i] = chunk ? FromFixed(chunk->lanes[3][at + i]) : 0.0f;
      }
      reverb_.Process(pos, reverbSend, left, right);
      chorus_.Process(pos, chorusSend, left, right);
      // Unrounded: the output decides its depth, its scale and where it clips.
      float* out = samples_.data() + static_cast<size_t>(pos - first) * 2;
      for (size_t i = 0; i < kBlockFrames; ++i) {
        out[2 * i] = left[i];
        out[2 * i + 1] = right[i];
      }
      sounding = true;
    }
    const bool taken = sounding ? out_.Put(samples_) : out_.PutSilence(chunkEnd - first);
    if (!taken) return false;
    finished_ = chunkEnd;
  }
  return true;
}

}  // namespace velorna
