#include "midi/song_edit.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/library_error.h"
#include "support/song_builder.h"

namespace velorna {
namespace {

using test::Control;
using test::Describe;
using test::EndOfTrack;
using test::MakeSong;
using test::MakeTrack;
using test::Note;
using test::Program;
using test::Tempo;
using Lines = std::vector<std::string>;

struct SongEditTest : ::testing::Test {
  RecordingReporter rec;
  MidiContext ctx{rec};

  // Events at 50 and 150 on channel 0, End of Track at 160.
  MidiTrack ThreeEvents() {
    return MakeTrack({Program(50, 0, 1), Program(100, 0, 2), EndOfTrack(10)});
  }
};

TEST_F(SongEditTest, RemoveDisabledCarriesTheirTimeToTheNextKeptEvent) {
  MidiTrack track = MakeTrack({Program(10, 0, 1), Program(5, 0, 2), Program(3, 0, 3)});
  track.events[1].status = st::kDisabled;
  RemoveDisabledEvents(track);
  EXPECT_EQ(Describe(track), (Lines{"+10 program ch0 1", "+8 program ch0 3"}));
}

TEST_F(SongEditTest, RemoveDisabledDropsTrailingOnesAndKeepsFirstEventsTime) {
  MidiTrack track = MakeTrack(
      {Program(4, 0, 1), Program(6, 0, 2), Program(1, 0, 3), Program(2, 0, 4), Program(9, 0, 5)});
  track.events[0].status = st::kDisabled;
  track.events[3].status = st::kDisabled;
  track.events[4].status = st::kDisabled;
  RemoveDisabledEvents(track);
  EXPECT_EQ(Describe(track), (Lines{"+10 program ch0 2", "+1 program ch0 3"}));
}

TEST_F(SongEditTest, InsertBeforeEveryEventOfItsTime) {
  MidiTrack track = ThreeEvents();
  ASSERT_TRUE(InsertEventAtTime(ctx, Control(0, 0, 7, 90), track, 100, 2));
  EXPECT_EQ(Describe(track),
            (Lines{"+50 program ch0 1", "+50 cc ch0 7=90", "+50 program ch0 2", "+10 eot"}));

  ASSERT_TRUE(InsertEventAtTime(ctx, Control(0, 0, 10, 1), track, 150, 2));
  EXPECT_EQ(test::AbsoluteTimes(track), (std::vector<int64_t>{50, 100, 150, 150, 160}));
  EXPECT_EQ(Describe(track.events[2]), "+50 cc ch0 10=1");
}

TEST_F(SongEditTest, InsertBehindEventsOfItsTimeButNotBehindTheEnd) {
  MidiTrack track = MakeTrack({Program(0, 0, 1), Program(0, 0, 2), EndOfTrack(0)});
  ASSERT_TRUE(InsertEventAtTime(ctx, Control(0, 0, 7, 1), track, 0, 1));
  EXPECT_EQ(Describe(track),
            (Lines{"+0 program ch0 1", "+0 program ch0 2", "+0 cc ch0 7=1", "+0 eot"}));

  // The tick's delta stays at the front of the tick.
  MidiTrack later =
      MakeTrack({Program(30, 0, 1), Program(0, 0, 2), Program(5, 0, 3), EndOfTrack(5)});
  ASSERT_TRUE(InsertEventAtTime(ctx, Control(0, 0, 7, 1), later, 30, 0));
  EXPECT_EQ(Describe(later), (Lines{"+30 program ch0 1", "+0 program ch0 2", "+0 cc ch0 7=1",
                                    "+5 program ch0 3", "+5 eot"}));
}

TEST_F(SongEditTest, InsertIntoEmptyAndShortTracks) {
  MidiTrack empty = MakeTrack({}, ts::kNew);
  ASSERT_TRUE(InsertEventAtTime(ctx, Control(99, 0, 7, 1), empty, 0, 2));
  EXPECT_EQ(Describe(empty), (Lines{"+0 cc ch0 7=1"}));

  MidiTrack onlyEnd = MakeTrack({EndOfTrack(50)});
  ASSERT_TRUE(InsertEventAtTime(ctx, Control(0, 0, 7, 1), onlyEnd, 20, 2));
  EXPECT_EQ(Describe(onlyEnd), (Lines{"+20 cc ch0 7=1", "+30 eot"}));
}

TEST_F(SongEditTest, InsertPastTheLastButOneEvent) {
  MidiTrack track = ThreeEvents();
  ASSERT_TRUE(InsertEventAtTime(ctx, Control(0, 0, 7, 1), track, 155, 2));
  EXPECT_EQ(Describe(track),
            (Lines{"+50 program ch0 1", "+100 program ch0 2", "+5 cc ch0 7=1", "+5 eot"}));

  MidiTrack beyond = ThreeEvents();
  ASSERT_TRUE(InsertEventAtTime(ctx, Control(0, 0, 7, 1), beyond, 170, 1));
  EXPECT_EQ(Describe(beyond),
            (Lines{"+50 program ch0 1", "+100 program ch0 2", "+20 cc ch0 7=1", "+0 eot"}));
}

TEST_F(SongEditTest, FullTrackRefusesAndStoresNothingMore) {
  MidiTrack track;
  track.capacity = 30;  // room for 10 events
  for (int k = 0; k < 10; ++k) ASSERT_TRUE(AppendEvent(ctx, track, Program(1, 0, k)));
  EXPECT_TRUE(rec.texts().empty());
  EXPECT_FALSE(AppendEvent(ctx, track, Program(1, 0, 10)));
  EXPECT_FALSE(InsertEventAtTime(ctx, Program(0, 0, 11), track, 3, 2));
  EXPECT_EQ(track.count(), 10);
  const std::string full = "MDTK0D000006 データの量が多すぎます。";
  EXPECT_EQ(rec.texts(), (Lines{full, full}));
}

TEST_F(SongEditTest, TrackHoldsAtMost131072Events) {
  MidiTrack track;
  track.events.resize(kMaxEventsPerTrack - 1);
  EXPECT_TRUE(AppendEvent(ctx, track, Program(0, 0, 1)));
  EXPECT_FALSE(AppendEvent(ctx, track, Program(0, 0, 2)));
  EXPECT_EQ(track.count(), 131072);
}

TEST_F(SongEditTest, CopyIsIndependentAndAllocatesNoImage) {
  auto song = MakeSong({Tempo(0, 400000), Program(0, 1, 5), Note(10, 1, 60, 20), EndOfTrack(20)});
  song->division = 96;
  song->track->events[1].data = {0xC1, 0x05, 0, 0, 0, 0, 0, 0, 0, 0};
  song->track->events[1].size = 2;
  const Lines before = Describe(*song->track);

  auto copy = CopySong(ctx, *song);
  ASSERT_TRUE(copy && copy->track);
  EXPECT_EQ(copy->division, 96);
  EXPECT_EQ(copy->state, 2);
  EXPECT_EQ(copy->capacity, 0x60000);
  EXPECT_TRUE(copy->bytes.empty());
  EXPECT_TRUE(copy->track->bytes.empty());
  EXPECT_EQ(copy->track->capacity, 0x60000);
  EXPECT_EQ(copy->track->state, ts::kNotes);
  EXPECT_EQ(Describe(*copy->track), before);
  EXPECT_EQ(copy->track->events[1].channel, 1);

  for (size_t k = 0; k + 1 < copy->track->events.size(); ++k) {
    if (k != 2) copy->track->events[k].status = st::kDisabled;
  }
  RemoveDisabledEvents(*copy->track);
  copy->track->events[0].note = 61;
  EXPECT_EQ(Describe(*copy->track), (Lines{"+10 note ch1 61 dur20", "+20 eot"}));
  EXPECT_EQ(Describe(*song->track), before);
  EXPECT_EQ(song->track->events[1].data[0], 0xC1);
  EXPECT_TRUE(rec.texts().empty());
}

TEST_F(SongEditTest, CopyOfTrackNotInNoteFormIsEmpty) {
  const MidiTrack events = MakeTrack({Program(0, 0, 1), EndOfTrack(0)}, ts::kEvents);
  auto copy = CopyTrack(ctx, kTrackCapacity, events);
  ASSERT_TRUE(copy);
  EXPECT_EQ(copy->count(), 0);
  EXPECT_EQ(rec.texts(), (Lines{"MDTK0D000001 Midiのトラックデータで内部エラーが発生しました。"}));
}

TEST_F(SongEditTest, CopyIntoSmallerTrackStopsAtItsRoom) {
  const MidiTrack source = MakeTrack({Program(0, 0, 1), Program(0, 0, 2), Program(0, 0, 3)});
  auto copy = CopyTrack(ctx, 6, source);
  EXPECT_EQ(copy->count(), 2);
  EXPECT_EQ(rec.texts().size(), 1u);
}

TEST_F(SongEditTest, DestroyWarnsForLargeEventsOtherThanVoiceData) {
  MidiTrack track = MakeTrack({Program(0, 0, 1), Program(0, 0, 2), Program(0, 0, 3)});
  track.events[0].status = st::kSysEx;
  track.events[0].size = 256;
  track.events[1].status = st::kSysEx;
  track.events[1].size = 400;
  track.events[1].kind = sysex::kYamahaVoice;
  track.events[2].size = 255;
  DestroyTrack(ctx, track);
  EXPECT_EQ(track.count(), 0);
  EXPECT_EQ(rec.texts(), (Lines{"MDTK0D00001A データの追加に失敗しました。"}));

  rec.Clear();
  auto song = std::make_unique<MidiFormat1Data>();
  song->tracks.push_back(std::make_unique<MidiTrack>(MakeTrack({Program(0, 0, 1)})));
  song->tracks.push_back(std::make_unique<MidiTrack>(MakeTrack({Program(0, 0, 1)})));
  song->tracks[1]->events[0].size = 300;
  song->trackCount = 2;
  DestroySong(ctx, song);
  EXPECT_EQ(song, nullptr);
  EXPECT_EQ(rec.texts().size(), 1u);
}

}  // namespace
}  // namespace velorna
