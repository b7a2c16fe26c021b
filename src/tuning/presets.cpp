#include "tuning/presets.h"

#include <cctype>
#include <cmath>
#include <cstdint>

namespace velorna {

namespace {

double RatioCents(double ratio) {
  return kCentsPerOctave * std::log2(ratio);
}

const double kPureFifthCents = RatioCents(3.0 / 2.0);
// 12 pure fifths over 7 octaves, and four pure fifths over a pure major third plus two octaves.
const double kPythagoreanComma = RatioCents(531441.0 / 524288.0);
const double kSyntonicComma = RatioCents(81.0 / 80.0);

constexpr int kSemitonesPerFifth = 7;

// Names typed by people: "Just", "JUST" and "just" are one name.
bool SameNameAnyCase(std::string_view typed, std::string_view name) {
  if (typed.size() != name.size()) return false;
  for (size_t i = 0; i < name.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(typed[i])) !=
        std::tolower(static_cast<unsigned char>(name[i])))
      return false;
  return true;
}

struct Ratio {
  int64_t num;
  int64_t den;
};
using RatioScale = std::array<Ratio, kPitchClassCount>;

// How much narrower than pure one fifth of a chain is, as fractions of the two commas.
struct Narrowing {
  double pythagorean = 0;
  double syntonic = 0;
};
// Eleven fifths upward from `start` (pitch class above the tonic); the twelfth closes the circle.
struct FifthChain {
  int start;
  std::array<Narrowing, kPitchClassCount - 1> fifths;
};

enum class Form { kEqual, kRatios, kFifths };
struct Definition {
  Form form;
  RatioScale ratios{};
  FifthChain chain{};
};

constexpr int kEb = 3;  // the chains below run Eb Bb F C G D A E B F# C# G#
constexpr Narrowing kPure{};
constexpr Narrowing Pyth(double f) {
  return {f, 0};
}
constexpr Narrowing Synt(double f) {
  return {0, f};
}

FifthChain Regular(Narrowing each) {
  FifthChain chain{kEb, {}};
  chain.fifths.fill(each);
  return chain;
}

Definition DefinitionOf(PresetId id) {
  switch (id) {
    case PresetId::kEqual:
      return {Form::kEqual};
    case PresetId::kJust:
      return {Form::kRatios,
              {{{1, 1},
                {16, 15},
                {9, 8},
                {6, 5},
                {5, 4},
                {4, 3},
                {45, 32},
                {3, 2},
                {8, 5},
                {5, 3},
                {9, 5},
                {15, 8}}}};
    case PresetId::kPythagorean:
      return {Form::kRatios,
              {{{1, 1},
                {2187, 2048},
                {9, 8},
                {32, 27},
                {81, 64},
                {4, 3},
                {729, 512},
                {3, 2},
                {6561, 4096},
                {27, 16},
                {16, 9},
                {243, 128}}}};
    case PresetId::kMeantoneQuarter:
      return {Form::kFifths, {}, Regular(Synt(1.0 / 4))};
    case PresetId::kMeantoneSixth:
      return {Form::kFifths, {}, Regular(Synt(1.0 / 6))};
    case PresetId::kWerckmeister3: {
      // C-G, G-D, D-A and B-F# a quarter Pythagorean comma narrow, the rest pure.
      const Narrowing q = Pyth(1.0 / 4);
      return {
          Form::kFifths, {}, {kEb, {kPure, kPure, kPure, q, q, q, kPure, kPure, q, kPure, kPure}}};
    }
    case PresetId::kKirnberger3: {
      // C-G-D-A-E a quarter syntonic comma narrow (C-E pure), F#-C# a schisma narrow.
      const Narrowing q = Synt(1.0 / 4);
      const Narrowing schisma{1, -1};
      return {Form::kFifths,
              {},
              {kEb, {kPure, kPure, kPure, q, q, q, q, kPure, kPure, schisma, kPure}}};
    }
    case PresetId::kVallotti: {
      // F-C-G-D-A-E-B a sixth Pythagorean comma narrow, the rest pure.
      const Narrowing s = Pyth(1.0 / 6);
      return {Form::kFifths, {}, {kEb, {kPure, kPure, s, s, s, s, s, s, kPure, kPure, kPure}}};
    }
    case PresetId::kYoung: {
      // C-G-D-A-E 3/16 syntonic comma narrow (C-E a quarter comma wide); Bb-F-C and E-B-F#
      // share what is left of the Pythagorean comma equally; F#-C#-G#-Eb-Bb pure.
      const Narrowing x = Synt(3.0 / 16);
      const Narrowing y{1.0 / 4, -3.0 / 16};
      return {Form::kFifths, {}, {kEb, {kPure, y, y, x, x, x, x, y, y, kPure, kPure}}};
    }
  }
  return {Form::kEqual};
}

// Offset from equal temperament of each degree above the tonic.
CentTable DegreeOffsets(PresetId id) {
  const Definition def = DefinitionOf(id);
  CentTable offsets{};
  if (def.form == Form::kRatios) {
    for (int d = 0; d < kPitchClassCount; ++d) {
      const Ratio r = def.ratios[static_cast<size_t>(d)];
      offsets[static_cast<size_t>(d)] =
          RatioCents(static_cast<double>(r.num) / static_cast<double>(r.den)) -
          kCentsPerSemitone * d;
    }
  } else if (def.form == Form::kFifths) {
    // Walk the chain, then measure each note from the tonic, folded into the nearest octave.
    CentTable along{};
    int pc = def.chain.start;
    double cents = 0;
    along[static_cast<size_t>(pc)] = cents;
    for (const Narrowing& n : def.chain.fifths) {
      cents += kPureFifthCents - n.pythagorean * kPythagoreanComma - n.syntonic * kSyntonicComma;
      pc = (pc + kSemitonesPerFifth) % kPitchClassCount;
      along[static_cast<size_t>(pc)] = cents;
    }
    for (int d = 0; d < kPitchClassCount; ++d) {
      offsets[static_cast<size_t>(d)] = std::remainder(
          along[static_cast<size_t>(d)] - along[0] - kCentsPerSemitone * d, kCentsPerOctave);
    }
  }
  return offsets;
}

int PitchClass(int n) {
  return ((n % kPitchClassCount) + kPitchClassCount) % kPitchClassCount;
}

}  // namespace

