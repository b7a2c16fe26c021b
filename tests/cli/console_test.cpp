// velorna-cli as people read it: the progress line on a terminal, --quiet, batches, the
// --cents messages and inspect's two listings.
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <regex>
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

ProcessResult Cli(std::vector<std::string> args) {
  args.insert(args.begin(), CliPath());
  return RunProcess(args);
}

// Forty notes at 120 bpm in 3/4, so the progress moves through many percentages.
Bytes Song() {
  TrackBytes t;
  t.Tempo(0, 500000).Event(0, {0xFF, 0x58, 0x04, 3, 2, 24, 8}).Program(0, 0, 0);
  for (int i = 0; i < 40; ++i) t.NoteOn(0, 0, 48 + i % 24, 90).NoteOff(240, 0, 48 + i % 24);
  t.NoteOn(0, 9, 36, 100).NoteOff(240, 9, 36).EndOfTrack(0);
  return SmfFile(0, 480, {t});
}

// Runs velorna-cli on a pseudo-terminal `columns` wide; everything it wrote, as the terminal
// received it.
std::string RunOnTerminal(std::vector<std::string> args, int columns) {
  args.insert(args.begin(), CliPath());
  winsize size{};
  size.ws_row = 24;
  size.ws_col = static_cast<unsigned short>(columns);
  int master = -1;
  const pid_t pid = forkpty(&master, nullptr, nullptr, &size);
  if (pid == 0) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  std::string seen;
  char buffer[4096];
  for (ssize_t n; (n = read(master, buffer, sizeof buffer)) > 0;)
    seen.append(buffer, static_cast<size_t>(n));
  close(master);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << seen;
  return seen;
}

// What the terminal showed at each redraw: the text between carriage returns and line ends,
// without the erase-line sequence.
std::vector<std::string> Redraws(std::string text) {
  text = std::regex_replace(text, std::regex("\x1b\\[K"), "");
  std::vector<std::string> pieces;
  std::string piece;
  for (char c : text) {
    if (c == '\r' || c == '\n') {
      if (!piece.empty()) pieces.push_back(piece);
      piece.clear();
    } else {
      piece += c;
    }
  }
  if (!piece.empty()) pieces.push_back(piece);
  return pieces;
}

// Characters of a UTF-8 text: every byte that does not continue a character.
int Columns(const std::string& text) {
  int n = 0;
  for (char c : text) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}

TEST(CliConsole, ProgressLineFitsTheTerminalAndEndsWithTheOutputAndTime) {
  TempDir dir;
  const std::string name = "a-rather-long-song-name-that-will-not-fit-narrow-terminals.mid";
  WriteBytes(dir / name, Song());
  const std::string out = (dir / "out.wav").string();
  for (const int columns : {40, 120}) {
    const auto redraws = Redraws(RunOnTerminal(
        {"convert", "--soundfont", kSoundFont, "--jobs", "1", "-o", out, (dir / name).string()},
        columns));
    const std::regex progress(R"(^(.+) \[([#.]+)\] (\d+)% (\d\d:\d\d) ETA (\d\d:\d\d|--:--)$)");
    int bars = 0, lastPercent = -1;
    for (const std::string& line : redraws) {
      std::smatch m;
      if (!std::regex_match(line, m, progress)) continue;
      ++bars;
      // One column per character here ("…" included); the last column stays free against
      // wrapping.
      EXPECT_LT(Columns(line), columns) << line;
      EXPECT_GE(std::stoi(m[3]), lastPercent);
      lastPercent = std::stoi(m[3]);
      EXPECT_EQ(Columns(m[1]) < Columns(name), columns == 40) << line;
    }
    EXPECT_GE(bars, 3) << columns;
    EXPECT_EQ(lastPercent, 100);
    ASSERT_FALSE(redraws.empty());
    EXPECT_TRUE(std::regex_match(redraws.back(),
                                 std::regex("^" + name + " -> " + out +
                                            R"( \(\d+\.\d s\) (peak|ピーク) -?\d+\.\d dBFS.*$)")))
        << redraws.back();
  }
}

