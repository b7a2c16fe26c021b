// velorna-cli inspect: the prepared song, or each pitched note's retuning, as text.
#pragma once

#include "base/reporter.h"
#include "cli/cli_options.h"

namespace velorna::cli {

// Prints to stdout, --bends as retuned by `tuning`; false when the song could not be loaded.
bool Inspect(const CliOptions& options, const Tuning& tuning, Reporter& reporter);

}  // namespace velorna::cli