const std::array<PresetInfo, kPresetCount>& Presets() {
  static const std::array<PresetInfo, kPresetCount> presets{{
      {PresetId::kEqual, "equal", "平均律", "twelve equal semitones"},
      {PresetId::kJust, "just", "純正律 (5 リミット)",
       "5-limit just intonation: 1/1 16/15 9/8 6/5 5/4 4/3 45/32 3/2 8/5 5/3 9/5 15/8"},
      {PresetId::kPythagorean, "pythagorean", "ピタゴラス音律",
       "Scala archive pyth_12.scl, 12-tone Pythagorean scale (pure fifths Eb..G#)"},
      {PresetId::kMeantoneQuarter, "meantone-1/4", "1/4 コンマ中全音律",
       "Scala archive meanquar.scl, 1/4-comma meantone (Aaron 1523), fifths Eb..G#"},
      {PresetId::kMeantoneSixth, "meantone-1/6", "1/6 コンマ中全音律",
       "Scala archive meansixth.scl, 1/6-comma meantone (Salinas), fifths Eb..G#"},
      {PresetId::kWerckmeister3, "werckmeister3", "ヴェルクマイスター第 3 技法",
       "Scala archive werck3.scl, Andreas Werckmeister's temperament III (1681)"},
      {PresetId::kKirnberger3, "kirnberger3", "キルンベルガー第 3 技法",
       "Scala archive kirnberger.scl, Kirnberger III, letter to Forkel (1779)"},
      {PresetId::kVallotti, "vallotti", "ヴァロッティ",
       "Scala archive vallotti.scl, Vallotti (Tartini-Vallotti, 1754)"},
      {PresetId::kYoung, "young", "ヤング (1799)",
       "Scala archive young2.scl, Thomas Young's first temperament (letter of 1799, Phil. "
       "Trans. 1800)"},
  }};
  return presets;
}

const PresetInfo& PresetInfoOf(PresetId id) {
  return Presets()[static_cast<size_t>(id)];
}

std::optional<PresetId> FindPreset(std::string_view name) {
  for (const PresetInfo& p : Presets()) {
    if (SameNameAnyCase(name, p.name)) return p.id;
  }
  return std::nullopt;
}

CentTable PresetDegreeCents(PresetId id) {
  CentTable cents = DegreeOffsets(id);
  for (int d = 0; d < kPitchClassCount; ++d) cents[static_cast<size_t>(d)] += kCentsPerSemitone * d;
  return cents;
}

CentTable PresetOffsets(PresetId id, int tonicPitchClass) {
  return TransposeOffsets(DegreeOffsets(id), tonicPitchClass);
}

CentTable TransposeOffsets(const CentTable& onC, int tonicPitchClass) {
  CentTable moved{};
  for (int d = 0; d < kPitchClassCount; ++d) {
    moved[static_cast<size_t>(PitchClass(tonicPitchClass + d))] = onC[static_cast<size_t>(d)];
  }
  return moved;
}

int TonicPitchClass(int tonicIndex) {
  return PitchClass((tonicIndex - kDefaultTonicIndex) * kSemitonesPerFifth);
}

int NearestTonicShift(int tonicPitchClass) {
  const int pc = PitchClass(tonicPitchClass);
  return pc > kPitchClassCount / 2 ? pc - kPitchClassCount : pc;
}

std::optional<int> FindTonic(std::string_view name) {
  for (int i = 0; i < kTonicCount; ++i) {
    const std::string_view candidate = kTonicNames[static_cast<size_t>(i)];
    if (SameNameAnyCase(name, candidate)) return i;
  }
  return std::nullopt;
}

}  // namespace velorna
