#include "audio/synth_renderer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "audio/reverb.h"
#include "render_songs.h"

namespace velorna {
namespace {

using test::FromFrameZero;
using test::TrackBuilder;

class SynthRendererTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    InstallSynthLog();
    font_ = LoadSoundFont(test::kTestSoundFont).release();
  }
  static void TearDownTestSuite() {
    delete font_;
    font_ = nullptr;
  }
  void SetUp() override { ASSERT_NE(font_, nullptr) << "needs " << test::kTestSoundFont; }

  static Rendering Render(const MidiTrack& track, bool skip = true, int32_t division = 480) {
    const auto events = TimeTrackEvents(track, division);
    EXPECT_TRUE(events.has_value());
    Rendering r;
    EXPECT_TRUE(RenderTimedEvents(*font_, *events, r, RenderOptions{skip}));
    return r;
  }

  static LoadedSoundFont* font_;
};
LoadedSoundFont* SynthRendererTest::font_ = nullptr;

int MaxAbs(const std::vector<int16_t>& s, int64_t fromFrame, int64_t toFrame) {
  int m = 0;
  for (int64_t i = fromFrame * 2; i < toFrame * 2 && i < static_cast<int64_t>(s.size()); ++i) {
    m = std::max(m, std::abs(static_cast<int>(s[i])));
  }
  return m;
}

int64_t FirstSounding(const std::vector<int16_t>& s) {
  const auto it = std::find_if(s.begin(), s.end(), [](int16_t v) { return v != 0; });
  return (it - s.begin()) / 2;
}

// Reverb and chorus sends up, so the effects take part in what is compared.
TrackBuilder WithSends() {
  return TrackBuilder().Control(0, 0, 91, 127).Control(0, 0, 93, 127);
}

TEST_F(SynthRendererTest, NoteStartsAtTheBlockItsTimeGives) {
  // Tick 100 at 480 per quarter, 500000 µs: 104166 µs, sample 4593, block 4608.
  const Rendering r = Render(TrackBuilder().NoteOn(100, 0, 60).NoteOff(400, 0, 60).Build(),
                             /*skip=*/false);
  const auto all = FromFrameZero(r);
  EXPECT_EQ(FirstSounding(all) / kBlockFrames * kBlockFrames, 4608);
  EXPECT_GT(MaxAbs(all, 4608, 4608 + 2 * kBlockFrames), 0);

  // Tick 99 (sample 4547) falls in the same block; tick 101 (sample 4639) in the next one,
  // which moves the sound by exactly one block. The preset's reverb is modulated in song time,
  // so that holds up to its first echo.
  EXPECT_EQ(FromFrameZero(Render(TrackBuilder().NoteOn(99, 0, 60).NoteOff(400, 0, 60).Build())),
            all);
  auto later = FromFrameZero(Render(TrackBuilder().NoteOn(101, 0, 60).NoteOff(402, 0, 60).Build()));
  ASSERT_GT(later.size(), 2u * kBlockFrames);
  later.erase(later.begin(), later.begin() + 2 * kBlockFrames);
  const auto beforeEcho = static_cast<ptrdiff_t>(2 * (4608 + Reverb().LineDelay(0) - 8));
  ASSERT_GT(std::ssize(later), beforeEcho);
  EXPECT_TRUE(std::equal(all.begin(), all.begin() + beforeEcho, later.begin()));
}

TEST_F(SynthRendererTest, SkippingSilenceGivesTheSameBytes) {
  // Silent lead-in, a gap between notes and sends into both effects.
  const MidiTrack track = WithSends()
                              .Program(0, 0, 48)
                              .NoteOn(1500, 0, 60)
                              .NoteOff(1700, 0, 60)
                              .NoteOn(9000, 0, 67)
                              .NoteOff(9100, 0, 67)
                              .End(9600)
                              .Build();
  const Rendering skipped = Render(track, true);
  const Rendering full = Render(track, false);
  EXPECT_GT(skipped.startFrame, 0);
  EXPECT_EQ(full.startFrame, 0);
  EXPECT_EQ(skipped.endFrame(), full.endFrame());
  EXPECT_EQ(FromFrameZero(skipped), FromFrameZero(full));
  EXPECT_GT(MaxAbs(FromFrameZero(full), 0, full.endFrame()), 100);
}

TEST_F(SynthRendererTest, TwoRunsGiveTheSameBytes) {
  const MidiTrack track = WithSends()
                              .SysEx(0, {0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7})
                              .NoteOn(0, 9, 36)
                              .NoteOn(0, 0, 60)
                              .Channel(120, st::kPitchBend, 0, 0, 80)
                              .NoteOff(480, 0, 60)
                              .Build();
  const Rendering a = Render(track);
  const Rendering b = Render(track);
  EXPECT_EQ(a.startFrame, b.startFrame);
  EXPECT_EQ(a.samples, b.samples);
}

