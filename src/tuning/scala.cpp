#include "tuning/scala.h"

#include "tuning/presets.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <type_traits>

namespace velorna {

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr char kCommentMark = '!';
constexpr char kUnmappedMark = 'x';
// Decimals written: far below the 0.001 cent a round trip must keep.
constexpr int kCentsDecimals = 6;
constexpr int kHzSignificantDigits = 15;

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsSpace(s.back())) s.remove_suffix(1);
  return s;
}

std::string_view FirstToken(std::string_view s) {
  s = Trim(s);
  size_t end = 0;
  while (end < s.size() && !IsSpace(s[end])) ++end;
  return s.substr(0, end);
}

// A short, printable quotation of hostile text.
std::string Quote(std::string_view s) {
  std::string out;
  for (char c : s.substr(0, kMaxErrorDetailBytes)) {
    const auto u = static_cast<unsigned char>(c);
    out.push_back(u < 0x20 || u >= 0x7F ? '?' : c);
  }
  if (s.size() > kMaxErrorDetailBytes) out += "...";
  return out;
}

ScalaError Error(ScalaErrorKind kind, int line, std::string detail = {}) {
  return ScalaError{kind, line, std::move(detail)};
}

// Hands out lines one at a time, numbered from 1, each checked for length and NUL bytes.
class Lines {
 public:
  explicit Lines(std::string_view text) : rest_(text) {
    if (rest_.substr(0, kUtf8Bom.size()) == kUtf8Bom) rest_.remove_prefix(kUtf8Bom.size());
  }

