#include "midi/smf_reader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

#include "base/library_error.h"
#include "midi/track_merge.h"
#include "support/smf_bytes.h"
#include "support/temp_dir.h"

namespace velorna {
namespace {

using test::Bytes;
using test::SmfFile;
using test::TrackBytes;

const std::string kNotMidi = "MDLD17000002 Midiファイルではありません。";
const std::string kFormat1Short =
    "M1DT00000000 Midiのフォーマット１のデータでエラーが発生しました。";
const std::string kTrackInternal = "MDTK0D000001 Midiのトラックデータで内部エラーが発生しました。";
const Bytes kMasterVolume{0xF0, 0x07, 0x7F, 0x7F, 0x04, 0x01, 0x00, 0x7F, 0xF7};

using NoteRow = std::tuple<int64_t, int, int, int, int>;  // tick, channel, key, velocity, length

std::vector<NoteRow> Notes(const MidiTrack& t) {
  std::vector<NoteRow> out;
  int64_t at = 0;
  for (const MidiEvent& e : t.events) {
    at += e.delta;
    if (e.status == st::kNote) out.emplace_back(at, e.channel, e.note, e.velocity, e.duration);
  }
  return out;
}

std::vector<int64_t> Times(const MidiTrack& t) {
  std::vector<int64_t> out;
  int64_t at = 0;
  for (const MidiEvent& e : t.events) out.push_back(at += e.delta);
  return out;
}

Bytes WithTrackCount(Bytes file, int count) {
  file[10] = static_cast<uint8_t>(count >> 8);
  file[11] = static_cast<uint8_t>(count);
  return file;
}

Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes Chunk(const std::string& tag, const Bytes& body) {
  Bytes out(tag.begin(), tag.end());
  const auto n = static_cast<uint32_t>(body.size());
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(n >> shift));
  return Concat(out, body);
}

TrackBytes Melody(int channel) {
  TrackBytes t;
  t.NoteOn(0, channel, 60, 100).NoteOff(240, channel, 60).NoteOn(0, channel, 64, 90);
  t.NoteOff(240, channel, 64).EndOfTrack(0);
  return t;
}

class SmfReader : public ::testing::Test {
 protected:
  MidiLoader Load(const Bytes& bytes) { return LoadSmfFromBytes(ctx, bytes); }
  MidiLoader LoadAndPrepare(const Bytes& bytes) {
    MidiLoader loader = Load(bytes);
    if (loader.fileLength != 0) PrepareSong(ctx, loader);
    return loader;
  }

