#include "midi/smf_writer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/library_error.h"
#include "midi/smf_reader.h"
#include "support/smf_bytes.h"
#include "support/song_rows.h"
#include "support/temp_dir.h"

namespace velorna {
namespace {

using test::Bytes;
namespace fs = std::filesystem;

const fs::path kSongFolder = "/usr/share/games/openttd/baseset/openmsx";

MidiEvent Event(uint32_t status, int channel, int delta) {
  MidiEvent e;
  e.status = status;
  e.channel = channel;
  e.delta = delta;
  return e;
}

MidiEvent Note(int channel, int note, int delta, int duration) {
  MidiEvent e = Event(st::kNote, channel, delta);
  e.note = note;
  e.velocity = 90;
  e.duration = duration;
  return e;
}

MidiEvent Control(int channel, int controller, int value, int delta = 0) {
  MidiEvent e = Event(st::kControl, channel, delta);
  e.kind = controller;
  e.value = value;
  return e;
}

MidiEvent EndOfTrack(int delta) {
  MidiEvent e = Event(st::kMeta, kNoChannel, delta);
  e.kind = meta::kEndOfTrack;
  return e;
}

std::unique_ptr<MidiFormat0Data> Song(int state, std::vector<MidiEvent> events) {
  auto song = std::make_unique<MidiFormat0Data>();
  song->division = 480;
  song->state = state;
  song->track = std::make_unique<MidiTrack>();
  song->track->state = state;
  song->track->events = std::move(events);
  return song;
}

std::vector<MidiEvent> OneNote() {
  MidiEvent on = Event(st::kNoteOn, 0, 0);
  on.note = 60;
  on.velocity = 100;
  MidiEvent off = Event(st::kNoteOff, 0, 480);
  off.note = 60;
  off.velocity = 0;
  return {on, off, EndOfTrack(0)};
}

struct SmfWriter : ::testing::Test {
  RecordingReporter rec;
  MidiContext ctx{rec};
  test::TempDir dir;

  size_t Count(uint32_t c) const {
    const auto reports = rec.reports();
    return static_cast<size_t>(std::count_if(reports.begin(), reports.end(),
                                             [c](const Report& r) { return r.code == c; }));
  }
};

TEST_F(SmfWriter, EventsSongWritesOneFormatZeroTrackAndIsRebuiltFromIt) {
  auto song = Song(1, OneNote());
  Bytes out;
  ASSERT_TRUE(WriteSmfToMemory(ctx, *song, out));
  const Bytes head{0x4D, 0x54, 0x68, 0x64, 0,    0,    0,    6,    0,
                   0,    0,    1,    0x01, 0xE0, 0x4D, 0x54, 0x72, 0x6B};
  ASSERT_GE(out.size(), head.size() + 4);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 18), head);
  const Bytes events{0x00, 0x90, 0x3C, 0x64, 0x83, 0x60, 0x80, 0x3C, 0x40, 0x00, 0xFF, 0x2F, 0x00};
  EXPECT_EQ(Bytes(out.begin() + 22, out.end()), events);
  EXPECT_EQ(out[21], events.size());

  EXPECT_EQ(song->state, 1);
  ASSERT_TRUE(song->track);
  ASSERT_EQ(song->track->count(), 3);
  EXPECT_EQ(song->track->events[1].status, st::kNoteOff);
  EXPECT_EQ(song->track->events[1].delta, 480);
  EXPECT_EQ(song->track->events[1].velocity, 64);
  EXPECT_TRUE(song->track->events[2].IsEndOfTrack());
  EXPECT_EQ(song->length, static_cast<int32_t>(out.size()));

  // The same song written again gives the same file.
  ASSERT_TRUE(WriteSmf(ctx, *song, (dir / "a.mid").string()));
  EXPECT_EQ(test::ReadBytes(dir / "a.mid"), out);
  EXPECT_TRUE(rec.reports().empty());
}

TEST_F(SmfWriter, NoteSongComesBackInNoteFormWithItsSetupAhead) {
  // At tick 96 a bank select opens the tick and its program change follows.
  MidiEvent program = Event(st::kProgram, 1, 0);
  program.value = 30;
  auto song = Song(2, {Note(0, 60, 0, 480), Control(1, 0, 8, 96), program, Note(1, 40, 0, 200),
                       Control(0, 7, 100, 0), Note(0, 64, 104, 100), EndOfTrack(0)});
  const auto notes = test::Notes(*song->track);
  const auto others = test::OtherEventsInWriterOrder(ctx, *song->track);
  Bytes out;
  ASSERT_TRUE(WriteSmfToMemory(ctx, *song, out));
  EXPECT_EQ(song->state, 2);
  EXPECT_EQ(song->track->state, ts::kNotes);
  EXPECT_EQ(test::Notes(*song->track), notes);
  const auto back = test::OtherEvents(*song->track);
  EXPECT_EQ(back, others);
  ASSERT_EQ(back.size(), 4u);
  EXPECT_EQ(back[0].kind, 0u);  // bank select, then program, then volume, at tick 96
  EXPECT_EQ(back[1].status, st::kProgram);
  EXPECT_EQ(back[2].kind, 7u);
  EXPECT_EQ(back[3].tick, 480);  // the End of Track moved behind the last note-off
}