  // False at the end or on a bad line (then error() says which).
  bool Next(std::string_view& line) {
    if (rest_.empty() || error_.kind != ScalaErrorKind::kNone) return false;
    const size_t end = rest_.find('\n');
    line = rest_.substr(0, end);
    rest_.remove_prefix(end == std::string_view::npos ? rest_.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    ++number_;
    if (line.size() > kMaxScalaLineBytes) {
      error_ = Error(ScalaErrorKind::kLineTooLong, number_);
    } else if (line.find('\0') != std::string_view::npos) {
      error_ = Error(ScalaErrorKind::kNotText, number_);
    }
    return error_.kind == ScalaErrorKind::kNone;
  }

  // The next line that is neither a comment nor (when asked) blank.
  bool NextContent(std::string_view& line, bool skipBlank = true) {
    while (Next(line)) {
      const std::string_view t = Trim(line);
      if (!t.empty() && t.front() == kCommentMark) continue;
      if (skipBlank && t.empty()) continue;
      return true;
    }
    return false;
  }

  int number() const { return number_; }
  // Where a missing line would have been.
  int past() const { return number_ + 1; }
  const ScalaError& error() const { return error_; }

 private:
  std::string_view rest_;
  int number_ = 0;
  ScalaError error_;
};

template <typename T>
bool ParseWhole(std::string_view token, T& value) {
  if (token.empty()) return false;
  const char* first = token.data();
  if (*first == '+') ++first;
  const char* last = token.data() + token.size();
  const auto [ptr, ec] = std::from_chars(first, last, value);
  return ec == std::errc() && ptr == last;
}

// One pitch line: cents if the value has a ".", else a ratio "a/b" or a whole number.
ScalaError ParsePitch(std::string_view line, int number, double& cents) {
  const std::string_view token = FirstToken(line);
  if (token.find('.') != std::string_view::npos) {
    if (!ParseWhole(token, cents) || !std::isfinite(cents))
      return Error(ScalaErrorKind::kBadPitch, number, Quote(token));
  } else {
    const size_t slash = token.find('/');
    const std::string_view numText = token.substr(0, slash);
    const std::string_view denText =
        slash == std::string_view::npos ? std::string_view("1") : token.substr(slash + 1);
    if (!numText.empty() && numText.front() == '-')
      return Error(ScalaErrorKind::kNonPositiveRatio, number, Quote(token));
    uint64_t num = 0;
    uint64_t den = 0;
    if (!ParseWhole(numText, num) || !ParseWhole(denText, den))
      return Error(ScalaErrorKind::kBadPitch, number, Quote(token));
    if (num == 0 || den == 0) return Error(ScalaErrorKind::kNonPositiveRatio, number, Quote(token));
    cents = kCentsPerOctave *
            (std::log2(static_cast<double>(num)) - std::log2(static_cast<double>(den)));
  }
  if (std::fabs(cents) > kMaxPitchCents)
    return Error(ScalaErrorKind::kPitchOutOfRange, number, Quote(token));
  return {};
}

// Reads a header number of a .kbm into `value`, checked against lo..hi.
template <typename T>
ScalaError ReadField(Lines& lines, const char* name, T lo, T hi, T& value) {
  std::string_view line;
  if (!lines.NextContent(line)) {
    if (lines.error().kind != ScalaErrorKind::kNone) return lines.error();
    return Error(ScalaErrorKind::kMissingField, lines.past(), name);
  }
  const std::string_view token = FirstToken(line);
  if (!ParseWhole(token, value) || (std::is_floating_point_v<T> && !std::isfinite(value)))
    return Error(ScalaErrorKind::kBadField, lines.number(),
                 std::string(name) + ": " + Quote(token));
  if (value < lo || value > hi)
    return Error(ScalaErrorKind::kFieldOutOfRange, lines.number(),
                 std::string(name) + ": " + Quote(token));
  return {};
}

int64_t FloorDiv(int64_t a, int64_t b) {
  const int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// The map entry for `key` before any first..last test: the degree it plays, or nullopt.
std::optional<int64_t> DegreeOf(const KeyboardMap& map, int64_t octaveDegree, int key) {
  const int64_t offset = static_cast<int64_t>(key) - map.middleKey;
  if (map.mapSize == 0) return offset;
  const int64_t repeat = FloorDiv(offset, map.mapSize);
  const auto index = static_cast<size_t>(offset - repeat * map.mapSize);
  if (index >= map.mapping.size() || !map.mapping[index]) return std::nullopt;
  return *map.mapping[index] + repeat * octaveDegree;
}

double DegreeCents(const Scale& scale, int64_t degree) {
  const auto n = static_cast<int64_t>(scale.cents.size());
  const int64_t period = FloorDiv(degree, n);
  const int64_t step = degree - period * n;
  const double within = step == 0 ? 0.0 : scale.cents[static_cast<size_t>(step - 1)];
  return static_cast<double>(period) * scale.cents.back() + within;
}

template <typename T>
ScalaRead<T> Failed(ScalaError error) {
  return ScalaRead<T>{std::nullopt, std::move(error)};
}

// A regular file's text, bounded; opened without blocking so a FIFO is refused, not waited on.
ScalaError ReadTextFile(const std::string& path, std::string& text) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return Error(ScalaErrorKind::kCannotOpen, 0);
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0) return Error(ScalaErrorKind::kCannotOpen, 0);
  if (!S_ISREG(st.st_mode)) return Error(ScalaErrorKind::kNotRegularFile, 0);
  // The size may change under us: read at most one byte past the limit to notice.
  text.assign(kMaxScalaFileBytes + 1, '\0');
  size_t got = 0;
  while (got < text.size()) {
    const ssize_t n = ::read(fd, text.data() + got, text.size() - got);
    if (n < 0) return Error(ScalaErrorKind::kCannotOpen, 0);
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  if (got > kMaxScalaFileBytes) return Error(ScalaErrorKind::kFileTooLarge, 0);
  text.resize(got);
  return {};
}

template <typename T>
ScalaRead<T> LoadWith(const std::string& path, ScalaRead<T> (*parse)(std::string_view)) {
  std::string text;
  ScalaError e = ReadTextFile(path, text);
  if (e.kind != ScalaErrorKind::kNone) return Failed<T>(std::move(e));
  return parse(text);
}

std::string FormatCents(double cents) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*f", kCentsDecimals, cents);
  return buffer;
}

}  // namespace

