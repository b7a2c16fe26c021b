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

// A held pure tone switched from A (30 cents up) to B (equal temperament) and back at
// frames asked for, the way back asked once the first has landed: before each frame, sample
// for sample the conversion in the tuning left; from the crossfade's end on, the one entered.
TEST(PreviewPlayer, SwitchesAskedForSongFramesLandOnThem) {
  TempDir dir;
  ASSERT_TRUE(WriteToneFont(dir / "tone.sf2"));
  TrackBytes t;
  t.Tempo(0, 500000).NoteOn(0, 0, 69, 100).NoteOff(8 * 480, 0, 69).EndOfTrack(0);
  WriteBytes(dir / "tone.mid", SmfFile(0, 480, {t}));
  const std::string font = (dir / "tone.sf2").string();
  PreviewTuning a;
  a.tuning.keys = KeyTableFromCents({0, 0, 0, 0, 0, 0, 0, 0, 0, 30, 0, 0});
  const std::vector<int16_t> writtenA = Converted(dir / "tone.mid", font, a, dir / "a.wav");
  const std::vector<int16_t> writtenB =
      Converted(dir / "tone.mid", font, EqualTemperament(), dir / "b.wav");
  ASSERT_EQ(writtenA.size(), writtenB.size());
  const auto fade = static_cast<ptrdiff_t>(kCrossfadeSeconds * kRate) * 2;

  const std::pair<int64_t, int64_t> cases[] = {
      {kRate, 2 * kRate}, {kRate * 137 / 100, kRate * 3 - 7}, {kRate / 2, kRate / 2 + 4410}};
  for (const auto& [there, back] : cases) {
    SCOPED_TRACE(there);
    RecordingReporter messages;
    auto player = PreviewPlayer::Open((dir / "tone.mid").string(), font, kRate, messages);
    ASSERT_TRUE(player);
    ASSERT_TRUE(player->SetTuning(a));
    player->Play();
    player->SelectB(true, there);
    bool asked = false;
    const std::vector<int16_t> heard = PullToEnd(*player, [&] {
      if (asked || player->lastSwitchFrame() != there) return;
      player->SelectB(false, back);
      asked = true;
    });
    ASSERT_EQ(heard.size(), writtenB.size());
    EXPECT_EQ(player->lastSwitchFrame(), back);
    const auto at = [&](int64_t frame) { return heard.begin() + frame * 2; };
    const auto in = [&](const std::vector<int16_t>& w, int64_t frame) {
      return w.begin() + frame * 2;
    };
    EXPECT_TRUE(std::equal(heard.begin(), at(there), writtenA.begin()));
    EXPECT_FALSE(std::equal(at(there), at(there) + fade, in(writtenA, there)));
    EXPECT_TRUE(std::equal(at(there) + fade, at(back), in(writtenB, there) + fade));
    EXPECT_TRUE(std::equal(at(back) + fade, heard.end(), in(writtenA, back) + fade));
  }
}

}  // namespace
}  // namespace velorna::test