TEST_F(SmfWriter, RepeatedNoteAtATickWithSetupEventsKeepsBothNotes) {
  // Two notes end at tick 96, where the same pitch starts again after another note and
  // ahead of two controllers: no note-off may land behind the new note-on.
  auto song = Song(2, {Note(0, 60, 0, 96), Note(0, 50, 0, 96), Note(0, 60, 96, 200),
                       Note(0, 64, 0, 200), Control(0, 7, 100), Control(0, 10, 64), EndOfTrack(0)});
  const auto notes = test::Notes(*song->track);
  Bytes out;
  ASSERT_TRUE(WriteSmfToMemory(ctx, *song, out));
  EXPECT_EQ(test::Notes(*song->track), notes);
  Bytes again;
  ASSERT_TRUE(WriteSmfToMemory(ctx, *song, again));
  EXPECT_EQ(again, out);
}

TEST_F(SmfWriter, LongTextsReadBackTheSame) {
  auto text = [](uint32_t kind, size_t n) {
    MidiEvent e = Event(st::kMeta, kNoChannel, 0);
    e.kind = kind;
    e.size = static_cast<int32_t>(n);
    e.data.assign(n + 8, 0);
    for (size_t i = 0; i < n; ++i) e.data[i] = static_cast<uint8_t>('a' + i % 26);
    return e;
  };
  auto song = Song(1, {text(meta::kTrackName, 200), text(5, 200), text(7, 130), EndOfTrack(10)});
  const auto others = test::OtherEvents(*song->track);
  Bytes out;
  ASSERT_TRUE(WriteSmfToMemory(ctx, *song, out));
  EXPECT_EQ(test::OtherEvents(*song->track), others);
}

TEST_F(SmfWriter, ImageOnlySongWritesItsImage) {
  MidiFormat0Data song;
  song.bytes = {1, 2, 3, 4, 5};
  song.length = 3;
  Bytes out;
  ASSERT_TRUE(WriteSmfToMemory(ctx, song, out));
  EXPECT_EQ(out, (Bytes{1, 2, 3}));
  EXPECT_EQ(song.state, 0);
}

TEST_F(SmfWriter, SongThatCannotBeWrittenStaysAsItWas) {
  auto odd = Song(5, OneNote());
  Bytes out;
  EXPECT_FALSE(WriteSmfToMemory(ctx, *odd, out));
  EXPECT_TRUE(out.empty());
  EXPECT_TRUE(rec.Contains("M0DT04000005 Midiのフォーマット0のデータで内部エラーが発生しました。"));

  // Without an End of Track nothing is encoded, and the song keeps its events.
  auto open = Song(1, {OneNote()[0], OneNote()[1]});
  EXPECT_FALSE(WriteSmfToMemory(ctx, *open, out));
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(open->state, 1);
  ASSERT_TRUE(open->track);
  EXPECT_EQ(open->track->count(), 2);
  EXPECT_EQ(Count(code::kMdtkInternal), 1u);

  auto empty = Song(2, {});
  empty->track.reset();
  EXPECT_FALSE(WriteSmfToMemory(ctx, *empty, out));
  EXPECT_EQ(Count(code::kM0dtInternal), 2u);
}

TEST_F(SmfWriter, FileThatCannotBeCreatedIsReportedAndTheSongStillRebuilt) {
  auto song = Song(2, {Note(0, 60, 0, 480), EndOfTrack(0)});
  EXPECT_FALSE(WriteSmf(ctx, *song, (dir / "missing" / "x.mid").string()));
  EXPECT_EQ(Count(code::kGeneFileOpen), 1u);
  EXPECT_TRUE(rec.Contains("GENE01000007 ファイルが開けませんでした。"));
  EXPECT_EQ(song->state, 2);
  ASSERT_TRUE(song->track);
  EXPECT_EQ(test::Notes(*song->track), (std::vector<test::NoteRow>{{0, 0, 60, 90, 480}}));
}