ScalaRead<Scale> ParseScl(std::string_view text) {
  Lines lines(text);
  std::string_view line;
  auto lineError = [&](ScalaErrorKind missing, std::string detail = {}) {
    if (lines.error().kind != ScalaErrorKind::kNone) return Failed<Scale>(lines.error());
    return Failed<Scale>(Error(missing, lines.past(), std::move(detail)));
  };

  Scale scale;
  // The description may be blank; only comments come before it.
  if (!lines.NextContent(line, false)) return lineError(ScalaErrorKind::kMissingDescription);
  scale.description = std::string(Trim(line));

  if (!lines.NextContent(line)) return lineError(ScalaErrorKind::kMissingCount);
  const std::string_view countText = FirstToken(line);
  int count = 0;
  if (!ParseWhole(countText, count) || count < 1)
    return Failed<Scale>(Error(ScalaErrorKind::kBadCount, lines.number(), Quote(countText)));
  if (count > kMaxScaleNotes)
    return Failed<Scale>(Error(ScalaErrorKind::kTooManyNotes, lines.number(), Quote(countText)));

  scale.cents.reserve(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    // A blank line here may stand for a pitch: skipping it would move every later one.
    if (!lines.NextContent(line, false)) {
      return lineError(ScalaErrorKind::kMissingPitch,
                       std::to_string(count) + " 個中 " + std::to_string(i) + " 個");
    }
    if (Trim(line).empty())
      return Failed<Scale>(Error(ScalaErrorKind::kBlankEntry, lines.number()));
    double cents = 0;
    ScalaError e = ParsePitch(line, lines.number(), cents);
    if (e.kind != ScalaErrorKind::kNone) return Failed<Scale>(std::move(e));
    scale.cents.push_back(cents);
  }
  const int periodLine = lines.number();
  if (lines.NextContent(line))
    return Failed<Scale>(Error(ScalaErrorKind::kExtraLine, lines.number(), Quote(Trim(line))));
  if (lines.error().kind != ScalaErrorKind::kNone) return Failed<Scale>(lines.error());
  if (!(scale.cents.back() > 0))
    return Failed<Scale>(
        Error(ScalaErrorKind::kBadPeriod, periodLine, FormatCents(scale.cents.back())));
  return {std::move(scale), {}};
}

