#include "cli/cli_options.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <set>
#include <string_view>

#include "base/limits.h"
#include "base/output_target.h"
#include "cli/option_table.h"
#include "conversion/job_files.h"
#include "tuning/presets.h"

namespace velorna::cli {

namespace {

std::string_view TrimSpaces(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

bool ParseNumber(std::string_view text, double& value) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value, std::chars_format::fixed);
  return !text.empty() && ec == std::errc() && ptr == end && std::isfinite(value);
}

}  // namespace

std::optional<CentTable> ParseCents(const std::string& text, std::string* problem) {
  const auto fail = [&](std::string why) -> std::optional<CentTable> {
    if (problem) *problem = std::move(why);
    return std::nullopt;
  };
  CentTable cents{};
  size_t n = 0;
  std::string_view rest = text;
  while (true) {
    const size_t comma = rest.find(',');
    const std::string_view item = TrimSpaces(rest.substr(0, comma));
    if (n == cents.size())
      return fail(item.empty() ? "a comma after the twelfth value" : "more than twelve values");
    const std::string named = "value " + std::to_string(n + 1) + " \"" + std::string(item) + "\"";
    if (item.empty()) return fail("value " + std::to_string(n + 1) + " is empty");
    double v = 0;
    if (!ParseNumber(item, v)) return fail(named + " is not a number");
    if (std::fabs(v) > kMaxCentsOption) return fail(named + " is outside -100..100");
    cents[n++] = v;
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  if (n != cents.size()) return fail("twelve values needed, " + std::to_string(n) + " given");
  return cents;
}

namespace {

constexpr char kDefaultExtension[] = ".wav";
constexpr std::string_view kPlaceholders[] = {"{stem}", "{tuning}", "{tonic}", "{ext}"};

// What {tuning} names: the preset, else the file the tuning comes from, else its kind.
std::string TuningName(const CliOptions& o) {
  if (o.preset) return PresetInfoOf(*o.preset).name;
  if (o.cents) return "cents";
  if (!o.scaleFile.empty()) return std::filesystem::path(o.scaleFile).stem().string();
  if (!o.sclFile.empty()) return std::filesystem::path(o.sclFile).stem().string();
  return "pure";
}

struct SplitArgument {
  std::string name;
  std::optional<std::string> value;  // "--opt=value"'s
};

SplitArgument Split(const std::string& arg) {
  const size_t equals = arg.find('=');
  if (arg.rfind("--", 0) != 0 || equals == std::string::npos) return {arg, std::nullopt};
  return {arg.substr(0, equals), arg.substr(equals + 1)};
}

std::string_view CommandName(Command command) {
  switch (command) {
    case Command::kConvert:
      return "convert";
    case Command::kInspect:
      return "inspect";
    case Command::kTuning:
      return "tuning";
    case Command::kExport:
      return "export";
    case Command::kPlay:
      return "play";
    default:
      return "";
  }
}

unsigned MaskOf(Command command) {
  switch (command) {
    case Command::kConvert:
      return kForConvert;
    case Command::kInspect:
      return kForInspect;
    case Command::kTuning:
      return kForTuning;
    case Command::kExport:
      return kForExport;
    case Command::kPlay:
      return kForPlay;
    default:
      return 0;
  }
}

// Applies the option `args[i]` (moving past its value); an error text, else empty.
std::string TakeOption(const std::vector<std::string>& args, size_t& i, unsigned mask,
                       CliOptions& o) {
  const auto [name, inlineValue] = Split(args[i]);
  const OptionRow* option = FindOption(name);
  if (!option) return "unknown option: " + args[i];
  if ((option->commands & mask) == 0)
    return name + " does not apply to " + std::string(CommandName(o.command));
  std::string value;
  if (option->value.empty()) {
    if (inlineValue) return name + " takes no value: " + args[i];
  } else if (inlineValue) {
    value = *inlineValue;
  } else if (i + 1 < args.size()) {
    value = args[++i];
  } else {
    return name + " needs " + option->value;
  }
  const std::string problem = option->apply(o, value);
  return problem.empty() ? "" : name + " " + problem;
}

}  // namespace

std::string CheckNameTemplate(const std::string& text) {
  if (text.empty()) return "needs a name";
  if (text.find('/') != std::string::npos) return "names a file, not a folder (use -d): " + text;
  for (size_t open = text.find('{'); open != std::string::npos; open = text.find('{', open + 1)) {
    const size_t close = text.find('}', open);
    const std::string_view placeholder =
        std::string_view(text).substr(open, close == std::string::npos ? close : close - open + 1);
    if (std::find(std::begin(kPlaceholders), std::end(kPlaceholders), placeholder) ==
        std::end(kPlaceholders))
      return "knows {stem}, {tuning}, {tonic} and {ext}, not " + std::string(placeholder);
  }
  return "";
}

std::string OutputPathOf(const CliOptions& options, const std::string& input) {
  if (!options.output.empty()) return options.output;
  if (options.command == Command::kExport) return ExportPathFor(input, {}, options.exportForm);
  const std::filesystem::path beside(OutputPathFor(input));
  std::string name = options.nameTemplate.empty() ? "{stem}{ext}" : options.nameTemplate;
  const std::string values[] = {
      beside.stem().string(), TuningName(options),
      kTonicNames[static_cast<size_t>(options.tonicIndex.value_or(kDefaultTonicIndex))],
      options.outputExtension.empty() ? std::string(kDefaultExtension) : options.outputExtension};
  for (size_t k = 0; k < std::size(kPlaceholders); ++k) {
    for (size_t at = name.find(kPlaceholders[k]); at != std::string::npos;
         at = name.find(kPlaceholders[k], at + values[k].size()))
      name.replace(at, kPlaceholders[k].size(), values[k]);
  }
  const std::filesystem::path folder =
      options.outputDir.empty() ? beside.parent_path() : std::filesystem::path(options.outputDir);
  return (folder / name).string();
}

ParseResult ParseCommandLine(const std::vector<std::string>& given) {
  CliOptions o;
  auto fail = [](std::string why) { return ParseResult{std::nullopt, std::move(why)}; };
  // --lang goes with every command, --help and --list-presets included.
  std::vector<std::string> args;
  for (size_t i = 0; i < given.size(); ++i) {
    if (given[i] == "--") {
      args.insert(args.end(), given.begin() + static_cast<std::ptrdiff_t>(i), given.end());
      break;
    }
    if (Split(given[i]).name != "--lang") {
      args.push_back(given[i]);
      continue;
    }
    const std::string problem = TakeOption(given, i, kForEvery, o);
    if (!problem.empty()) return fail(problem);
  }
  if (args.empty()) return fail("no command given");
  const std::string& first = args[0];
  if (first == "-h" || first == "help") {
    o.command = Command::kHelp;
    return ParseResult{o, {}};
  }
  if (first == "convert") {
    o.command = Command::kConvert;
  } else if (first == "inspect") {
    o.command = Command::kInspect;
  } else if (first == "tuning") {
    o.command = Command::kTuning;
  } else if (first == "export") {
    o.command = Command::kExport;
  } else if (first == "play") {
    o.command = Command::kPlay;
  } else if (const OptionRow* option = FindOption(first);
             option && (option->commands & kInsteadOfCommand) != 0 && option->value.empty()) {
    static_cast<void>(option->apply(o, {}));
    return ParseResult{o, {}};
  } else {
    return fail("unknown command: " + first);
  }
  const unsigned mask = MaskOf(o.command);
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "-h") {
      o.command = Command::kHelp;
      return ParseResult{o, {}};
    }
    if (a == "--") {
      o.inputs.insert(o.inputs.end(), args.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                      args.end());
      break;
    }
    if (a.empty() || a[0] != '-' || a == "-") {
      o.inputs.push_back(a);
      continue;
    }
    const std::string problem = TakeOption(args, i, mask, o);
    if (!problem.empty()) return fail(problem);
    if (o.command == Command::kHelp) return ParseResult{o, {}};
  }
  const int sources = int{o.cents.has_value()} + int{!o.scaleFile.empty()} +
                      int{o.preset.has_value()} + int{!o.sclFile.empty()};
  if (sources > 1) return fail("--cents, --scale, --preset and --scl exclude each other");
  if (o.outputFormat.normalize && o.outputFormat.loudness)
    return fail("--normalize and --loudness exclude each other");
  if (o.truePeakGiven && !o.outputFormat.loudness) return fail("--true-peak needs --loudness");
  if (!o.kbmFile.empty() && o.sclFile.empty()) return fail("--kbm needs --scl");
  if (o.command == Command::kTuning) {
    if (!o.inputs.empty()) return fail("tuning takes no MIDI file: " + o.inputs[0]);
    return ParseResult{o, {}};
  }
  if (o.inputs.empty() && o.fromList.empty()) return fail("no MIDI file given");
  if (!o.output.empty() && (o.inputs.size() != 1 || !o.fromList.empty()))
    return fail("-o takes a single input");
  if (!o.output.empty() && (!o.outputDir.empty() || !o.nameTemplate.empty()))
    return fail("-o names the output itself; -d and --name are for outputs named after songs");
  if (!o.output.empty() && o.output != kStandardOutput && !o.outputExtension.empty())
    return fail("-o names the type by its extension; --format is for outputs named after songs");
  if (o.command == Command::kInspect && o.inputs.size() != 1)
    return fail("inspect takes a single MIDI file");
  if (o.command == Command::kExport && o.inputs.size() != 1)
    return fail("export takes a single MIDI file");
  if (o.command == Command::kExport && o.bendRange > 0 && o.exportForm == ExportForm::kMts)
    return fail("--bend-range does not apply to --as mts, which leaves the bends as they are");
  if (o.command == Command::kPlay && o.inputs.size() != 1)
    return fail("play takes a single MIDI file");
  return ParseResult{o, {}};
}

}  // namespace velorna::cli
