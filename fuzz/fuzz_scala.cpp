// Scala text → scale and keyboard map, which must map to finite targets and write back to the
// same ones. The input is a .scl, optionally followed by "\n--\n" and a .kbm.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_reporter.h"
#include "tuning/scala.h"

using namespace velorna;

namespace {

constexpr std::string_view kSeparator = "\n--\n";
// Targets this close to the keys' own pitches fit a written scale's pitch limit.
constexpr double kRoundTripCents = 5000;
constexpr double kRoundTripTolerance = 0.001;

void CheckError(const ScalaError& error) {
  if (error.kind == ScalaErrorKind::kNone) return;
  const std::string text = ScalaErrorText(error, "f");
  fuzz::Require(!text.empty() && fuzz::IsValidUtf8(text), "a shown message is UTF-8");
}

void CheckKeys(const KeyTable& keys) {
  bool small = true;
  for (const KeyTarget& t : keys) {
    if (!t) continue;
    fuzz::Require(std::isfinite(*t), "finite targets");
    small = small && std::fabs(*t) <= kRoundTripCents;
  }
  if (!small) return;
  const bool anyMapped =
      std::any_of(keys.begin(), keys.end(), [](const KeyTarget& t) { return t; });
  const auto files = ScalaFromKeyTable(keys, "fuzz");
  fuzz::Require(files.has_value() == anyMapped, "a mapped table can be written");
  if (!files) return;
  const auto scale = ParseScl(WriteScl(files->scale));
  const auto map = ParseKbm(WriteKbm(files->map));
  fuzz::Require(scale.value && map.value, "written files read back");
  const KeyTable back = KeyTableFromScala(*scale.value, *map.value);
  for (size_t k = 0; k < keys.size(); ++k) {
    fuzz::Require(keys[k].has_value() == back[k].has_value(), "same keys mapped");
    if (keys[k]) {
      fuzz::Require(std::fabs(*keys[k] - *back[k]) <= kRoundTripTolerance, "same targets");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const size_t split = text.find(kSeparator);
  const std::string_view sclText = text.substr(0, split);
  const auto scale = ParseScl(sclText);
  fuzz::Require(scale.value.has_value() == (scale.error.kind == ScalaErrorKind::kNone),
                "a value or an error");
  CheckError(scale.error);
  if (scale.value) {
    fuzz::Require(!scale.value->cents.empty() && scale.value->cents.back() > 0, "a period");
    CheckKeys(KeyTableFromScala(*scale.value, DefaultKeyboardMap()));
  }
  if (split == std::string_view::npos) return 0;
  const auto map = ParseKbm(text.substr(split + kSeparator.size()));
  fuzz::Require(map.value.has_value() == (map.error.kind == ScalaErrorKind::kNone),
                "a value or an error");
  CheckError(map.error);
  if (scale.value && map.value) CheckKeys(KeyTableFromScala(*scale.value, *map.value));
  return 0;
}