ScalaRead<KeyboardMap> ParseKbm(std::string_view text) {
  Lines lines(text);
  KeyboardMap map;
  const int lastKey = kKeyCount - 1;
  ScalaError e;
  const auto ok = [&](ScalaError field) {
    e = std::move(field);
    return e.kind == ScalaErrorKind::kNone;
  };
  if (!ok(ReadField(lines, "マップの大きさ", 0, kMaxKeyboardMapSize, map.mapSize)) ||
      !ok(ReadField(lines, "最初のキー", 0, lastKey, map.firstKey)) ||
      !ok(ReadField(lines, "最後のキー", 0, lastKey, map.lastKey))) {
    return Failed<KeyboardMap>(std::move(e));
  }
  if (map.lastKey < map.firstKey) {
    return Failed<KeyboardMap>(
        Error(ScalaErrorKind::kFieldOutOfRange, lines.number(), "最後のキー < 最初のキー"));
  }
  if (!ok(ReadField(lines, "中央のキー", 0, lastKey, map.middleKey)) ||
      !ok(ReadField(lines, "基準キー", 0, lastKey, map.referenceKey))) {
    return Failed<KeyboardMap>(std::move(e));
  }
  const int referenceLine = lines.number();
  if (!ok(ReadField(lines, "基準周波数", kMinReferenceHz, kMaxReferenceHz, map.referenceHz)) ||
      !ok(ReadField(lines, "オクターブの音度", 0, kMaxMapDegree, map.periodDegree))) {
    return Failed<KeyboardMap>(std::move(e));
  }

  std::string_view line;
  // Blank lines may end the file, but one among the entries may stand for an entry: skipping
  // it would give every later key the next key's degree.
  int blankLine = 0;
  while (lines.NextContent(line, false)) {
    if (Trim(line).empty()) {
      if (blankLine == 0) blankLine = lines.number();
      continue;
    }
    if (blankLine != 0) return Failed<KeyboardMap>(Error(ScalaErrorKind::kBlankEntry, blankLine));
    const std::string_view token = FirstToken(line);
    if (static_cast<int>(map.mapping.size()) >= map.mapSize)
      return Failed<KeyboardMap>(
          Error(ScalaErrorKind::kTooManyMapEntries, lines.number(), Quote(token)));
    if (token.size() == 1 && std::tolower(static_cast<unsigned char>(token[0])) == kUnmappedMark) {
      map.mapping.emplace_back();
      continue;
    }
    int degree = 0;
    if (!ParseWhole(token, degree) || degree < -kMaxMapDegree || degree > kMaxMapDegree)
      return Failed<KeyboardMap>(Error(ScalaErrorKind::kBadMapEntry, lines.number(), Quote(token)));
    map.mapping.emplace_back(degree);
  }
  if (lines.error().kind != ScalaErrorKind::kNone) return Failed<KeyboardMap>(lines.error());
  // Every pitch is measured from the reference key, so it must play some degree.
  if (!DegreeOf(map, 0, map.referenceKey)) {
    return Failed<KeyboardMap>(
        Error(ScalaErrorKind::kReferenceUnmapped, referenceLine, std::to_string(map.referenceKey)));
  }
  return {std::move(map), {}};
}

ScalaRead<Scale> LoadScl(const std::string& path) {
  return LoadWith(path, ParseScl);
}

ScalaRead<KeyboardMap> LoadKbm(const std::string& path) {
  return LoadWith(path, ParseKbm);
}

KeyboardMap DefaultKeyboardMap() {
  KeyboardMap map;
  map.referenceHz = KeyFrequencyHz(map.referenceKey, 0);
  return map;
}

KeyboardMap TransposeKeyboardMap(const KeyboardMap& map, int semitones) {
  KeyboardMap moved = map;
  const int lastKey = kKeyCount - 1;
  moved.firstKey = std::clamp(map.firstKey + semitones, 0, lastKey);
  moved.lastKey = std::clamp(map.lastKey + semitones, 0, lastKey);
  moved.middleKey += semitones;
  moved.referenceKey += semitones;
  moved.referenceHz *= std::exp2(semitones * kCentsPerSemitone / kCentsPerOctave);
  return moved;
}

KeyTable KeyTableFromScala(const Scale& scale, const KeyboardMap& map) {
  KeyTable keys;
  const int64_t octaveDegree =
      map.periodDegree > 0 ? map.periodDegree : static_cast<int64_t>(scale.cents.size());
  const std::optional<int64_t> referenceDegree = DegreeOf(map, octaveDegree, map.referenceKey);
  if (scale.cents.empty() || !referenceDegree) return keys;
  const double referenceCents = DegreeCents(scale, *referenceDegree);
  // Cents of the reference key's sound above A4 = 440 Hz.
  const double referenceAboveA4 = kCentsPerOctave * std::log2(map.referenceHz / kStandardA4Hz);
  for (int key = 0; key < kKeyCount; ++key) {
    KeyTarget& target = keys[static_cast<size_t>(key)];
    if (key < map.firstKey || key > map.lastKey) {
      target = 0.0;
      continue;
    }
    const std::optional<int64_t> degree = DegreeOf(map, octaveDegree, key);
    if (!degree) {
      target = std::nullopt;
      continue;
    }
    const double aboveA4 = referenceAboveA4 + DegreeCents(scale, *degree) - referenceCents;
    target = aboveA4 - (key - kA4Key) * kCentsPerSemitone;
  }
  return keys;
}

