// Dry renderings and their song-time sums: with the effects applied afterwards they must
// give what a whole rendering gives, and the sums must not depend on the order of adding.
#include "audio/dry_rendering.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "audio/chorus.h"
#include "audio/reverb.h"
#include "audio/song_sums.h"
#include "render_songs.h"

namespace velorna {
namespace {

using test::FromFrameZero;
using test::kTestSoundFont;
using test::TrackBuilder;

constexpr int64_t kEverything = std::numeric_limits<int64_t>::max();

struct DryRenderingTest : ::testing::Test {
  void SetUp() override {
    font = LoadSoundFont(kTestSoundFont);
    ASSERT_TRUE(font);
  }
  std::vector<TimedEvent> Timed(const MidiTrack& track) {
    auto timed = TimeTrackEvents(track, 480);
    EXPECT_TRUE(timed);
    return timed.value_or(std::vector<TimedEvent>{});
  }
  std::unique_ptr<LoadedSoundFont> font;
};

// A late start, a pedal holding a note past its end, a long silent gap, a second phrase
// with reverb and chorus sends, and a bend.
MidiTrack Phrases() {
  TrackBuilder b;
  b.Tempo(0, 500000).Program(0, 0, 19).Control(0, 0, 91, 100).Control(0, 0, 93, 80);
  b.Control(700, 0, 64, 127).NoteOn(960, 0, 60).NoteOff(1100, 0, 60).Control(1500, 0, 64, 0);
  b.NoteOn(9000, 0, 67, 90).Channel(9300, st::kPitchBend, 0, 0, 70).NoteOn(9400, 0, 71, 70);
  b.NoteOff(9800, 0, 67).NoteOff(9900, 0, 71).End(9900);
  return b.Build();
}

// The dry blocks laid out in song time with the effects run over their sends afterwards,
// from frame 0 for `frames` frames, in 16 bits.
std::vector<int16_t> DryThenEffects(const LoadedSoundFont& font, std::vector<TimedEvent> events,
                                    int64_t step, size_t frames, int polyphony = kRenderPolyphony) {
  const size_t padded = (frames + kBlockFrames - 1) / kBlockFrames * kBlockFrames;
  std::vector<float> left(padded), right(padded), reverbSend(padded), chorusSend(padded);
  const FluidSettingsPtr settings = MakeRenderSettings(polyphony);
  DryRendering dry;
  EXPECT_TRUE(dry.Start(font, settings.get(), std::move(events), true));
  int64_t limit = 0;
  int64_t last = -1;
  while (!dry.finished()) {
    limit += step;
    EXPECT_TRUE(dry.RenderUntil(limit, [&](const DryBlock& b) {
      EXPECT_LT(b.frame, limit);
      EXPECT_GT(b.frame, last);
      last = b.frame;
      if (b.frame + kBlockFrames > static_cast<int64_t>(padded)) return;
      const auto at = static_cast<size_t>(b.frame);
      std::copy(b.left.begin(), b.left.end(), left.begin() + at);
      std::copy(b.right.begin(), b.right.end(), right.begin() + at);
      std::copy(b.reverbSend.begin(), b.reverbSend.end(), reverbSend.begin() + at);
      std::copy(b.chorusSend.begin(), b.chorusSend.end(), chorusSend.begin() + at);
    }));
    EXPECT_GE(dry.position(), last + kBlockFrames);
  }
  Reverb reverb;
  Chorus chorus;
  std::vector<int16_t> out;
  for (size_t at = 0; at < padded; at += kBlockFrames) {
    const auto block = [at](std::vector<float>& v) {
      return std::span<float>(v).subspan(at, kBlockFrames);
    };
    reverb.Process(static_cast<int64_t>(at), block(reverbSend), block(left), block(right));
    chorus.Process(static_cast<int64_t>(at), block(chorusSend), block(left), block(right));
  }
  for (size_t i = 0; i < frames; ++i) {
    out.push_back(FloatToSample(left[i]));
    out.push_back(FloatToSample(right[i]));
  }
  return out;
}

TEST_F(DryRenderingTest, DryBlocksWithTheEffectsAfterwardsAreTheWholeRendering) {
  const std::vector<TimedEvent> events = Timed(Phrases());
  Rendering whole;
  ASSERT_TRUE(RenderTimedEvents(*font, events, whole));
  const std::vector<int16_t> reference = FromFrameZero(whole);
  // However the rendering is cut into steps, the same blocks come out.
  for (const int64_t step : {int64_t{64}, int64_t{5000}, kEverything / 4}) {
    EXPECT_EQ(DryThenEffects(*font, events, step, reference.size() / 2), reference)
        << "step " << step;
  }
  // A synthesizer with few voices renders the same while its voices never fill it.
  EXPECT_EQ(DryThenEffects(*font, events, 5000, reference.size() / 2, 8), reference);
}

TEST_F(DryRenderingTest, FullPolyphonyStopsBeforeAnythingIsHandedOut) {
  TrackBuilder b;
  b.Program(0, 0, 0).NoteOn(480, 0, 60).NoteOn(480, 0, 64).NoteOn(480, 0, 67);
  b.NoteOff(960, 0, 60).NoteOff(960, 0, 64).NoteOff(960, 0, 67).End(960);
  const std::vector<TimedEvent> events = Timed(b.Build());
  const FluidSettingsPtr twoVoices = MakeRenderSettings(2);
  DryRendering dry;
  ASSERT_TRUE(dry.Start(*font, twoVoices.get(), events, true));
  int blocks = 0;
  EXPECT_FALSE(dry.RenderUntil(kEverything, [&](const DryBlock&) { ++blocks; }));
  EXPECT_TRUE(dry.full());
  EXPECT_TRUE(dry.finished());
  EXPECT_EQ(blocks, 0);
  // Rendered again with the full polyphony, from the events it hands back.
  const FluidSettingsPtr settings = MakeRenderSettings();
  ASSERT_TRUE(dry.Start(*font, settings.get(), dry.TakeEvents(), true));
  EXPECT_TRUE(dry.RenderUntil(kEverything, [&](const DryBlock&) { ++blocks; }));
  EXPECT_FALSE(dry.full());
  EXPECT_GT(blocks, 100);
}

TEST_F(DryRenderingTest, NothingBeforeTheFirstNoteAndNothingAfterTheVoicesEnd) {
  TrackBuilder b;
  b.Program(0, 0, 0).Control(480, 0, 7, 100).NoteOn(4800, 0, 60).NoteOff(4900, 0, 60);
  b.Control(48000, 0, 7, 90).End(48000);
  const FluidSettingsPtr settings = MakeRenderSettings();
  DryRendering dry;
  ASSERT_TRUE(dry.Start(*font, settings.get(), Timed(b.Build())));
  std::vector<int64_t> frames;
  ASSERT_TRUE(
      dry.RenderUntil(kEverything, [&](const DryBlock& block) { frames.push_back(block.frame); }));
  ASSERT_FALSE(frames.empty());
  EXPECT_EQ(frames.front(), BlockStartAtOrAfter(5 * 44100));  // 4800 ticks: 5 s
  EXPECT_LT(frames.back(), 10 * 44100);  // the control change far later renders nothing
  EXPECT_TRUE(dry.finished());
}

TEST_F(DryRenderingTest, UnorderedEventsAreRefused) {
  std::vector<TimedEvent> events(2);
  events[0].blockStart = 128;
  events[1].blockStart = 64;
  const FluidSettingsPtr settings = MakeRenderSettings();
  DryRendering dry;
  EXPECT_FALSE(dry.Start(*font, settings.get(), events));
  EXPECT_TRUE(dry.finished());
}

DryBlock BlockAt(int64_t frame, float level) {
  DryBlock b;
  b.frame = frame;
  for (int i = 0; i < kBlockFrames; ++i) {
    b.left[i] = level * static_cast<float>(std::sin(0.01 * static_cast<double>(frame + i)));
    b.right[i] = -b.left[i] * 0.5f;
    b.reverbSend[i] = b.left[i] * 0.25f;
    b.chorusSend[i] = b.right[i] * 0.125f;
  }
  return b;
}

// Runs of blocks starting at `first`, `count` blocks each; they cross chunk boundaries.
std::vector<BlockRun> Runs(const std::vector<std::pair<int64_t, float>>& starts, int count) {
  std::vector<BlockRun> runs;
  for (const auto& [first, level] : starts) {
    BlockRun run;
    for (int k = 0; k < count; ++k)
      EXPECT_TRUE(run.Append(BlockAt(first + k * kBlockFrames, level)));
    runs.push_back(std::move(run));
  }
  return runs;
}

// Keeps what a finisher writes, frame for frame, checking that it comes in song order.
struct CollectedMix final : SoundFileStream {
  explicit CollectedMix(int64_t frames) : sums(static_cast<size_t>(frames) * 2, 0) {}
  bool plainWav() const override { return true; }
  int64_t position() const override { return at; }
  int64_t endFrame() const override { return static_cast<int64_t>(sums.size() / 2); }
  bool Put(std::span<const float> part) override {
    const size_t n = std::min(part.size(), sums.size() - std::min(sums.size(), size_t(at) * 2));
    std::transform(part.begin(), part.begin() + static_cast<ptrdiff_t>(n), sums.begin() + at * 2,
                   FloatToSample);
    at += static_cast<int64_t>(part.size() / 2);
    return true;
  }
  bool PutSilence(int64_t frames) override {
    at += frames;
    return true;
  }
  void EndAt(int64_t frame) override { sums.resize(static_cast<size_t>(frame) * 2); }
  bool Close() override { return true; }
  OutputLevel level() const override { return {}; }
  std::vector<int32_t> sums;
  int64_t at = 0;
};

constexpr int64_t kMixFrames = 2 * 44100;

std::vector<int32_t> Mixed(const std::vector<BlockRun>& runs, const std::vector<size_t>& order,
                           const std::vector<int64_t>& finishPoints) {
  CollectedMix mix(kMixFrames);
  SongSums sums;
  SumFinisher finisher(mix, kSampleRate);
  for (size_t k : order) sums.Add(runs[k]);
  for (int64_t point : finishPoints) finisher.Finish(sums.TakeChunksBefore(point), point);
  finisher.Finish(sums.TakeChunksBefore(kEverything), kEverything);
  EXPECT_EQ(sums.heldChunks(), 0);
  EXPECT_GE(mix.at, kMixFrames);
  return mix.sums;
}

TEST(SongSums, OrderOfAddingAndFinishingInStepsChangeNothing) {
  const auto runs =
      Runs({{0, 0.3f}, {kSumChunkFrames - 640, 0.2f}, {64, 0.1f}, {30000, 0.05f}}, 400);
  const std::vector<int32_t> forward = Mixed(runs, {0, 1, 2, 3}, {});
  EXPECT_EQ(Mixed(runs, {3, 1, 2, 0}, {}), forward);
  EXPECT_EQ(Mixed(runs, {2, 0, 3, 1}, {kSumChunkFrames, 3 * kSumChunkFrames}), forward);
  EXPECT_NE(std::count(forward.begin(), forward.end(), 0), static_cast<long>(forward.size()));
}

TEST(SongSums, FinishedStretchesTakeNoMoreSumsAndSilenceStaysZero) {
  CollectedMix mix(kMixFrames);
  SongSums sums;
  SumFinisher finisher(mix, kSampleRate);
  finisher.Finish(sums.TakeChunksBefore(kSumChunkFrames), kSumChunkFrames);
  EXPECT_EQ(finisher.finished(), kSumChunkFrames);
  sums.Add(Runs({{0, 0.5f}}, 10)[0]);  // too late: that stretch is written
  EXPECT_EQ(sums.heldChunks(), 0);
  finisher.Finish(sums.TakeChunksBefore(kEverything), kEverything);
  EXPECT_EQ(std::count(mix.sums.begin(), mix.sums.end(), 0), static_cast<long>(mix.sums.size()));
}

TEST(BlockRun, OnlyFollowingBlocksJoinARun) {
  BlockRun run;
  EXPECT_TRUE(run.Append(BlockAt(640, 0.1f)));
  EXPECT_TRUE(run.Append(BlockAt(704, 0.1f)));
  EXPECT_FALSE(run.Append(BlockAt(896, 0.1f)));
  EXPECT_EQ(run.startFrame, 640);
  EXPECT_EQ(run.frames(), 128);
}

}  // namespace
}  // namespace velorna
