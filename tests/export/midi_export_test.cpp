// The exported song played as a receiver plays it: FluidSynth's own MIDI player, one pass,
// a pure sine. Every pitched note must sound its target, in each form.
#include <fluidsynth.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <string>

#include "export/export_messages.h"
#include "export/midi_export.h"
#include "midi/smf_reader.h"
#include "support/pitch_measure.h"
#include "support/smf_bytes.h"
#include "support/temp_dir.h"
#include "support/tone_font.h"
#include "tuning/adaptive.h"
#include "tuning/song_tuning.h"

namespace velorna::test {
namespace {

namespace fs = std::filesystem;
constexpr int kDivision = 480;
constexpr uint32_t kTempo = 500000;
constexpr double kSecondsPerTick = 0.5 / kDivision;
constexpr int kRate = 44100;
constexpr int kToneKey = 69;  // the tone font's sine is 441 Hz there
constexpr double kToneHz = 441;
constexpr int kBentChannel = 1;
constexpr int kSongBend = 8192 + 1234;  // on kBentChannel, whose range is 12 semitones
constexpr double kSongBendCents = 1234.0 / 8192 * 1200;

// A track's events at absolute ticks, in any order.
struct Timeline {
  std::multimap<uint32_t, std::vector<uint8_t>> events;

  void Add(uint32_t tick, std::vector<uint8_t> bytes) { events.emplace(tick, std::move(bytes)); }
  void Note(uint32_t on, uint32_t off, int channel, int key) {
    Add(on, {static_cast<uint8_t>(0x90 | channel), static_cast<uint8_t>(key), 100});
    Add(off, {static_cast<uint8_t>(0x80 | channel), static_cast<uint8_t>(key), 64});
  }
  TrackBytes Bytes() const {
    TrackBytes t;
    uint32_t last = 0;
    for (const auto& [tick, bytes] : events) {
      t.Event(tick - last, {});
      for (const uint8_t b : bytes) t.Raw({b});
      last = tick;
    }
    t.EndOfTrack(0);
    return t;
  }
};

struct Probe {
  int channel;
  int key;
  double start;
};

// Chords and single notes on two channels of two tracks (the second channel bent by the
// song with a range of its own), a drum note, and a GM reset in the conductor track.
struct ProbeSong {
  Bytes file;
  std::vector<Probe> notes;