TEST(CliConsole, QuietSaysNothingOnSuccessAndABatchEndsWithItsSummary) {
  TempDir dir;
  WriteBytes(dir / "good.mid", Song());
  WriteBytes(dir / "bad.mid", Bytes(3 * 1024 * 1024, 'R'));  // no MIDI, and large
  const std::string good = (dir / "good.mid").string(), bad = (dir / "bad.mid").string();

  ProcessResult r = Cli({"convert", "--quiet", "--soundfont", kSoundFont, good});
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(fs::exists(dir / "good.wav"));

  r = Cli({"convert", "--soundfont", kSoundFont, bad, good});
  EXPECT_EQ(r.exitStatus, 1) << r.err;
  EXPECT_NE(r.err.find("bad.mid: MDLD17000002 Midiファイルではありません。\n"), std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("bad.mid: 変換できませんでした。"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("good.mid: 変換が終了しました。\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("good.mid -> " + (dir / "good.wav").string()), std::string::npos);
  EXPECT_TRUE(std::regex_search(r.err, std::regex(R"(\n2 曲: 変換 1、失敗 1 \()"))) << r.err;

  // Quiet: only the failure and the summary.
  r = Cli({"convert", "--quiet", "--soundfont", kSoundFont, bad, good});
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_TRUE(std::regex_match(r.err, std::regex("bad.mid: MDLD17000002 [^\n]*\n"
                                                 R"(bad.mid: 変換できませんでした。 \([^\n]*\)\n)"
                                                 R"(2 曲: 変換 1、失敗 1 \([^\n]*\)\n)")))
      << r.err;
}

TEST(CliConsole, CentsTakeBlanksAndNameTheWrongValue) {
  TempDir dir;
  WriteBytes(dir / "song.mid", Song());
  const std::string song = (dir / "song.mid").string();
  ProcessResult r =
      Cli({"inspect", "--raw", "--bends", "--cents", " 0, 1 ,2,3,4,5,6,7,8,9, 10,  -11 ", song});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_NE(r.out.find(" 0 59 11 -11 2 8192 "), std::string::npos) << r.out;
  r = Cli({"convert", "--cents", "0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 1O1", song});
  EXPECT_EQ(r.exitStatus, 2);
  EXPECT_NE(r.err.find("value 12 \"1O1\""), std::string::npos) << r.err;
  r = Cli({"convert", "--cents", "0,0,0,0,0,0,0,0,0,0,0,101", song});
  EXPECT_NE(r.err.find("value 12 \"101\""), std::string::npos) << r.err;
  r = Cli({"convert", "--cents", "0,0,,0", song});
  EXPECT_NE(r.err.find("value 3 is empty"), std::string::npos) << r.err;
}

TEST(CliInspect, ForPeopleAndRawForScripts) {
  TempDir dir;
  WriteBytes(dir / "song.mid", Song());
  const std::string song = (dir / "song.mid").string();
  const ProcessResult people = Cli({"inspect", song});
  ASSERT_EQ(people.exitStatus, 0) << people.err;
  // Note names with C4 = 60, channels from 1, seconds and bar:beat (3/4, a beat a quarter).
  EXPECT_NE(people.out.find("      0.000  1:1       1    note C3 (48)"), std::string::npos)
      << people.out;
  EXPECT_NE(people.out.find("      1.500  2:1       1    note F#3 (54)"), std::string::npos);
  EXPECT_NE(people.out.find("      1.750  2:1.50    1    note G3 (55)"), std::string::npos);
  EXPECT_NE(people.out.find("10   note C2 (36)"), std::string::npos);
  EXPECT_NE(people.out.find("tempo 120.00 bpm"), std::string::npos);
  EXPECT_NE(people.out.find("time signature 3/4"), std::string::npos);

  const ProcessResult bends = Cli({"inspect", "--bends", song});
  ASSERT_EQ(bends.exitStatus, 0);
  // E3 at -14 cents: 164.814 Hz * 2^(-14/1200).
  EXPECT_NE(
      bends.out.find("E3 (52)       -14.0     163.486  7635 (-14 cents over 2 semitones) +0.00"),
      std::string::npos)
      << bends.out;
  EXPECT_NE(bends.out.find("C2 (36)           -           -  drum channel"), std::string::npos);

  const ProcessResult raw = Cli({"inspect", "--raw", song});
  EXPECT_NE(raw.out.find("\n0 0 16 48 90 240 0 0\n"), std::string::npos) << raw.out;

  for (const char* option : {"-o", "--jobs", "--engine"}) {
    const ProcessResult refused = Cli({"inspect", option, "x", song});
    EXPECT_EQ(refused.exitStatus, 2) << option;
    EXPECT_NE(refused.err.find(std::string(option) + " does not apply to inspect"),
              std::string::npos);
  }
}

// Every meta event a song holds is decoded, texts quoted with their control characters
// escaped; what the reader adds (the master volume) is not listed as the song's.
TEST(CliInspect, DecodesMetaEventsAndListsOnlyWhatTheSongHolds) {
  TempDir dir;
  TrackBytes t;
  t.Text(0, 0x03, "Lead").Text(0, 0x01, "line\x1b[2Jtwo").Text(0, 0x05, "la\n").Text(0, 0x06, "A");
  t.Text(0, 0x02, "(C) us").Text(0, 0x04, "Flute").Text(0, 0x07, "cue");
  struct Signature {
    uint8_t sharps, mode;
    std::string shown;
  };
  const std::vector<Signature> keys{
      {0, 0, "key signature C major (no sharps or flats)"},
      {2, 0, "key signature D major (2 sharps)"},
      {0xFD, 1, "key signature C minor (3 flats)"},
      {0xF9, 0, "key signature Cb major (7 flats)"},
      {7, 1, "key signature A# minor (7 sharps)"},
      {1, 1, "key signature E minor (1 sharp)"},
      {9, 0, "key signature (sharps 9, mode 0, not a key)"},
  };
  for (const Signature& k : keys) t.Event(0, {0xFF, 0x59, 0x02, k.sharps, k.mode});
  t.Event(0, {0xFF, 0x58, 0x04, 6, 3, 24, 8}).Tempo(0, 400000);
  t.NoteOn(0, 0, 60, 90).NoteOff(480, 0, 60).EndOfTrack(0);
  WriteBytes(dir / "meta.mid", SmfFile(0, 480, {t}));
  const ProcessResult r = Cli({"inspect", (dir / "meta.mid").string()});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  std::vector<std::string> wanted{
      "track name \"Lead\"", "text \"line\\x1b[2Jtwo\"", "lyric \"la\\n\"",
      "marker \"A\"",        "copyright \"(C) us\"",     "instrument name \"Flute\"",
      "cue point \"cue\"",   "time signature 6/8",       "tempo 150.00 bpm"};
  for (const Signature& k : keys) wanted.push_back(k.shown);
  for (const std::string& line : wanted)
    EXPECT_NE(r.out.find("    " + line + "\n"), std::string::npos) << line << "\n" << r.out;
  for (const char* absent : {"system exclusive", "meta ", "\x1b"})
    EXPECT_EQ(r.out.find(absent), std::string::npos) << absent << "\n" << r.out;
}

}  // namespace
}  // namespace velorna::test
