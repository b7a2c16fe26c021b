#include "midi/track_merge.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "base/library_error.h"

namespace velorna {
namespace {

MidiEvent Meta(uint32_t kind, int32_t delta, const std::string& text = {}) {
  MidiEvent e;
  e.status = st::kMeta;
  e.kind = kind;
  e.delta = delta;
  if (!text.empty()) {
    e.size = static_cast<int32_t>(text.size());
    e.data.assign(text.size() + 8, 0);
    std::copy(text.begin(), text.end(), e.data.begin());
  }
  return e;
}

MidiEvent Note(int32_t delta, int channel, int key, int32_t duration = 10) {
  MidiEvent e;
  e.status = st::kNote;
  e.delta = delta;
  e.channel = channel;
  e.note = key;
  e.velocity = 100;
  e.duration = duration;
  return e;
}

MidiEvent Control(int32_t delta, int channel, int controller) {
  MidiEvent e;
  e.status = st::kControl;
  e.delta = delta;
  e.channel = channel;
  e.kind = static_cast<uint32_t>(controller);
  return e;
}

MidiTrack NoteTrack(std::vector<MidiEvent> events) {
  MidiTrack t;
  t.state = ts::kNotes;
  t.events = std::move(events);
  return t;
}

// Absolute tick of every event.
std::vector<int64_t> Times(const MidiTrack& t) {
  std::vector<int64_t> out;
  int64_t at = 0;
  for (const MidiEvent& e : t.events) out.push_back(at += e.delta);
  return out;
}

std::string Name(const MidiTrack& t) {
  std::string name;
  GetTrackName(t, name);
  return name;
}

// Merges the tracks into one the way preparation does: last to first.
MidiTrack MergeAll(MidiContext& ctx, const std::vector<MidiTrack>& tracks) {
  MidiTrack dest = NoteTrack({});
  for (size_t i = tracks.size(); i-- > 0;) MergeTrackInto(ctx, 1, tracks[i], dest);
  return dest;
}

class TrackMerge : public ::testing::Test {
 protected:
  RecordingReporter rec;
  MidiContext ctx{rec};
};

TEST_F(TrackMerge, JoinsNamesFromTheLastTrackToTheFirst) {
  const MidiTrack piano = NoteTrack({Meta(meta::kTrackName, 0, "Piano"), Meta(47, 0)});
  const MidiTrack bass = NoteTrack({Meta(meta::kTrackName, 0, "Bass"), Meta(47, 0)});
  const MidiTrack unnamed = NoteTrack({Meta(47, 0)});

  EXPECT_EQ(Name(MergeAll(ctx, {piano, bass})), "Bass / Piano");
  EXPECT_EQ(Name(MergeAll(ctx, {piano, unnamed})), "Piano");
  EXPECT_EQ(Name(MergeAll(ctx, {unnamed, bass})), "Bass / ");
  const MidiTrack c = NoteTrack({Meta(meta::kTrackName, 0, "C"), Meta(47, 0)});
  const MidiTrack a = NoteTrack({Meta(meta::kTrackName, 0, "A"), Meta(47, 0)});
  const MidiTrack merged = MergeAll(ctx, {a, unnamed, c});
  EXPECT_EQ(Name(merged), "C /  / A");
  // One name event, at the front, and one End of Track, at the end.
  int names = 0;
  for (const MidiEvent& e : merged.events) names += e.kind == meta::kTrackName ? 1 : 0;
  EXPECT_EQ(names, 1);
  EXPECT_EQ(merged.events.front().kind, meta::kTrackName);
  EXPECT_TRUE(merged.events.back().IsEndOfTrack());
  EXPECT_TRUE(rec.reports().empty());
}

TEST_F(TrackMerge, LongJoinedNamesBecomeLongNameWithoutOverflow) {
  const std::string n127(127, 'x');
  EXPECT_EQ(Name(MergeAll(ctx, {NoteTrack({Meta(3, 0, n127)})})), n127);
  const std::string n128(128, 'y');
  EXPECT_EQ(Name(MergeAll(ctx, {NoteTrack({Meta(3, 0, n128)})})), "long name");
  // Names far beyond any fixed buffer, alone and joined.
  const std::string n300(300, 'z');
  const MidiTrack big = NoteTrack({Meta(3, 0, n300), Meta(47, 0)});
  EXPECT_EQ(Name(MergeAll(ctx, {big, big, big})), "long name");
  const std::string n100(100, 'w');
  const MidiTrack mid = NoteTrack({Meta(3, 0, n100), Meta(47, 0)});
  EXPECT_EQ(Name(MergeAll(ctx, {mid, mid})), "long name");  // 203 characters joined
  EXPECT_TRUE(rec.reports().empty());
}

TEST_F(TrackMerge, AtEqualTimesLowerTracksComeFirstAndTrackOrderIsKept) {
  // Track 0: note at 0, note at 0, controller at 100. Track 1: controller at 0, note at 100.
  const MidiTrack t0 = NoteTrack({Note(0, 0, 60), Note(0, 0, 61), Control(100, 0, 7)});
  const MidiTrack t1 = NoteTrack({Control(0, 1, 10), Note(100, 1, 62)});
  const MidiTrack merged = MergeAll(ctx, {t0, t1});
  ASSERT_EQ(merged.count(), 6);
  EXPECT_EQ(merged.events[0].note, 60);
  EXPECT_EQ(merged.events[1].note, 61);
  EXPECT_EQ(merged.events[2].kind, 10u);
  EXPECT_EQ(merged.events[3].kind, 7u);
  EXPECT_EQ(merged.events[4].note, 62);
  EXPECT_TRUE(merged.events[5].IsEndOfTrack());
  EXPECT_EQ(Times(merged), (std::vector<int64_t>{0, 0, 0, 100, 100, 100}));
}

TEST_F(TrackMerge, SourceEventAtTickZeroGoesBeforeTheInsertedName) {
  MidiTrack dest = NoteTrack({Meta(3, 0, "Lead"), Note(50, 0, 60), Meta(47, 0)});
  const MidiTrack source = NoteTrack({Control(0, 1, 7), Meta(47, 10)});
  MergeTrackInto(ctx, 1, source, dest);
  ASSERT_EQ(dest.count(), 4);
  EXPECT_EQ(dest.events[0].status, st::kControl);
  EXPECT_EQ(dest.events[1].kind, meta::kTrackName);
  EXPECT_EQ(Name(dest), "Lead / ");
  EXPECT_EQ(Times(dest), (std::vector<int64_t>{0, 0, 50, 50}));
}

TEST_F(TrackMerge, OneEndOfTrackAtTheLatestEnd) {
  const MidiTrack shortTrack = NoteTrack({Note(0, 0, 60), Meta(47, 1000)});
  const MidiTrack longTrack = NoteTrack({Note(500, 1, 40), Meta(47, 3500)});
  const MidiTrack merged = MergeAll(ctx, {shortTrack, longTrack});
  ASSERT_EQ(merged.count(), 3);
  EXPECT_TRUE(merged.events.back().IsEndOfTrack());
  EXPECT_EQ(Times(merged), (std::vector<int64_t>{0, 500, 4000}));
}

TEST_F(TrackMerge, SourceStaysUnchangedAndEmptyTracksMergeAsNothing) {
  const MidiTrack source = NoteTrack({Note(10, 0, 60), Note(5, 0, 62), Meta(47, 20)});
  MidiTrack dest = NoteTrack({Control(7, 0, 7), Meta(47, 0)});
  MergeTrackInto(ctx, 1, source, dest);
  EXPECT_EQ(Times(source), (std::vector<int64_t>{10, 15, 35}));
  EXPECT_EQ(Times(dest), (std::vector<int64_t>{7, 10, 15, 35}));

  MidiTrack empty = NoteTrack({});
  MergeTrackInto(ctx, 1, NoteTrack({}), empty);
  ASSERT_EQ(empty.count(), 1);
  EXPECT_TRUE(empty.events[0].IsEndOfTrack());
  EXPECT_TRUE(rec.reports().empty());
}

TEST_F(TrackMerge, TrackNotInNoteFormLeavesTheDestinationAlone) {
  MidiTrack dest = NoteTrack({Note(0, 0, 60), Meta(47, 10)});
  MidiTrack events;
  events.state = ts::kEvents;
  events.events = {Control(0, 0, 7)};
  MergeTrackInto(ctx, 1, events, dest);
  EXPECT_EQ(dest.count(), 2);
  EXPECT_TRUE(rec.Contains("MDTK0D000001"));
}

TEST_F(TrackMerge, FullDestinationWarnsAndDropsInsteadOfOverflowing) {
  MidiTrack dest = NoteTrack({Control(0, 1, 7)});
  MidiTrack source = NoteTrack(std::vector<MidiEvent>(kMaxEventsPerTrack, Control(1, 0, 7)));
  MergeTrackInto(ctx, 1, source, dest);
  EXPECT_EQ(dest.count(), kMaxEventsPerTrack);
  EXPECT_TRUE(rec.Contains("MDTK0D000006"));
}

TEST_F(TrackMerge, NameOperations) {
  MidiTrack t = NoteTrack({Note(5, 0, 60), Meta(3, 7, "First"), Meta(3, 1, "Second")});
  std::string name = "stale";
  EXPECT_EQ(GetTrackName(t, name), 1);
  EXPECT_EQ(name, "First");
  EXPECT_EQ(RemoveTrackName(t), 1);
  EXPECT_EQ(Name(t), "Second");
  EXPECT_EQ(Times(t), (std::vector<int64_t>{5, 13}));  // the removed delta moved on

  MidiTrack none = NoteTrack({Note(0, 0, 60)});
  EXPECT_EQ(GetTrackName(none, name), 0);
  EXPECT_EQ(name, "");
  EXPECT_EQ(RemoveTrackName(none), 0);

  // An empty name is stored as one zero byte and reads as empty.
  MidiEvent empty = Meta(3, 0);
  empty.size = 1;
  empty.data.assign(9, 0);
  EXPECT_EQ(GetTrackName(NoteTrack({empty}), name), 1);
  EXPECT_EQ(name, "");

  PrependTrackName(ctx, none, "Strings");
  EXPECT_EQ(none.events[0].kind, meta::kTrackName);
  EXPECT_EQ(none.events[0].channel, kNoChannel);
  EXPECT_EQ(none.events[0].delta, 0);
  EXPECT_EQ(Name(none), "Strings");
  EXPECT_TRUE(rec.reports().empty());

  PrependTrackName(ctx, none, std::string(128, 'q'));
  EXPECT_EQ(rec.texts(), std::vector<std::string>{"MDTK0D000028 データ追加に異常が発生しました。"});
  EXPECT_EQ(Name(none).size(), 128u);
}

TEST_F(TrackMerge, DeleteClearAndFixEndOfTrack) {
  MidiTrack t = NoteTrack({Note(10, 0, 60), Meta(47, 5), Note(7, 0, 61), Meta(47, 3)});
  DeleteEventAt(t, 0);
  EXPECT_EQ(Times(t), (std::vector<int64_t>{15, 22, 25}));
  DeleteEventAt(t, 2);  // the last one: its time goes with it
  DeleteEventAt(t, 5);  // out of range: nothing happens
  DeleteEventAt(t, -1);
  EXPECT_EQ(Times(t), (std::vector<int64_t>{15, 22}));

  // A removed event's delta joins the next one, held at the largest delta.
  MidiTrack far = NoteTrack({Meta(47, std::numeric_limits<int32_t>::max()), Note(188, 0, 60)});
  DeleteEventAt(far, 0);
  EXPECT_EQ(far.events[0].delta, std::numeric_limits<int32_t>::max());

  MidiTrack eots = NoteTrack({Meta(47, 10), Meta(47, 10), Note(5, 0, 60), Meta(47, 5)});
  FixEndOfTrack(ctx, eots);
  ASSERT_EQ(eots.count(), 2);
  EXPECT_EQ(Times(eots), (std::vector<int64_t>{25, 30}));
  EXPECT_TRUE(eots.events[1].IsEndOfTrack());

  MidiTrack noEnd = NoteTrack({Meta(47, 10), Note(5, 0, 60)});
  FixEndOfTrack(ctx, noEnd);
  EXPECT_EQ(Times(noEnd), (std::vector<int64_t>{15, 15}));
  EXPECT_TRUE(noEnd.events.back().IsEndOfTrack());

  noEnd.bytes.assign(16, 1);
  ClearTrack(noEnd);
  EXPECT_EQ(noEnd.count(), 0);
  EXPECT_EQ(noEnd.state, ts::kNotes);
  EXPECT_EQ(noEnd.bytes.size(), 16u);
}

}  // namespace
}  // namespace velorna
