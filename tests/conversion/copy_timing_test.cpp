// Dropping replaced set-up before a copy's note must not change its rendering at all.
#include "conversion/copy_timing.h"

#include <gtest/gtest.h>

#include "audio/render_songs.h"
#include "audio/synth_renderer.h"

namespace velorna {
namespace {

using test::TrackBuilder;

TEST(DropReplacedSetUp, KeepsTheLastPressureAndBendBeforeTheNoteAndTheRenderingToTheBit) {
  TrackBuilder b;
  b.Program(0, 0, 48).Program(0, 1, 0).Control(0, 0, 91, 90).Control(0, 0, 93, 70);
  for (int k = 0; k < 40; ++k) {
    b.Channel(10 * k, st::kChannelPressure, 0, 3 * k);
    b.Channel(10 * k, st::kPitchBend, 0, k, 40 + k);
    b.Channel(10 * k + 5, st::kChannelPressure, 1, k);
  }
  b.Control(400, 0, 121, 0);  // resets the bend and pressure: only later values count
  b.Channel(400, st::kPitchBend, 0, 0, 70).Channel(410, st::kChannelPressure, 0, 100);
  b.NoteOn(480, 0, 60).Channel(480, st::kChannelPressure, 0, 20);
  b.Channel(500, st::kPitchBend, 0, 0, 60).Channel(520, st::kPitchBend, 0, 0, 50);
  b.NoteOff(960, 0, 60).End(960);
  const auto timed = TimeTrackEvents(b.Build(), 480);
  ASSERT_TRUE(timed);
  std::vector<TimedEvent> pruned = *timed;
  DropReplacedSetUp(pruned);
  // Of the 120 before the note, one bend and one pressure of channel 0 and one pressure of
  // channel 1 stay; the three after the note-on stay too.
  EXPECT_EQ(timed->size() - pruned.size(), 120u + 2u - 3u);
  size_t bendsAfterNote = 0;
  bool afterNote = false;
  for (const TimedEvent& e : pruned) {
    afterNote = afterNote || e.message[0] == 0x90;
    bendsAfterNote += afterNote && e.message[0] == 0xE0;
  }
  EXPECT_EQ(bendsAfterNote, 2u);

  const auto font = LoadSoundFont(test::kTestSoundFont);
  ASSERT_TRUE(font);
  Rendering all, fewer;
  ASSERT_TRUE(RenderTimedEvents(*font, *timed, all));
  ASSERT_TRUE(RenderTimedEvents(*font, pruned, fewer));
  EXPECT_GT(all.frameCount(), 44100 / 2);
  EXPECT_EQ(all.startFrame, fewer.startFrame);
  EXPECT_EQ(all.samples, fewer.samples);
}

TEST(DropReplacedSetUp, WithoutANoteOnEverythingBeforeTheEndCounts) {
  std::vector<TimedEvent> events(3);
  events[0].message = {0xD0, 1};
  events[1].message = {0xD0, 2};
  events[2].message = {0x80, 60, 64};
  DropReplacedSetUp(events);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].message, (std::vector<uint8_t>{0xD0, 2}));
}

}  // namespace
}  // namespace velorna
