#include "audio/render_timing.h"

#include <gtest/gtest.h>

#include "render_songs.h"

namespace velorna {
namespace {

using test::TrackBuilder;

std::vector<TimedEvent> Timed(const MidiTrack& track, int32_t division) {
  auto timed = TimeTrackEvents(track, division);
  EXPECT_TRUE(timed.has_value());
  return timed.value_or(std::vector<TimedEvent>{});
}

TEST(RenderTiming, SampleAndBlockFollowTheTempoMap) {
  // 480 ticks per quarter; 500000 µs until tick 480, then 250000.
  const MidiTrack track = TrackBuilder()
                              .NoteOn(0, 0, 60)
                              .NoteOn(480, 0, 62)
                              .Tempo(480, 250000)
                              .NoteOn(960, 0, 64)
                              .NoteOn(961, 0, 65)
                              .Build();
  const auto timed = Timed(track, 480);
  ASSERT_EQ(timed.size(), 4u);  // the tempo event makes no sound
  EXPECT_EQ(timed[0].songSample, 0);
  EXPECT_EQ(timed[0].blockStart, 0);
  EXPECT_EQ(timed[1].songSample, 22050);  // 0.5 s
  EXPECT_EQ(timed[1].blockStart, 22080);
  EXPECT_EQ(timed[2].songSample, 33075);  // 0.75 s
  EXPECT_EQ(timed[2].blockStart, 33088);
  // 750520.83 µs: whole microseconds first, then samples
  EXPECT_EQ(timed[3].songSample, 750520LL * 44100 / 1000000);
}

TEST(RenderTiming, MicrosecondsAreWholeBeforeTheyBecomeSamples) {
  // One tick of 500000/3 µs is 7350 samples exactly, but its whole microseconds give 7349.
  const auto timed = Timed(TrackBuilder().NoteOn(1, 0, 60).Build(), 3);
  ASSERT_EQ(timed.size(), 1u);
  EXPECT_EQ(timed[0].songSample, 7349);
  EXPECT_EQ(timed[0].blockStart, 7360);
  EXPECT_EQ(BlockStartAtOrAfter(7360), 7360);
  EXPECT_EQ(BlockStartAtOrAfter(7361), 7424);
}

TEST(RenderTiming, SmpteDivisionIgnoresTempo) {
  const int32_t twentyFiveByForty = ((256 - 25) << 8) | 40;  // 1000 ticks per second
  const MidiTrack track = TrackBuilder().Tempo(0, 250000).NoteOn(1000, 0, 60).Build();
  const auto timed = Timed(track, twentyFiveByForty);
  ASSERT_EQ(timed.size(), 1u);
  EXPECT_EQ(timed[0].songSample, 44100);

  const int32_t dropFrame = ((256 - 29) << 8) | 100;  // 29.97 frames of 100 ticks
  EXPECT_EQ(SongClock(dropFrame).Microseconds(2997), 999999);
  EXPECT_EQ(SongClock(dropFrame).Microseconds(3000000), 1001000000);
}

TEST(RenderTiming, UntimedDivisionsAreRefused) {
  const MidiTrack track = TrackBuilder().NoteOn(0, 0, 60).Build();
  EXPECT_FALSE(TimeTrackEvents(track, 0).has_value());
  EXPECT_FALSE(TimeTrackEvents(track, (256 - 25) << 8).has_value());  // 0 ticks per frame
}

TEST(RenderTiming, HugeTimesStayInsideSixtyFourBits) {
  MidiTrack track = TrackBuilder().Tempo(0, 0xFFFFFF).Build();
  for (int i = 0; i < 2000; ++i)
    track.events.push_back(TrackBuilder().NoteOn(0x0FFFFFFF, 0, 60).Build().events[0]);
  const auto timed = Timed(track, 1);
  ASSERT_EQ(timed.size(), 2000u);
  for (size_t i = 1; i < timed.size(); ++i) {
    EXPECT_GE(timed[i].songSample, timed[i - 1].songSample);
    EXPECT_GE(timed[i].songSample, 0);
  }
}

TEST(RenderTiming, MessagesAreTheEventsAsTheFileHoldsThem) {
  const MidiTrack track =
      TrackBuilder()
          .Channel(0, st::kNoteOff, 3, 60, 40)
          .Channel(0, st::kKeyPressure, 1, 61, 70)
          .Control(0, 2, 64, 127)
          .Program(0, 9, 25)
          .Channel(0, st::kChannelPressure, 4, 90)
          .Channel(0, st::kPitchBend, 5, 0x11, 0x40)
          .SysEx(0, {0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7})
          .SysEx(0, {0xF7, 0x03, 0x01, 0x02, 0xF7})  // a continuation packet: not sendable
          .SysEx(0, {0xF7, 0x04, 0xF0, 0x7E, 0x09, 0xF7})
          .End(0)
          .Build();
  const auto timed = Timed(track, 480);
  std::vector<std::vector<uint8_t>> messages;
  for (const auto& t : timed) messages.push_back(t.message);
  const std::vector<std::vector<uint8_t>> expected = {{0x83, 60, 40},
                                                      {0xA1, 61, 70},
                                                      {0xB2, 64, 127},
                                                      {0xC9, 25},
                                                      {0xD4, 90},
                                                      {0xE5, 0x11, 0x40},
                                                      {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7},
                                                      {0xF0, 0x7E, 0x09, 0xF7}};
  EXPECT_EQ(messages, expected);
}

TEST(RenderTiming, LongSysExLengthIsSkipped) {
  std::vector<uint8_t> bytes = {0xF0, 0x81, 0x00};  // length 128 in two bytes
  for (int i = 0; i < 127; ++i) bytes.push_back(static_cast<uint8_t>(i));
  bytes.push_back(0xF7);
  const auto timed = Timed(TrackBuilder().SysEx(0, bytes).Build(), 480);
  ASSERT_EQ(timed.size(), 1u);
  ASSERT_EQ(timed[0].message.size(), 129u);
  EXPECT_EQ(timed[0].message[1], 0);
  EXPECT_EQ(timed[0].message[127], 126);
}

TEST(RenderTiming, TracksInterleaveByTickEarlierTracksFirst) {
  const MidiTrack conductor = TrackBuilder().Tempo(0, 1000000).NoteOn(480, 1, 70).Build();
  const MidiTrack melody = TrackBuilder().NoteOn(480, 0, 60).NoteOn(240, 0, 61).Build();
  // The second track's events are out of tick order on purpose: each keeps its own order.
  const MidiTrack* tracks[] = {&conductor, &melody};
  const auto timed = TimeTrackEvents(std::span<const MidiTrack* const>(tracks), 480);
  ASSERT_TRUE(timed.has_value());
  ASSERT_EQ(timed->size(), 3u);
  EXPECT_EQ((*timed)[0].message[0], 0x91);
  EXPECT_EQ((*timed)[0].songSample, 44100);  // the tempo of the first track times all tracks
  EXPECT_EQ((*timed)[1].message[1], 60);
}

}  // namespace
}  // namespace velorna