  ProbeSong() {
    Timeline conductor;
    conductor.Add(0, {0xFF, 0x03, 0x04, 'S', 'o', 'n', 'g'});
    conductor.Add(0, {0xFF, 0x51, 0x03, kTempo >> 16, (kTempo >> 8) & 0xFF, kTempo & 0xFF});
    // A GM reset, in the file's form: the export keeps it and sets its channels up after it.
    conductor.Add(0, {0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7});
    Timeline a;
    Timeline b;
    b.Add(0, {0xB0 | kBentChannel, 101, 0});
    b.Add(0, {0xB0 | kBentChannel, 100, 0});
    b.Add(0, {0xB0 | kBentChannel, 6, 12});
    b.Add(0, {0xE0 | kBentChannel, kSongBend & 0x7F, kSongBend >> 7});
    uint32_t t = 0;
    const auto play = [&](Timeline& track, int channel, std::initializer_list<int> keys) {
      for (const int key : keys) {
        track.Note(t, t + 576, channel, key);
        notes.push_back({channel, key, t * kSecondsPerTick});
      }
      t += 576 + 96;
    };
    play(a, 0, {60, 64, 67});
    play(a, 0, {62, 65, 69, 72});
    play(b, kBentChannel, {57, 64});
    play(a, 0, {61});
    a.Note(t, t + 96, 9, 36);
    play(b, kBentChannel, {66, 70});
    play(a, 0, {71, 63, 55});
    file = SmfFile(1, kDivision, {conductor.Bytes(), a.Bytes(), b.Bytes()});
  }
};

std::vector<int16_t> Play(const Bytes& midi, const fs::path& font) {
  fluid_settings_t* settings = new_fluid_settings();
  fluid_settings_setnum(settings, "synth.sample-rate", kRate);
  fluid_settings_setint(settings, "synth.reverb.active", 0);
  fluid_settings_setint(settings, "synth.chorus.active", 0);
  fluid_settings_setstr(settings, "player.timing-source", "sample");
  fluid_synth_t* synth = new_fluid_synth(settings);
  EXPECT_NE(fluid_synth_sfload(synth, font.c_str(), 1), FLUID_FAILED);
  fluid_player_t* player = new_fluid_player(synth);
  EXPECT_EQ(fluid_player_add_mem(player, midi.data(), midi.size()), FLUID_OK);
  fluid_player_play(player);
  constexpr int kBlock = 64;
  std::vector<int16_t> out;
  std::vector<int16_t> block(2 * kBlock);
  while (fluid_player_get_status(player) == FLUID_PLAYER_PLAYING) {
    fluid_synth_write_s16(synth, kBlock, block.data(), 0, 2, block.data(), 1, 2);
    out.insert(out.end(), block.begin(), block.end());
  }
  delete_fluid_player(player);
  delete_fluid_synth(synth);
  delete_fluid_settings(settings);
  return out;
}

// Where the note sounds, in cents from its key's equal-tempered pitch (the tone font's A4 is
// 441 Hz), looked for within half a semitone of `expected`.
double SoundedCents(const std::vector<int16_t>& wav, const Probe& n, double expected) {
  const double keyHz = kToneHz * std::exp2((n.key - kToneKey) / 12.0);
  const double aimHz = keyHz * std::exp2(expected / 1200);
  const double half = std::exp2(0.5 / 12.0);
  const auto first = static_cast<size_t>((n.start + 0.1) * kRate);
  const auto left = LeftChannel(wav, first, static_cast<size_t>(0.4 * kRate));
  return 1200 * std::log2(PeakFrequency(left, kRate, aimHz / half, aimHz * half) / keyHz);
}

Tuning FiveLimit() {
  const CentTable cents{0,       11.7313, 3.9100,  15.6414,  -13.6863, -1.9550,
                        -9.7763, 1.9550,  13.6863, -15.6414, 17.5963,  -11.7313};
  return Tuning{KeyTableFromCents(cents), {}};
}

// Each form, played by the receiver the way it is meant to: every note within a cent plus
// half a bend step of its target, the song's own bend included.
TEST(MidiExport, EveryFormSoundsEveryTargetOnAReceiver) {
  TempDir dir;
  ASSERT_TRUE(WriteToneFont(dir / "tone.sf2"));
  const ProbeSong song;
  const Tuning tuning = FiveLimit();
  // What the song's own bend sounds as on the receiver, measured from the song itself.
  const std::vector<int16_t> plain = Play(song.file, dir / "tone.sf2");
  std::vector<double> own;
  for (const Probe& n : song.notes)
    own.push_back(SoundedCents(plain, n, n.channel == kBentChannel ? kSongBendCents : 0));
  struct Case {
    const char* name;
    ExportForm form;
    int range;
    double step;  // cents of one bend step
  };
  const Case cases[] = {
      {"bends", ExportForm::kBends, 0, 300.0 / 8192},  // the song's bend asks for 3 semitones
      {"bends, range 12", ExportForm::kBends, 12, 1200.0 / 8192},
      {"mpe", ExportForm::kMpe, 0, 4800.0 / 8192},
      {"mts", ExportForm::kMts, 0, 1200.0 / 8192},
  };
  for (const Case& c : cases) {
    RecordingReporter messages;
    MidiContext ctx(messages);
    MidiLoader loader = LoadSmfFromBytes(ctx, song.file);
    ExportSummary summary;
    const auto exported =
        ExportSongBytes(ctx, loader, tuning, ExportOptions{c.form, c.range, false}, &summary);
    ASSERT_TRUE(exported) << c.name;
    EXPECT_EQ(summary.notes, static_cast<int>(song.notes.size())) << c.name;
    EXPECT_EQ(summary.withoutChannel + summary.clippedBends + summary.sharedKeys, 0) << c.name;
    EXPECT_TRUE(messages.texts().empty()) << c.name;
    const std::vector<int16_t> wav = Play(*exported, dir / "tone.sf2");
    for (size_t i = 0; i < song.notes.size(); ++i) {
      const Probe& n = song.notes[i];
      const double target = tuning.keys[static_cast<size_t>(n.key)].value() + own[i];
      EXPECT_NEAR(SoundedCents(wav, n, target), target, 1 + c.step / 2)
          << c.name << ": key " << n.key << " on channel " << n.channel + 1 << " at " << n.start;
    }
  }
}

// More differently tuned notes at once than channels: said, counted, never silent.
TEST(MidiExport, CrowdedMomentsAreReported) {
  Timeline conductor;
  Timeline a;
  for (int key = 48; key < 48 + 2 * 12; key += 1) a.Note(0, 480, key < 60 ? 0 : 2, key);
  a.Note(0, 480, 9, 36);
  const Bytes file = SmfFile(1, kDivision, {conductor.Bytes(), a.Bytes()});
  struct Case {
    ExportForm form;
    int crowded;  // notes beyond the channels
  };
  // bends: twelve bends on each of two channels share 15 channels; mpe: eight members, all
  // taken by the first part, so the second part's first note moves a held note of the first.
  for (const Case& c : {Case{ExportForm::kBends, 24 - 15}, Case{ExportForm::kMpe, 24 - 8 + 1}}) {
    RecordingReporter messages;
    MidiContext ctx(messages);
    MidiLoader loader = LoadSmfFromBytes(ctx, file);
    ExportSummary summary;
    ASSERT_TRUE(
        ExportSongBytes(ctx, loader, FiveLimit(), ExportOptions{c.form, 0, false}, &summary));
    EXPECT_EQ(summary.notes, 24);
    EXPECT_EQ(summary.withoutChannel, c.crowded);
    ASSERT_EQ(messages.reports().size(), 1U);
    EXPECT_EQ(messages.reports()[0].module, "EXPT");
    EXPECT_NE(messages.reports()[0].text.find(std::to_string(c.crowded) + " "), std::string::npos);
  }
}

// The prepared song's notes as (tick, channel, key) with the target `tuning` gives each.
std::multimap<std::tuple<int64_t, int, int>, double> Targets(const MidiFormat0Data& song,
                                                             const Tuning& tuning) {
  std::multimap<std::tuple<int64_t, int, int>, double> targets;
  int64_t now = 0;
  const auto& events = song.track->events;
  for (size_t i = 0; i < events.size(); ++i) {
    now += events[i].delta;
    if (events[i].status != st::kNote || events[i].channel == 9) continue;
    targets.emplace(std::tuple{now, events[i].channel, events[i].note},
                    TargetOf(tuning, static_cast<int32_t>(i), events[i].note).value());
  }
  return targets;
}

// An adaptive tuning (a pitch per note) exported as MTS and read back as the song's own
// tuning: every note at its target within 0.01 cent.
TEST(MidiExport, MtsRoundTripKeepsEveryTarget) {
  const ProbeSong song;
  RecordingReporter messages;
  MidiContext ctx(messages);
  MidiLoader original = LoadSmfFromBytes(ctx, song.file);
  PrepareSong(ctx, original);
  const Tuning adaptive = AdaptiveTuning(*original.song, FiveLimit().keys);
  MidiLoader again = LoadSmfFromBytes(ctx, song.file);
  const auto exported =
      ExportSongBytes(ctx, again, FiveLimit(), ExportOptions{ExportForm::kMts, 0, true});
  ASSERT_TRUE(exported);
  MidiLoader back = LoadSmfFromBytes(ctx, *exported);
  PrepareSong(ctx, back);
  const auto want = Targets(*original.song, adaptive);
  const auto got =
      Targets(*back.song, WithSongTuning(Tuning{KeyTableFromCents({}), {}}, *back.song));
  ASSERT_EQ(got.size(), want.size());
  for (auto w = want.begin(), g = got.begin(); w != want.end(); ++w, ++g) {
    EXPECT_EQ(w->first, g->first);
    EXPECT_NEAR(g->second, w->second, 0.01) << "key " << std::get<2>(w->first);
  }
}

}  // namespace
}  // namespace velorna::test

