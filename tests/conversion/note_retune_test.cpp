#include "conversion/note_retune.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <tuple>
#include <vector>

#include "audio/render_synth.h"
#include "midi/smf_reader.h"
#include "support/bend_range.h"
#include "support/note_plans.h"
#include "support/smf_bytes.h"
#include "support/song_builder.h"

namespace velorna {
namespace {

using test::Bend;
using test::BendRange;
using test::Control;
using test::Describe;
using test::EndOfTrack;
using test::Events;
using test::MakeSong;
using test::MakeTrack;
using test::Note;
using test::Program;
using test::RhythmPart;
using test::Tempo;
using Lines = std::vector<std::string>;

// Pitch classes of the notes used below, with the pure-interval cents they get:
// C 60 / 72: 0, D 62: +4, E 64: -14, G 67: +2.
// Builds note i's copy from the song's index under twelve offsets.
std::unique_ptr<MidiFormat0Data> Build(MidiContext& ctx, const MidiFormat0Data& song, int32_t i,
                                       const CentTable& cents = kPureIntervalCents) {
  const auto index = IndexSong(song);
  return index ? test::PlannedCopy(ctx, *index, i, Tuning{KeyTableFromCents(cents), {}}) : nullptr;
}

struct NoteRetuneTest : ::testing::Test {
  RecordingReporter rec;
  MidiContext ctx{rec};

