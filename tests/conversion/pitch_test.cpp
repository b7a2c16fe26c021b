// Measured pitch: every pitched note sounds its target, the song's own bend included, to a
// tenth of a cent, and starts where the song places it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>

#include "conversion/conversion_job.h"
#include "support/pitch_measure.h"
#include "support/scala_text.h"
#include "support/smf_bytes.h"
#include "support/temp_dir.h"
#include "support/tone_font.h"
#include "tuning/scala.h"
#include "tuning/tuning_choice.h"

namespace velorna::test {
namespace {

namespace fs = std::filesystem;
const char kSoundFont[] = "/usr/share/sounds/sf2/TimGM6mb.sf2";
constexpr int kDivision = 480;
constexpr uint32_t kTempo = 500000;
constexpr double kSecondsPerTick = 0.5 / kDivision;
constexpr uint32_t kNoteTicks = 576;  // 0.6 s
constexpr uint32_t kGapTicks = 96;    // 0.1 s: the tone stops at once
constexpr int kToneKey = 69;          // the tone font's sine is 441 Hz there
constexpr double kToneHz = 441;

class Quiet : public JobObserver {
  void ShowProgress(const JobProgress&) override {}
};

Bytes Convert(const fs::path& midi, const Tuning& tuning, Engine engine,
              const std::string& soundFont = kSoundFont) {
  ConversionOptions options;
  options.soundFont = soundFont;
  options.tuning = tuning;
  options.engine = engine;
  JobControl control;
  Quiet observer;
  RecordingReporter messages;
  EXPECT_NE(RunConversion(midi.string(), options, control, observer, messages),
            ConversionResult::kNotWritten);
  EXPECT_EQ(messages.texts(), (std::vector<std::string>{"変換が終了しました。"}));
  return ReadBytes(fs::path(midi).replace_extension(".wav"));
}

Bytes Convert(const fs::path& midi, const CentTable& cents, Engine engine) {
  return Convert(midi, Tuning{KeyTableFromCents(cents), {}}, engine);
}

std::span<const int16_t> Samples(const Bytes& wav) {
  return {reinterpret_cast<const int16_t*>(wav.data() + 44), (wav.size() - 44) / 2};
}

struct PlayedNote {
  int channel;
  int key;
  double start;      // seconds
  double bentCents;  // roughly what the channel's bend makes of it
};

// A song of single notes, one after another, on channels set up in different ways.
struct ProbeSong {
  TrackBytes track;
  std::vector<PlayedNote> notes;
  uint32_t pending = 0;
  double now = 0;

