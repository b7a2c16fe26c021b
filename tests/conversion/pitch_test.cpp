// Measured pitch: every note of the converted song is shifted by its pitch class's offset.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>

#include "conversion/conversion_job.h"
#include "support/pitch_measure.h"
#include "support/smf_bytes.h"
#include "support/temp_dir.h"

namespace velorna::test {
namespace {

namespace fs = std::filesystem;
const char kSoundFont[] = "/usr/share/sounds/sf2/TimGM6mb.sf2";
constexpr int kDivision = 480;
constexpr uint32_t kNoteTicks = 576;  // 0.6 s at 500000 us per quarter
constexpr uint32_t kGapTicks = 144;   // 0.15 s, so tails do not overlap the next note much
constexpr double kSecondsPerTick = 0.5 / kDivision;

struct PlayedNote {
  int note;
  double start;  // seconds
};

class Quiet : public JobObserver {
  void ShowProgress(const std::string&, const std::string&) override {}
};

Bytes Convert(const fs::path& midi, const CentTable& cents, Engine engine) {
  ConversionOptions options;
  options.soundFont = kSoundFont;
  options.tuning.keys = KeyTableFromCents(cents);
  options.engine = engine;
  JobControl control;
  Quiet observer;
  RecordingReporter messages;
  EXPECT_NE(RunConversion(midi.string(), options, control, observer, messages),
            ConversionResult::kNotWritten);
  EXPECT_EQ(messages.texts(), (std::vector<std::string>{"変換が終了しました。"}));
  return ReadBytes(fs::path(midi).replace_extension(".wav"));
}

std::span<const int16_t> Samples(const Bytes& wav) {
  return {reinterpret_cast<const int16_t*>(wav.data() + 44), (wav.size() - 44) / 2};
}

double MeasuredHz(const Bytes& wav, const PlayedNote& n) {
  const double nominal = 440.0 * std::pow(2.0, (n.note - 69) / 12.0);
  const auto first = static_cast<size_t>((n.start + 0.15) * 44100);
  const auto left = LeftChannel(Samples(wav), first, static_cast<size_t>(0.4 * 44100));
  return PeakFrequency(left, 44100, nominal * 0.9, nominal * 1.1);
}

// Organ (steady pitch), no chorus or reverb send. Channel 0: the twelve pitch classes;
// channel 1: a bend range of 12 set by RPN 0; channel 2: an earlier bend of +1 semitone.
TEST(Pitch, EveryNoteIsShiftedByItsOffset) {
  TempDir dir;
  TrackBytes t;
  t.Tempo(0, 500000);
  std::vector<PlayedNote> played;
  std::vector<int> channels;
  for (int ch = 0; ch < 3; ++ch) t.Program(0, ch, 19).Control(0, ch, 93, 0).Control(0, ch, 91, 0);
  t.Control(0, 1, 101, 0).Control(0, 1, 100, 0).Control(0, 1, 6, 12);
  t.Event(0, {0xE2, 0x00, 0x60});  // +1 semitone under the default range of 2
  uint32_t pending = 0;
  double now = 0;
  auto play = [&](int ch, int note) {
    t.NoteOn(pending, ch, note, 100).NoteOff(kNoteTicks, ch, note);
    now += pending * kSecondsPerTick;
    played.push_back({note, now});
    channels.push_back(ch);
    now += kNoteTicks * kSecondsPerTick;
    pending = kGapTicks;
  };
  for (int pc = 0; pc < 12; ++pc) play(0, 72 + pc);
  for (int note : {72, 76, 79, 81}) play(1, note);
  for (int note : {72, 76, 79, 81}) play(2, note);
  t.EndOfTrack(kGapTicks);
  WriteBytes(dir / "organ.mid", SmfFile(0, kDivision, {t}));

  const CentTable zero{};
  const Bytes equal = Convert(dir / "organ.mid", zero, Engine::kFiles);
  const Bytes pure = Convert(dir / "organ.mid", kPureIntervalCents, Engine::kFiles);
  for (size_t i = 0; i < played.size(); ++i) {
    const double shift =
        1200 * std::log2(MeasuredHz(pure, played[i]) / MeasuredHz(equal, played[i]));
    EXPECT_NEAR(shift, kPureIntervalCents[played[i].note % 12], 1.5)
        << "note " << played[i].note << " on channel " << channels[i];
  }
  // The earlier bend stays under the retuning: channel 2 sounds a semitone up.
  const double up = 1200 * std::log2(MeasuredHz(equal, played[12 + 4]) /
                                     (440.0 * std::pow(2.0, (72 - 69) / 12.0)));
  EXPECT_NEAR(up, 100, 5);
}

TEST(Pitch, DrumsAndRhythmPartsAreNotRetuned) {
  TempDir dir;
  TrackBytes t;
  t.Tempo(0, 500000);
  // GS: part 10 (channel 10) becomes a rhythm part with map 2.
  t.Event(0, {0xF0, 0x0A, 0x41, 0x10, 0x42, 0x12, 0x40, 0x1A, 0x15, 0x02, 0x0F, 0xF7});
  for (int i = 0; i < 4; ++i) {
    t.NoteOn(0, 9, 36 + i, 100).NoteOn(0, 10, 38 + i, 100);
    t.NoteOff(240, 9, 36 + i).NoteOff(0, 10, 38 + i);
  }
  t.EndOfTrack(0);
  WriteBytes(dir / "drums.mid", SmfFile(0, kDivision, {t}));
  const Bytes equal = Convert(dir / "drums.mid", CentTable{}, Engine::kFiles);
  const Bytes pure = Convert(dir / "drums.mid", kPureIntervalCents, Engine::kFiles);
  EXPECT_EQ(equal, pure);
}

}  // namespace
}  // namespace velorna::test
