#include "midi/note_pairing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <random>
#include <tuple>
#include <vector>

#include "base/library_error.h"
#include "midi/midi_test_helpers.h"

namespace velorna {
namespace {

using test::Load;
using test::Times;
using test::TrackBytes;
using Codes = std::vector<uint32_t>;

MidiEvent Ev(uint32_t status, int32_t delta, int channel = 0, int note = 60) {
  MidiEvent e;
  e.status = status;
  e.delta = delta;
  e.channel = channel;
  e.note = note;
  e.velocity = status == st::kNoteOff ? 0 : 100;
  return e;
}

MidiEvent Note(int32_t delta, int channel, int note, int32_t duration, int velocity = 100) {
  MidiEvent e = Ev(st::kNote, delta, channel, note);
  e.duration = duration;
  e.velocity = velocity;
  return e;
}

MidiEvent EndOfTrack(int32_t delta) {
  MidiEvent e = Ev(st::kMeta, delta, kNoChannel, 0);
  e.kind = meta::kEndOfTrack;
  return e;
}

MidiTrack TrackOf(std::vector<MidiEvent> events, int32_t state) {
  MidiTrack track;
  track.events = std::move(events);
  track.state = state;
  return track;
}

std::vector<uint32_t> Statuses(const MidiTrack& track) {
  std::vector<uint32_t> s;
  for (const MidiEvent& e : track.events) s.push_back(e.status);
  return s;
}

TEST(EventsToNotes, PairsNoteOnsWithTheirNoteOffs) {
  Load load;
  MidiTrack track = load.Decode(TrackBytes()
                                    .NoteOn(0, 0, 60, 100)
                                    .Event(480, {0x80, 60, 30})
                                    .Control(20, 0, 7, 90)
                                    .EndOfTrack(0));
  EventsToNotes(load.ctx, track);
  EXPECT_TRUE(load.Codes().empty());
  EXPECT_EQ(track.state, ts::kNotes);
  ASSERT_EQ(Statuses(track), (std::vector<uint32_t>{st::kNote, st::kControl, st::kMeta}));
  EXPECT_EQ(track.events[0].duration, 480);
  EXPECT_EQ(track.events[0].velocity, 100);
  EXPECT_EQ(track.events[1].delta, 500);

  // Back in events form the note-off carries velocity 64, not the 30 that was read.
  NotesToEvents(load.ctx, track);
  ASSERT_EQ(Statuses(track),
            (std::vector<uint32_t>{st::kNoteOn, st::kNoteOff, st::kControl, st::kMeta}));
  EXPECT_EQ(track.events[1].velocity, 64);
  EXPECT_EQ(Times(track), (std::vector<int64_t>{0, 480, 500, 500}));
}

TEST(EventsToNotes, OverlappingNotesOfOnePitchPairFirstWithFirst) {
  Load load;
  MidiTrack track = load.Decode(TrackBytes()
                                    .NoteOn(0, 0, 60, 100)
                                    .NoteOff(100, 1, 60)  // another channel: matches nothing
                                    .NoteOn(140, 0, 60, 90)
                                    .NoteOff(240, 0, 60)
                                    .Control(100, 0, 7, 90)
                                    .NoteOn(140, 0, 60, 0)  // a velocity-0 note-on ends the second
                                    .EndOfTrack(0));
  EventsToNotes(load.ctx, track);
  ASSERT_EQ(Statuses(track),
            (std::vector<uint32_t>{st::kNote, st::kNote, st::kControl, st::kMeta}));
  EXPECT_EQ(track.events[0].duration, 480);
  EXPECT_EQ(track.events[1].duration, 480);
  EXPECT_EQ(track.events[1].velocity, 90);
  EXPECT_EQ(Times(track), (std::vector<int64_t>{0, 240, 580, 720}));
}

TEST(EventsToNotes, KeepsZeroLengthAndUnreleasedNotes) {
  Load load;
  MidiTrack track = load.Decode(TrackBytes()
                                    .NoteOn(0, 9, 36, 100)
                                    .NoteOff(0, 9, 36)
                                    .NoteOn(100, 9, 42, 80)  // never released
                                    .NoteOff(50, 2, 70)      // releases nothing
                                    .EndOfTrack(850));
  EventsToNotes(load.ctx, track);
  ASSERT_EQ(Statuses(track), (std::vector<uint32_t>{st::kNote, st::kNote, st::kMeta}));
  EXPECT_EQ(track.events[0].duration, 0);
  EXPECT_EQ(track.events[1].duration, 900);
  EXPECT_EQ(Times(track), (std::vector<int64_t>{0, 100, 1000}));
}

TEST(NotesToEvents, PlacesNoteOffsAndMovesTheEndOfTrack) {
  Load load;
  MidiEvent control = Ev(st::kControl, 480);
  MidiTrack track =
      TrackOf({Note(0, 0, 60, 480), control, Note(0, 0, 62, 100, 0), Note(10, 0, 64, 0),
               Note(0, 0, 65, 200), EndOfTrack(10), Ev(st::kControl, 0)},
              ts::kNotes);
  NotesToEvents(load.ctx, track);
  EXPECT_TRUE(load.Codes().empty());
  EXPECT_EQ(track.state, ts::kEvents);
  // The release comes before the controller at its tick; the velocity-0 note is gone;
  // the zero-length note is released right after it starts; the last release moves the
  // end of the track behind it.
  ASSERT_EQ(Statuses(track), (std::vector<uint32_t>{st::kNoteOn, st::kNoteOff, st::kControl,
                                                    st::kNoteOn, st::kNoteOff, st::kNoteOn,
                                                    st::kControl, st::kNoteOff, st::kMeta}));
  EXPECT_EQ(Times(track), (std::vector<int64_t>{0, 480, 480, 490, 490, 490, 500, 690, 690}));
  EXPECT_EQ(track.events[2].delta, 0);
  EXPECT_EQ(track.events[3].note, 64);
  EXPECT_EQ(track.events[4].note, 64);
  EXPECT_EQ(track.events[7].note, 65);
  EXPECT_EQ(track.events[7].velocity, 64);
  EXPECT_EQ(track.events[8].delta, 0);
}

TEST(NotesToEvents, EndOfTrackMovedPastALongGapDoesNotWrap) {
  Load load;
  const int32_t most = std::numeric_limits<int32_t>::max();
  MidiTrack track = TrackOf({EndOfTrack(most), Ev(st::kControl, 5)}, ts::kNotes);
  NotesToEvents(load.ctx, track);
  ASSERT_EQ(Statuses(track), (std::vector<uint32_t>{st::kControl, st::kMeta}));
  EXPECT_EQ(track.events[0].delta, most);  // held at the largest delta
  EXPECT_EQ(track.events[1].delta, 0);
}

TEST(NotesToEvents, StaysWithinTheEventLimit) {
  std::vector<MidiEvent> events;
  for (int i = 0; i < 70000; ++i) events.push_back(Note(1, i % 16, 60, 1));
  events.push_back(EndOfTrack(0));
  Load load;
  MidiTrack track = TrackOf(std::move(events), ts::kNotes);
  NotesToEvents(load.ctx, track);
  EXPECT_EQ(load.Codes(), (Codes{code::kMdtkTooMuchData}));
  EXPECT_LE(track.count(), kMaxEventsPerTrack);
  const auto ons = std::count_if(track.events.begin(), track.events.end(),
                                 [](const MidiEvent& e) { return e.status == st::kNoteOn; });
  const auto offs = std::count_if(track.events.begin(), track.events.end(),
                                  [](const MidiEvent& e) { return e.status == st::kNoteOff; });
  EXPECT_EQ(ons, offs);
  EXPECT_TRUE(track.events.back().IsEndOfTrack());
}

TEST(NoteOffsBeforeNoteOns, MovesPastTheNearestNoteOnOfItsTick) {
  Load load;
  MidiTrack track = TrackOf({Ev(st::kNoteOn, 10, 0, 60), Ev(st::kNoteOn, 0, 0, 62),
                             Ev(st::kNoteOff, 0, 0, 64), Ev(st::kNoteOff, 5, 0, 66)},
                            ts::kEvents);
  NoteOffsBeforeNoteOns(load.ctx, track);
  EXPECT_EQ(track.events[0].note, 60);
  EXPECT_EQ(track.events[1].note, 64);
  EXPECT_EQ(track.events[1].status, st::kNoteOff);
  EXPECT_EQ(track.events[2].note, 62);
  EXPECT_EQ(track.events[3].note, 66);
  EXPECT_EQ(Times(track), (std::vector<int64_t>{10, 10, 10, 15}));
}

TEST(NoteOffsBeforeNoteOns, ReleaseMovesAheadOfARestrikeOfItsKey) {
  Load load;
  // A hi-hat sounding from tick 0 is struck again at tick 10, next to a snare, and its
  // release is written last: the release must not stop the new stroke.
  MidiTrack track = TrackOf({Ev(st::kNoteOn, 0, 9, 42), Ev(st::kNoteOn, 10, 9, 42),
                             Ev(st::kNoteOn, 0, 9, 38), Ev(st::kNoteOff, 0, 9, 42), EndOfTrack(10)},
                            ts::kEvents);
  NoteOffsBeforeNoteOns(load.ctx, track);
  ASSERT_EQ(Statuses(track), (std::vector<uint32_t>{st::kNoteOn, st::kNoteOff, st::kNoteOn,
                                                    st::kNoteOn, st::kMeta}));
  EXPECT_EQ(track.events[2].note, 42);
  EXPECT_EQ(track.events[3].note, 38);
  EXPECT_EQ(Times(track), (std::vector<int64_t>{0, 10, 10, 10, 20}));

  EventsToNotes(load.ctx, track);
  ASSERT_EQ(track.count(), 4);
  EXPECT_EQ(track.events[0].duration, 10);
  EXPECT_EQ(track.events[1].duration, 10);  // the second stroke lasts to the end
}

TEST(NoteOffsBeforeNoteOns, ZeroLengthNoteKeepsItsReleaseBehindIt) {
  Load load;
  MidiTrack track = TrackOf(
      {Note(0, 9, 42, 10), Note(10, 9, 42, 0), Note(0, 9, 36, 0), EndOfTrack(5)}, ts::kNotes);
  NotesToEvents(load.ctx, track);
  ASSERT_EQ(Statuses(track),
            (std::vector<uint32_t>{st::kNoteOn, st::kNoteOff, st::kNoteOn, st::kNoteOff,
                                   st::kNoteOn, st::kNoteOff, st::kMeta}));
  EXPECT_EQ(track.events[2].note, 42);
  EXPECT_EQ(track.events[3].note, 42);
  EXPECT_EQ(track.events[4].note, 36);
  EXPECT_EQ(track.events[5].note, 36);
  NoteOffsBeforeNoteOns(load.ctx, track);  // run again before writing: nothing moves
  EXPECT_EQ(track.events[3].note, 42);
  EXPECT_EQ(track.events[3].status, st::kNoteOff);
  EventsToNotes(load.ctx, track);
  ASSERT_EQ(track.count(), 4);
  EXPECT_EQ(track.events[0].duration, 10);
  EXPECT_EQ(track.events[1].duration, 0);
  EXPECT_EQ(track.events[2].duration, 0);
}

// Notes of one key never overlap here (they may touch, and may be zero-length), so
// splitting them into note-ons and note-offs and pairing them again must give them back.
TEST(NotePairing, RoundTripKeepsEveryNote) {
  std::mt19937 random(7);
  struct Placed {
    int64_t start;
    int channel, note, duration, velocity;
  };
  std::vector<Placed> notes;
  std::vector<int64_t> freeFrom(2 * 4, 0), lastStart(2 * 4, -1);
  int64_t t = 0;
  for (int i = 0; i < 2000; ++i) {
    t += random() % 3 == 0 ? random() % 20 : 0;
    const int key = static_cast<int>(random() % 8);
    if (t < freeFrom[key] || t <= lastStart[key]) continue;
    const int duration = random() % 4 == 0 ? 0 : static_cast<int>(random() % 30);
    notes.push_back({t, key / 4, 60 + key % 4, duration, static_cast<int>(1 + random() % 127)});
    freeFrom[key] = t + duration;
    lastStart[key] = t;
  }
  std::vector<MidiEvent> events;
  int64_t previous = 0;
  for (const Placed& n : notes) {
    events.push_back(
        Note(static_cast<int32_t>(n.start - previous), n.channel, n.note, n.duration, n.velocity));
    previous = n.start;
  }
  events.push_back(EndOfTrack(100));
  Load load;
  MidiTrack track = TrackOf(events, ts::kNotes);
  NotesToEvents(load.ctx, track);
  NoteOffsBeforeNoteOns(load.ctx, track);
  EventsToNotes(load.ctx, track);
  EXPECT_TRUE(load.Codes().empty());

  auto key = [](int64_t start, const MidiEvent& e) {
    return std::make_tuple(start, e.channel, e.note, e.duration, e.velocity);
  };
  std::vector<std::tuple<int64_t, int, int, int, int>> want, got;
  for (const Placed& n : notes)
    want.emplace_back(n.start, n.channel, n.note, n.duration, n.velocity);
  const std::vector<int64_t> times = Times(track);
  for (size_t i = 0; i < track.events.size(); ++i) {
    if (track.events[i].status == st::kNote) got.push_back(key(times[i], track.events[i]));
  }
  std::sort(want.begin(), want.end());
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got, want);
  EXPECT_TRUE(track.events.back().IsEndOfTrack());
}

TEST(NotePairing, WrongStateLeavesTheTrackAlone) {
  Load load;
  MidiTrack notes = TrackOf({Note(0, 0, 60, 10), EndOfTrack(10)}, ts::kNotes);
  MidiTrack events = TrackOf({Ev(st::kNoteOn, 0), Ev(st::kNoteOff, 10)}, ts::kEvents);
  EventsToNotes(load.ctx, notes);
  VelocityZeroToNoteOff(load.ctx, notes);
  NoteOffsBeforeNoteOns(load.ctx, notes);
  NotesToEvents(load.ctx, events);
  EXPECT_EQ(load.Codes(), Codes(4, code::kMdtkInternal));
  EXPECT_EQ(Statuses(notes), (std::vector<uint32_t>{st::kNote, st::kMeta}));
  EXPECT_EQ(Statuses(events), (std::vector<uint32_t>{st::kNoteOn, st::kNoteOff}));
}

}  // namespace
}  // namespace velorna
