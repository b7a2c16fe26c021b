// The fast engine's copies: built from the song's index, they must be the copies the
// file-based road builds, and their events must reach the synthesizer as the written and
// re-read file would give them.
#include "conversion/note_index.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "audio/render_timing.h"
#include "conversion/copy_timing.h"
#include "midi/smf_reader.h"
#include "midi/smf_writer.h"
#include "support/song_builder.h"
#include "support/test_paths.h"

namespace velorna {
namespace {

namespace fs = std::filesystem;
using test::BendRange;
using test::Control;
using test::EndOfTrack;
using test::Events;
using test::MakeSong;
using test::Note;
using test::Program;
using test::RhythmPart;
using test::Tempo;

void ExpectSameEvents(const MidiTrack& expected, const MidiTrack& actual) {
  ASSERT_EQ(expected.events.size(), actual.events.size());
  EXPECT_EQ(expected.state, actual.state);
  for (size_t k = 0; k < expected.events.size(); ++k) {
    const MidiEvent& a = expected.events[k];
    const MidiEvent& b = actual.events[k];
    SCOPED_TRACE("event " + std::to_string(k) + ": " + test::Describe(a));
    EXPECT_EQ(a.status, b.status);
    EXPECT_EQ(a.delta, b.delta);
    EXPECT_EQ(a.note, b.note);
    EXPECT_EQ(a.duration, b.duration);
    EXPECT_EQ(a.velocity, b.velocity);
    EXPECT_EQ(a.kind, b.kind);
    EXPECT_EQ(a.value, b.value);
    EXPECT_EQ(a.size, b.size);
    EXPECT_EQ(a.data, b.data);
    EXPECT_EQ(a.channel, b.channel);
  }
}

// What the file-based road gives the synthesizer: the copy written, read back, timed.
std::vector<TimedEvent> TimedThroughFile(MidiFormat0Data& copy) {
  SilentReporter silent;
  MidiContext ctx(silent);
  std::vector<uint8_t> bytes;
  if (!WriteSmfToMemory(ctx, copy, bytes)) return {};
  MidiTrack track;
  constexpr int64_t kHeaderBytes = 14;
  ReadTrackChunk(ctx, track, bytes, kHeaderBytes);
  const int32_t division = (bytes[12] << 8) | bytes[13];
  return TimeTrackEvents(track, division).value_or(std::vector<TimedEvent>{});
}

// Every pitched note of the song: the same copy, and the same events for the synthesizer.
// Returns how many notes were compared.
int CompareEveryNote(const MidiFormat0Data& song, const CentTable& cents = kPureIntervalCents) {
  RecordingReporter fileRoad, indexed;
  MidiContext fileCtx(fileRoad), indexCtx(indexed);
  const auto index = IndexSong(song);
  EXPECT_TRUE(index);
  if (!index) return 0;
  int compared = 0;
  const bool failedBefore = ::testing::Test::HasFailure();
  int64_t t = 0;
  for (int32_t i = 0; i < song.track->count(); ++i) {
    const MidiEvent& e = song.track->events[static_cast<size_t>(i)];
    t += e.delta;
    if (e.status != st::kNote || e.channel == kDrumChannel) continue;
    SCOPED_TRACE("note " + std::to_string(i) + " at tick " + std::to_string(t));
    auto expected = BuildSingleNoteCopy(fileCtx, song, i, t, cents);
    auto actual = BuildIndexedNoteCopy(indexCtx, *index, i, cents);
    if (!expected || !actual) {
      ADD_FAILURE() << "no copy";
      return compared;
    }
    ExpectSameEvents(*expected->track, *actual->track);
    EXPECT_EQ(expected->division, actual->division);

    const std::vector<TimedEvent> viaFile = TimedThroughFile(*expected);
    SilentReporter silent;
    MidiContext quiet(silent);
    const auto direct = TimeCopyAsWritten(quiet, *actual);
    // A copy the writer refuses is not rendered on either road.
    EXPECT_EQ(viaFile.empty(), !direct);
    if (!direct) continue;
    EXPECT_EQ(viaFile.size(), direct->size());
    for (size_t k = 0; k < std::min(viaFile.size(), direct->size()); ++k) {
      EXPECT_EQ(viaFile[k].songSample, (*direct)[k].songSample) << "timed event " << k;
      EXPECT_EQ(viaFile[k].blockStart, (*direct)[k].blockStart) << "timed event " << k;
      EXPECT_EQ(viaFile[k].message, (*direct)[k].message) << "timed event " << k;
    }
    ++compared;
    if (::testing::Test::HasFailure() && !failedBefore) break;  // one note's report is enough
  }
  EXPECT_EQ(fileRoad.texts(), indexed.texts());
  return compared;
}

std::unique_ptr<MidiFormat0Data> LoadPrepared(const fs::path& path) {
  SilentReporter silent;
  MidiContext ctx(silent);
  MidiLoader loader = LoadSmf(ctx, path.string());
  if (loader.fileLength == 0) return nullptr;
  PrepareSong(ctx, loader);
  return std::move(loader.song);
}

class CorpusCopies : public ::testing::TestWithParam<std::string> {};

TEST_P(CorpusCopies, EveryNoteMatchesTheFileRoad) {
  const fs::path path = GetParam().find('/') == std::string::npos
                            ? test::DataDir() / "corpus" / GetParam()
                            : fs::path(GetParam());
  if (!fs::exists(path)) GTEST_SKIP() << path << " is missing";
  const auto song = LoadPrepared(path);
  ASSERT_TRUE(song && song->track);
  EXPECT_GT(CompareEveryNote(*song), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Songs, CorpusCopies,
    ::testing::Values("test-all-gs-sounds.mid", "test-control-40-damper.mid",
                      "test-c-major-scale.mid",
                      "/usr/share/games/openttd/baseset/openmsx/5432gone_redfarn.mid",
                      "/usr/share/games/openttd/baseset/openmsx/coconut_run2.mid",
                      "/usr/share/games/openttd/baseset/openmsx/tttheme2.mid"),
    [](const auto& info) {
      const std::string name = fs::path(info.param).stem().string();
      std::string id;
      for (char c : name) id += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
      return id;
    });

// Pedals held and released, resets, bends inside windows, set and unset bend ranges, a
// rhythm part, tempo changes and notes sharing ticks with their set-up.
TEST(IndexedCopies, SetUpAndWindowsOfEveryKind) {
  const auto song = MakeSong(Events({
      {Tempo(0, 500000), Program(0, 0, 19), Control(0, 0, 64, 127), Note(0, 0, 60, 100),
       Note(0, 1, 62, 50), test::Bend(0, 1, 9000)},
      BendRange(10, 1, 12),
      {Note(0, 1, 64, 300),    test::Bend(40, 1, 7000), Control(20, 0, 121, 0), Note(0, 0, 67, 30),
       Control(40, 0, 64, 0),  Tempo(0, 400000),        Note(0, 2, 48, 200),    RhythmPart(0, 2, 1),
       Note(50, 2, 50, 10),    Control(0, 3, 66, 100),  Note(0, 3, 55, 10),     Note(0, 3, 57, 10),
       Control(20, 1, 121, 0), Note(0, 1, 60, 0),       test::Bend(5, 0, 100),  Note(0, 0, 72, 40),
       Note(0, 9, 36, 20),     Control(10, 0, 64, 100), Note(30, 0, 71, 10),    EndOfTrack(500)},
  }));
  EXPECT_EQ(CompareEveryNote(*song), 11);
  EXPECT_EQ(CompareEveryNote(*song, CentTable{-100, 100, 50, -50, 0, 1, -1, 99, -99, 3, 7, -7}),
            11);
}

TEST(IndexedCopies, SongWithoutEndOfTrackGivesTheSameCopiesAndNoRendering) {
  const auto song = MakeSong({Note(0, 0, 60, 10), Program(20, 0, 1), Note(0, 0, 62, 5)});
  EXPECT_EQ(CompareEveryNote(*song), 0);
}

TEST(IndexedCopies, NoIndexForASongNotInNoteForm) {
  MidiFormat0Data song;
  EXPECT_EQ(IndexSong(song), nullptr);
  auto events = MakeSong({Note(0, 0, 60, 10), EndOfTrack(10)});
  events->track->state = ts::kEvents;
  EXPECT_EQ(IndexSong(*events), nullptr);
}

}  // namespace
}  // namespace velorna
