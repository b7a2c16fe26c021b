// velorna-cli play: a song played to the default audio output as convert would write it,
// with the position shown and keys to pause, seek and compare on a terminal.
#pragma once

#include <atomic>

#include "base/reporter.h"
#include "cli/cli_options.h"
#include "tuning/tuning.h"

namespace velorna::cli {

// The exit status: 0 played to the end (or ended by "q"), 1 not played (the reporter has
// said why), 130 ended by Ctrl-C (`interrupted`).
[[nodiscard]] int PlaySong(const CliOptions& cli, const Tuning& tuning, Reporter& reporter,
                           const std::atomic<int>& interrupted);

}  // namespace velorna::cli