std::optional<ScalaFiles> ScalaFromKeyTable(const KeyTable& keys, std::string description) {
  // Degree 0 on the lowest mapped key, one degree for each mapped key above it in turn; the
  // period (an octave) only closes the scale, as no key reaches past it.
  int lowest = -1;
  for (int key = 0; key < kKeyCount && lowest < 0; ++key) {
    if (keys[static_cast<size_t>(key)]) lowest = key;
  }
  if (lowest < 0) return std::nullopt;
  ScalaFiles files;
  files.scale.description = std::move(description);
  KeyboardMap& map = files.map;
  const double lowestCents = *keys[static_cast<size_t>(lowest)];
  map.mapSize = kKeyCount;
  map.middleKey = lowest;
  // The reference is the mapped key nearest A4, so that its frequency reads naturally.
  map.referenceKey = lowest;
  for (int key = lowest; key < kKeyCount; ++key) {
    if (keys[static_cast<size_t>(key)] &&
        std::abs(key - kA4Key) < std::abs(map.referenceKey - kA4Key)) {
      map.referenceKey = key;
    }
  }
  map.referenceHz = KeyFrequencyHz(map.referenceKey, *keys[static_cast<size_t>(map.referenceKey)]);
  int degree = 0;
  for (int key = lowest; key < kKeyCount; ++key) {
    const KeyTarget& target = keys[static_cast<size_t>(key)];
    if (!target) {
      map.mapping.emplace_back();
      continue;
    }
    if (degree > 0) {
      files.scale.cents.push_back((key - lowest) * kCentsPerSemitone + *target - lowestCents);
    }
    map.mapping.emplace_back(degree++);
  }
  while (!map.mapping.empty() && !map.mapping.back()) map.mapping.pop_back();
  files.scale.cents.push_back(kCentsPerOctave);
  map.periodDegree = static_cast<int>(files.scale.cents.size());
  // Never write what reading would refuse.
  if (!(map.referenceHz >= kMinReferenceHz && map.referenceHz <= kMaxReferenceHz)) {
    return std::nullopt;
  }
  for (double cents : files.scale.cents) {
    if (!(std::fabs(cents) <= kMaxPitchCents)) return std::nullopt;
  }
  return files;
}

ScalaFiles ScalaFromOffsets(const CentTable& offsets, int tonicPitchClass,
                            std::optional<double> a4Hz, std::string description) {
  constexpr int kMiddleC = 60;
  const int shift = NearestTonicShift(tonicPitchClass);
  const int tonic = (shift + kPitchClassCount) % kPitchClassCount;
  const auto at = [&](int pc) { return offsets[static_cast<size_t>(pc % kPitchClassCount)]; };
  ScalaFiles files;
  files.scale.description = std::move(description);
  for (int d = 1; d < kPitchClassCount; ++d) {
    files.scale.cents.push_back(d * kCentsPerSemitone + at(tonic + d) - at(tonic));
  }
  files.scale.cents.push_back(kCentsPerOctave);
  KeyboardMap& map = files.map;
  map.mapSize = kPitchClassCount;
  map.middleKey = kMiddleC + shift;
  map.referenceKey = map.middleKey;
  const double reference = a4Hz ? ReferenceShiftCents(*a4Hz) - at(kA4Key) : 0.0;
  map.referenceHz = KeyFrequencyHz(map.middleKey, at(tonic) + reference);
  map.periodDegree = kPitchClassCount;
  for (int d = 0; d < kPitchClassCount; ++d) map.mapping.emplace_back(d);
  return files;
}

std::string WriteScl(const Scale& scale) {
  std::string out = "! Written by Velorna\n!\n" + scale.description + "\n";
  out += " " + std::to_string(scale.cents.size()) + "\n!\n";
  for (double cents : scale.cents) out += " " + FormatCents(cents) + "\n";
  return out;
}

