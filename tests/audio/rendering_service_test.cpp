#include "audio/rendering_service.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "render_songs.h"
#include "support/smf_bytes.h"
#include "support/temp_dir.h"

namespace velorna {
namespace {

using test::Bytes;
using test::TrackBytes;

// A format-1 file: tempo in the first track, a chord with reverb and chorus in the second.
Bytes ChordFile() {
  TrackBytes conductor;
  conductor.Tempo(0, 400000).EndOfTrack(0);
  TrackBytes music;
  music.Control(0, 0, 91, 100)
      .Control(0, 0, 93, 100)
      .Program(0, 0, 5)
      .NoteOn(240, 0, 60, 100)
      .NoteOn(0, 0, 64, 90)
      .Event(0, {0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7})
      .NoteOff(480, 0, 60)
      .NoteOff(0, 0, 64)
      .EndOfTrack(0);
  return test::SmfFile(1, 480, {conductor, music});
}

class RenderingServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    font_ = ResolveSoundFont(reporter_, test::kTestSoundFont);
    ASSERT_TRUE(font_);
    EXPECT_EQ(font_->path, test::kTestSoundFont);
  }
  test::TempDir dir_;
  RecordingReporter reporter_;
  std::unique_ptr<LoadedSoundFont> font_;
};

std::vector<int16_t> WaveSamples(const Bytes& wav) {
  std::vector<int16_t> samples;
  for (size_t i = 44; i + 1 < wav.size(); i += 2) {
    samples.push_back(static_cast<int16_t>(wav[i] | (wav[i + 1] << 8)));
  }
  return samples;
}

TEST_F(RenderingServiceTest, AiffReadsBackToTheRenderedSamples) {
  const auto midi = dir_ / "song_tmp.mid";
  const auto wav = dir_ / "song_tmp.wav";
  test::WriteBytes(midi, ChordFile());
  ASSERT_TRUE(RenderMidiToWave(*font_, reporter_, midi, wav));
  EXPECT_TRUE(reporter_.texts().empty());

  // The same song rendered in memory, from song frame 0.
  MidiTrack conductor = test::TrackBuilder().Tempo(0, 400000).Build();
  MidiTrack music = test::TrackBuilder()
                        .Control(0, 0, 91, 100)
                        .Control(0, 0, 93, 100)
                        .Program(0, 0, 5)
                        .NoteOn(240, 0, 60, 100)
                        .NoteOn(240, 0, 64, 90)
                        .SysEx(240, {0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7})
                        .NoteOff(720, 0, 60)
                        .NoteOff(720, 0, 64)
                        .Build();
  const MidiTrack* tracks[] = {&conductor, &music};
  const auto events = TimeTrackEvents(std::span<const MidiTrack* const>(tracks), 480);
  ASSERT_TRUE(events.has_value());
  Rendering expected;
  ASSERT_TRUE(RenderTimedEvents(*font_, *events, expected));
  EXPECT_GT(expected.startFrame, 0);  // the lead-in was skipped, the file still has it

  const Bytes aiff = test::ReadBytes(dir_ / "song_tmp.aiff");
  ASSERT_GE(aiff.size(), 54u);
  EXPECT_EQ(std::string(aiff.begin() + 12, aiff.begin() + 16), "COMM");
  EXPECT_EQ(std::string(aiff.begin() + 38, aiff.begin() + 42), "SSND");
  EXPECT_EQ(WaveSamples(test::ReadBytes(wav)), test::FromFrameZero(expected));
}

TEST_F(RenderingServiceTest, UnreadableFileGivesItsMessage) {
  const std::string missing = (dir_ / "missing.mid").string();
  EXPECT_FALSE(RenderMidiToWave(*font_, reporter_, missing, dir_ / "out.wav"));
  EXPECT_EQ(reporter_.texts(), std::vector<std::string>{"エラー発生 " + missing});

  reporter_.Clear();
  const std::string junk = (dir_ / "junk.mid").string();
  test::WriteBytes(junk, Bytes(100, 0x41));
  EXPECT_FALSE(RenderMidiToWave(*font_, reporter_, junk, dir_ / "out.wav"));
  EXPECT_EQ(reporter_.texts(), std::vector<std::string>{"エラー発生 " + junk});
  EXPECT_FALSE(std::filesystem::exists(dir_ / "out.wav"));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "out.aiff"));
}

TEST(RenderingService, MissingSoundFontGivesItsMessage) {
  RecordingReporter reporter;
  EXPECT_EQ(ResolveSoundFont(reporter, "/nonexistent/piano.sf2"), nullptr);
  EXPECT_EQ(reporter.texts(), std::vector<std::string>{
                                  "ソフトウェア音源が使用できません。 (/nonexistent/piano.sf2)"});
}

TEST(RenderingService, SynthesizerLogReachesTheUserOnlyWhenVerbose) {
  test::TempDir dir;
  const std::string junk = (dir / "junk.sf2").string();
  test::WriteBytes(junk, Bytes(4096, 0x52));
  const std::string message = "ソフトウェア音源が使用できません。 (" + junk + ")";

  RecordingReporter quiet;
  {
    const SynthLogRoute log(nullptr);
    EXPECT_EQ(ResolveSoundFont(quiet, junk), nullptr);
  }
  EXPECT_EQ(quiet.texts(), std::vector<std::string>{message});

  RecordingReporter verbose;
  {
    const SynthLogRoute log(&verbose);
    EXPECT_EQ(ResolveSoundFont(verbose, junk), nullptr);
  }
  EXPECT_GT(verbose.texts().size(), 1u);
  EXPECT_TRUE(verbose.Contains("FluidSynth: "));
  EXPECT_EQ(verbose.texts().back(), message);
}

TEST(RenderingService, AiffPathIsTheWavePathWithItsExtensionReplaced) {
  EXPECT_EQ(AiffPathFor("/tmp/a.b/song_tmp.wav"), "/tmp/a.b/song_tmp.aiff");
  EXPECT_EQ(AiffPathFor("/tmp/a.b/song"), "/tmp/a.b/song.aiff");
  EXPECT_EQ(AiffPathFor("song.x.wav"), "song.x.aiff");
}

}  // namespace
}  // namespace velorna