namespace velorna::test {
namespace {

// Velorna reads back what it exports, or says why not: many short notes cycling through
// eight parts make the MPE file (a part's set-up before nearly every note) larger than a
// song Velorna reads, while the MTS file of the same song reads back whole.
TEST(MidiExport, SaysWhenVelornaCannotReadBackWhatItWrote) {
  constexpr int kParts = 8;
  constexpr int kNotes = 4000;
  Timeline conductor;
  Timeline a;
  for (int i = 0; i < kNotes; ++i) {
    const auto on = static_cast<uint32_t>(i * 10);
    a.Note(on, on + 9, i % kParts, 48 + (i * 5) % 36);
  }
  TempDir dir;
  const fs::path song = dir / "many.mid";
  WriteBytes(song, SmfFile(1, kDivision, {conductor.Bytes(), a.Bytes()}));
  struct Case {
    ExportForm form;
    bool readable;
  };
  for (const Case& c : {Case{ExportForm::kMpe, false}, Case{ExportForm::kMts, true}}) {
    const fs::path out = dir / (c.readable ? "readable.mid" : "too-large.mid");
    RecordingReporter messages;
    // Written either way: other programs take what Velorna's reader would not.
    EXPECT_TRUE(ExportSong(song.string(), out.string(), Tuning{}, ExportOptions{c.form, 0, false},
                           messages));
    EXPECT_TRUE(fs::exists(out));
    if (!c.readable) {
      ASSERT_FALSE(messages.reports().empty());
      const Report said = messages.reports().back();
      EXPECT_EQ(said.code, code::kExptUnreadable);
      EXPECT_NE(said.text.find(out.string()), std::string::npos) << said.text;
      continue;
    }
    MidiContext ctx(messages);
    MidiLoader back = LoadSmf(ctx, out.string());
    PrepareSong(ctx, back);
    ASSERT_TRUE(back.song && back.song->track);
    EXPECT_EQ(std::count_if(back.song->track->events.begin(), back.song->track->events.end(),
                            [](const MidiEvent& e) { return e.status == st::kNote; }),
              kNotes);
  }
}

}  // namespace
}  // namespace velorna::test
