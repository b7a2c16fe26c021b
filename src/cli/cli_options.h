// Parsing the command line of velorna-cli.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "audio/sound_file_writer.h"
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
  // What is written: -o's extension names the type, else --format's for every input.
  std::string outputExtension = ".wav";
  OutputFormat outputFormat;
};

struct ParseResult {
  std::optional<CliOptions> options;
  std::string error;  // set when options is empty
};

ParseResult ParseCommandLine(const std::vector<std::string>& args);
// "0,12,4,..." (blanks around the numbers allowed) into twelve offsets of -100..100; on
// failure `error`, when given, says which value is wrong.
std::optional<CentTable> ParseCents(const std::string& text, std::string* error = nullptr);

// Where the conversion of `input` goes: -o, else the input's base name with the
// output extension.
std::string OutputPathOf(const CliOptions& options, const std::string& input);

extern const char kHelpText[];

}  // namespace velorna::cli
