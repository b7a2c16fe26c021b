// Loads real files and compares the prepared song with an independent reading of the same
// file (tests/midi/mido_reference.py, on mido).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "midi/smf_reader.h"
#include "midi/song_time.h"
#include "support/test_paths.h"

namespace velorna {
namespace {

namespace fs = std::filesystem;
using NoteRow = std::tuple<int64_t, int, int, int, int>;  // tick, channel, key, velocity, length

const fs::path kSongFolder = "/usr/share/games/openttd/baseset/openmsx";
constexpr int kSongCount = 31;

struct Reading {
  bool ok = false;
  std::vector<NoteRow> notes;
  double seconds = 0;
  std::vector<std::string> messages;
};

Reading ReadWithReference(const fs::path& file) {
  const fs::path script = fs::path(VELORNA_SOURCE_DIR) / "tests/midi/mido_reference.py";
  const std::string command = "/usr/bin/python3 '" + script.string() + "' '" + file.string() + "'";
  Reading r;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return r;
  std::string out;
  char buffer[4096];
  size_t n = 0;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  const int status = pclose(pipe);
  std::istringstream lines(out);
  std::string word;
  while (lines >> word) {
    if (word == "note") {
      NoteRow row;
      auto& [tick, channel, key, velocity, length] = row;
      lines >> tick >> channel >> key >> velocity >> length;
      r.notes.push_back(row);
    } else if (word == "time") {
      lines >> r.seconds;
    } else {
      std::string rest;
      std::getline(lines, rest);
      r.messages.push_back(word + rest);
    }
  }
  r.ok = status == 0;
  return r;
}

Reading ReadWithLoader(const fs::path& file) {
  RecordingReporter rec;
  MidiContext ctx(rec);
  MidiLoader loader = LoadSmf(ctx, file.string());
  Reading r;
  if (loader.fileLength != 0) {
    PrepareSong(ctx, loader);
    if (loader.song) {
      const MidiTrack& track = *loader.song->track;
      int64_t at = 0;
      for (const MidiEvent& e : track.events) {
        at += e.delta;
        if (e.status == st::kNote) {
          r.notes.emplace_back(at, e.channel, e.note, e.velocity, e.duration);
        }
      }
      std::sort(r.notes.begin(), r.notes.end());
      r.seconds = TicksToSeconds(track, TrackLengthTicks(ctx, track), loader.song->division);
      r.ok = true;
    }
  }
  r.messages = rec.texts();
  return r;
}

std::vector<fs::path> MidiFiles(const fs::path& folder) {
  std::vector<fs::path> files;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    if (entry.path().extension() == ".mid") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string JoinMessages(const std::vector<std::string>& messages) {
  std::string out;
  for (const std::string& m : messages) {
    if (!out.empty()) out += " | ";
    for (char c : m) out += c == '\n' ? std::string("\\n") : std::string(1, c);
  }
  return out;
}

TEST(SmfReference, RealSongsMatchAnIndependentReading) {
  const std::vector<fs::path> songs = MidiFiles(kSongFolder);
  ASSERT_EQ(songs.size(), static_cast<size_t>(kSongCount))
      << "the songs come with the package openttd-openmsx (scripts/setup.sh)";
  for (const fs::path& song : songs) {
    SCOPED_TRACE(song.filename().string());
    const Reading expected = ReadWithReference(song);
    ASSERT_TRUE(expected.ok) << JoinMessages(expected.messages);
    const Reading loaded = ReadWithLoader(song);
    EXPECT_TRUE(loaded.ok);
    EXPECT_EQ(loaded.messages, std::vector<std::string>{});
    EXPECT_GT(loaded.notes.size(), 100u);
    EXPECT_EQ(loaded.notes, expected.notes);
    EXPECT_NEAR(loaded.seconds, expected.seconds, 0.001);
  }
}

// tests/data/corpus/expected.tsv: file, then "notes" (notes and playing time equal to the
// independent reading) or "refused <messages>", then the messages a successful load shows.
// With VELORNA_WRITE_CORPUS_TABLE set the table is written from what the loader does.
TEST(SmfReference, CorpusFilesGiveTheirExpectedResult) {
  const fs::path folder = test::DataDir() / "corpus";
  const fs::path table = folder / "expected.tsv";
  const std::vector<fs::path> files = MidiFiles(folder);
  ASSERT_EQ(files.size(), 72u);

  if (std::getenv("VELORNA_WRITE_CORPUS_TABLE") != nullptr) {
    std::ofstream out(table);
    for (const fs::path& file : files) {
      const Reading loaded = ReadWithLoader(file);
      out << file.filename().string() << '\t'
          << (loaded.ok ? "notes" : "refused " + JoinMessages(loaded.messages)) << '\t'
          << (loaded.ok ? JoinMessages(loaded.messages) : "") << '\n';
    }
    GTEST_SKIP() << "wrote " << table;
  }

  std::map<std::string, std::pair<std::string, std::string>> rows;
  std::ifstream in(table);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string name, result, shown;
    std::getline(fields, name, '\t');
    std::getline(fields, result, '\t');
    std::getline(fields, shown, '\t');
    rows[name] = {result, shown};
  }
  ASSERT_EQ(rows.size(), files.size());
  for (const fs::path& file : files) {
    const std::string name = file.filename().string();
    SCOPED_TRACE(name);
    ASSERT_EQ(rows.count(name), 1u);
    const auto& [result, shown] = rows[name];
    const Reading loaded = ReadWithLoader(file);
    if (result == "notes") {
      ASSERT_TRUE(loaded.ok) << JoinMessages(loaded.messages);
      EXPECT_EQ(JoinMessages(loaded.messages), shown);
      const Reading expected = ReadWithReference(file);
      ASSERT_TRUE(expected.ok) << JoinMessages(expected.messages);
      EXPECT_EQ(loaded.notes, expected.notes);
      EXPECT_NEAR(loaded.seconds, expected.seconds, 0.001);
    } else {
      EXPECT_FALSE(loaded.ok);
      EXPECT_EQ("refused " + JoinMessages(loaded.messages), result);
    }
  }
}

}  // namespace
}  // namespace velorna