  RecordingReporter rec;
  MidiContext ctx{rec};
};

TEST_F(SmfReader, Format0SplitsByChannelIntoSeventeenTracks) {
  TrackBytes t;
  t.Tempo(0, 600000).Text(0, 3, "Song");
  t.NoteOn(0, 0, 60, 100).Event(0, {0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7});
  t.NoteOn(10, 4, 50, 80).NoteOn(0, 9, 36, 127).NoteOff(50, 0, 60).NoteOff(20, 4, 50);
  t.NoteOff(0, 9, 36).Control(100, 4, 7, 90).EndOfTrack(300);  // ends at 480
  MidiLoader loader = Load(SmfFile(0, 96, {t}));
  EXPECT_TRUE(rec.reports().empty());
  ASSERT_NE(loader.fileLength, 0);
  ASSERT_TRUE(loader.multiTrack);
  const MidiFormat1Data& multi = *loader.multiTrack;
  EXPECT_EQ(multi.state, ts::kNotes);
  EXPECT_EQ(multi.division, 96);
  ASSERT_EQ(multi.trackCount, 17);
  ASSERT_EQ(multi.tracks.size(), 17u);
  for (size_t k = 0; k < 17; ++k) {
    const MidiTrack& track = *multi.tracks[k];
    EXPECT_EQ(track.state, ts::kNotes);
    ASSERT_FALSE(track.events.empty());
    EXPECT_TRUE(track.events.back().IsEndOfTrack()) << k;
    EXPECT_EQ(Times(track).back(), 480) << k;
    const bool own = k == 0 || k == 1 || k == 5 || k == 10;
    if (!own) {
      EXPECT_EQ(track.count(), 1) << k;
    }
  }
  EXPECT_EQ(multi.tracks[0]->events[0].kind, meta::kTempo);  // meta events
  EXPECT_EQ(multi.tracks[0]->count(), 3);
  EXPECT_EQ(Notes(*multi.tracks[1]), (std::vector<NoteRow>{{0, 0, 60, 100, 60}}));
  EXPECT_EQ(multi.tracks[1]->events[1].status, st::kSysEx);  // channel-less system message
  EXPECT_EQ(Notes(*multi.tracks[5]), (std::vector<NoteRow>{{10, 4, 50, 80, 70}}));
  EXPECT_EQ(Times(*multi.tracks[5]), (std::vector<int64_t>{10, 180, 480}));
  EXPECT_EQ(Notes(*multi.tracks[10]), (std::vector<NoteRow>{{10, 9, 36, 127, 70}}));

  PrepareSong(ctx, loader);
  EXPECT_FALSE(loader.multiTrack);
  ASSERT_TRUE(loader.song);
  const MidiTrack& track = *loader.song->track;
  EXPECT_EQ(loader.song->state, ts::kNotes);
  EXPECT_EQ(track.state, ts::kNotes);
  EXPECT_EQ(loader.song->division, 96);
  // Every event once, in time order, one End of Track last.
  EXPECT_EQ(Notes(track),
            (std::vector<NoteRow>{{0, 0, 60, 100, 60}, {10, 4, 50, 80, 70}, {10, 9, 36, 127, 70}}));
  EXPECT_EQ(Times(track), (std::vector<int64_t>{0, 0, 0, 0, 10, 10, 180, 480}));
  EXPECT_TRUE(track.events.back().IsEndOfTrack());
  EXPECT_TRUE(rec.reports().empty());
}

TEST_F(SmfReader, Format0GapsPastThe32BitRangeDoNotWrap) {
  // Nine maximal deltas on channel 1 put channel 0's next event 2.4 billion ticks later.
  TrackBytes t;
  t.NoteOn(0, 0, 60, 100).NoteOff(10, 0, 60);
  for (int i = 0; i < 9; ++i) t.Control(0x0FFFFFFF, 1, 7, 100);
  t.NoteOn(0, 0, 62, 100).NoteOff(10, 0, 62).EndOfTrack(0);
  MidiLoader loader = Load(SmfFile(0, 96, {t}));
  ASSERT_TRUE(loader.multiTrack);
  for (const auto& track : loader.multiTrack->tracks) {
    for (const MidiEvent& e : track->events) EXPECT_GE(e.delta, 0);
  }
  const auto notes = Notes(*loader.multiTrack->tracks[1]);
  ASSERT_EQ(notes.size(), 2u);
  EXPECT_EQ(std::get<0>(notes[1]), std::numeric_limits<int32_t>::max());
  PrepareSong(ctx, loader);
  ASSERT_TRUE(loader.song);
  for (const MidiEvent& e : loader.song->track->events) EXPECT_GE(e.delta, 0);
}

TEST_F(SmfReader, MacBinaryHeaderIsSkipped) {
  const Bytes plain = SmfFile(1, 480, {Melody(0), Melody(1)});
  Bytes mac(128, 0x41);
  mac = Concat(mac, plain);
  const MidiLoader a = LoadAndPrepare(plain);
  const MidiLoader b = LoadAndPrepare(mac);
  EXPECT_TRUE(rec.reports().empty());
  ASSERT_TRUE(a.song && b.song);
  EXPECT_EQ(b.fileLength, static_cast<int64_t>(mac.size()));
  EXPECT_EQ(Notes(*a.song->track), Notes(*b.song->track));
  EXPECT_EQ(Times(*a.song->track), Times(*b.song->track));
  EXPECT_EQ(Notes(*b.song->track).size(), 4u);

  // Format 0 behind MacBinary as well.
  const MidiLoader c = LoadAndPrepare(Concat(Bytes(128, 0), SmfFile(0, 480, {Melody(3)})));
  ASSERT_TRUE(c.song);
  EXPECT_EQ(Notes(*c.song->track).size(), 2u);

  // Short files: the tests at offset 128 and the header fields stay inside the bytes.
  for (size_t n : {0, 1, 13, 129, 131, 140}) {
    rec.Clear();
    Bytes junk(n, 0);
    if (n > 135) std::copy_n("MThd", 4, junk.begin() + 128);
    const MidiLoader d = Load(junk);
    EXPECT_EQ(d.fileLength, 0) << n;
    EXPECT_EQ(rec.texts(), std::vector<std::string>{kNotMidi}) << n;
  }
}

TEST_F(SmfReader, DeclaredTrackCounts) {
  std::vector<TrackBytes> tracks;
  for (int i = 0; i < 66; ++i) tracks.push_back(Melody(i % 16));
  MidiLoader many = Load(WithTrackCount(SmfFile(1, 480, tracks), 70));
  EXPECT_EQ(rec.texts(), std::vector<std::string>{"M1DT03000001 トラック数のエラーです。"});
  ASSERT_TRUE(many.multiTrack);
  EXPECT_EQ(many.multiTrack->trackCount, 64);
  PrepareSong(ctx, many);
  ASSERT_TRUE(many.song);
  EXPECT_EQ(Notes(*many.song->track).size(), 128u);

  rec.Clear();
  const Bytes three = SmfFile(1, 480, {Melody(0), Melody(1), Melody(2)});
  const MidiLoader fewer = Load(WithTrackCount(three, 4));
  EXPECT_EQ(rec.texts(), std::vector<std::string>{kFormat1Short});
  ASSERT_TRUE(fewer.multiTrack);
  EXPECT_EQ(fewer.multiTrack->trackCount, 3);

  // Declaring no track: a failed load that says so, with no master volume put anywhere.
  rec.Clear();
  const MidiLoader none = Load(SmfFile(1, 480, {}));
  EXPECT_EQ(none.fileLength, 0);
  EXPECT_FALSE(none.multiTrack);
  EXPECT_EQ(rec.texts(), std::vector<std::string>{kNotMidi});
  rec.Clear();
  const MidiLoader noneWithChunk = Load(WithTrackCount(three, 0));
  EXPECT_EQ(noneWithChunk.fileLength, 0);
  EXPECT_EQ(rec.texts(), std::vector<std::string>{kNotMidi});
}

TEST_F(SmfReader, FormatsOtherThanZeroAndOneAndNeitherReaderAccepting) {
  const MidiLoader two = Load(SmfFile(2, 480, {Melody(0)}));
  EXPECT_EQ(two.fileLength, 0);
  EXPECT_EQ(rec.texts(), std::vector<std::string>{kNotMidi});

  // A format-0 header with two tracks: refused once, no hand-over back and forth.
  rec.Clear();
  const MidiLoader zeroTwo = Load(SmfFile(0, 480, {Melody(0), Melody(1)}));
  EXPECT_EQ(zeroTwo.fileLength, 0);
  EXPECT_FALSE(zeroTwo.multiTrack);
  EXPECT_EQ(rec.texts(), std::vector<std::string>{kNotMidi});

  // Format bytes 00 01 without "MThd".
  rec.Clear();
  Bytes noTag = SmfFile(1, 480, {Melody(0)});
  std::copy_n("RIFF", 4, noTag.begin());
  const MidiLoader riff = Load(noTag);
  EXPECT_EQ(riff.fileLength, 0);
  EXPECT_EQ(rec.texts(),
            std::vector<std::string>{
                "M1DT03000004 Midiファイルではないか、ファイルにマックバイナリがついています。"});
}

TEST_F(SmfReader, FileSizeLimits) {
  const MidiLoader huge = Load(Bytes(1'000'000, 0));
  EXPECT_EQ(huge.fileLength, 0);
  EXPECT_EQ(rec.texts(),
            std::vector<std::string>{
                "MDLD17000003 Midiファイルの読み込みでデータが大きすぎてロードできませんでした。"});

  // Format 1: the whole file must fit the 0x60000-byte image.
  Bytes fits = SmfFile(1, 480, {Melody(0)});
  fits.resize(0x60000, 0);
  rec.Clear();
  EXPECT_NE(Load(fits).fileLength, 0);
  EXPECT_TRUE(rec.reports().empty());
  fits.push_back(0);
  const MidiLoader over = Load(fits);
  EXPECT_EQ(over.fileLength, 0);
  EXPECT_FALSE(over.multiTrack);
  EXPECT_EQ(rec.texts(), std::vector<std::string>{"M1DT03000019 データが大きすぎます。"});

  // Format 0: the image is cut at 0x60000 bytes, the chunk runs past it and nothing is
  // left: a failed load, not a silent song.
  TrackBytes longTrack = Melody(0);
  longTrack.Text(0, 1, std::string(500'000, 'x'));
  rec.Clear();
  const MidiLoader cut = Load(SmfFile(0, 480, {longTrack}));
  EXPECT_EQ(cut.fileLength, 0);
  EXPECT_FALSE(cut.multiTrack);
  EXPECT_EQ(rec.texts(), std::vector<std::string>{kTrackInternal});
}

TEST_F(SmfReader, MasterVolumeGoesOnTheFirstTrackWithChannelEvents) {
  TrackBytes conductor;
  conductor.Tempo(0, 500000).Event(0, {0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7});
  conductor.EndOfTrack(10);
  MidiLoader loader = Load(SmfFile(1, 480, {conductor, Melody(2), Melody(3)}));
  EXPECT_TRUE(rec.reports().empty());
  ASSERT_TRUE(loader.multiTrack);
  const MidiTrack& first = *loader.multiTrack->tracks[0];
  const MidiTrack& second = *loader.multiTrack->tracks[1];
  EXPECT_EQ(first.count(), 3);
  const MidiEvent& mv = second.events[0];
  EXPECT_EQ(mv.status, st::kSysEx);
  EXPECT_EQ(mv.kind, sysex::kMasterVolume);
  EXPECT_EQ(mv.value, 127);
  EXPECT_EQ(mv.delta, 0);
  EXPECT_EQ(Bytes(mv.data.begin(), mv.data.begin() + mv.size), kMasterVolume);
  EXPECT_EQ(Times(second), (std::vector<int64_t>{0, 0, 240, 480}));
  EXPECT_EQ(loader.multiTrack->tracks[2]->count(), 3);

  // No channel events anywhere: track 0.
  const MidiLoader metaOnly = Load(SmfFile(1, 480, {TrackBytes().EndOfTrack(0), conductor}));
  ASSERT_TRUE(metaOnly.multiTrack);
  EXPECT_EQ(metaOnly.multiTrack->tracks[0]->events[0].kind, sysex::kMasterVolume);

  // Set on two tracks: one warning, nothing added or removed.
  TrackBytes withVolume = Melody(1);
  withVolume.Event(0, {0xF0, 0x07, 0x7F, 0x7F, 0x04, 0x01, 0x00, 0x40, 0xF7});
  rec.Clear();
  const MidiLoader twice = Load(SmfFile(1, 480, {withVolume, Melody(2), withVolume}));
  EXPECT_EQ(rec.texts(),
            std::vector<std::string>{"M1DT03000006 マスターボリュームが複数設定されています。"});
  ASSERT_TRUE(twice.multiTrack);
  EXPECT_EQ(twice.multiTrack->tracks[1]->count(), 3);
}

TEST_F(SmfReader, ChunkTagsAndHeaderLength) {
  // XF chunks are read as tracks; other chunks are skipped by their length and do not
  // count as tracks.
  const Bytes junk = Chunk("Junk", Bytes(37, 0x90));
  Bytes file = WithTrackCount(SmfFile(1, 480, {}), 3);
  file = Concat(file, junk);
  file = Concat(file, Melody(0).Chunk());
  file = Concat(file, junk);
  file = Concat(file, Chunk("XFIH", Melody(1).events()));
  file = Concat(file, Chunk("XFKM", Melody(2).events()));
  MidiLoader loader = LoadAndPrepare(file);
  EXPECT_TRUE(rec.reports().empty());
  ASSERT_TRUE(loader.song);
  EXPECT_EQ(Notes(*loader.song->track).size(), 6u);

  // A header longer than 6 bytes.
  Bytes longHeader = SmfFile(1, 480, {Melody(0)});
  longHeader[7] = 10;
  longHeader.insert(longHeader.begin() + 14, {1, 2, 3, 4});
  const MidiLoader lh = LoadAndPrepare(longHeader);
  ASSERT_TRUE(lh.song);
  EXPECT_EQ(Notes(*lh.song->track).size(), 2u);
  EXPECT_TRUE(rec.reports().empty());

  // A foreign chunk whose length runs past the end: skipped to the end, no track left.
  rec.Clear();
  Bytes runaway = WithTrackCount(SmfFile(1, 480, {}), 1);
  runaway = Concat(runaway, {'J', 'u', 'n', 'k', 0xFF, 0xFF, 0xFF, 0xFF, 1, 2});
  const MidiLoader rl = Load(runaway);
  EXPECT_EQ(rl.fileLength, 0);
  EXPECT_EQ(rec.texts(), std::vector<std::string>{kFormat1Short});
}

TEST_F(SmfReader, BrokenChunksLeaveEmptyTracks) {
  // Track 2 says it is longer than the file: it stays empty, and the load goes on.
  Bytes file = SmfFile(1, 480, {Melody(0)});
  const Bytes second = Melody(1).Chunk();
  file = Concat(WithTrackCount(file, 2), Bytes(second.begin(), second.end() - 3));
  MidiLoader loader = Load(file);
  EXPECT_EQ(rec.texts(), std::vector<std::string>{kTrackInternal});
  ASSERT_TRUE(loader.multiTrack);
  ASSERT_EQ(loader.multiTrack->trackCount, 2);
  EXPECT_EQ(loader.multiTrack->tracks[1]->count(), 0);
  EXPECT_EQ(loader.multiTrack->tracks[1]->state, ts::kNotes);
  PrepareSong(ctx, loader);
  ASSERT_TRUE(loader.song);
  EXPECT_EQ(Notes(*loader.song->track).size(), 2u);

  // Every chunk broken, or empty: nothing to play is a failed load.
  rec.Clear();
  const MidiLoader allBroken =
      Load(Concat(WithTrackCount(SmfFile(1, 480, {}), 1), Bytes(second.begin(), second.end() - 1)));
  EXPECT_EQ(allBroken.fileLength, 0);
  EXPECT_EQ(rec.texts(), std::vector<std::string>{kTrackInternal});
  rec.Clear();
  const MidiLoader empty = Load(SmfFile(1, 480, {TrackBytes(), TrackBytes()}));
  EXPECT_EQ(empty.fileLength, 0);
  EXPECT_EQ(rec.texts(), std::vector<std::string>{kNotMidi});

  // The chunk reader itself: another tag, and a chunk header cut short.
  rec.Clear();
  MidiTrack track;
  const Bytes other = Chunk("Junk", {0, 0xFF, 0x2F, 0});
  EXPECT_EQ(ReadTrackChunk(ctx, track, other, 0), 0);
  EXPECT_EQ(track.count(), 0);
  EXPECT_EQ(track.state, ts::kEvents);
  const Bytes cutHeader{'M', 'T', 'r', 'k', 0, 0};
  EXPECT_EQ(ReadTrackChunk(ctx, track, cutHeader, 0), 6);
  EXPECT_EQ(ReadTrackChunk(ctx, track, cutHeader, 7), 0);
  EXPECT_EQ(track.count(), 0);
  EXPECT_EQ(rec.texts(),
            (std::vector<std::string>{
                "MDTK0D000007 MIDIファイルではないか、マックバイナリがついているファイルです。",
                kTrackInternal,
                "MDTK0D000007 MIDIファイルではないか、マックバイナリがついているファイルです。"}));
}

TEST_F(SmfReader, Divisions) {
  const MidiLoader zero = Load(SmfFile(1, 0, {Melody(0)}));
  EXPECT_EQ(zero.fileLength, 0);
  EXPECT_EQ(rec.texts(), std::vector<std::string>{kNotMidi});
  rec.Clear();
  EXPECT_EQ(Load(SmfFile(0, 0, {Melody(0)})).fileLength, 0);
  EXPECT_EQ(rec.texts(), std::vector<std::string>{kNotMidi});

  // SMPTE: kept as the header has it.
  rec.Clear();
  MidiLoader smpte = LoadAndPrepare(SmfFile(1, 0xE728, {Melody(0)}));
  EXPECT_TRUE(rec.reports().empty());
  ASSERT_TRUE(smpte.song);
  EXPECT_EQ(smpte.song->division, 0xE728);
  EXPECT_EQ(Load(SmfFile(1, 0xE700, {Melody(0)})).fileLength, 0);  // no ticks per frame
}

TEST_F(SmfReader, PreparedTrackNamesAndOrder) {
  const TrackBytes piano =
      TrackBytes().Text(0, 3, "Piano").NoteOn(0, 0, 60, 1).NoteOff(10, 0, 60).EndOfTrack(0);
  const TrackBytes bass =
      TrackBytes().Text(0, 3, "Bass").NoteOn(0, 1, 40, 2).NoteOff(10, 1, 40).EndOfTrack(0);
  MidiLoader loader = LoadAndPrepare(SmfFile(1, 480, {piano, bass}));
  ASSERT_TRUE(loader.song);
  const MidiTrack& t = *loader.song->track;
  std::string name;
  EXPECT_EQ(GetTrackName(t, name), 1);
  EXPECT_EQ(name, "Bass / Piano");
  // Track 0's note first, then track 1's at the same tick.
  EXPECT_EQ(Notes(t), (std::vector<NoteRow>{{0, 0, 60, 1, 10}, {0, 1, 40, 2, 10}}));

  rec.Clear();
  MidiLoader failed = Load(Bytes{1, 2, 3});
  rec.Clear();
  PrepareSong(ctx, failed);
  EXPECT_FALSE(failed.song);
  EXPECT_EQ(rec.texts(), std::vector<std::string>{
                             "MDLD17000001 Midiファイルの読み込みで内部エラーが発生しました。"});
}

TEST_F(SmfReader, LoadsFromFiles) {
  test::TempDir dir;
  const Bytes song = SmfFile(1, 480, {Melody(0)});
  test::WriteBytes(dir / "song.mid", song);
  MidiLoader loader = LoadSmf(ctx, (dir / "song.mid").string());
  EXPECT_TRUE(rec.reports().empty());
  EXPECT_EQ(loader.fileLength, static_cast<int64_t>(song.size()));
  EXPECT_EQ(loader.path, (dir / "song.mid").string());
  ASSERT_TRUE(loader.multiTrack);

  EXPECT_EQ(LoadSmf(ctx, (dir / "missing.mid").string()).fileLength, 0);
  EXPECT_EQ(rec.texts(), std::vector<std::string>{"Midiファイルが開けませんでした。"});
  rec.Clear();
  EXPECT_EQ(LoadSmf(ctx, dir.path().string()).fileLength, 0);
  EXPECT_EQ(rec.reports().size(), 1u);

  // Larger than the loader takes, and larger than the format-1 image.
  rec.Clear();
  Bytes big = song;
  big.resize(0xF0000, 0);
  test::WriteBytes(dir / "big.mid", big);
  EXPECT_EQ(LoadSmf(ctx, (dir / "big.mid").string()).fileLength, 0);
  EXPECT_TRUE(rec.Contains("MDLD17000003"));
  rec.Clear();
  big.resize(0xEFFFF);
  test::WriteBytes(dir / "big.mid", big);
  EXPECT_EQ(LoadSmf(ctx, (dir / "big.mid").string()).fileLength, 0);
  EXPECT_EQ(rec.texts(), std::vector<std::string>{"M1DT03000019 データが大きすぎます。"});
  rec.Clear();
  test::WriteBytes(dir / "empty.mid", {});
  EXPECT_EQ(LoadSmf(ctx, (dir / "empty.mid").string()).fileLength, 0);
  EXPECT_EQ(rec.texts(), std::vector<std::string>{kNotMidi});
}

TEST_F(SmfReader, StarPathAsksTheFileOpenHook) {
  test::TempDir dir;
  test::WriteBytes(dir / "chosen.mid", SmfFile(0, 480, {Melody(0)}));
  std::string asked;
  const FileOpenHook choose = [&](const std::string& pattern) -> std::optional<std::string> {
    asked = pattern;
    return (dir / "chosen.mid").string();
  };
  const MidiLoader loader = LoadSmf(ctx, "*.mid", choose);
  EXPECT_EQ(asked, "*.mid");
  EXPECT_NE(loader.fileLength, 0);
  EXPECT_EQ(loader.path, (dir / "chosen.mid").string());

  const FileOpenHook cancel = [](const std::string&) { return std::optional<std::string>{}; };
  EXPECT_EQ(LoadSmf(ctx, "*.mid", cancel).fileLength, 0);
  EXPECT_TRUE(rec.reports().empty());

  // Without a hook the path is an ordinary one.
  EXPECT_EQ(LoadSmf(ctx, (dir / "*.mid").string()).fileLength, 0);
  EXPECT_EQ(rec.texts(), std::vector<std::string>{"Midiファイルが開けませんでした。"});
}

}  // namespace
}  // namespace velorna