TEST_F(SynthRendererTest, SilenceRendersToExactZeros) {
  const MidiTrack track = WithSends()
                              .Program(0, 0, 19)
                              .Control(240, 0, 7, 100)
                              .Channel(480, st::kPitchBend, 0, 0, 90)
                              .Control(960, 0, 64, 127)
                              .End(1920)
                              .Build();
  for (bool skip : {true, false}) {
    const Rendering r = Render(track, skip);
    const auto all = FromFrameZero(r);
    // Rendered block by block up to the last sounding event's block (1 s); skipped, nothing.
    EXPECT_EQ(r.endFrame(), skip ? 0 : 44160);
    EXPECT_TRUE(std::all_of(all.begin(), all.end(), [](int16_t v) { return v == 0; }));
  }
  EXPECT_EQ(Render(TrackBuilder().End(960).Build()).endFrame(), 0);
}

TEST_F(SynthRendererTest, PedalHoldsTheNoteUntilItIsReleased) {
  const int64_t second = kSampleRate;
  const MidiTrack pedalled = TrackBuilder()
                                 .Control(0, 0, 64, 127)
                                 .NoteOn(0, 0, 60)
                                 .NoteOff(192, 0, 60)
                                 .Control(960, 0, 64, 0)  // pedal up at 1 s
                                 .End(1920)
                                 .Build();
  const MidiTrack plain = TrackBuilder().NoteOn(0, 0, 60).NoteOff(192, 0, 60).End(1920).Build();
  const Rendering held = Render(pedalled);
  const Rendering dry = Render(plain);
  const auto h = FromFrameZero(held);
  const auto d = FromFrameZero(dry);

  // Between the key release (0.2 s) and the pedal release the note sounds only with the pedal.
  EXPECT_GT(MaxAbs(h, second * 6 / 10, second * 95 / 100), 50);
  EXPECT_LT(MaxAbs(d, second * 6 / 10, second * 95 / 100), 8);
  // After the pedal goes up the note dies away instead of being cut.
  EXPECT_LT(MaxAbs(h, second * 14 / 10, held.endFrame()), MaxAbs(h, second * 9 / 10, second) / 10);
  EXPECT_GT(held.endFrame(), second * 12 / 10);
  EXPECT_LE(MaxAbs(h, held.endFrame() - 2 * kBlockFrames, held.endFrame()), 1);
}

TEST_F(SynthRendererTest, EndlessNoteIsCutFiveSecondsAfterTheLastEvent) {
  // An organ held without note-off: the voices stop 5 s after the last event's block.
  const Rendering r = Render(TrackBuilder().Program(0, 0, 19).NoteOn(480, 0, 60).Build());
  const int64_t lastBlock = BlockStartAtOrAfter(22050);
  EXPECT_GE(r.endFrame(), lastBlock + kTailLimitFrames);
  EXPECT_LE(r.endFrame(), lastBlock + 2 * kTailLimitFrames + kBlockFrames);
  const auto all = FromFrameZero(r);
  EXPECT_GT(MaxAbs(all, lastBlock + kTailLimitFrames - kBlockFrames, lastBlock + kTailLimitFrames),
            100);
}

TEST_F(SynthRendererTest, EventsOutOfBlockOrderAreRefused) {
  std::vector<TimedEvent> events = {{128, 128, {0x90, 60, 100}}, {0, 0, {0x80, 60, 0}}};
  Rendering r;
  EXPECT_FALSE(RenderTimedEvents(*font_, events, r));
}

TEST(FloatToSample, RoundsAndClamps) {
  EXPECT_EQ(FloatToSample(0.0f), 0);
  EXPECT_EQ(FloatToSample(0.49f / 32768), 0);
  EXPECT_EQ(FloatToSample(-0.49f / 32768), 0);
  EXPECT_EQ(FloatToSample(0.5f / 32768), 1);
  EXPECT_EQ(FloatToSample(-1.5f / 32768), -2);
  EXPECT_EQ(FloatToSample(1.0f), 32767);
  EXPECT_EQ(FloatToSample(-1.0f), -32768);
  EXPECT_EQ(FloatToSample(-7.0f), -32768);
}

TEST(LoadSoundFont, MissingFileLoadsNothing) {
  InstallSynthLog();
  EXPECT_EQ(LoadSoundFont("/nonexistent/none.sf2"), nullptr);
}

}  // namespace
}  // namespace velorna
