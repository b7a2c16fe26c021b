// The tuning the command line asks for, and its listings.
#pragma once

#include <optional>
#include <string>

#include "base/reporter.h"
#include "cli/cli_options.h"
#include "language/message_translation.h"
#include "tuning/tuning.h"

namespace velorna::cli {

// Reads whatever file the options name; a file that cannot be used is reported and gives
// nullopt.
std::optional<Tuning> ResolveTuning(const CliOptions& options, Reporter& reporter);

// The heading line that says where A4 sounds and what the cents are measured from.
std::string ReferenceHeading(const Tuning& tuning);

// To stdout: "key name Hz cents" for all 128 keys, and the presets.
void PrintTuningTable(const Tuning& tuning);
void PrintPresets(const MessageCatalog& messages);

}  // namespace velorna::cli
