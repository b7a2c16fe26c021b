// Parsing the command line of velorna-cli.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "conversion/conversion_job.h"
#include "tuning/presets.h"
#include "tuning/tuning.h"

namespace velorna::cli {

enum class Command { kConvert, kInspect, kTuning, kListPresets, kHelp, kVersion };

struct CliOptions {
  Command command = Command::kHelp;
  std::vector<std::string> inputs;
  std::string output;  // -o, one input only
  // The tuning: at most one source (--cents, --scale, --preset, --scl with --kbm), with
  // --tonic and --a4 on top of any.
  std::optional<CentTable> cents;
  std::string scaleFile;
  std::optional<PresetId> preset;
  std::string sclFile;
  std::string kbmFile;
  std::optional<int> tonicIndex;  // into kTonicNames
  std::optional<double> a4Hz;
  std::string soundFont;
  Engine engine = Engine::kFast;
  int jobs = 0;  // 0: one per core
  bool quiet = false;
  bool verbose = false;
  bool bends = false;  // inspect --bends
};

struct ParseResult {
  std::optional<CliOptions> options;
  std::string error;  // set when options is empty
};

ParseResult ParseCommandLine(const std::vector<std::string>& args);
inline constexpr double kMaxCentsOption = 100.0;
// "0, 11.7, 4,..." into twelve offsets of -100..100; on failure `problem` says which value.
std::optional<CentTable> ParseCents(const std::string& text, std::string* problem = nullptr);

extern const char kHelpText[];

}  // namespace velorna::cli
