// Playback against the conversion it previews: from the song's start it is sample for
// sample what convert writes, and a switch of tuning asked for a song frame lands on it.
#include "conversion/preview_player.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "audio/render_synth.h"
#include "conversion/conversion_job.h"
#include "support/smf_bytes.h"
#include "support/sound_files.h"
#include "support/temp_dir.h"
#include "support/tone_font.h"

namespace velorna::test {
namespace {

namespace fs = std::filesystem;
const char kSoundFont[] = "/usr/share/sounds/sf2/TimGM6mb.sf2";
constexpr int kRate = 44100;

class NoProgress : public JobObserver {
 public:
  void ShowProgress(const JobProgress&) override {}
};

std::vector<int16_t> Converted(const fs::path& song, const std::string& font,
                               const PreviewTuning& tuning, const fs::path& out) {
  ConversionOptions options;
  options.tuning = tuning.tuning;
  options.adaptive = tuning.adaptive;
  options.soundFont = font;
  options.outputPath = out.string();
  JobControl control;
  NoProgress progress;
  RecordingReporter messages;
  EXPECT_EQ(RunConversion(song.string(), options, control, progress, messages),
            ConversionResult::kWritten);
  return WavSamples(out);
}

// Pulls the player to its end as an output would, in periods, waiting where the rendering
// is behind (a test has no audio clock to keep).
std::vector<int16_t> PullToEnd(PreviewPlayer& player, const std::function<void()>& afterPull = {}) {
  constexpr size_t kPeriodFrames = 441;  // not a block multiple: periods fall anywhere
  std::vector<float> period(kPeriodFrames * 2);
  std::vector<int16_t> heard;
  while (!player.ended()) {
    const int64_t before = player.position();
    player.Pull(period);
    const auto got = static_cast<size_t>(player.position() - before);
    if (got == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    for (size_t i = 0; i < got * 2; ++i) heard.push_back(FloatToSample(period[i]));
    if (afterPull) afterPull();
  }
  return heard;
}

// The first sample where two sample lists differ (or their lengths do); -1 when equal.
ptrdiff_t FirstDifference(const std::vector<int16_t>& a, const std::vector<int16_t>& b) {
  const auto [x, y] = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
  return x == a.end() && y == b.end() ? -1 : x - a.begin();
}

// A pedalled piano with reverb, a string chord with chorus, drums and a tempo change.
Bytes BusySong() {
  TrackBytes t;
  t.Tempo(0, 500000).Program(0, 0, 0).Program(0, 1, 48);
  t.Control(0, 0, 91, 90).Control(0, 1, 93, 80).Control(0, 0, 64, 127);
  t.NoteOn(0, 1, 52, 70).NoteOn(0, 1, 55, 70).NoteOn(0, 1, 60, 70);
  for (int beat = 0; beat < 8; ++beat) {
    if (beat == 4) t.Tempo(0, 400000);
    t.NoteOn(0, 9, beat % 2 ? 38 : 36, 100).NoteOn(0, 0, 64 + beat, 90);
    t.NoteOff(240, 9, beat % 2 ? 38 : 36).NoteOff(240, 0, 64 + beat);
  }
  t.Control(0, 0, 64, 0).NoteOff(0, 1, 52).NoteOff(0, 1, 55).NoteOff(0, 1, 60).EndOfTrack(480);
  return SmfFile(0, 480, {t});
}

TEST(PreviewPlayer, FromTheStartPlaysWhatConvertWrites) {
  TempDir dir;
  WriteBytes(dir / "song.mid", BusySong());
  PreviewTuning meantone;
  meantone.tuning.keys = KeyTableFromCents({0, -24, -7, 10, -14, 3, -21, -3, -27, -10, 7, -17});
  PreviewTuning adaptive;
  adaptive.adaptive = true;
  const std::pair<const char*, PreviewTuning> cases[] = {
      {"pure", PreviewTuning{}},
      {"meantone", meantone},
      {"adaptive", adaptive},
  };
  for (const auto& [name, tuning] : cases) {
    SCOPED_TRACE(name);
    RecordingReporter messages;
    auto player = PreviewPlayer::Open((dir / "song.mid").string(), kSoundFont, kRate, messages);
    ASSERT_TRUE(player);
    ASSERT_TRUE(player->SetTuning(tuning));
    player->Play();
    const std::vector<int16_t> heard = PullToEnd(*player);
    const std::vector<int16_t> written =
        Converted(dir / "song.mid", kSoundFont, tuning, dir / (std::string(name) + ".wav"));
    ASSERT_GT(written.size(), size_t{kRate} * 2 * 4);
    EXPECT_EQ(FirstDifference(heard, written), -1);
    EXPECT_TRUE(messages.texts().empty());
  }
}

// A held pure tone, 30 cents up in A, in equal temperament in B, with the conversions in
// both tunings to hold the player's switches against.
struct ToneSwitch : ::testing::Test {
  void SetUp() override {
    ASSERT_TRUE(WriteToneFont(dir / "tone.sf2"));
    TrackBytes t;
    t.Tempo(0, 500000).NoteOn(0, 0, 69, 100).NoteOff(8 * 480, 0, 69).EndOfTrack(0);
    WriteBytes(dir / "tone.mid", SmfFile(0, 480, {t}));
    a.tuning.keys = KeyTableFromCents({0, 0, 0, 0, 0, 0, 0, 0, 0, 30, 0, 0});
    writtenA = Converted(dir / "tone.mid", font(), a, dir / "a.wav");
    writtenB = Converted(dir / "tone.mid", font(), EqualTemperament(), dir / "b.wav");
    ASSERT_EQ(writtenA.size(), writtenB.size());
  }
  std::string font() const { return (dir / "tone.sf2").string(); }
  std::unique_ptr<PreviewPlayer> OpenInA() {
    auto player = PreviewPlayer::Open((dir / "tone.mid").string(), font(), kRate, messages);
    EXPECT_TRUE(player && player->SetTuning(a));
    return player;
  }
  // Whether `heard` from song frame `from` to `to` is `written` there.
  static bool Same(const std::vector<int16_t>& heard, const std::vector<int16_t>& written,
                   int64_t from, int64_t to) {
    return std::equal(heard.begin() + from * 2, heard.begin() + to * 2, written.begin() + from * 2);
  }

  TempDir dir;
  RecordingReporter messages;
  PreviewTuning a;
  std::vector<int16_t> writtenA, writtenB;
  const int64_t fade = static_cast<int64_t>(kCrossfadeSeconds * kRate);
};

// Switched to B and back at frames asked for, the way back asked once the first has landed:
// before each frame, sample for sample the conversion in the tuning left; from the
// crossfade's end on, the one entered.
TEST_F(ToneSwitch, SwitchesAskedForSongFramesLandOnThem) {
  const std::pair<int64_t, int64_t> cases[] = {
      {kRate, 2 * kRate}, {kRate * 137 / 100, kRate * 3 - 7}, {kRate / 2, kRate / 2 + 4410}};
  for (const auto& [there, back] : cases) {
    SCOPED_TRACE(there);
    auto player = OpenInA();
    player->Play();
    player->SelectB(true, there);
    bool asked = false;
    const std::vector<int16_t> heard = PullToEnd(*player, [&] {
      if (asked || player->lastSwitchFrame() != there) return;
      player->SelectB(false, back);
      asked = true;
    });
    ASSERT_EQ(heard.size(), writtenB.size());
    const auto end = static_cast<int64_t>(heard.size() / 2);
    EXPECT_EQ(player->lastSwitchFrame(), back);
    EXPECT_TRUE(Same(heard, writtenA, 0, there));
    EXPECT_FALSE(Same(heard, writtenA, there, there + fade));
    EXPECT_TRUE(Same(heard, writtenB, there + fade, back));
    EXPECT_TRUE(Same(heard, writtenA, back + fade, end));
  }
}

// A/B asked for now, once the other tuning renders alongside (the front end tends the
// player) and holds the position: it lands on the position heard, and from there on it is
// B's conversion at the same song frames.
TEST_F(ToneSwitch, AnABSwitchNowLandsAtTheSamePosition) {
  auto player = OpenInA();
  player->Play();
  int64_t askedAt = -1;
  const std::vector<int16_t> heard = PullToEnd(*player, [&] {
    player->Collect();
    if (askedAt >= 0 || player->position() < kRate) return;
    while (!player->readyToSwitch()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    askedAt = player->position();
    player->SelectB(true);
  });
  ASSERT_EQ(heard.size(), writtenB.size());
  const int64_t landed = player->lastSwitchFrame();
  EXPECT_EQ(landed, askedAt);
  EXPECT_TRUE(Same(heard, writtenA, 0, landed));
  EXPECT_TRUE(Same(heard, writtenB, landed + fade, static_cast<int64_t>(heard.size() / 2)));
}

}  // namespace
}  // namespace velorna::test
