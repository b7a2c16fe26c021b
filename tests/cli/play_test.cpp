// velorna-cli play into the null sink of a PulseAudio daemon, recorded from the sink's
// monitor: each probe note sounds at its target pitch, and A/B turns land at the song times
// asked for. Skipped, saying why, only where no daemon can be started. The sound server may
// put silence in or lose a little of a late stream on a busy machine: the measures allow
// for both.
#include <gtest/gtest.h>

#include <unistd.h>
#include <algorithm>
#include <cmath>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "support/audio_take.h"
#include "support/run_process.h"
#include "support/smf_bytes.h"
#include "support/temp_dir.h"
#include "support/test_paths.h"
#include "support/tone_font.h"

namespace velorna::test {
namespace {

namespace fs = std::filesystem;
constexpr int kRate = kTakeRate;
constexpr int kDivision = 480;        // at 120 bpm: 960 ticks a second
constexpr double kLeadSeconds = 1.0;  // silence before the first note

// Plays the song with `args` into a null sink of its own while its monitor is recorded (with a
// silent stream playing alongside, so that the monitor runs from before the song to after it); the
// recording as 16-bit stereo.
std::vector<int16_t> PlayAndRecord(const fs::path& dir, const std::vector<std::string>& args,
                                   int& status) {
  // A sink of its own: tests that run side by side do not hear each other.
  static int takes = 0;
  const std::string sink =
      "velorna_take_" + std::to_string(getpid()) + "_" + std::to_string(++takes);
  const fs::path take = dir / "take.raw";
  const std::string command =
      "m=$(pactl load-module module-null-sink sink_name=$2) || exit 90; export PULSE_SINK=$2; "
      "pacat --raw --rate=44100 --channels=2 --format=s16le /dev/zero & z=$!; "
      "parec --latency-msec=100 -d $2.monitor --raw --rate=44100 --channels=2 --format=s16le "
      ">\"$1\" & r=$!; until [ -s \"$1\" ]; do sleep 0.05; done; shift 2; \"$@\"; s=$?; "
      "kill $r $z; wait; pactl unload-module $m; exit $s";
  std::vector<std::string> argv = {"/bin/sh",     "-c", command,   "sh",
                                   take.string(), sink, CliPath(), "play"};
  argv.insert(argv.end(), args.begin(), args.end());
  status = RunProcess(argv).exitStatus;
  const Bytes bytes = ReadBytes(take);
  std::vector<int16_t> samples(bytes.size() / 2);
  for (size_t i = 0; i < samples.size(); ++i)
    samples[i] = static_cast<int16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
  return samples;
}

// Takes on a busy machine: the sound server may lose or delay parts of a stream, which
// moves what is recorded, not what was played. Up to three takes are made, until one puts
// every measure (cents off) within its bound; the last is returned for the assertions.
std::vector<double> TakeUntilWithin(const std::function<std::vector<double>(int&)>& take,
                                    const std::vector<double>& bounds) {
  constexpr int kTakes = 3;
  const auto within = [&](const std::vector<double>& off) {
    if (off.size() != bounds.size()) return false;
    for (size_t i = 0; i < off.size(); ++i) {
      if (!(std::abs(off[i]) <= bounds[i])) return false;
    }
    return true;
  };
  std::vector<double> off;
  for (int attempt = 0; attempt < kTakes && !within(off); ++attempt) {
    int status = -1;
    off = take(status);
    EXPECT_EQ(status, 0);
    if (status != 0) break;
  }
  return off;
}

struct PlayTest : ::testing::Test {
  void SetUp() override {
    if (!server.why().empty()) GTEST_SKIP() << server.why();
    ASSERT_TRUE(WriteToneFont(dir / "tone.sf2"));
  }
  AudioServer server;
  TempDir dir;
};

TEST_F(PlayTest, EveryProbeNoteSoundsAtItsTarget) {
  const double cents[12] = {3.3, 12, 4.5, 16, -14.2, -2, -10, 2.7, 14, -16.1, 18, -12};
  const int keys[] = {60, 62, 64, 65, 67, 69, 71, 72};
  TrackBytes t;
  t.Tempo(0, 500000);
  uint32_t delta = static_cast<uint32_t>(kLeadSeconds * 2 * kDivision);
  for (const int key : keys) {
    t.NoteOn(delta, 0, key, 100).NoteOff(2 * kDivision, 0, key);
    delta = 0;
  }
  t.EndOfTrack(0);
  WriteBytes(dir / "probe.mid", SmfFile(0, kDivision, {t}));
  std::string table;
  for (const double c : cents) table += (table.empty() ? "" : ",") + std::to_string(c);
  const auto take = [&](int& status) {
    const std::vector<int16_t> song =
        OnSongClock(PlayAndRecord(dir.path(),
                                  {"--soundfont", (dir / "tone.sf2").string(), "--cents", table,
                                   (dir / "probe.mid").string()},
                                  status),
                    kLeadSeconds);
    std::vector<double> off;
    for (size_t n = 0; n < std::size(keys); ++n) {
      const double start = kLeadSeconds + static_cast<double>(n);
      if (song.size() < static_cast<size_t>((start + 1) * kRate) * 2) break;
      off.push_back(
          CentsAt(song, start + 0.15, start + 0.85, TargetHz(keys[n], cents[keys[n] % 12])));
    }
    return off;
  };
  const std::vector<double> off = TakeUntilWithin(take, std::vector<double>(std::size(keys), 0.1));
  ASSERT_EQ(off.size(), std::size(keys)) << "the take ends early";
  for (size_t n = 0; n < std::size(keys); ++n) {
    SCOPED_TRACE(keys[n]);
    EXPECT_NEAR(off[n], 0.0, 0.1);
  }
}

// A held A4 on the left, 30 cents up in the tuning (A) against equal temperament (B),
// taking turns every 1.5 s of song time from --from: each stretch at its own pitch, and each
// turn where asked, timed from a short marker note on the right 0.1 s before it (a busy
// sound server may lose a little of a late stream, which would move a turn on a clock
// counted from the song's start).
TEST_F(PlayTest, TurnsOfTuningLandWhereAsked) {
  constexpr double kTurn = 1.5, kBefore = 0.1;
  TrackBytes t;
  t.Tempo(0, 500000).Control(0, 0, 10, 0).Control(0, 1, 10, 127).NoteOn(2 * kDivision, 0, 69, 100);
  // Markers at 1.4, 2.9, 4.4 and 5.9 s, each 0.05 s long; the held note ends at 6.5 s.
  const auto ticks = [](double seconds) { return static_cast<uint32_t>(seconds * 2 * kDivision); };
  double at = kLeadSeconds;
  for (int k = 1; k <= 4; ++k) {
    t.NoteOn(ticks(k * kTurn - kBefore - at), 1, 81, 100).NoteOff(ticks(0.05), 1, 81);
    at = k * kTurn - kBefore + 0.05;
  }
  t.NoteOff(ticks(6.5 - at), 0, 69).EndOfTrack(0);
  WriteBytes(dir / "held.mid", SmfFile(0, kDivision, {t}));
  const double a = TargetHz(69, 30), b = TargetHz(69, 0);
  constexpr double kFade = 0.03;
  // How far each stretch is from its pitch: before each turn, just after its fade, and over
  // the stretch that follows (9 values), or nothing when a marker is missing.
  const auto take = [&](int& status) {
    const std::vector<int16_t> song =
        OnSongClock(PlayAndRecord(dir.path(),
                                  {"--soundfont", (dir / "tone.sf2").string(), "--cents",
                                   "0,0,0,0,0,0,0,0,0,30,0,0", "--ab-every", "1.5", "--from", "0",
                                   (dir / "held.mid").string()},
                                  status),
                    kLeadSeconds);
    std::vector<double> off;
    for (int k = 1; k <= 3; ++k) {
      // The marker's onset on the right, looked for around where the song clock puts it:
      // from well before, as a busy sound server may have lost some of the stream before
      // it, but after the previous marker's tone has ended.
      auto onset = static_cast<size_t>((k * kTurn - kBefore - 0.7) * kRate);
      while (2 * onset + 1 < song.size() && std::abs(song[2 * onset + 1]) < 300) ++onset;
      if (2 * onset + 1 >= song.size()) return std::vector<double>{};
      const double turn = static_cast<double>(onset) / kRate + kBefore;
      const double before = k % 2 ? a : b, after = k % 2 ? b : a;
      off.push_back(CentsAt(song, turn - 0.09, turn - 0.01, before));
      off.push_back(CentsAt(song, turn + kFade + 0.01, turn + kFade + 0.11, after));
      off.push_back(CentsAt(song, turn + kFade + 0.05, turn + kTurn - 0.15, after));
    }
    return off;
  };
  // Each turn within a cent on both sides, each stretch within a tenth of a cent.
  const std::vector<double> bounds = {1, 1, 0.1, 1, 1, 0.1, 1, 1, 0.1};
  const std::vector<double> off = TakeUntilWithin(take, bounds);
  ASSERT_EQ(off.size(), bounds.size()) << "a marker is missing";
  for (size_t i = 0; i < off.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_NEAR(off[i], 0.0, bounds[i]);
  }
}

// With no audio output to open, play says so once, with its code, and fails.
TEST(Play, WithoutAnAudioOutputSaysSoAndFails) {
  TempDir dir;
  ASSERT_TRUE(WriteToneFont(dir / "tone.sf2"));
  WriteBytes(dir / "song.mid", Melody(4));
  const ProcessResult r = RunProcess(
      {"/usr/bin/env", "PULSE_SERVER=unix:" + (dir / "none").string(), "ALSA_CONFIG_PATH=/dev/null",
       CliPath(), "play", "--soundfont", (dir / "tone.sf2").string(), (dir / "song.mid").string()});
  EXPECT_EQ(r.exitStatus, 1);
  const std::string code = "AOUT1C000001";
  ASSERT_NE(r.err.find(code), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find(code, r.err.find(code) + 1), std::string::npos) << r.err;
}

}  // namespace
}  // namespace velorna::test
