#include "midi/song_time.h"

#include <gtest/gtest.h>

#include <vector>

namespace velorna {
namespace {

MidiEvent Ev(uint32_t status, int32_t delta, uint32_t kind = 0, int32_t value = 0) {
  MidiEvent e;
  e.status = status;
  e.delta = delta;
  e.kind = kind;
  e.value = value;
  return e;
}

MidiEvent Tempo(int32_t delta, int32_t us) {
  return Ev(st::kMeta, delta, meta::kTempo, us);
}
MidiEvent End(int32_t delta) {
  return Ev(st::kMeta, delta, meta::kEndOfTrack);
}

MidiEvent Note(int32_t delta, int32_t duration) {
  MidiEvent e = Ev(st::kNote, delta);
  e.channel = 0;
  e.note = 60;
  e.velocity = 100;
  e.duration = duration;
  return e;
}

MidiTrack Track(int32_t state, std::vector<MidiEvent> events) {
  MidiTrack t;
  t.state = state;
  t.events = std::move(events);
  return t;
}

double Seconds(const MidiTrack& t, int32_t division) {
  return TicksToSeconds(t, 1'000'000'000, division);
}

int64_t AccumulatorSeconds(double seconds) {
  return static_cast<int64_t>(seconds) + 1;
}

TEST(SongTime, TempoGovernsTheDeltasAfterIt) {
  EXPECT_DOUBLE_EQ(Seconds(Track(1, {End(1920)}), 480), 2.0);
  EXPECT_EQ(AccumulatorSeconds(Seconds(Track(1, {End(1920)}), 480)), 3);
  EXPECT_DOUBLE_EQ(Seconds(Track(1, {Tempo(0, 1000000), End(960)}), 480), 2.0);
  // The tempo event's own delta runs at the tempo before it.
  EXPECT_DOUBLE_EQ(Seconds(Track(1, {Tempo(480, 250000), End(480)}), 480), 0.75);
  EXPECT_EQ(AccumulatorSeconds(Seconds(Track(1, {End(2880)}), 480)), 4);  // exactly 3 s
}

TEST(SongTime, LimitClipsAndTheWalkEndsAtTheLastEvent) {
  const MidiTrack t = Track(1, {Ev(st::kControl, 960), End(960)});
  EXPECT_DOUBLE_EQ(TicksToSeconds(t, 480, 480), 0.5);
  EXPECT_DOUBLE_EQ(TicksToSeconds(t, 0, 480), 0.0);
  EXPECT_DOUBLE_EQ(TicksToSeconds(t, 100000, 480), 2.0);  // nothing after the last event

  const MidiTrack empty = Track(2, {});
  SilentReporter silent;
  MidiContext ctx{silent};
  EXPECT_EQ(TrackLengthTicks(ctx, empty), 0);
  EXPECT_DOUBLE_EQ(TicksToSeconds(empty, 0, 480), 0.0);
  EXPECT_EQ(AccumulatorSeconds(TicksToSeconds(empty, 0, 480)), 1);
}

TEST(SongTime, SmpteDivisionRunsInRealTime) {
  // 25 frames of 40 ticks: a millisecond per tick, whatever the tempo says.
  const MidiTrack t = Track(1, {Tempo(0, 250000), End(2000)});
  EXPECT_DOUBLE_EQ(Seconds(t, 0xE728), 2.0);
  EXPECT_DOUBLE_EQ(Seconds(Track(1, {End(2400)}), 0xE864), 1.0);      // 24 x 100
  EXPECT_DOUBLE_EQ(Seconds(Track(1, {End(3000)}), 0xE264), 1.0);      // 30 x 100
  EXPECT_NEAR(Seconds(Track(1, {End(30000)}), 0xE364), 10.01, 1e-9);  // 30000/1001 x 100
  EXPECT_TRUE(IsSmpteDivision(0xE728));
  EXPECT_FALSE(IsSmpteDivision(480));
}

TEST(SongTime, DivisionsWithoutTickLengthAreUnusable) {
  EXPECT_FALSE(IsUsableDivision(0));
  EXPECT_FALSE(IsUsableDivision(0xE700));  // no ticks per frame
  EXPECT_FALSE(IsUsableDivision(0xE028));  // -32 frames per second
  EXPECT_TRUE(IsUsableDivision(1));
  EXPECT_TRUE(IsUsableDivision(0x7FFF));
  // Nothing divides by zero: such a track just has no length in seconds.
  EXPECT_DOUBLE_EQ(Seconds(Track(1, {End(100)}), 0), 0.0);
}

TEST(SongTime, LengthInTicksIsTheSumOfDeltas) {
  SilentReporter silent;
  MidiContext ctx{silent};
  EXPECT_EQ(TrackLengthTicks(ctx, Track(1, {Ev(st::kControl, 100), End(50)})), 150);
  // Sums in 64 bits.
  EXPECT_EQ(TrackLengthTicks(ctx, Track(1, {End(0x7FFFFFFF), End(0x7FFFFFFF)})),
            int64_t{0xFFFFFFFE});
}

TEST(SongTime, NoteSoundingPastTheEndLengthensTheSong) {
  SilentReporter silent;
  MidiContext ctx{silent};
  // Note at 0 lasting 1100, End of Track at 1000.
  const MidiTrack t = Track(2, {Note(0, 1100), End(1000)});
  EXPECT_EQ(TrackLengthTicks(ctx, t), 1100);
  EXPECT_EQ(t.count(), 2);  // the track itself is unchanged
  EXPECT_EQ(t.events[0].status, st::kNote);
  // The playing time still runs to the last event only.
  EXPECT_DOUBLE_EQ(TicksToSeconds(t, TrackLengthTicks(ctx, t), 1000), 0.5);
}

}  // namespace
}  // namespace velorna
