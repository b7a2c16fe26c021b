// Presets against the tables their sources publish, and laid on every tonic.
#include "tuning/presets.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tuning/tuning_choice.h"

namespace velorna {
namespace {

struct Published {
  PresetId id;
  std::array<double, 11> cents;  // degrees 1..11 above the tonic
  double tolerance;
};

// The Scala archive's files as published (3 decimals), except Young's first temperament,
// whose published table (Kyle Gann's, behind young2.scl) gives tenths of a cent.
const Published kPublished[] = {
    {PresetId::kEqual, {100, 200, 300, 400, 500, 600, 700, 800, 900, 1000, 1100}, 0.001},
    {PresetId::kJust,
     {111.731, 203.910, 315.641, 386.314, 498.045, 590.224, 701.955, 813.686, 884.359, 1017.596,
      1088.269},
     0.01},
    {PresetId::kPythagorean,
     {113.685, 203.910, 294.135, 407.820, 498.045, 611.730, 701.955, 815.640, 905.865, 996.090,
      1109.775},
     0.01},
    {PresetId::kMeantoneQuarter,
     {76.049, 193.157, 310.265, 386.314, 503.422, 579.471, 696.578, 772.627, 889.735, 1006.843,
      1082.892},
     0.01},
    {PresetId::kMeantoneSixth,
     {88.594, 196.741, 304.888, 393.482, 501.629, 590.224, 698.371, 786.965, 895.112, 1003.259,
      1091.853},
     0.01},
    {PresetId::kWerckmeister3,
     {90.225, 192.180, 294.135, 390.225, 498.045, 588.270, 696.090, 792.180, 888.270, 996.090,
      1092.180},
     0.01},
    {PresetId::kKirnberger3,
     {90.225, 193.157, 294.135, 386.314, 498.045, 590.224, 696.578, 792.180, 889.735, 996.090,
      1088.269},
     0.01},
    {PresetId::kVallotti,
     {94.135, 196.090, 298.045, 392.180, 501.955, 592.180, 698.045, 796.090, 894.135, 1000.000,
      1090.225},
     0.01},
    {PresetId::kYoung,
     {93.9, 195.8, 297.8, 391.7, 499.9, 591.9, 697.9, 795.8, 893.8, 999.8, 1091.8},
     0.05},
};

TEST(Presets, MatchTheirPublishedTables) {
  ASSERT_EQ(std::size(kPublished), Presets().size());
  for (const Published& p : kPublished) {
    const CentTable cents = PresetDegreeCents(p.id);
    const char* name = PresetInfoOf(p.id).name;
    EXPECT_EQ(FindPreset(name), p.id);
    EXPECT_EQ(cents[0], 0.0) << name;
    for (size_t d = 1; d < cents.size(); ++d) {
      EXPECT_NEAR(cents[d], p.cents[d - 1], p.tolerance) << name << " degree " << d;
    }
  }
  // The just preset on C is the pattern the conversion has always used, to whole cents.
  const CentTable just = PresetOffsets(PresetId::kJust, 0);
  for (size_t pc = 0; pc < just.size(); ++pc)
    EXPECT_EQ(std::round(just[pc]), kPureIntervalCents[pc]);
}

// Every preset on every tonic keeps its shape, and a reference pitch moves every key so that
// A4 sounds at it; offsets given on C move to the tonic as they are; the default choice is the
// default.
TEST(Presets, LaidOnEveryTonicKeepTheirShape) {
  EXPECT_EQ(TonicPitchClass(kDefaultTonicIndex), 0);
  EXPECT_EQ(TonicPitchClass(*FindTonic("Cb")), 11);
  EXPECT_EQ(TonicPitchClass(*FindTonic("f#")), 6);
  EXPECT_EQ(TonicPitchClass(*FindTonic("Db")), TonicPitchClass(*FindTonic("C#")));
  EXPECT_FALSE(FindTonic("H"));
  const double shift = 1200 * std::log2(415.0 / 440.0);
  for (const PresetInfo& preset : Presets()) {
    const CentTable onC = PresetOffsets(preset.id, 0);
    for (int index = 0; index < kTonicCount; ++index) {
      const int tonic = TonicPitchClass(index);
      const Tuning tuning = BuildTuning({preset.id, index, 415.0});
      const auto degreeOf = [&](int key) {
        return static_cast<size_t>((key - tonic + kPitchClassCount) % kPitchClassCount);
      };
      for (int key = 0; key < kKeyCount; ++key) {
        ASSERT_TRUE(tuning.keys[static_cast<size_t>(key)]);
        EXPECT_NEAR(*tuning.keys[static_cast<size_t>(key)],
                    onC[degreeOf(key)] - onC[degreeOf(kA4Key)] + shift, 1e-9)
            << preset.name << " on " << kTonicNames[static_cast<size_t>(index)] << " key " << key;
      }
    }
  }
  EXPECT_EQ(BuildTuning({}).keys, Tuning{}.keys);
  CentTable onC{};
  onC[0] = 10;
  onC[4] = -13.5;
  const Tuning d = BuildTuning({onC, *FindTonic("D"), std::nullopt});
  EXPECT_EQ(*d.keys[62], 10);
  EXPECT_EQ(*d.keys[66 + 12], -13.5);
  EXPECT_EQ(*d.keys[60], 0);
}

}  // namespace
}  // namespace velorna
