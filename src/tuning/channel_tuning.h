// A channel tuned apart, as the command line and the dialog name it: a preset, a Scala
// scale with or without its keyboard map ("FILE.scl" or "FILE.scl:FILE.kbm"), or "none" to
// leave the channel as the song plays it.
#pragma once

#include <optional>
#include <string>

#include "base/reporter.h"
#include "tuning/tuning_choice.h"

namespace velorna {

inline constexpr char kUntouchedChannel[] = "none";

// Whether `source` names a channel tuning at all (files are read later).
[[nodiscard]] bool IsChannelSource(const std::string& source);

// A .scl and, when `kbm` is not empty, its .kbm; none when either cannot be read (reported).
[[nodiscard]] std::optional<ScalaSource> ReadScalaSource(const std::string& scl,
                                                         const std::string& kbm,
                                                         Reporter& reporter);

// The keys of channel `channel` (0-15) tuned by `source` on `tonicIndex` at `a4Hz`, as the
// chosen tuning is; "none" keeps every key where equal temperament at 440 Hz puts it, as
// the song plays it. None when a file cannot be read (reported).
[[nodiscard]] std::optional<ChannelKeys> ReadChannelTuning(int channel, const std::string& source,
                                                           int tonicIndex,
                                                           std::optional<double> a4Hz,
                                                           Reporter& reporter);

}  // namespace velorna
