// velorna-cli inspect: the prepared song, or each pitched note's retuning, as text.
#pragma once

#include "base/reporter.h"
#include "cli/cli_options.h"

namespace velorna::cli {

// Prints to stdout, --bends with `cents` as the offsets; false when the song could not be
// loaded.
bool Inspect(const CliOptions& options, const CentTable& cents, Reporter& reporter);

}  // namespace velorna::cli
