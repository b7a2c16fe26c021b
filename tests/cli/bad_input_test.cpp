// Broken and hostile input through velorna-cli, as a user meets it: each case checks the
// messages, the exit status (0: a WAV was written, 1: none was), that the program neither
// crashed nor hung, and that the WAV already standing at the output was either replaced by
// a complete new one or left untouched.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/run_process.h"
#include "support/smf_bytes.h"
#include "support/temp_dir.h"
#include "support/test_paths.h"

namespace velorna::test {
namespace {

namespace fs = std::filesystem;
const char kSoundFont[] = "/usr/share/sounds/sf2/TimGM6mb.sf2";
const Bytes kOldWav{'o', 'l', 'd', ' ', 'w', 'a', 'v'};

const std::string kFinished = "変換が終了しました。";
const std::string kNotMidi = "MDLD17000002 Midiファイルではありません。";
const std::string kTrackInternal = "MDTK0D000001 Midiのトラックデータで内部エラーが発生しました。";
const std::string kMidiOpenFailed = "Midiファイルが開けませんでした。";
const std::string kCannotOpen = "ファイルが開けませんでした。";
const std::string kNoSynth = "ソフトウェア音源が使用できません。 (";
const std::string kTooLarge = "出力が大きすぎます。";

Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// A second and a half: a tempo, a program and two notes on channel 0.
TrackBytes Tune() {
  TrackBytes t;
  t.Tempo(0, 500000).Program(0, 0, 0).NoteOn(0, 0, 60, 100).NoteOff(480, 0, 60);
  t.NoteOn(0, 0, 64, 100).NoteOff(480, 0, 64);
  return t;
}

Bytes TuneFile() {
  TrackBytes t = Tune();
  t.EndOfTrack(0);
  return SmfFile(0, 480, {t});
}

// The chunk of `events` with a length field that says `length`.
Bytes TrackChunkClaiming(const Bytes& events, uint32_t length) {
  Bytes c{'M',
          'T',
          'r',
          'k',
          static_cast<uint8_t>(length >> 24),
          static_cast<uint8_t>(length >> 16),
          static_cast<uint8_t>(length >> 8),
          static_cast<uint8_t>(length)};
  return Concat(c, events);
}

Bytes Header(int format, int tracks) {
  return {'M',  'T',
          'h',  'd',
          0,    0,
          0,    6,
          0,    static_cast<uint8_t>(format),
          0,    static_cast<uint8_t>(tracks),
          0x01, 0xE0};
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// A message line, with or without the song's name in front.
bool HasLine(const std::string& text, const std::string& line) {
  for (const auto& l : Lines(text)) {
    const size_t colon = l.find(": ");
    if (l == line || (colon != std::string::npos && l.substr(colon + 2) == line)) return true;
  }
  return false;
}

uint32_t Le32(const Bytes& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

// A whole WAV in the output format: 44100 Hz, 16-bit stereo, sizes agreeing with the file.
void ExpectCompleteWav(const fs::path& path) {
  const Bytes b = ReadBytes(path);
  ASSERT_GE(b.size(), 44u);
  EXPECT_EQ(std::string(b.begin(), b.begin() + 4), "RIFF");
  EXPECT_EQ(std::string(b.begin() + 8, b.begin() + 16), "WAVEfmt ");
  EXPECT_EQ(Le32(b, 4), b.size() - 8);
  EXPECT_EQ(Le32(b, 24), 44100u);
  EXPECT_EQ(b[22], 2);
  EXPECT_EQ(b[34], 16);
  EXPECT_EQ(Le32(b, 40), b.size() - 44);
  EXPECT_EQ((b.size() - 44) % 4, 0u);
}

std::set<std::string> Names(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
  return names;
}

// What every case shares: the old WAV beside the input, the run, and the checks of the
// exit status, the messages, the output and the folder afterwards.
struct Case {
  std::string input = "song.mid";
  std::string output = "song.wav";
  std::vector<std::string> extraArgs;
  ProcessOptions process;
  bool stopBeforeSound = false;  // interrupted before anything was mixed
};

struct Outcome {
  ProcessResult run;
  bool wrote = false;
};

Outcome RunCase(const TempDir& dir, const Case& c, int expectedExit,
                const std::vector<std::string>& expectedLines) {
  Outcome o;
  if (!fs::exists(dir / c.output)) WriteBytes(dir / c.output, kOldWav);
  const auto before = Names(dir.path());
  std::vector<std::string> args{CliPath(), "convert", "--soundfont", kSoundFont};
  args.insert(args.end(), c.extraArgs.begin(), c.extraArgs.end());
  args.push_back((dir / c.input).string());
  ProcessOptions options = c.process;
  options.timeout = std::chrono::seconds(120);
  o.run = RunProcess(args, options);
  EXPECT_EQ(o.run.exitStatus, expectedExit) << o.run.err;
  // A sanitizer build exits with 1 on a finding, like a conversion that wrote nothing.
  EXPECT_EQ(o.run.err.find("Sanitizer"), std::string::npos) << o.run.err;
  EXPECT_EQ(o.run.err.find("runtime error"), std::string::npos) << o.run.err;
  for (const auto& line : expectedLines)
    EXPECT_TRUE(HasLine(o.run.err, line)) << line << "\n" << o.run.err;
  o.wrote = o.run.exitStatus == 0 || (o.run.exitStatus == 130 && !c.stopBeforeSound);
  EXPECT_EQ(HasLine(o.run.err, kFinished), o.wrote) << o.run.err;
  if (o.wrote) {
    ExpectCompleteWav(dir / c.output);
  } else {
    EXPECT_EQ(ReadBytes(dir / c.output), kOldWav);
  }
  EXPECT_EQ(Names(dir.path()), before) << "files came or went";
  return o;
}

Outcome RunBytes(const Bytes& file, int expectedExit, const std::vector<std::string>& lines) {
  TempDir dir;
  WriteBytes(dir / "song.mid", file);
  return RunCase(dir, Case{}, expectedExit, lines);
}

TEST(BadInput, NothingMidiInIt) {
  RunBytes({}, 1, {kNotMidi});
  const Bytes tune = TuneFile();
  RunBytes(Bytes(tune.begin(), tune.begin() + 10), 1, {kNotMidi});
  RunBytes(Concat(Header(2, 2), Concat(Tune().Chunk(), Tune().Chunk())), 1, {kNotMidi});
  // A 2 MB file is refused before it is read.
  Bytes big = TuneFile();
  big.resize(2 * 1024 * 1024, 0);
  RunBytes(big, 1,
           {"MDLD17000003 Midiファイルの読み込みでデータが大きすぎてロードできませんでした。"});
}

TEST(BadInput, BrokenTrackChunks) {
  const Bytes events = Tune().EndOfTrack(0).events();
  // Cut inside the track chunk's events.
  const Bytes tune = TuneFile();
  RunBytes(Bytes(tune.begin(), tune.begin() + 30), 1, {kTrackInternal});
  // The chunk claims more bytes than the file holds: nothing of it is trusted.
  RunBytes(
      Concat(Header(0, 1), TrackChunkClaiming(events, static_cast<uint32_t>(events.size()) + 500)),
      1, {kTrackInternal});
}

TEST(BadInput, BrokenEventsAreRepairedAndConverted) {
  // A delta time whose bytes never end: read as four bytes, the rest decodes as events.
  TrackBytes endless = Tune();
  endless.Raw({0x81, 0x81, 0x81, 0x81, 0x81, 0x81, 0x81, 0x81});
  RunBytes(SmfFile(0, 480, {endless}), 0, {kTrackInternal});

  // A system exclusive without its closing F7, framed by its length.
  TrackBytes sysex;
  sysex.Event(0, {0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0x02});
  sysex.Raw({0x00, 0xC0, 0x00, 0x00, 0x90, 0x3C, 0x64, 0x83, 0x60, 0x80, 0x3C, 0x00});
  sysex.EndOfTrack(0);
  RunBytes(SmfFile(0, 480, {sysex}), 0, {kFinished});

  // A meta event whose length runs past the end of the chunk.
  TrackBytes meta = Tune();
  meta.Raw({0x00, 0xFF, 0x01, 0x7F, 'a', 'b'});
  RunBytes(SmfFile(0, 480, {meta}), 0, {kTrackInternal});
}

TEST(BadInput, SixtyFiveDeclaredTracks) {
  Bytes file = Header(1, 65);
  for (int i = 0; i < 65; ++i) {
    TrackBytes t = Tune();
    t.EndOfTrack(0);
    file = Concat(file, t.Chunk());
  }
  RunBytes(file, 0, {"M1DT03000001 トラック数のエラーです。"});
}

TEST(BadInput, FolderGivenAsTheInput) {
  TempDir dir;
  fs::create_directory(dir / "folder.mid");
  Case c;
  c.input = "folder.mid";
  c.output = "folder.wav";
  RunCase(dir, c, 1, {kMidiOpenFailed});  // named by the line's song, not again
}

// CI runs as root, for whom permissions deny nothing: these run the program as nobody.
void OpenToNobody(const fs::path& path) {
  fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                            fs::perms::others_read | fs::perms::others_exec);
}

TEST(BadInput, InputWithoutReadPermission) {
  TempDir dir;
  // Only the input is closed: the output may be written.
  fs::permissions(dir.path(), fs::perms::all);
  WriteBytes(dir / "song.mid", TuneFile());
  fs::permissions(dir / "song.mid", fs::perms::owner_read | fs::perms::owner_write);
  WriteBytes(dir / "song.wav", kOldWav);
  fs::permissions(dir / "song.wav", fs::perms::all);
  Case c;
  c.process.unprivileged = true;
  RunCase(dir, c, 1, {kMidiOpenFailed});
}

TEST(BadInput, OutputFolderWithoutWritePermission) {
  TempDir dir;
  OpenToNobody(dir.path());
  WriteBytes(dir / "song.mid", TuneFile());
  fs::permissions(dir / "song.mid", fs::perms::owner_all | fs::perms::others_read);
  fs::create_directory(dir / "locked");
  WriteBytes(dir / "locked" / "out.wav", kOldWav);
  fs::permissions(dir / "locked" / "out.wav", fs::perms::owner_all | fs::perms::others_read);
  OpenToNobody(dir / "locked");  // others may read and enter, not write
  Case c;
  c.output = "locked/out.wav";
  c.extraArgs = {"-o", (dir / "locked" / "out.wav").string()};
  c.process.unprivileged = true;
  RunCase(dir, c, 1, {kCannotOpen});
  EXPECT_EQ(Names(dir / "locked"), (std::set<std::string>{"out.wav"}));
}

TEST(BadInput, SoundFontMissingOrNotASoundFont) {
  TempDir dir;
  WriteBytes(dir / "song.mid", TuneFile());
  const std::string missing = (dir / "none.sf2").string();
  Case c;
  c.extraArgs = {"--soundfont", missing};
  RunCase(dir, c, 1, {kNoSynth + missing + ")"});

  // A MIDI file offered as the SoundFont; the loaders' own complaints only with --verbose.
  c.extraArgs = {"--soundfont", (dir / "song.mid").string()};
  const std::string complaint = "IPATCH_IS_CONTAINER";
  EXPECT_EQ(
      RunCase(dir, c, 1, {kNoSynth + (dir / "song.mid").string() + ")"}).run.err.find(complaint),
      std::string::npos);
  c.extraArgs.push_back("--verbose");
  EXPECT_NE(RunCase(dir, c, 1, {}).run.err.find(complaint), std::string::npos);
}

// 131,062 note-ons that are never released, one track of 393 KB: loading and preparing end
// at once; converting would take days (each note sounds to the track's end), so the user
// stops it and keeps what was mixed.
TEST(BadInput, TrackOfNoteOnsWithoutNoteOffsLoadsAndStops) {
  TempDir dir;
  WriteBytes(dir / "song.mid", ReadBytes(fs::path(VELORNA_SOURCE_DIR) / "fuzz" / "regressions" /
                                         "smf" / "note-ons-without-note-offs.mid"));
  Case c;
  c.process.interruptWhen = [](const std::string& err) {
    return err.find("0%") != std::string::npos;
  };
  // Stopped before anything was mixed: the old output stays as it was, and nothing is left.
  c.stopBeforeSound = true;
  RunCase(dir, c, 130, {});
}

// The longest playing time a track within the reader's limits can claim: one tick per
// quarter at the slowest tempo, and as many of the longest deltas as its image holds (under
// running status), some 3e14 s, past what a sample count holds in 64 bits at 44.1 kHz.
// Every rate refuses it before any rendering, and no cast of its length goes wrong.
TEST(BadInput, PlayingTimeOfAgesIsRefusedAtEveryRate) {
  constexpr uint32_t kSlowestTempo = 0xFFFFFF;
  constexpr uint32_t kLongestDelta = 0x0FFFFFFF;
  constexpr int kEvents = 64000;  // six bytes each: within one track's image
  TrackBytes t;
  t.Tempo(0, kSlowestTempo).NoteOn(0, 0, 60, 100).NoteOff(1, 0, 60);
  t.Control(kLongestDelta, 0, 7, 100);
  for (int k = 0; k < kEvents; ++k) t.Event(kLongestDelta, {7, 100});
  t.EndOfTrack(0);
  TempDir dir;
  WriteBytes(dir / "song.mid", SmfFile(0, 1, {t}));
  for (const char* rate : {"44100", "48000", "96000"}) {
    Case c;
    c.extraArgs = {"--rate", rate};
    RunCase(dir, c, 1, {kTooLarge});
  }
}

}  // namespace
}  // namespace velorna::test
