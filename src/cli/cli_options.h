// Parsing the command line of velorna-cli.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "conversion/conversion_job.h"

namespace velorna::cli {

enum class Command { kConvert, kInspect, kHelp, kVersion };

struct CliOptions {
  Command command = Command::kHelp;
  std::vector<std::string> inputs;
  std::string output;  // -o, one input only
  std::optional<CentTable> cents;
  std::string scaleFile;
  std::string soundFont;
  Engine engine = Engine::kFast;
  int jobs = 0;  // 0: one per core
  bool quiet = false;
  bool verbose = false;
  bool bends = false;  // inspect --bends
  bool raw = false;    // inspect --raw: the machine-oriented lines
};

struct ParseResult {
  std::optional<CliOptions> options;
  std::string error;  // set when options is empty
};

ParseResult ParseCommandLine(const std::vector<std::string>& args);
// "0,12,4,..." (blanks around the numbers allowed) into twelve offsets of -100..100; on
// failure `error`, when given, says which value is wrong.
std::optional<CentTable> ParseCents(const std::string& text, std::string* error = nullptr);

extern const char kHelpText[];

}  // namespace velorna::cli
