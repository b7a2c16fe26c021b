// Collections as people convert them: a list of songs into one folder with a report, stopped
// and resumed; the same list in two shards under GNU Parallel; progress fit for a log.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
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
constexpr int kSongs = 200;

// In English, whatever the machine's locale: the checks read the summary's words.
ProcessResult Cli(std::vector<std::string> args, ProcessOptions options = {}) {
  args.insert(args.begin(), CliPath());
  if (options.locale.empty()) options.locale = "en_US.UTF-8";
  return RunProcess(args, options);
}

// One short note, a different key for each song so that no two outputs are alike.
Bytes TinySong(int i) {
  TrackBytes t;
  t.Tempo(0, 500000).NoteOn(0, 0, 36 + i % 60, 90).NoteOff(60, 0, 36 + i % 60).EndOfTrack(0);
  return SmfFile(0, 480, {t});
}

std::vector<std::string> Lines(const fs::path& file) {
  std::vector<std::string> lines;
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// A report line without what differs from run to run (the time, the output's folder), by
// input.
std::map<std::string, std::string> Records(const std::vector<std::string>& lines,
                                           const fs::path& outputDir) {
  std::map<std::string, std::string> records;
  const std::regex input(R"rx("input":"([^"]*)")rx");
  for (std::string line : lines) {
    line = std::regex_replace(line, std::regex(R"("seconds":[0-9.]+,)"), "");
    const std::string folder = outputDir.string() + "/";
    for (size_t at = line.find(folder); at != std::string::npos; at = line.find(folder))
      line.replace(at, folder.size(), "OUT/");
    std::smatch m;
    EXPECT_TRUE(std::regex_search(line, m, input)) << line;
    EXPECT_TRUE(records.emplace(m[1], line).second) << "twice: " << line;
  }
  return records;
}

std::map<std::string, Bytes> Outputs(const fs::path& dir) {
  std::map<std::string, Bytes> outputs;
  for (const auto& entry : fs::directory_iterator(dir))
    outputs[entry.path().filename().string()] = ReadBytes(entry.path());
  return outputs;
}

TEST(CliCollection, StoppedListResumesAndTwoShardsGiveTheSameOutputsAndReport) {
  TempDir dir;
  fs::create_directory(dir / "songs");
  std::ofstream list(dir / "list.txt");
  list << "# tiny songs\n\n";
  for (int i = 0; i < kSongs; ++i) {
    const fs::path song = dir / "songs" / ("song" + std::to_string(i) + ".mid");
    WriteBytes(song, TinySong(i));
    list << song.string() << "\n";
  }
  list.close();
  const std::vector<std::string> common = {
      "convert",        "--soundfont", kSoundFont, "--from-list", (dir / "list.txt").string(),
      "--skip-existing"};
  const auto run = [&](const fs::path& out, const fs::path& report,
                       const ProcessOptions& options = {}) {
    std::vector<std::string> args = common;
    args.insert(args.end(), {"-d", out.string(), "--report", report.string()});
    return Cli(args, options);
  };

  // Stopped by Ctrl-C some way in: what is there is complete, the rest comes on resuming.
  ProcessOptions stop;
  stop.interruptWhen = [](const std::string& err) {
    return std::count(err.begin(), err.end(), '>') >= 40;
  };
  const ProcessResult first = run(dir / "one", dir / "first.jsonl", stop);
  ASSERT_EQ(first.exitStatus, 130) << first.err;
  const std::vector<std::string> firstLines = Lines(dir / "first.jsonl");
  const size_t done = fs::exists(dir / "one") ? Outputs(dir / "one").size() : 0;
  ASSERT_GE(done, 40u);
  ASSERT_LT(done, static_cast<size_t>(kSongs));
  // Songs stopped half way are in the report, but leave no output to be skipped.
  const auto written = [](const std::vector<std::string>& lines) {
    std::vector<std::string> kept;
    for (const std::string& line : lines)
      if (line.find("\"result\":\"written\"") != std::string::npos) kept.push_back(line);
    return kept;
  };
  EXPECT_EQ(written(firstLines).size(), done);
  const ProcessResult resumed = run(dir / "one", dir / "resumed.jsonl");
  ASSERT_EQ(resumed.exitStatus, 0) << resumed.err;
  EXPECT_NE(resumed.err.find(std::to_string(done) + " skipped"), std::string::npos)
      << resumed.err.substr(resumed.err.size() - std::min<size_t>(resumed.err.size(), 300));
  const std::vector<std::string> resumedLines = Lines(dir / "resumed.jsonl");
  ASSERT_EQ(resumedLines.size(), static_cast<size_t>(kSongs));

  // Two shards side by side under GNU Parallel, each with its own report.
  const std::string shardCommand = CliPath() + " convert --soundfont " + kSoundFont +
                                   " --from-list " + (dir / "list.txt").string() + " -d " +
                                   (dir / "two").string() + " --shard {}/2 --report " +
                                   (dir / "shard{}.jsonl").string() + " --no-progress";
  const ProcessResult shards = RunProcess(
      {"/usr/bin/parallel", "--will-cite", "--halt", "now,fail=1", shardCommand, ":::", "1", "2"});
  ASSERT_EQ(shards.exitStatus, 0) << shards.err;

  const std::map<std::string, Bytes> one = Outputs(dir / "one"), two = Outputs(dir / "two");
  EXPECT_EQ(one.size(), static_cast<size_t>(kSongs));
  EXPECT_TRUE(one == two) << "the shards' outputs differ from the single run's";

  // One run's record of every song: the first run's for what it wrote, the resumed run's
  // for the rest; the shards' lines together are the same.
  std::map<std::string, std::string> single = Records(written(firstLines), dir / "one");
  const std::map<std::string, std::string> rest = Records(written(resumedLines), dir / "one");
  EXPECT_EQ(rest.size() + done, static_cast<size_t>(kSongs));
  single.insert(rest.begin(), rest.end());
  std::vector<std::string> shardLines = Lines(dir / "shard1.jsonl");
  const std::vector<std::string> second = Lines(dir / "shard2.jsonl");
  EXPECT_EQ(shardLines.size(), static_cast<size_t>(kSongs / 2));
  shardLines.insert(shardLines.end(), second.begin(), second.end());
  EXPECT_EQ(Records(shardLines, dir / "two"), single);
  EXPECT_NE(
      single.begin()->second.find("\"result\":\"written\",\"codes\":[],\"notes\":1,\"peak_dbfs\":"),
      std::string::npos)
      << single.begin()->second;
}

TEST(CliCollection, OffATerminalProgressIsAFewAsciiLinesAndCanBeTurnedOff) {
  TempDir dir;
  TrackBytes t;
  t.Tempo(0, 500000);
  for (int i = 0; i < 60; ++i) t.NoteOn(0, 0, 48 + i % 24, 90).NoteOff(120, 0, 48 + i % 24);
  WriteBytes(dir / "song.mid", SmfFile(0, 480, {t.EndOfTrack(0)}));
  const std::string song = (dir / "song.mid").string();
  const std::regex progress(R"(^song\.mid: (\d+)% \d\d:\d\d ETA (\d\d:\d\d|--:--)$)");
  for (const bool shown : {true, false}) {
    std::vector<std::string> args = {"convert", "--soundfont", kSoundFont, "--jobs", "1", song};
    if (!shown) args.insert(args.begin() + 1, "--no-progress");
    const ProcessResult r = Cli(args);
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.err.find("％"), std::string::npos) << r.err;
    std::istringstream in(r.err);
    std::vector<int> percents;
    for (std::string line; std::getline(in, line);) {
      std::smatch m;
      if (std::regex_match(line, m, progress)) percents.push_back(std::stoi(m[1]));
    }
    if (!shown) {
      EXPECT_TRUE(percents.empty()) << r.err;
      continue;
    }
    // The first report, then a line per step of 10 % (or 10 s, which this song never takes).
    ASSERT_FALSE(percents.empty()) << r.err;
    EXPECT_LE(percents.size(), 11u) << r.err;
    EXPECT_EQ(percents.back(), 100);
    for (size_t i = 1; i < percents.size(); ++i)
      EXPECT_GT(percents[i] / 10, percents[i - 1] / 10) << r.err;
  }
}

TEST(CliCollection, NamesComeFromTheTemplateAndAMissingSoundFontIsNamedOnce) {
  TempDir dir;
  WriteBytes(dir / "a.mid", TinySong(1));
  WriteBytes(dir / "b.mid", Bytes{'n', 'o', 't', ' ', 'M', 'I', 'D', 'I'});
  const ProcessResult r = Cli({"convert", "--soundfont", kSoundFont, "--preset", "Just", "--tonic",
                               "d", "--format", "flac", "-d", (dir / "out").string(), "--name",
                               "{stem}-{tuning}-{tonic}{ext}", (dir / "a.mid").string()});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_TRUE(fs::exists(dir / "out" / "a-just-D.flac")) << r.err;
  // The SoundFont named is missing: said once with its cause, before any song is tried.
  const ProcessResult bad = Cli({"convert", "--soundfont", (dir / "none.sf2").string(),
                                 (dir / "b.mid").string(), (dir / "missing.mid").string()});
  EXPECT_EQ(bad.exitStatus, 1);
  const std::string named = (dir / "none.sf2").string() + ": No such file or directory";
  const size_t at = bad.err.find(named);
  EXPECT_NE(at, std::string::npos) << bad.err;
  EXPECT_EQ(bad.err.find(named, at + 1), std::string::npos) << bad.err;
  EXPECT_EQ(bad.err.find("b.mid"), std::string::npos) << bad.err;
}

}  // namespace
}  // namespace velorna::test
