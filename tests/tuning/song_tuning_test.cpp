// A song that tunes its own notes with MIDI Tuning Standard messages is heard in its tuning:
// rendered with a pure sine, every note it governs sounds its MTS target within 0.1 cent,
// the others the chosen tuning.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "conversion/conversion_job.h"
#include "support/pitch_measure.h"
#include "support/smf_bytes.h"
#include "support/temp_dir.h"
#include "support/tone_font.h"
#include "tuning/mts.h"
#include "tuning/song_tuning.h"

namespace velorna::test {
namespace {

namespace fs = std::filesystem;
constexpr int kDivision = 480;
constexpr double kSecondsPerTick = 0.5 / kDivision;
constexpr uint32_t kNoteTicks = 576;
constexpr uint32_t kGapTicks = 96;
constexpr int kRate = 44100;
constexpr double kToneHz = 441;  // the tone font's key 69

class Quiet : public JobObserver {
  void ShowProgress(const JobProgress&) override {}
};

// A system exclusive as a file holds it: F0, the length, the body (F7 included).
void SysEx(TrackBytes& t, const std::vector<uint8_t>& body) {
  Bytes length;
  AppendVarLen(length, static_cast<uint32_t>(body.size()));
  t.Event(0, {0xF0});
  for (const uint8_t b : length) t.Raw({b});
  for (const uint8_t b : body) t.Raw({b});
}

void Rpn(TrackBytes& t, int channel, int number, int value) {
  t.Control(0, channel, 101, 0).Control(0, channel, 100, number).Control(0, channel, 6, value);
}

struct Played {
  int channel;
  int key;
  double target;  // cents from the key's equal-tempered pitch
  double start;
};

TEST(SongTuning, NotesTheSongTunesSoundAtTheirMtsTargets) {
  TempDir dir;
  ASSERT_TRUE(WriteToneFont(dir / "tone.sf2"));
  TrackBytes t;
  t.Tempo(0, 500000);
  const auto word = [](int key, double cents) { return EncodeMtsPitch(AbsoluteCents(key, cents)); };
  // Real-time single-note change of program 0, which a channel that chooses none hears.
  const MtsPitch a = word(60, 50);
  SysEx(t, {0x7F, 0x7F, 0x08, 0x02, 0x00, 0x01, 60, a[0], a[1], a[2], 0xF7});
  // Non-real-time single-note change with a bank, chosen by channel 2 (bank first).
  const MtsPitch b = word(62, -30.5);
  SysEx(t, {0x7E, 0x7F, 0x08, 0x07, 0x01, 0x02, 0x01, 62, b[0], b[1], b[2], 0xF7});
  Rpn(t, 1, 4, 1);
  Rpn(t, 1, 3, 2);
  // A bulk dump of program 3 on channel 3: key 64 a whole semitone and 10.25 cents up.
  std::vector<uint8_t> dump = MtsBulkDump(3, KeyTableFromCents({}));
  const MtsPitch c = word(64, 110.25);
  std::copy(c.begin(), c.end(), dump.begin() + 22 + 3 * 64);
  SysEx(t, std::vector<uint8_t>(dump.begin() + 1, dump.end()));
  Rpn(t, 2, 3, 3);
  // Scale/octave tuning, 1-byte on channel 4 (+20 cents on E), 2-byte on channel 5
  // (-12.5 cents on G: 8192 - 1024).
  std::vector<uint8_t> one{0x7E, 0x7F, 0x08, 0x08, 0x00, 0x00, 0x08};
  for (int pc = 0; pc < 12; ++pc) one.push_back(pc == 4 ? 84 : 64);
  one.push_back(0xF7);
  SysEx(t, one);
  std::vector<uint8_t> two{0x7F, 0x7F, 0x08, 0x09, 0x00, 0x00, 0x10};
  for (int pc = 0; pc < 12; ++pc) {
    const int v = pc == 7 ? 8192 - 1024 : 8192;
    two.push_back(static_cast<uint8_t>(v >> 7));
    two.push_back(static_cast<uint8_t>(v & 0x7F));
  }
  two.push_back(0xF7);
  SysEx(t, two);

  // Channel 1 tuned apart ("none": equal temperament) yields to the song's own tuning
  // and overrides the chosen one.
  const Tuning chosen{KeyTableFromCents(kPureIntervalCents), {}, {{0, KeyTableFromCents({})}}};
  const std::vector<Played> notes{{0, 60, 50, 0}, {1, 62, -30.5, 0}, {2, 64, 110.25, 0},
                                  {3, 64, 20, 0}, {4, 67, -12.5, 0}, {6, 64, *chosen.keys[64], 0},
                                  {0, 62, 0, 0}};
  std::vector<Played> timed;
  double now = 0;
  for (const Played& n : notes) {
    t.NoteOn(kGapTicks, n.channel, n.key, 100).NoteOff(kNoteTicks, n.channel, n.key);
    now += kGapTicks * kSecondsPerTick;
    timed.push_back({n.channel, n.key, n.target, now});
    now += kNoteTicks * kSecondsPerTick;
  }
  t.EndOfTrack(kGapTicks);
  WriteBytes(dir / "own.mid", SmfFile(0, kDivision, {t}));

  for (const bool ignore : {false, true}) {
    ConversionOptions options;
    options.soundFont = (dir / "tone.sf2").string();
    options.tuning = chosen;
    options.ignoreSongTuning = ignore;
    JobControl control;
    Quiet observer;
    RecordingReporter messages;
    ASSERT_NE(RunConversion((dir / "own.mid").string(), options, control, observer, messages),
              ConversionResult::kNotWritten);
    const Bytes wav = ReadBytes(dir / "own.wav");
    const std::span<const int16_t> samples(reinterpret_cast<const int16_t*>(wav.data() + 44),
                                           (wav.size() - 44) / 2);
    for (const Played& n : timed) {
      const double target = !ignore          ? n.target
                            : n.channel == 0 ? 0
                                             : *chosen.keys[static_cast<size_t>(n.key)];
      const double keyHz = kToneHz * std::exp2((n.key - 69) / 12.0);
      const double aim = keyHz * std::exp2(target / 1200);
      const auto left = LeftChannel(samples, static_cast<size_t>((n.start + 0.1) * kRate),
                                    static_cast<size_t>(0.4 * kRate));
      const double cents =
          1200 * std::log2(PeakFrequency(left, kRate, aim / 1.03, aim * 1.03) / keyHz);
      EXPECT_NEAR(cents, target, 0.1)
          << (ignore ? "ignored: " : "") << "channel " << n.channel + 1 << " key " << n.key;
    }
  }
}

}  // namespace
}  // namespace velorna::test
