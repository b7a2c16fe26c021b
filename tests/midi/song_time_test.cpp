#include "midi/song_time.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
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

// The clock against a plain floating-point walk of the same tempo map (the way the playing
// time used to be found), over random maps: the two agree to the microsecond, frame counts
// round the exact time up, and the tick search inverts the clock.
TEST(SongTime, ClockAgreesWithAFloatingWalkOverRandomTempoMaps) {
  std::mt19937 random(20261207);
  for (int round = 0; round < 200; ++round) {
    const int32_t division = std::uniform_int_distribution<int32_t>(1, 0x7FFF)(random);
    std::vector<MidiEvent> events;
    int64_t tick = 0;
    for (int k = std::uniform_int_distribution<int>(0, 20)(random); k > 0; --k) {
      const int32_t delta = std::uniform_int_distribution<int32_t>(0, 100000)(random);
      events.push_back(Tempo(delta, std::uniform_int_distribution<int32_t>(1, 0xFFFFFF)(random)));
      tick += delta;
    }
    const int32_t last = std::uniform_int_distribution<int32_t>(0, 100000)(random);
    events.push_back(End(last));
    tick += last;
    const MidiTrack track = Track(1, events);
    const SongClock clock = SongClock::OfTrack(track, division);
    for (int probe = 0; probe < 20; ++probe) {
      const int64_t at = std::uniform_int_distribution<int64_t>(0, tick)(random);
      // The floating walk: each delta at the tempo before it.
      long double seconds = 0;
      int64_t now = 0;
      long double tempo = kDefaultTempo;
      for (const MidiEvent& e : track.events) {
        const int64_t d = std::min<int64_t>(e.delta, at - now);
        seconds += static_cast<long double>(d) * tempo / division / 1e6L;
        now += d;
        if (d < e.delta) break;
        if (e.status == st::kMeta && e.kind == meta::kTempo) tempo = e.value;
      }
      ASSERT_NEAR(clock.Seconds(at), static_cast<double>(seconds), 2e-6 + 1e-12 * seconds);
      EXPECT_DOUBLE_EQ(TicksToSeconds(track, at, division), clock.Seconds(at));
      for (const int rate : {44100, 48000, 96000}) {
        const int64_t frames = clock.FramesUntil(at, rate);
        EXPECT_GE(static_cast<long double>(frames) + 1e-6L, seconds * rate);
        EXPECT_LT(static_cast<long double>(frames) - 1 - 1e-6L, seconds * rate);
      }
      const int64_t micros = clock.Microseconds(at);
      const int64_t found = clock.TickAtMicros(0, micros);
      EXPECT_GE(clock.Microseconds(found), micros);
      if (found > 0) {
        EXPECT_LT(clock.Microseconds(found - 1), micros);
      }
    }
  }
}

TEST(SongTime, TheClockHoldsACraftedLengthInRange) {
  // The longest tempo at one tick per quarter, held for 2^28 ticks 300,000 times: beyond
  // 10^15 seconds, clamped to a time whose frames still fit 64 bits at every rate.
  SongClock clock(1);
  clock.AddTempo(0, 0xFFFFFF);
  const int64_t far = int64_t{0x0FFFFFFF} * 300000;
  EXPECT_GT(clock.Microseconds(far), 0);
  for (const int rate : {44100, 48000, 96000}) {
    EXPECT_GT(clock.FramesUntil(far, rate), 0);
    EXPECT_GE(clock.FramesUntil(far, rate), clock.FramesUntil(far / 2, rate));
  }
}

}  // namespace
}  // namespace velorna
