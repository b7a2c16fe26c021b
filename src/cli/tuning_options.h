// The tuning the command line asks for, and its listings.
#pragma once

#include <optional>

#include "base/reporter.h"
#include "cli/cli_options.h"
#include "tuning/tuning.h"

namespace velorna::cli {

// Reads whatever file the options name; a file that cannot be used is reported and gives
// nullopt.
std::optional<Tuning> ResolveTuning(const CliOptions& options, Reporter& reporter);

// To stdout: "key name Hz cents" for all 128 keys, and the presets.
void PrintTuningTable(const Tuning& tuning);
void PrintPresets();

}  // namespace velorna::cli
