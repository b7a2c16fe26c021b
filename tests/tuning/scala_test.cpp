// Scala files as musicians write them, as hostile files are, and written back.
#include "tuning/scala.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <fstream>
#include <random>

#include "support/scala_text.h"
#include "support/temp_dir.h"
#include "tuning/tuning_choice.h"

namespace velorna {
namespace {

double Cents(double ratio) {
  return 1200 * std::log2(ratio);
}

Scale ReadScale(const std::string& text) {
  const ScalaRead<Scale> r = ParseScl(text);
  EXPECT_TRUE(r.value) << ScalaErrorText(r.error, "test.scl");
  return r.value.value_or(Scale{});
}

KeyboardMap ReadMap(const std::string& text) {
  const ScalaRead<KeyboardMap> r = ParseKbm(text);
  EXPECT_TRUE(r.value) << ScalaErrorText(r.error, "test.kbm");
  return r.value.value_or(KeyboardMap{});
}

// A tuning written as .scl and .kbm reads back with the same keys mapped, to 0.001 cent.
void ExpectReadsBackAs(const ScalaFiles& files, const KeyTable& want) {
  const KeyTable back =
      KeyTableFromScala(ReadScale(WriteScl(files.scale)), ReadMap(WriteKbm(files.map)));
  for (size_t key = 0; key < want.size(); ++key) {
    ASSERT_EQ(back[key].has_value(), want[key].has_value())
        << files.scale.description << " key " << key;
    if (want[key]) {
      EXPECT_NEAR(*back[key], *want[key], 0.001) << files.scale.description << " key " << key;
    }
  }
}

TEST(ScalaRead, ReadsPitchesInEveryForm) {
  // BOM, CRLF, comments, blank lines outside the pitches, trailing text; cents, ratios, whole
  // numbers, negatives.
  const Scale s = ReadScale(
      "\xEF\xBB\xBF! odd.scl\r\n!\r\n  Odd forms  \r\n\r\n 6 ! notes\r\n!\r\n 100.0\r\n"
      "9/8 whole tone\r\n-5.5\r\n  +701.955\r\n 5\r\n 2/1\r\n! the end\r\n\r\n");
  EXPECT_EQ(s.description, "Odd forms");
  ASSERT_EQ(s.cents.size(), 6u);
  EXPECT_DOUBLE_EQ(s.cents[0], 100.0);
  EXPECT_NEAR(s.cents[1], Cents(9.0 / 8), 1e-9);
  EXPECT_DOUBLE_EQ(s.cents[2], -5.5);
  EXPECT_DOUBLE_EQ(s.cents[3], 701.955);
  EXPECT_NEAR(s.cents[4], Cents(5), 1e-9);
  EXPECT_DOUBLE_EQ(s.cents[5], 1200.0);
  // A blank description is still the description.
  EXPECT_EQ(ReadScale("!\n\n1\n2/1\n").description, "");

  // Without a mapping: degree 0 on key 60 at its own pitch, one degree per key, the period
  // repeating up and down; here Bohlen-Pierce, 13 equal steps of a 3/1 "tritave".
  const KeyTable keys =
      KeyTableFromScala(ReadScale(test::EqualStepsScl(13, Cents(3))), DefaultKeyboardMap());
  for (int key = 0; key < kKeyCount; ++key) {
    const double want = Cents(3) * (key - 60) / 13 - 100 * (key - 60);
    EXPECT_NEAR(*keys[static_cast<size_t>(key)], want, 1e-3) << key;
  }
}

TEST(ScalaRead, RefusesMalformedFilesNamingTheLine) {
  struct Case {
    std::string text;
    ScalaErrorKind kind;
    int line;
  };
  const Case scl[] = {
      {"", ScalaErrorKind::kMissingDescription, 1},
      {"! only comments\n", ScalaErrorKind::kMissingDescription, 2},
      {"desc\n", ScalaErrorKind::kMissingCount, 2},
      {"desc\n\n!\ntwelve\n", ScalaErrorKind::kBadCount, 4},
      {"desc\n0\n", ScalaErrorKind::kBadCount, 2},
      {"desc\n99999999999999999999\n", ScalaErrorKind::kBadCount, 2},
      {"desc\n5000\n", ScalaErrorKind::kTooManyNotes, 2},
      {"desc\n3\n100.\n200.\n", ScalaErrorKind::kMissingPitch, 5},
      {"desc\n2\n100.\n2/1\n3/1\n", ScalaErrorKind::kExtraLine, 5},
      {"desc\n2\nabc\n2/1\n", ScalaErrorKind::kBadPitch, 3},
      {"desc\n2\n1.2.3\n2/1\n", ScalaErrorKind::kBadPitch, 3},
      {"desc\n2\n3/\n2/1\n", ScalaErrorKind::kBadPitch, 3},
      {"desc\n2\n0/1\n2/1\n", ScalaErrorKind::kNonPositiveRatio, 3},
      {"desc\n2\n3/0\n2/1\n", ScalaErrorKind::kNonPositiveRatio, 3},
      {"desc\n2\n-3/2\n2/1\n", ScalaErrorKind::kNonPositiveRatio, 3},
      {"desc\n1\n99999999.0\n", ScalaErrorKind::kPitchOutOfRange, 3},
      {"desc\n2\n100.0\n-1200.0\n", ScalaErrorKind::kBadPeriod, 4},
      {"desc\n1\n1/1\n", ScalaErrorKind::kBadPeriod, 3},
      {std::string("desc\n1\n2/1\0\n", 12), ScalaErrorKind::kNotText, 3},
      {"desc\n1\n" + std::string(kMaxScalaLineBytes + 1, '1') + "\n", ScalaErrorKind::kLineTooLong,
       3},  // A blank line may stand for a pitch or an entry: never skipped among them.
      {"desc\n3\n100.\n\n200.\n2/1\n", ScalaErrorKind::kBlankEntry, 4},
      {"desc\n2\n! c\n\n100.\n2/1\n", ScalaErrorKind::kBlankEntry, 4},
  };
  const Case kbm[] = {
      {"12\n0\n127\n60\n", ScalaErrorKind::kMissingField, 5},
      {"12\n0\n127\nmiddle\n", ScalaErrorKind::kBadField, 4},
      {"12\n0\n128\n60\n69\n440\n12\n", ScalaErrorKind::kFieldOutOfRange, 3},
      {"12\n64\n63\n60\n69\n440\n12\n", ScalaErrorKind::kFieldOutOfRange, 3},
      {"12\n0\n127\n60\n69\n0\n12\n", ScalaErrorKind::kFieldOutOfRange, 6},
      {"12\n0\n127\n60\n69\nnan\n12\n", ScalaErrorKind::kBadField, 6},
      {"2\n0\n127\n60\n69\n440\n2\n0\n1\n2\n", ScalaErrorKind::kTooManyMapEntries, 10},
      {"2\n0\n127\n60\n69\n440\n2\n0\ny\n", ScalaErrorKind::kBadMapEntry, 9},
      // Key 69 lands on the second entry, which is unmapped: nothing to measure pitches from.
      {"2\n0\n127\n60\n69\n440\n2\n0\nx\n", ScalaErrorKind::kReferenceUnmapped, 5},
      {"12\n0\n127\n60\n69\n440\n12\n0\n1\n\n! c\n3\n", ScalaErrorKind::kBlankEntry, 10},
  };
  const auto refused = [](const auto& read, const Case& c) {
    EXPECT_FALSE(read.value) << c.text;
    EXPECT_EQ(read.error.kind, c.kind) << c.text;
    EXPECT_EQ(read.error.line, c.line) << c.text;
  };
  for (const Case& c : scl) refused(ParseScl(c.text), c);
  for (const Case& c : kbm) refused(ParseKbm(c.text), c);
  // Keys left out at the end of a mapping, and blank lines behind its last entry, are Scala's.
  EXPECT_EQ(ReadMap("12\n0\n127\n60\n60\n440\n12\n0\n1\n\n! end\n\n").mapping.size(), 2u);
  // Each message names the file and the line, and quotes what was wrong.
  const std::string text = ScalaErrorText(ParseScl("d\n2\nabc\n2/1\n").error, "x.scl");
  EXPECT_EQ(text, "x.scl の 3 行目: 音程を読み取れません。 (abc)");
}

TEST(ScalaRead, KeyboardMapsPlaceDegreesOnKeys) {
  const Scale scale = ReadScale(test::EqualStepsScl(19, 1200));

  // Linear (map size 0): consecutive keys, degree 0 on key 62, key 69 at 432 Hz; offsets
  // reach several semitones away from the keys.
  KeyTable keys = KeyTableFromScala(scale, ReadMap("0\n0\n127\n62\n69\n432.0\n0\n"));
  const double at69 = Cents(432.0 / 440.0);
  for (int key = 0; key < kKeyCount; ++key) {
    const double want = at69 + 1200.0 * (key - 69) / 19 - 100 * (key - 69);
    EXPECT_NEAR(*keys[static_cast<size_t>(key)], want, 1e-6) << key;
  }

  // A 12-key pattern taking 7 degrees of the scale, black keys unmapped ("x", or left out at
  // the end), only keys 48..84 retuned: the rest keep their equal-tempered pitch.
  keys = KeyTableFromScala(
      scale, ReadMap("12\n48\n84\n60\n60\n261.6255653\n19\n0\nx\n3\nX\n6\n8\nx\n11\nx\n14\n17\n"));
  EXPECT_FALSE(keys[61]);
  EXPECT_FALSE(keys[71]);  // past the mapping's end
  EXPECT_FALSE(keys[49]);
  EXPECT_EQ(keys[47], 0.0);
  EXPECT_EQ(keys[85], 0.0);
  EXPECT_NEAR(*keys[60], 0.0, 1e-6);
  EXPECT_NEAR(*keys[67], 1200.0 * 11 / 19 - 700, 1e-6);
  EXPECT_NEAR(*keys[79], 1200.0 * 30 / 19 - 1900, 1e-6);  // one pattern up: 19 degrees more
  EXPECT_NEAR(*keys[57], 1200.0 * (14 - 19) / 19 + 300, 1e-6);

  // The tonic moves the mapping and its pitches together: on D, key 62 plays degree 0 at
  // D's equal-tempered pitch.
  const Tuning onD = BuildTuning({ScalaSource{scale, std::nullopt}, 9, std::nullopt});
  EXPECT_NEAR(*onD.keys[62], 0.0, 1e-5);
  EXPECT_NEAR(*onD.keys[63], 1200.0 / 19 - 100, 1e-5);
}

TEST(ScalaRead, FilesAreBoundedAndNeverWaitedOn) {
  test::TempDir dir;
  const std::string fifo = (dir / "pipe.scl").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(LoadScl(fifo).error.kind, ScalaErrorKind::kNotRegularFile);
  EXPECT_EQ(LoadKbm(dir.path().string()).error.kind, ScalaErrorKind::kNotRegularFile);
  EXPECT_EQ(LoadScl((dir / "missing.scl").string()).error.kind, ScalaErrorKind::kCannotOpen);
  const std::string big = (dir / "big.scl").string();
  std::ofstream(big) << "desc\n1\n2/1\n" << std::string(kMaxScalaFileBytes, '!');
  EXPECT_EQ(LoadScl(big).error.kind, ScalaErrorKind::kFileTooLarge);
  const std::string good = (dir / "good.scl").string();
  std::ofstream(good) << "desc\n1\n2/1\n";
  EXPECT_TRUE(LoadScl(good).value);
}

// Any tuning written as .scl + .kbm reads back to the same targets.
TEST(ScalaWrite, RoundTripKeepsEveryTarget) {
  std::mt19937 rng(18);
  std::uniform_real_distribution<double> cents(-1200, 1200);
  std::uniform_int_distribution<int> coin(0, 9);
  for (int round = 0; round < 200; ++round) {
    KeyTable keys;
    for (KeyTarget& t : keys) {
      if (coin(rng) > round % 3) t = cents(rng);  // some tables with many unmapped keys
    }
    const std::optional<ScalaFiles> files =
        ScalaFromKeyTable(keys, "random " + std::to_string(round));
    ASSERT_TRUE(files);
    ExpectReadsBackAs(*files, keys);

    // Twelve offsets on a tonic at a reference pitch: a twelve-note octave scale.
    CentTable offsets{};
    for (double& c : offsets) c = cents(rng) / 4;
    const int tonicIndex = round % kTonicCount;
    const double a4 = 380 + round * 0.6;
    const ScalaFiles octave = ScalaFromOffsets(offsets, TonicPitchClass(tonicIndex), a4, "offsets");
    EXPECT_EQ(octave.scale.cents.size(), 12u);
    ExpectReadsBackAs(octave, BuildTuning({offsets, kDefaultTonicIndex, a4}).keys);
  }
  EXPECT_FALSE(ScalaFromKeyTable(KeyTable{}, "silent"));
  // Far from their keys at both ends (a seven-note scale on every key): the lowest key sounds
  // below 1 Hz, and still reads back.
  KeyTable wide;
  wide[0] = -4301.955;
  wide[127] = 4801.955;
  const std::optional<ScalaFiles> files = ScalaFromKeyTable(wide, "wide");
  ASSERT_TRUE(files);
  ExpectReadsBackAs(*files, wide);
  wide[0] = -20000;  // beyond what a scale file may hold: not written at all
  EXPECT_FALSE(ScalaFromKeyTable(wide, "too wide"));
}

}  // namespace
}  // namespace velorna
