// The sums hold exactly what adding each sample's ToFixed gives, wherever a run starts and
// whichever of its lanes are silent.
#include "audio/song_sums.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "audio/fixed_point.h"

namespace velorna {
namespace {

TEST(SongSums, HoldEachSamplesFixedPointSum) {
  // Starts off the block grid put a block across a chunk boundary; zero lanes and ones too
  // quiet for the sums are skipped, samples too loud for them count as silence.
  const struct {
    int64_t start;
    int blocks;
    std::array<float, kSumLanes> level;
  } runs[] = {
      {0, 300, {0.5f, -0.25f, 0.0f, 1e-12f}},
      {kSumChunkFrames - 100, 40, {0.125f, 0.0f, 0.75f, 0.0f}},
      {3 * kSumChunkFrames - 64, 3, {1e6f, 0.3f, -0.3f, 0.1f}},
      {kSumChunkFrames - 100, 2, {0.0f, 0.0f, 0.0f, 0.0f}},
      {5 * kSumChunkFrames + 10, 4, {0.0f, 1e-12f, 0.0f, 0.0f}},
  };
  constexpr int64_t kChunks = 6;
  std::mt19937 random(7);
  std::uniform_real_distribution<float> wave(-1.0f, 1.0f);
  SongSums sums;
  std::array<std::vector<int64_t>, kSumLanes> expected;
  for (auto& lane : expected) lane.assign(kChunks * kSumChunkFrames, 0);
  for (const auto& run : runs) {
    BlockRun blocks;
    for (int k = 0; k < run.blocks; ++k) {
      DryBlock block;
      block.frame = run.start + k * kBlockFrames;
      std::array<float*, kSumLanes> lanes = {block.left.data(), block.right.data(),
                                             block.reverbSend.data(), block.chorusSend.data()};
      for (int lane = 0; lane < kSumLanes; ++lane) {
        for (int i = 0; i < kBlockFrames; ++i) {
          const float v = run.level[static_cast<size_t>(lane)] * wave(random);
          lanes[static_cast<size_t>(lane)][i] = v;
          expected[static_cast<size_t>(lane)][static_cast<size_t>(block.frame + i)] += ToFixed(v);
        }
      }
      ASSERT_TRUE(blocks.Append(block));
    }
    sums.Add(blocks);
  }
  EXPECT_EQ(sums.heldChunks(), 4);  // nothing sounded in the last run
  for (int64_t number = 0; number < kChunks; ++number) {
    const std::unique_ptr<SongSums::Chunk> chunk = sums.CopyChunk(number);
    for (size_t lane = 0; lane < kSumLanes; ++lane) {
      for (int64_t i = 0; i < kSumChunkFrames; ++i) {
        const int64_t want = expected[lane][static_cast<size_t>(number * kSumChunkFrames + i)];
        ASSERT_EQ(chunk ? chunk->lanes[lane][static_cast<size_t>(i)] : 0, want)
            << "chunk " << number << " lane " << lane << " frame " << i;
      }
    }
  }
}

}  // namespace
}  // namespace velorna