TEST_F(SmfWriter, FileWriterReplacesWhatStoodThere) {
  const fs::path path = dir / "t.mid";
  test::WriteBytes(path, Bytes(100, 0xAA));
  const Bytes bytes{1, 2, 3};
  EXPECT_EQ(WriteSmfFile(rec, path.string(), bytes), 1);
  EXPECT_EQ(test::ReadBytes(path), bytes);
  EXPECT_EQ(WriteSmfFile(rec, dir.path().string(), bytes), 0);  // a folder
  EXPECT_EQ(Count(code::kGeneFileOpen), 1u);
}

TEST_F(SmfWriter, TrackTooLongForTheImageEndsEarlyButStaysValid) {
  std::vector<MidiEvent> events;
  for (int i = 0; i < 2000; ++i) {
    MidiEvent e = Event(st::kSysEx, kNoChannel, 10);
    e.size = 250;
    e.data.assign(e.size + 8, 0x11);
    e.data[0] = 0xF0;
    e.data[1] = 0x81;  // 247 bytes follow
    e.data[2] = 0x77;
    e.data[e.size - 1] = 0xF7;
    events.push_back(std::move(e));
  }
  events.push_back(EndOfTrack(10));
  auto song = Song(1, std::move(events));
  const fs::path path = dir / "long.mid";
  ASSERT_TRUE(WriteSmf(ctx, *song, path.string()));
  EXPECT_EQ(Count(code::kMdtkAddFailed), 1u);
  const Bytes file = test::ReadBytes(path);
  EXPECT_LE(file.size(), static_cast<size_t>(kSongCapacity));
  const uint32_t n = (file[18] << 24) | (file[19] << 16) | (file[20] << 8) | file[21];
  EXPECT_EQ(file.size(), 22 + n);
  EXPECT_EQ(Bytes(file.end() - 3, file.end()), (Bytes{0xFF, 0x2F, 0x00}));
  ASSERT_TRUE(song->track);
  EXPECT_TRUE(song->track->events.back().IsEndOfTrack());
  EXPECT_GT(song->track->count(), 1000);

  // What came back can be written again.
  rec.Clear();
  Bytes again;
  EXPECT_TRUE(WriteSmfToMemory(ctx, *song, again));
  EXPECT_EQ(again, file);
}

// Every song of the set, prepared, survives the writer: same notes (as far as a file can
// carry nested notes of one pitch), same other events in the writer's order, and a second
// write gives the same bytes.
TEST_F(SmfWriter, PreparedSongsRoundTrip) {
  std::vector<fs::path> songs;
  for (const auto& entry : fs::directory_iterator(kSongFolder))
    if (entry.path().extension() == ".mid") songs.push_back(entry.path());
  if (songs.empty()) GTEST_SKIP() << "no songs in " << kSongFolder;
  std::sort(songs.begin(), songs.end());
  for (const fs::path& source : songs) {
    SCOPED_TRACE(source.filename().string());
    MidiLoader loader = LoadSmf(ctx, source.string());
    ASSERT_NE(loader.fileLength, 0);
    PrepareSong(ctx, loader);
    ASSERT_TRUE(loader.song && loader.song->track);
    MidiFormat0Data& song = *loader.song;
    const auto notes = test::NotesAsWritten(*song.track);
    const bool nested = notes != test::Notes(*song.track);
    const auto others = test::OtherEventsInWriterOrder(ctx, *song.track);

    const fs::path first = dir / source.filename();
    ASSERT_TRUE(WriteSmf(ctx, song, first.string()));
    ASSERT_EQ(song.state, 2);
    EXPECT_EQ(test::Notes(*song.track), notes);
    EXPECT_EQ(test::OtherEvents(*song.track), others);

    Bytes previous = test::ReadBytes(first);
    // Re-paired nested notes end at other note-offs, which may sit elsewhere in their
    // tick; from the second writing on the bytes stay the same.
    if (nested) {
      ASSERT_TRUE(WriteSmfToMemory(ctx, song, previous));
    }
    Bytes next;
    ASSERT_TRUE(WriteSmfToMemory(ctx, song, next));
    EXPECT_EQ(next, previous);
  }
  const std::string check =
      "/usr/bin/python3 -c 'import glob, sys, mido\n"
      "files = sorted(glob.glob(sys.argv[1] + \"/*.mid\"))\n"
      "assert files\n"
      "for f in files: mido.MidiFile(f)' " +
      dir.path().string();
  EXPECT_EQ(std::system(check.c_str()), 0);
}

}  // namespace
}  // namespace velorna
