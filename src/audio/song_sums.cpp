#include "audio/song_sums.h"

#include <algorithm>
#include <span>

#include "audio/effect_math.h"
#include "audio/fixed_point.h"

namespace velorna {

void BlockRun::Reserve(int64_t frames) {
  if (frames <= static_cast<int64_t>(lanes_[0].size())) return;
  for (auto& lane : lanes_) lane.resize(static_cast<size_t>(frames));
  sounding_.resize(static_cast<size_t>((frames + kBlockFrames - 1) / kBlockFrames));
}

bool BlockRun::Append(const DryBlock& block) {
  if (frames_ > 0 && block.frame != startFrame + frames_) return false;
  if (frames_ == 0) startFrame = block.frame;
  // Doubling keeps the growth of a run that was not reserved for amortised.
  if (frames_ + kBlockFrames > static_cast<int64_t>(lanes_[0].size())) {
    Reserve(std::max<int64_t>(2 * frames_, kSumChunkFrames));
  }
  const std::array<std::span<const float>, kSumLanes> from = {block.left, block.right,
                                                              block.reverbSend, block.chorusSend};
  uint8_t sounding = 0;
  for (size_t lane = 0; lane < kSumLanes; ++lane) {
    const std::span<int64_t> to(lanes_[lane].data() + frames_, kBlockFrames);
    if (ToFixedBlock(from[lane], to)) sounding |= static_cast<uint8_t>(1u << lane);
  }
  sounding_[static_cast<size_t>(frames_ / kBlockFrames)] = sounding;
  frames_ += kBlockFrames;
  return true;
}

void SongSums::Add(const BlockRun& run) {
  const int64_t blocks = run.frames() / kBlockFrames;
  int64_t heldNumber = -1;
  Chunk* held = nullptr;
  for (int64_t k = 0; k < blocks; ++k) {
    // A block lies in one chunk when the renderings keep to the song's blocks; the split
    // keeps any other start exact too.
    for (int64_t j = 0; j < kBlockFrames;) {
      const int64_t frame = run.startFrame + k * kBlockFrames + j;
      const int64_t number = FloorDiv(frame, kSumChunkFrames);
      const int64_t offset = frame - number * kSumChunkFrames;
      const int64_t n = std::min(kBlockFrames - j, kSumChunkFrames - offset);
      for (int lane = 0; lane < kSumLanes; ++lane) {
        if (number < takenBefore_ || !run.Sounds(k, lane)) continue;
        if (number != heldNumber) {
          std::unique_ptr<Chunk>& chunk = chunks_[number];
          if (!chunk) chunk = std::make_unique<Chunk>();
          held = chunk.get();
          heldNumber = number;
        }
        AddFixed(run.Samples(k, lane).subspan(static_cast<size_t>(j), static_cast<size_t>(n)),
                 std::span(held->lanes[static_cast<size_t>(lane)].data() + offset,
                           static_cast<size_t>(n)));
      }
      j += n;
    }
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