  void Play(int channel, int key, double bentCents, uint32_t before = kGapTicks) {
    pending += before;
    track.NoteOn(pending, channel, key, 100).NoteOff(kNoteTicks, channel, key);
    now += pending * kSecondsPerTick;
    notes.push_back({channel, key, now, bentCents});
    now += kNoteTicks * kSecondsPerTick;
    pending = 0;
  }
};

double Cents(double hz, double referenceHz) {
  return 1200 * std::log2(hz / referenceHz);
}

// Where the note sounds, in cents from its key's pitch in the tone font, looked for within
// a semitone of `expected`.
double SoundedCents(const Bytes& wav, const PlayedNote& n, double expected) {
  const double keyHz = kToneHz * std::exp2((n.key - kToneKey) / 12.0);
  const double expectedHz = keyHz * std::exp2(expected / 1200);
  const double semitone = std::exp2(1 / 12.0);
  const auto first = static_cast<size_t>((n.start + 0.1) * kSampleRate);
  const auto left = LeftChannel(Samples(wav), first, static_cast<size_t>(0.4 * kSampleRate));
  return Cents(PeakFrequency(left, kSampleRate, expectedHz / semitone, expectedHz * semitone),
               keyHz);
}

// Seconds from where the note should start to where its sound starts.
double OnsetError(const Bytes& wav, const PlayedNote& n) {
  constexpr double kSearchBefore = 0.05;
  constexpr int16_t kAudible = 300;
  const auto samples = Samples(wav);
  auto frame = static_cast<size_t>(std::max(0.0, n.start - kSearchBefore) * kSampleRate);
  while (2 * frame < samples.size() && std::abs(samples[2 * frame]) < kAudible) ++frame;
  return static_cast<double>(frame) / kSampleRate - n.start;
}

// One degree a key, degree 0 on middle C at its equal-tempered pitch, the period after 19.
const char kLinearMap19[] = "0\n0\n127\n60\n60\n261.6255653\n19\n";

// The tuning a .scl (and a .kbm, or none) gives; a parse failure fails the test.
Tuning ScalaTuning(const std::string& scl, const std::string& kbm) {
  const ScalaRead<Scale> scale = ParseScl(scl);
  EXPECT_TRUE(scale.value);
  KeyboardMap map = DefaultKeyboardMap();
  if (!kbm.empty()) {
    const ScalaRead<KeyboardMap> read = ParseKbm(kbm);
    EXPECT_TRUE(read.value);
    if (read.value) map = *read.value;
  }
  return Tuning{scale.value ? KeyTableFromScala(*scale.value, map) : KeyTable{}, {}};
}

// Channel 0 keeps the default bend range, channel 1 sets 12 by RPN, channel 2 bends first,
// channel 3 sets a range of 2 semitones and 50 cents and bends too; the last note comes a
// minute into the song. With a pure tone, every note is measured against the same note
// rendered in equal temperament (where the unbent notes sound their keys exactly), under
// whole targets, fractional ones at a reference of 442 Hz, and targets so far off that the
// key moves, with both engines; then presets on a tonic, another reference pitch, a 19-step
// scale on consecutive keys and a scale whose period is no octave.
TEST(Pitch, EveryNoteSoundsItsTargetWithinATenthOfACent) {
  TempDir dir;
  ASSERT_TRUE(WriteToneFont(dir / "tone.sf2"));
  ProbeSong song;
  TrackBytes& t = song.track;
  t.Tempo(0, kTempo);
  t.Control(0, 1, 101, 0).Control(0, 1, 100, 0).Control(0, 1, 6, 12);
  constexpr int kBaseBend = 8192 + 1234;
  constexpr double kBend = (kBaseBend - 8192) / 8192.0;
  t.Event(0, {0xE2, kBaseBend & 0x7F, kBaseBend >> 7});
  t.Control(0, 3, 101, 0).Control(0, 3, 100, 0).Control(0, 3, 6, 2).Control(0, 3, 38, 50);
  t.Event(0, {0xE3, kBaseBend & 0x7F, kBaseBend >> 7});
  for (int key = 60; key < 72; ++key) song.Play(0, key, 0);
  for (int key : {48, 64, 67, 81}) song.Play(1, key, 0);
  for (int key : {62, 65, 70}) song.Play(2, key, 200 * kBend);
  for (int key : {61, 66}) song.Play(3, key, 250 * kBend);
  song.Play(0, 67, 0, static_cast<uint32_t>(60 / kSecondsPerTick));
  t.EndOfTrack(kGapTicks);
  WriteBytes(dir / "probe.mid", SmfFile(0, kDivision, {t}));

  const CentTable fivelimit{0,       11.7313, 3.9100,  15.6414,  -13.6863, -1.9550,
                            -9.7763, 1.9550,  13.6863, -15.6414, 17.5963,  -11.7313};
  const CentTable far{350.5, -480.25, 1250.75, -1199.9, 30,  730.3,
                      -60.6, 99.99,   -100.01, 250,     0.5, 512.34};
  struct Case {
    const char* name;
    Tuning tuning;
    Engine engine;
  };
  const Case cases[] = {
      {"default", Tuning{}, Engine::kFast},
      {"5-limit at 442 Hz", Tuning{KeyTableFromCents(fivelimit, 442), {}}, Engine::kFast},
      {"5-limit at 442 Hz, files", Tuning{KeyTableFromCents(fivelimit, 442), {}}, Engine::kFiles},
      {"far targets", Tuning{KeyTableFromCents(far), {}}, Engine::kFast},
      {"just D major", BuildTuning({PresetId::kJust, *FindTonic("D"), std::nullopt}),
       Engine::kFast},
      {"Werckmeister III on C", BuildTuning({PresetId::kWerckmeister3, *FindTonic("C"), 440}),
       Engine::kFast},
      {"A4 = 415 Hz", BuildTuning({kPureIntervalCents, kDefaultTonicIndex, 415}), Engine::kFast},
      {"19 equal steps on consecutive keys", ScalaTuning(EqualStepsScl(19, 1200), kLinearMap19),
       Engine::kFast},
      {"13 equal steps of 3/1", ScalaTuning(EqualStepsScl(13, 1901.955), ""), Engine::kFast},
  };
  const std::string font = (dir / "tone.sf2").string();
  const Bytes equal =
      Convert(dir / "probe.mid", Tuning{KeyTableFromCents({}), {}}, Engine::kFast, font);
  std::vector<double> untuned;
  for (const PlayedNote& n : song.notes) {
    untuned.push_back(SoundedCents(equal, n, n.bentCents));
    if (n.bentCents == 0) {
      EXPECT_NEAR(untuned.back(), 0, 0.01) << "key " << n.key;
    }
  }
  for (const Case& c : cases) {
    const Bytes wav = Convert(dir / "probe.mid", c.tuning, c.engine, font);
    double worst = 0;
    for (size_t i = 0; i < song.notes.size(); ++i) {
      const PlayedNote& n = song.notes[i];
      const double target = c.tuning.keys[static_cast<size_t>(n.key)].value() + untuned[i];
      const double error = SoundedCents(wav, n, target) - target;
      worst = std::max(worst, std::fabs(error));
      EXPECT_NEAR(error, 0, 0.1) << c.name << ": key " << n.key << " on channel " << n.channel;
      const double onset = OnsetError(wav, n);
      EXPECT_GE(onset, 0) << c.name << ": key " << n.key << " at " << n.start;
      EXPECT_LT(onset, 0.003) << c.name << ": key " << n.key << " at " << n.start;
    }
    RecordProperty(c.name, std::to_string(worst));
  }
}

// Measured as absolute frequencies against the pitch the synthesizer gives each key before
// truncating it to whole cents: on a sample whose pitch correction leaves every key a hair
// below a whole cent (stored plain, and compressed as SoundFont 3 stores it), and on an
// instrument whose keys are 50 cents apart, every note sounds its target, notes the tuning leaves
// alone included, whether or not its key moves.
TEST(Pitch, ExactOnCorrectedSamplesAndScaleTunedInstruments) {
  TempDir dir;
  ProbeSong song;
  TrackBytes& t = song.track;
  t.Tempo(0, kTempo);
  t.Control(0, 1, 101, 0).Control(0, 1, 100, 0).Control(0, 1, 6, 12);
  constexpr int kBaseBend = 8192 + 1234;
  // The song's bend counts as the whole cents the synthesizer makes of it.
  const double bent = std::floor(12700.0 * (kBaseBend - 8192) / 8192 * 2 / 128);
  t.Event(0, {0xE2, kBaseBend & 0x7F, kBaseBend >> 7});
  for (int key = 60; key < 72; ++key) song.Play(0, key, 0);
  for (int key : {48, 64, 81}) song.Play(1, key, 0);
  for (int key : {62, 70}) song.Play(2, key, bent);
  t.EndOfTrack(kGapTicks);
  WriteBytes(dir / "probe.mid", SmfFile(0, kDivision, {t}));

  struct Font {
    const char* name;
    ToneFont tone;
  };
  Font fonts[] = {{"correction -4", {}}, {"scale tune 50", {}}, {"SoundFont 3, correction -4", {}}};
  fonts[0].tone.correction = -4;
  fonts[1].tone.scaleTune = 50;
  fonts[2].tone.correction = -4;
  fonts[2].tone.compressed = true;
  struct Case {
    const char* name;
    Tuning tuning;
  };
  const Case cases[] = {
      {"default", Tuning{}},
      {"5-limit just on D", BuildTuning({PresetId::kJust, *FindTonic("D"), std::nullopt})},
      {"19 equal steps, keys moved", ScalaTuning(EqualStepsScl(19, 1200), kLinearMap19)},
      {"A4 = 415 Hz", BuildTuning({kPureIntervalCents, kDefaultTonicIndex, 415})},
  };
  for (const Font& f : fonts) {
    const std::string font = (dir / "tone.sf2").string();
    ASSERT_TRUE(WriteToneFont(font, f.tone));
    // The key's pitch before truncation, from the sine's own at the root key.
    const auto keyCents = [&](int key) {
      return f.tone.scaleTune * (key - kToneKey + f.tone.correction / 100.0);
    };
    for (const Case& c : cases) {
      const Bytes wav = Convert(dir / "probe.mid", c.tuning, Engine::kFast, font);
      for (const PlayedNote& n : song.notes) {
        // In cents from the key's equal-tempered pitch in the font (what SoundedCents gives).
        const double exact = keyCents(n.key) - 100 * (n.key - kToneKey);
        const double target =
            exact + c.tuning.keys[static_cast<size_t>(n.key)].value() + n.bentCents;
        EXPECT_NEAR(SoundedCents(wav, n, target), target, 0.1)
            << f.name << ", " << c.name << ": key " << n.key << " on channel " << n.channel;
      }
    }
  }
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
