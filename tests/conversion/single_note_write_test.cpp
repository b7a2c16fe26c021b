#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "base/library_error.h"
#include "conversion/note_retune.h"
#include "midi/smf_reader.h"
#include "midi/smf_writer.h"
#include "support/note_plans.h"
#include "support/song_rows.h"

namespace velorna {
namespace {

namespace fs = std::filesystem;

// Every note's plan the file engine writes survives the temporary file: what is read back is
// the plan itself, up to the writer's normalisation.
class SingleNoteWrite : public ::testing::TestWithParam<std::string> {};

TEST_P(SingleNoteWrite, EveryCopyReadsBackAsWritten) {
  const fs::path source = fs::path("/usr/share/games/openttd/baseset/openmsx") / GetParam();
  if (!fs::exists(source)) GTEST_SKIP() << source << " is missing";
  RecordingReporter rec;
  MidiContext ctx(rec);
  MidiLoader loader = LoadSmf(ctx, source.string());
  ASSERT_NE(loader.fileLength, 0);
  PrepareSong(ctx, loader);
  ASSERT_TRUE(loader.song && loader.song->track);
  const MidiFormat0Data& song = *loader.song;

  const auto index = IndexSong(song);
  ASSERT_TRUE(index);
  const Tuning tuning;
  NotePlanner planner(*index, tuning);
  int copies = 0;
  int64_t t = 0;
  for (int32_t i = 0; i < song.track->count(); ++i) {
    const MidiEvent& e = song.track->events[i];
    t += e.delta;
    if (e.status != st::kNote || e.channel == kDrumChannel) continue;
    SCOPED_TRACE("note " + std::to_string(i) + " at " + std::to_string(t));
    rec.Clear();
    auto copy = SongOfPlan(ctx, *index, planner.Plan(rec, i));
    ASSERT_TRUE(copy && copy->track);
    const auto notes = test::Notes(*copy->track);
    const auto others = test::OtherEventsInWriterOrder(ctx, *copy->track);
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(WriteSmfToMemory(ctx, *copy, bytes));
    ASSERT_EQ(copy->state, 2);
    EXPECT_EQ(test::Notes(*copy->track), notes);
    EXPECT_EQ(test::OtherEvents(*copy->track), others);
    EXPECT_FALSE(rec.Contains("MDTK0D000001"));
    EXPECT_FALSE(rec.Contains("M0DT04000005"));
    ++copies;
    if (HasFailure()) break;
  }
  EXPECT_GT(copies, 0);
}

INSTANTIATE_TEST_SUITE_P(Songs, SingleNoteWrite,
                         ::testing::Values("coconut_run2.mid", "tttheme2.mid"),
                         [](const auto& info) {
                           return info.param.substr(0, info.param.find('.'));
                         });

}  // namespace
}  // namespace velorna