std::string WriteKbm(const KeyboardMap& map) {
  char hz[64];
  std::snprintf(hz, sizeof hz, "%.*g", kHzSignificantDigits, map.referenceHz);
  std::string out = "! Written by Velorna\n";
  out += "! Map size\n" + std::to_string(map.mapSize) + "\n";
  out += "! First key to retune\n" + std::to_string(map.firstKey) + "\n";
  out += "! Last key to retune\n" + std::to_string(map.lastKey) + "\n";
  out += "! Middle key, where mapping entry 0 sits\n" + std::to_string(map.middleKey) + "\n";
  out += "! Reference key\n" + std::to_string(map.referenceKey) + "\n";
  out += "! Frequency of the reference key\n" + std::string(hz) + "\n";
  out += "! Scale degree of the formal octave\n" + std::to_string(map.periodDegree) + "\n";
  out += "! Mapping\n";
  for (const auto& entry : map.mapping) {
    out += entry ? std::to_string(*entry) + "\n" : std::string(1, kUnmappedMark) + "\n";
  }
  return out;
}

std::string ScalaErrorText(const ScalaError& error, const std::string& fileName) {
  const char* what = "";
  switch (error.kind) {
    case ScalaErrorKind::kNone:
      return {};
    case ScalaErrorKind::kCannotOpen:
      what = "ファイルを開けませんでした。";
      break;
    case ScalaErrorKind::kNotRegularFile:
      what = "通常のファイルではありません。";
      break;
    case ScalaErrorKind::kFileTooLarge:
      what = "ファイルが大きすぎます。";
      break;
    case ScalaErrorKind::kNotText:
      what = "テキストファイルではありません。";
      break;
    case ScalaErrorKind::kLineTooLong:
      what = "行が長すぎます。";
      break;
    case ScalaErrorKind::kMissingDescription:
      what = "説明の行がありません。";
      break;
    case ScalaErrorKind::kMissingCount:
      what = "音の数の行がありません。";
      break;
    case ScalaErrorKind::kBadCount:
      what = "音の数が 1 以上の整数ではありません。";
      break;
    case ScalaErrorKind::kTooManyNotes:
      what = "音の数が多すぎます。";
      break;
    case ScalaErrorKind::kMissingPitch:
      what = "音程の行が音の数より少なくなっています。";
      break;
    case ScalaErrorKind::kBadPitch:
      what = "音程を読み取れません。";
      break;
    case ScalaErrorKind::kNonPositiveRatio:
      what = "比は正の数でなければなりません。";
      break;
    case ScalaErrorKind::kPitchOutOfRange:
      what = "音程が大きすぎます。";
      break;
    case ScalaErrorKind::kExtraLine:
      what = "音程の行が音の数より多くなっています。";
      break;
    case ScalaErrorKind::kBadPeriod:
      what = "最後の音程 (周期) が 0 より大きくありません。";
      break;
    case ScalaErrorKind::kMissingField:
      what = "項目が足りません。";
      break;
    case ScalaErrorKind::kBadField:
      what = "項目の値を読み取れません。";
      break;
    case ScalaErrorKind::kFieldOutOfRange:
      what = "項目の値が範囲外です。";
      break;
    case ScalaErrorKind::kBadMapEntry:
      what = "対応表の項目を読み取れません。";
      break;
    case ScalaErrorKind::kTooManyMapEntries:
      what = "対応表の項目が大きさより多くなっています。";
      break;
    case ScalaErrorKind::kReferenceUnmapped:
      what = "基準キーに音が割り当てられていません。";
      break;
    case ScalaErrorKind::kBlankEntry:
      what = "項目の間に空行があります。";
      break;
  }
  std::string text = fileName;
  if (error.line > 0) text += " の " + std::to_string(error.line) + " 行目";
  text += ": ";
  text += what;
  if (!error.detail.empty()) text += " (" + error.detail + ")";
  return text;
}

}  // namespace velorna
