#include "tuning/channel_tuning.h"

namespace velorna {
namespace {

constexpr char kSclEnding[] = ".scl";
constexpr char kFileSeparator = ':';

struct SclPair {
  std::string scl;
  std::string kbm;  // empty: the scale's default mapping
};

bool EndsWith(const std::string& text, const std::string& ending) {
  return text.size() > ending.size() &&
         text.compare(text.size() - ending.size(), ending.size(), ending) == 0;
}

// "a.scl" or "a.scl:b.kbm"; the last ':' splits, so that the scale's path may hold one.
std::optional<SclPair> SplitScl(const std::string& source) {
  if (EndsWith(source, kSclEnding)) return SclPair{source, {}};
  const size_t split = source.rfind(kFileSeparator);
  if (split == std::string::npos || split + 1 == source.size()) return std::nullopt;
  const std::string scl = source.substr(0, split);
  if (!EndsWith(scl, kSclEnding)) return std::nullopt;
  return SclPair{scl, source.substr(split + 1)};
}

}  // namespace

bool IsChannelSource(const std::string& source) {
  return source == kUntouchedChannel || FindPreset(source) || SplitScl(source);
}

std::optional<ScalaSource> ReadScalaSource(const std::string& scl, const std::string& kbm,
                                           Reporter& reporter) {
  ScalaRead<Scale> scale = LoadScl(scl);
  if (!scale.value) {
    reporter.ShowText(ScalaErrorText(scale.error, scl));
    return std::nullopt;
  }
  ScalaSource source{std::move(*scale.value), std::nullopt};
  if (!kbm.empty()) {
    ScalaRead<KeyboardMap> map = LoadKbm(kbm);
    if (!map.value) {
      reporter.ShowText(ScalaErrorText(map.error, kbm));
      return std::nullopt;
    }
    source.map = std::move(map.value);
  }
  return source;
}

std::optional<ChannelKeys> ReadChannelTuning(int channel, const std::string& source, int tonicIndex,
                                             std::optional<double> a4Hz, Reporter& reporter) {
  if (source == kUntouchedChannel) return ChannelKeys{channel, KeyTableFromCents({})};
  if (const std::optional<PresetId> preset = FindPreset(source))
    return ChannelKeys{channel, BuildTuning({*preset, tonicIndex, a4Hz}).keys};
  const std::optional<SclPair> files = SplitScl(source);
  if (!files) return std::nullopt;
  std::optional<ScalaSource> scala = ReadScalaSource(files->scl, files->kbm, reporter);
  if (!scala) return std::nullopt;
  return ChannelKeys{channel, BuildTuning({std::move(*scala), tonicIndex, a4Hz}).keys};
}

}  // namespace velorna