  Lines CopyOf(const MidiFormat0Data& song, int32_t i,
               const CentTable& cents = kPureIntervalCents) {
    auto copy = Build(ctx, song, i, cents);
    if (!copy || !copy->track) return {"no copy"};
    return Describe(*copy->track);
  }
};

const Lines kDefaultRange{"+0 cc ch0 101=0", "+0 cc ch0 100=0", "+0 cc ch0 6=2"};

Lines Join(std::initializer_list<Lines> parts) {
  Lines all;
  for (const Lines& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// Over every target of four octaves in steps of a third of a cent, several ranges and base
// bends: the key, the bend and the rendering rate together reach the target above what the
// base bend sounds as (whole cents of 127/128 of the range), the key moving only for a pitch
// beyond the wheel, and the rate adding under two cents.
TEST(NoteRetuning, KeyBendAndRateTogetherReachEveryTarget) {
  MidiEvent note = test::Note(0, 0, 60, 10);
  for (const int range : {0, 1, 2, 12, 24}) {
    for (const int base : {kCentreBend, kCentreBend + 1234, kCentreBend - 3000}) {
      ChannelSetup setup;
      for (const MidiEvent& e : BendRange(0, 0, range)) setup.Apply(e);
      setup.Apply(Bend(0, 0, base));
      const int semitones = range == 0 ? 2 : range;
      const double reach = semitones * 100 * 127 / 128.0;  // to a hundredth of a cent
      const double baseCents = std::floor(reach * (base - kCentreBend) / kCentreBend);
      for (int third = -7200; third <= 7200; ++third) {
        const double target = third / 3.0;
        SCOPED_TRACE(testing::Message()
                     << "range " << range << " base " << base << " target " << target);
        const NoteRetuning r = setup.RetuningOf(note, target);
        ASSERT_NEAR(r.keyShift * 100 + r.bendCents + r.rateShiftCents, target + baseCents, 1e-9);
        const double wanted = target + baseCents;
        if (r.keyShift == 0) {
          ASSERT_TRUE(std::abs(wanted) <= reach || std::abs(wanted) < 50);
        } else {
          ASSERT_GT(std::abs(wanted), reach * 8191 / 8192);
        }
        ASSERT_GE(r.rateShiftCents, 0);
        ASSERT_LT(r.rateShiftCents, 2);
        ASSERT_EQ(r.offset, base - r.bend);
      }
    }
  }
}

TEST_F(NoteRetuneTest, FarTargetsShiftTheKeyAndUnmappedKeysGiveNoCopy) {
  MidiEvent pressure;
  pressure.status = st::kKeyPressure;
  pressure.channel = 0;
  pressure.note = 60;
  pressure.value = 40;
  pressure.delta = 100;
  const auto song = MakeSong(
      {Note(0, 0, 60, 480), Note(0, 0, 62, 480), pressure, Note(0, 0, 64, 480), EndOfTrack(480)});
  Tuning tuning{KeyTableFromCents(CentTable{}), {}};
  tuning.keys[60] = 250.0;  // beyond a range of 2: three keys up, then 50 cents down
  tuning.keys[62] = -30.5;
  tuning.keys[64] = std::nullopt;
  const auto index = IndexSong(*song);
  ASSERT_TRUE(index);
  auto up = test::PlannedCopy(ctx, *index, 0, tuning);
  ASSERT_TRUE(up);
  EXPECT_EQ(Describe(*up->track),
            Join({kDefaultRange,
                  {"+0 bend ch0 6149", "+0 note ch0 63 dur480", "+100 pressure ch0 63=40",
                   "+5280 cc ch0 101=127", "+0 eot"}}));
  const NoteRetuning fraction = DescribeRetuning(*index, 1, tuning);
  EXPECT_EQ(fraction.keyShift, 0);
  EXPECT_EQ(fraction.bend, 8192 - 1259);
  EXPECT_EQ(test::PlannedCopy(ctx, *index, 3, tuning), nullptr);
  EXPECT_TRUE(DescribeRetuning(*index, 3, tuning).unmapped);
  EXPECT_TRUE(rec.texts().empty());
  // A note's own choice wins over its key's.
  tuning.notes.assign(4, std::nullopt);
  tuning.notes[3] = 12.0;
  EXPECT_EQ(DescribeRetuning(*index, 3, tuning).bend, 8192 + 516);
}

// The highest key bent near the wheel's end can move no further: the retuning bend stays at
// the end, and the rate carries what is left.
TEST(NoteRetuning, BeyondTheWheelAndTheKeysTheRateCarriesTheRest) {
  ChannelSetup setup;
  for (const MidiEvent& e : BendRange(0, 0, 1)) setup.Apply(e);
  setup.Apply(Bend(0, 0, 16000));
  const NoteRetuning r = setup.RetuningOf(test::Note(0, 0, kHighestKey, 10), 40.0);
  EXPECT_EQ(r.keyShift, 0);
  EXPECT_EQ(r.bend, kMaxBend);
  EXPECT_EQ(r.baseCents, 94);  // 94.6 cents at a range of 1, sounded in whole cents
  EXPECT_NEAR(r.bendCents + r.rateShiftCents, 40 + 94, 1e-9);
}

TEST_F(NoteRetuneTest, WorkedExample) {
  const auto song = MakeSong({Tempo(0, 500000), Program(0, 0, 0), Note(0, 0, 60, 480),
                              Note(0, 1, 64, 480), Note(480, 0, 67, 480), EndOfTrack(480)});
  const Lines source = Describe(*song->track);

  // G (+2 cents): nothing to cut; the bend 8192 + 103 and the default range stand in front
  // of the note, at its time.
  EXPECT_EQ(CopyOf(*song, 4), Join({{"+0 tempo 500000", "+0 program ch0 0", "+480 cc ch0 101=0",
                                     "+0 cc ch0 100=0", "+0 cc ch0 6=2", "+0 bend ch0 8295",
                                     "+0 note ch0 67 dur480", "+5280 cc ch0 101=127", "+0 eot"}}));
  // C (0 cents): E and G go; the tail is held open until 5 s past the song's end at 960.
  EXPECT_EQ(
      CopyOf(*song, 2),
      Join({{"+0 tempo 500000", "+0 program ch0 0"},
            kDefaultRange,
            {"+0 bend ch0 8192", "+0 note ch0 60 dur480", "+5760 cc ch0 101=127", "+0 eot"}}));

  auto copy = Build(ctx, *song, 2);
  EXPECT_EQ(copy->division, 480);
  EXPECT_EQ(copy->state, 2);
  EXPECT_EQ(copy->track->state, ts::kNotes);
  EXPECT_TRUE(copy->bytes.empty());
  EXPECT_EQ(Describe(*song->track), source);
  EXPECT_TRUE(rec.texts().empty());
}

TEST_F(NoteRetuneTest, SongRangeIsUsedAndNoDefaultAdded) {
  const auto song = MakeSong(Events({BendRange(0, 0, 12), {Note(0, 0, 60, 10), EndOfTrack(10)}}));
  CentTable sharp;
  sharp.fill(100);
  EXPECT_EQ(CopyOf(*song, 3, sharp),
            (Lines{"+0 cc ch0 101=0", "+0 cc ch0 100=0", "+0 cc ch0 6=12", "+0 bend ch0 8883",
                   "+0 note ch0 60 dur10", "+4810 cc ch0 101=127", "+0 eot"}));
}

TEST_F(NoteRetuneTest, BendAtTheNotesTickIsTheBase) {
  // E bends up and comes back at D's tick: D must start from the centre, not from the top.
  const auto song = MakeSong(Events({BendRange(0, 0, 2),
                                     {Note(0, 0, 64, 480), Bend(240, 0, 12288), Bend(240, 0, 8192),
                                      Note(0, 0, 62, 480), EndOfTrack(480)}}));
  // E's bend up is replaced before D sounds: D's plan starts from the channel's set-up.
  EXPECT_EQ(
      CopyOf(*song, 6),
      Join({kDefaultRange,
            {"+480 bend ch0 8378", "+0 note ch0 62 dur480", "+5280 cc ch0 101=127", "+0 eot"}}));

  // Same tick, the bend listed behind the note: still the base.
  const auto behind =
      MakeSong({Bend(0, 0, 10000), Note(0, 0, 60, 100), Bend(0, 0, 9000), EndOfTrack(100)});
  EXPECT_EQ(
      CopyOf(*behind, 1),
      Join({kDefaultRange,
            {"+0 bend ch0 9000", "+0 note ch0 60 dur100", "+4900 cc ch0 101=127", "+0 eot"}}));
}

TEST_F(NoteRetuneTest, BendsInsideTheNoteAreShiftedLikeTheNote) {
  const auto song = MakeSong(Events({BendRange(0, 0, 2),
                                     {Note(0, 0, 64, 480), Bend(240, 0, 12288), Bend(240, 0, 8192),
                                      Note(0, 0, 62, 480), EndOfTrack(480)}}));
  // E is -14 cents: offset +557 on the retuning bend and on both bends up to its end.
  EXPECT_EQ(CopyOf(*song, 3),
            Join({kDefaultRange,
                  {"+0 bend ch0 7635", "+0 note ch0 64 dur480", "+240 bend ch0 11731",
                   "+240 bend ch0 7635", "+5280 cc ch0 101=127", "+0 eot"}}));
}

TEST_F(NoteRetuneTest, ResetAllControllersCentresTheBaseAndNullsTheRegisters) {
  // After the reset, data entry 1 no longer reaches the bend range: it stays 12.
  const auto song =
      MakeSong(Events({BendRange(0, 0, 12),
                       {Bend(0, 0, 12000), Control(100, 0, 121, 0), Control(0, 0, 6, 1),
                        Note(100, 0, 62, 100), EndOfTrack(100)}}));
  EXPECT_EQ(FindBendSensitivity(*song, 0, 200), 12);
  EXPECT_EQ(CopyOf(*song, 6),
            (Lines{"+0 cc ch0 101=0", "+0 cc ch0 100=0", "+0 cc ch0 6=12", "+0 bend ch0 12000",
                   "+100 cc ch0 121=0", "+0 cc ch0 6=1", "+100 bend ch0 8223",
                   "+0 note ch0 62 dur100", "+4900 cc ch0 101=127", "+0 eot"}));

  // A reset at the note's tick, behind a bend of that tick: the retuning bend follows it.
  const auto sameTick = MakeSong(
      Events({BendRange(0, 0, 2),
              {Bend(50, 0, 10000), Note(0, 0, 60, 10), Control(0, 0, 121, 0), EndOfTrack(10)}}));
  EXPECT_EQ(CopyOf(*sameTick, 4),
            Join({kDefaultRange,
                  {"+50 cc ch0 121=0", "+0 bend ch0 8192", "+0 note ch0 60 dur10",
                   "+4810 cc ch0 101=127", "+0 eot"}}));

  // A reset while the note sounds: the note is bent back to its tuning right after it.
  const auto inside = MakeSong(
      Events({BendRange(0, 0, 2), {Note(0, 0, 64, 100), Control(50, 0, 121, 0), EndOfTrack(50)}}));
  EXPECT_EQ(CopyOf(*inside, 3),
            Join({kDefaultRange,
                  {"+0 bend ch0 7635", "+0 note ch0 64 dur100", "+50 cc ch0 121=0",
                   "+0 bend ch0 7635", "+4850 cc ch0 101=127", "+0 eot"}}));
}

TEST_F(NoteRetuneTest, SensitivityFollowsTheRegisters) {
  // An NRPN selected after RPN 0,0 takes the data entry.
  const auto nrpn = MakeSong(Events({BendRange(0, 0, 12),
                                     {Control(0, 0, 99, 1), Control(0, 0, 98, 8),
                                      Control(0, 0, 6, 64), Note(10, 0, 60, 5), EndOfTrack(5)}}));
  EXPECT_EQ(FindBendSensitivity(*nrpn, 0, 10), 12);

  // Registers start null: a data entry without RPN selection sets nothing.
  const auto bare = MakeSong({Control(0, 0, 6, 5), Note(0, 0, 60, 5), EndOfTrack(5)});
  EXPECT_EQ(FindBendSensitivity(*bare, 0, 0), 0);

  // Data entry LSB adds cents.
  const auto fine = MakeSong(Events({BendRange(0, 0, 2, 50), {EndOfTrack(5)}}));
  EXPECT_EQ(FindBendSensitivity(*fine, 0, 0), 2.5);

  // Only the channel's own events up to the time count; a range set at that tick does.
  const auto timing = MakeSong(
      Events({BendRange(0, 1, 7), BendRange(10, 0, 3), BendRange(10, 0, 5), {EndOfTrack(5)}}));
  EXPECT_EQ(FindBendSensitivity(*timing, 0, 9), 0);
  EXPECT_EQ(FindBendSensitivity(*timing, 0, 10), 3);
  EXPECT_EQ(FindBendSensitivity(*timing, 0, 19), 3);
  EXPECT_EQ(FindBendSensitivity(*timing, 0, 20), 5);
  EXPECT_EQ(FindBendSensitivity(*timing, 1, 0), 7);
}

TEST_F(NoteRetuneTest, RangeZeroGetsTheDefaultRangeInFrontOfTheBend) {
  const auto song = MakeSong(Events({BendRange(0, 0, 0), {Note(0, 0, 67, 100), EndOfTrack(100)}}));
  EXPECT_EQ(FindBendSensitivity(*song, 0, 0), 0);
  // The song's own range 0 at the same tick stands first, so the default overrides it.
  EXPECT_EQ(
      CopyOf(*song, 3),
      Join({{"+0 cc ch0 101=0", "+0 cc ch0 100=0", "+0 cc ch0 6=0"},
            kDefaultRange,
            {"+0 bend ch0 8295", "+0 note ch0 67 dur100", "+4900 cc ch0 101=127", "+0 eot"}}));
}

TEST_F(NoteRetuneTest, LastRhythmPartSettingDecides) {
  const std::vector<MidiEvent> tail{Note(100, 0, 60, 10), EndOfTrack(10)};
  // Made a rhythm part, then back to normal: retuned.
  const auto back = MakeSong(Events({{RhythmPart(0, 0, 1), RhythmPart(50, 0, 0)}, tail}));
  EXPECT_EQ(CopyOf(*back, 2), Join({{"+0 sysex ch0 class18 1", "+50 sysex ch0 class18 0"},
                                    {"+100 cc ch0 101=0"},
                                    {"+0 cc ch0 100=0", "+0 cc ch0 6=2", "+0 bend ch0 8192",
                                     "+0 note ch0 60 dur10", "+4810 cc ch0 101=127", "+0 eot"}}));
  // Normal, then a rhythm part (map 2): no bend, no range.
  const auto drums = MakeSong(Events({{RhythmPart(0, 0, 0), RhythmPart(50, 0, 2)}, tail}));
  EXPECT_EQ(CopyOf(*drums, 2), (Lines{"+0 sysex ch0 class18 0", "+50 sysex ch0 class18 2",
                                      "+100 note ch0 60 dur10", "+4810 cc ch0 101=127", "+0 eot"}));
  // Another channel's setting, or one after the note, does not count.
  const auto other =
      MakeSong({RhythmPart(0, 1, 1), Note(150, 0, 60, 10), RhythmPart(5, 0, 1), EndOfTrack(5)});
  const Lines copy = CopyOf(*other, 1);
  EXPECT_NE(std::find(copy.begin(), copy.end(), "+0 bend ch0 8192"), copy.end());
}

// A key struck again before its note-off releases the older note; the first note-off of
// the key after a note starts releases it, whichever note it was paired with.
TEST_F(NoteRetuneTest, ReStruckKeyReleasesWhereTheSinglePassDoes) {
  const auto song =
      MakeSong({Note(0, 0, 60, 480), Note(240, 0, 60, 480), Note(0, 0, 62, 100),
                Note(0, 1, 60, 1000), Note(400, 0, 60, 50), Note(0, 0, 60, 0), EndOfTrack(2000)});
  const auto index = IndexSong(*song);
  ASSERT_TRUE(index);
  std::vector<int64_t> releases;
  for (int32_t i = 0; i < 6; ++i) releases.push_back(ReleaseTick(*index, i));
  // The re-strike at 240, the first note's off at 480, its own end, another channel's own
  // end, the re-strike later at its own tick, and no length at all.
  EXPECT_EQ(releases, (std::vector<int64_t>{240, 480, 340, 1240, 640, 640}));
  const Lines copy = CopyOf(*song, 0);
  EXPECT_NE(std::find(copy.begin(), copy.end(), "+0 note ch0 60 dur240"), copy.end());
}

// At one tick the file's order decides: a note-off of the key right behind its note-on, in
// its track or a later one (a synthesizer plays a tick's tracks in order), releases the new
// note at once (keys 60, 64); one in front of it, or in an earlier track, does not (62, 65).
TEST_F(NoteRetuneTest, NoteOffBehindTheNoteOnAtItsTickReleasesItAtOnce) {
  test::TrackBytes first, second;
  first.NoteOn(0, 0, 60, 90).NoteOn(0, 0, 62, 90).NoteOn(96, 0, 60, 90).NoteOff(0, 0, 60);
  first.NoteOff(0, 0, 62).NoteOn(0, 0, 62, 90).NoteOff(96, 0, 60).NoteOff(0, 0, 62);
  first.NoteOn(0, 0, 65, 90).NoteOn(96, 0, 64, 90).NoteOff(0, 0, 65).NoteOff(96, 0, 64);
  second.NoteOn(192, 0, 64, 90).NoteOff(96, 0, 64).NoteOn(0, 0, 65, 90).NoteOff(96, 0, 65);
  MidiLoader loader = LoadSmfFromBytes(ctx, test::SmfFile(1, 96, {first, second}));
  PrepareSong(ctx, loader);
  ASSERT_TRUE(loader.song);
  const auto index = IndexSong(*loader.song);
  ASSERT_TRUE(index);
  std::vector<std::tuple<int64_t, int, int64_t>> releases;  // tick, key, release
  for (int32_t i = 0; i < loader.song->track->count(); ++i) {
    const MidiEvent& e = loader.song->track->events[static_cast<size_t>(i)];
    if (e.status == st::kNote)
      releases.emplace_back(index->times[i], e.note, ReleaseTick(*index, i));
  }
  std::sort(releases.begin(), releases.end());
  EXPECT_EQ(releases, (std::vector<std::tuple<int64_t, int, int64_t>>{{0, 60, 96},
                                                                      {0, 62, 96},
                                                                      {96, 60, 96},
                                                                      {96, 62, 192},
                                                                      {192, 64, 288},
                                                                      {192, 65, 288},
                                                                      {288, 64, 288},
                                                                      {288, 65, 384}}));
}

// After its window a copy keeps the events that reach its release tail, for as long as the
// single pass lets a voice ring (10 s: 9600 ticks at 480 per quarter, 120 bpm), and its End
// of Track stands 5 s after the song's end, the renderer's own tail limit before the cap.
TEST_F(NoteRetuneTest, HeldPedalKeepsTheWindowOpenUntilItsRelease) {
  const std::vector<MidiEvent> afterNote{Control(50, 0, 7, 80),   Bend(50, 0, 9000),
                                         Control(100, 0, 11, 60), Control(100, 0, 64, 0),
                                         Control(9450, 0, 7, 10), EndOfTrack(100)};
  const auto pedalled = MakeSong(
      Events({BendRange(0, 0, 2), {Control(0, 0, 64, 127), Note(0, 0, 64, 100)}, afterNote}));
  const Lines window{"+0 bend ch0 7635",  "+0 note ch0 64 dur100", "+50 cc ch0 7=80",
                     "+50 bend ch0 8443", "+100 cc ch0 11=60",     "+100 cc ch0 64=0"};
  EXPECT_EQ(CopyOf(*pedalled, 4), Join({kDefaultRange,
                                        {"+0 cc ch0 64=127"},
                                        window,
                                        {"+9450 cc ch0 7=10", "+4900 cc ch0 101=127", "+0 eot"}}));

  // Without the pedal the window ends with the note: the last change comes too late.
  const auto plain = MakeSong(Events({BendRange(0, 0, 2), {Note(0, 0, 64, 100)}, afterNote}));
  EXPECT_EQ(CopyOf(*plain, 3), Join({kDefaultRange, window, {"+14350 cc ch0 101=127", "+0 eot"}}));

  // Sostenuto never released: everything of the channel up to the song's end.
  const auto held =
      MakeSong({Control(0, 0, 66, 100), Note(0, 0, 60, 10), Control(20, 0, 7, 1), EndOfTrack(30)});
  EXPECT_EQ(CopyOf(*held, 1), Join({{"+0 cc ch0 66=100"},
                                    kDefaultRange,
                                    {"+0 bend ch0 8192", "+0 note ch0 60 dur10", "+20 cc ch0 7=1",
                                     "+4830 cc ch0 101=127", "+0 eot"}}));
}

// The tail is measured in time: after a slower tempo, fewer ticks reach it.
TEST_F(NoteRetuneTest, TempoChangesKeptAndTheTailMeasuredInTime) {
  const auto song = MakeSong({Tempo(0, 500000), Note(0, 0, 60, 480), Tempo(240, 250000),
                              Note(0, 1, 62, 10), Control(0, 1, 7, 1), Tempo(240, 1000000),
                              Control(1000, 0, 7, 90), Control(4500, 0, 7, 80), EndOfTrack(0)});
  EXPECT_EQ(CopyOf(*song, 1),
            Join({{"+0 tempo 500000"},
                  kDefaultRange,
                  {"+0 bend ch0 8192", "+0 note ch0 60 dur480", "+240 tempo 250000",
                   "+240 tempo 1000000", "+1000 cc ch0 7=90", "+6900 cc ch0 101=127", "+0 eot"}}));
}

// Without its End of Track a song's copy could not be written: its notes do not sound.
TEST_F(NoteRetuneTest, MissingEndOfTrackShowsErr3AndGoesOn) {
  const auto song = MakeSong({Note(0, 0, 60, 10), Program(20, 0, 1)});
  const auto index = IndexSong(*song);
  ASSERT_TRUE(index);
  const Tuning tuning{KeyTableFromCents(kPureIntervalCents), {}};
  NotePlanner planner(*index, tuning);
  EXPECT_FALSE(planner.Plan(rec, 0).sounds);
  EXPECT_EQ(rec.texts(), (Lines{"err3"}));
  EXPECT_EQ(rec.reports()[0].module, "");
}

// Where time runs backward, an event past the note's tail may be followed by one inside
// it: the copy then looks at every event, not only up to the first one past the tail.
TEST_F(NoteRetuneTest, TimeRunningBackwardKeepsWhatFallsInsideTheWindow) {
  const auto song = MakeSong(
      {Note(0, 0, 60, 10), Program(10000, 0, 5), Control(-9995, 0, 7, 100), EndOfTrack(100)});
  EXPECT_TRUE(IndexSong(*song)->fullScan);
  EXPECT_EQ(CopyOf(*song, 0), Join({kDefaultRange,
                                    {"+0 bend ch0 8192", "+0 note ch0 60 dur10", "+5 cc ch0 7=100",
                                     "+4900 cc ch0 101=127", "+0 eot"}}));
}

TEST_F(NoteRetuneTest, IndexThatIsNoNoteGivesNoCopy) {
  const auto song = MakeSong({Program(0, 0, 1), Note(0, 0, 60, 10), EndOfTrack(10)});
  EXPECT_EQ(Build(ctx, *song, 0), nullptr);
  EXPECT_EQ(Build(ctx, *song, 7), nullptr);
  EXPECT_EQ(rec.texts().size(), 2u);
  EXPECT_EQ(rec.texts()[0], "MDTK0D000001 Midiのトラックデータで内部エラーが発生しました。");
}

namespace polyphony {

struct Placed {
  int64_t tick;
  MidiEvent event;
};

// Pitched notes on four channels overlapping far beyond the polyphony, a sustain pedal
// held over part of channel 1, and long drum notes (the drum pass's own, never counted).
std::unique_ptr<MidiFormat0Data> Crowd(int pitched) {
  std::vector<Placed> placed{{500, Control(0, 1, 64, 127)}, {1500, Control(0, 1, 64, 0)}};
  uint32_t seed = 12345;
  const auto next = [&seed](uint32_t range) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 8) % range;
  };
  for (int n = 0; n < pitched; ++n) {
    const int64_t tick = n * 2 + next(5);
    placed.push_back({tick, Note(0, n % 4, static_cast<int>(next(128)),
                                 300 + static_cast<int32_t>(next(3000)))});
  }
  for (int n = 0; n < 50; ++n) placed.push_back({n * 40, Note(0, kDrumChannel, 36 + n % 10, 5000)});
  std::stable_sort(placed.begin(), placed.end(),
                   [](const Placed& a, const Placed& b) { return a.tick < b.tick; });
  std::vector<MidiEvent> events;
  int64_t last = 0;
  for (Placed& p : placed) {
    p.event.delta = static_cast<int32_t>(p.tick - last);
    last = p.tick;
    events.push_back(p.event);
  }
  events.push_back(EndOfTrack(6000));
  return MakeSong(events);
}

}  // namespace polyphony

// At every note-on at most the synthesizer's polyphony of pitched notes are still sounding
// (held by key or pedal); beyond it the oldest gives way there, its copy cut at once. Checked
// against a plain model of the single pass's bookkeeping; with no more notes than the
// polyphony nothing gives way.
TEST_F(NoteRetuneTest, AtMostThePolyphonyOfNotesSoundAndTheOldestGivesWay) {
  const auto song = polyphony::Crowd(400);
  const auto index = IndexSong(*song);
  ASSERT_TRUE(index);
  const auto& events = song->track->events;
  const std::vector<int64_t> times = test::AbsoluteTimes(*song->track);
  struct Model {
    int32_t at;
    int64_t start, end;
  };
  std::vector<Model> sounding;
  std::vector<std::pair<int32_t, int64_t>> expected;
  for (int32_t i = 0; i < static_cast<int32_t>(events.size()); ++i) {
    const MidiEvent& e = events[static_cast<size_t>(i)];
    if (e.status != st::kNote || e.channel == kDrumChannel) continue;
    const int64_t now = times[static_cast<size_t>(i)];
    std::erase_if(sounding, [now](const Model& m) { return m.end <= now; });
    if (sounding.size() >= static_cast<size_t>(kRenderPolyphony)) {
      expected.emplace_back(sounding.front().at, now);  // in start order: the oldest
      sounding.erase(sounding.begin());
    }
    int64_t end = ReleaseTick(*index, i);
    if (e.channel == 1 && end >= 500 && end < 1500) end = 1500;  // the pedal holds it
    if (end > now) sounding.push_back({i, now, end});
  }
  std::sort(expected.begin(), expected.end());
  ASSERT_GT(expected.size(), 20u);
  EXPECT_EQ(index->stolen, expected);
  const bool pedalHeld = std::any_of(expected.begin(), expected.end(), [&](const auto& s) {
    return events[static_cast<size_t>(s.first)].channel == 1 &&
           ReleaseTick(*index, s.first) < s.second;
  });
  EXPECT_TRUE(pedalHeld);

  // The copy of a note that gives way: all its sound off at the cut.
  const auto [at, cut] = expected.front();
  const Lines copy = CopyOf(*song, at);
  const std::string off =
      " ch" + std::to_string(events[static_cast<size_t>(at)].channel) + " 120=0";
  const auto line = std::find_if(copy.begin(), copy.end(), [&](const std::string& l) {
    return l.find(off) != std::string::npos;
  });
  ASSERT_NE(line, copy.end());
  EXPECT_EQ(test::AbsoluteTimes(*Build(ctx, *song, at)->track)[line - copy.begin()], cut);

  EXPECT_TRUE(IndexSong(*polyphony::Crowd(kRenderPolyphony))->stolen.empty());
}

// Two parts sharing a channel at one tick: the program change behind a note chooses the
// next part's sound, not the note's.
TEST_F(NoteRetuneTest, ProgramChangeBehindTheNoteAtItsTickIsNotItsOwn) {
  const auto song = MakeSong({Program(0, 0, 3), Note(0, 0, 60, 100), Program(0, 0, 0),
                              Note(0, 0, 64, 100), EndOfTrack(100)});
  const auto programs = [&](int32_t i) {
    Lines found;
    for (const std::string& line : CopyOf(*song, i))
      if (line.find("program") != std::string::npos) found.push_back(line);
    return found;
  };
  EXPECT_EQ(programs(1), (Lines{"+0 program ch0 3"}));
  // The later program replaces the first before E starts: only it is in E's plan.
  EXPECT_EQ(programs(3), (Lines{"+0 program ch0 0"}));
}

// A plan at the event cap: with every event of its window kept, the retuning bend (or, a
// step earlier, the End of Track) no longer fits a track. The note's file cannot be written
// and the cap is said, rather than a copy at the song's own pitch passing for a retuned one.
TEST_F(NoteRetuneTest, APlanThatDoesNotFitATrackFailsWithAMessage) {
  const int32_t cap = MidiTrack{}.maxEvents();
  // Kept besides the window's controllers: the note, the tail holder and the End of Track.
  for (const int32_t controllers : {cap - 3, cap - 2}) {
    SCOPED_TRACE(controllers);
    std::vector<MidiEvent> events{Note(0, 0, 64, 100)};
    events.insert(events.end(), static_cast<size_t>(controllers), Control(0, 0, 7, 90));
    events[1].delta = 50;
    events.push_back(EndOfTrack(50));
    const auto song = MakeSong(events);
    const auto index = IndexSong(*song);
    ASSERT_TRUE(index);
    RecordingReporter own;
    MidiContext ctx(own);
    EXPECT_EQ(test::PlannedCopy(ctx, *index, 0, Tuning{KeyTableFromCents(kPureIntervalCents), {}}),
              nullptr);
    EXPECT_TRUE(own.Contains("MDTK0D000006"));
  }
}

}  // namespace
}  // namespace velorna
