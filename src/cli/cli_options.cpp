#include "cli/cli_options.h"

#include <charconv>
#include <cmath>
#include <filesystem>
#include <set>
#include <sstream>

#include "conversion/job_files.h"

namespace velorna::cli {

const char kHelpText[] = R"(usage: velorna-cli convert [options] SONG.mid...
       velorna-cli inspect [--bends] [--raw] [--cents LIST | --scale FILE] SONG.mid
       velorna-cli --help | --version

convert   Renders each SONG.mid to a sound file (44100 Hz stereo, by default a 16-bit
          WAV) in which every pitched note is retuned by the offset of its pitch class.
          The output goes beside the song: its name cut at the last "." plus ".wav"
          (or the extension --format names).
inspect   Prints the prepared song, one event a line: time in seconds and bar:beat,
          channel 1-16, note names (C4 = key 60) and values as a musician reads them.
          With --bends, one line per note instead: its target in cents, frequency in Hz
          and the bend that carries it.
          With --raw, the machine-oriented lines, for scripts:
          tick channel status note velocity duration kind value
          and with --bends as well:
          index tick channel note pitch-class cents sensitivity base-bend bend
          ("rhythm" or "drum" replaces the last four for notes that are not retuned).

options:
  -o, --output OUT       write the output here (one input only); its extension picks
                         the type: .wav, .flac, .aiff or .aif
  --format wav|flac|aiff the type of outputs named after their songs (default wav)
  --bits 16|24           bits per sample (default 16)
  --gain DB              raise or lower the whole mix by DB decibels, -60..60
  --normalize            scale the whole mix so that its peak is at -1 dBFS (then
                         --gain, if given, applies on top)
  --cents C,C#,D,...,B   the twelve offsets in cents, each -100..100 ("0, 12, ..." too)
                         (default 0,12,4,16,-14,-2,-10,2,14,-16,18,-12: pure intervals)
  --scale FILE.sca       read the twelve offsets from a scale file (64 bytes)
  --soundfont PATH       the SoundFont to play with (default: FluidR3_GM.sf2, else
                         default-GM.sf2 in /usr/share/sounds/sf2, else TimGM6mb.sf2)
  --engine fast|files    fast (default): every note rendered in memory from where it
                         starts, spread over threads; files: one temporary MIDI and
                         WAV file per note (the reference, much slower)
  --jobs N               threads for the fast engine (default: one per core)
  --quiet                nothing on success; a failed song's messages at its end
  --verbose              also show the synthesizer's own log
  --bends, --raw         inspect only: the retuning of each note; the lines for scripts
  --help                 this text
  --version              the version

On a terminal, a progress line shows each song's bar, percentage, elapsed and remaining
time; a line per song then says where its WAV went and how long it took, and several
songs end with a summary. Every message starts with its song's name.
Ctrl-C stops a conversion like the dialog's Stop button: the WAV then holds what was
mixed so far. SIGTERM (and SIGHUP) end it at once, leaving the output being written as
it stood. An output is never one of the inputs; an existing output is replaced as what
it is: a file keeps its mode, owner and other names, a symbolic link leads to the file
that is written, a device or FIFO is written in place.
Exit status: 0 every output written, 1 an output not written, 2 usage error (also an
unreadable scale file or an output that is an input, for convert and inspect alike),
130 stopped by Ctrl-C, 143 ended by SIGTERM, 129 by SIGHUP. Options that only concern
convert are refused by inspect.
)";

std::optional<CentTable> ParseCents(const std::string& text, std::string* error) {
  constexpr int kLimit = 100;
  constexpr char kBlanks[] = " \t";
  auto fail = [error](std::string why) -> std::optional<CentTable> {
    if (error) *error = std::move(why);
    return std::nullopt;
  };
  CentTable cents{};
  size_t n = 0;
  std::stringstream in(text + ",");  // every item ends with a comma, so "..,5," has an empty one
  std::string item;
  while (std::getline(in, item, ',')) {
    const size_t first = item.find_first_not_of(kBlanks);
    item = first == std::string::npos
               ? ""
               : item.substr(first, item.find_last_not_of(kBlanks) - first + 1);
    const std::string position = "value " + std::to_string(n + 1);
    if (item.empty()) return fail(position + " is empty");
    int v = 0;
    const char* end = item.data() + item.size();
    const auto [ptr, ec] = std::from_chars(item.data() + (item[0] == '+'), end, v);
    if (ec != std::errc() || ptr != end || v < -kLimit || v > kLimit)
      return fail(position + " \"" + item + "\" is not a whole number from -100 to 100");
    if (n == cents.size()) return fail("more than twelve values");
    cents[n++] = v;
  }
  if (n != cents.size()) return fail("twelve values needed, " + std::to_string(n) + " given");
  return cents;
}

namespace {

constexpr double kMaxGainDb = 60.0;

std::optional<double> ParseDecibels(const std::string& text) {
  double db = 0.0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data() + (!text.empty() && text[0] == '+'), end, db);
  if (ec != std::errc() || ptr != end || !(std::abs(db) <= kMaxGainDb)) return std::nullopt;
  return db;
}

// Options that change how a song is rendered or reported while it converts.
bool IsConvertOnly(const std::string& option) {
  static const std::set<std::string> kOptions{
      "-o", "--output", "--soundfont", "--engine", "--jobs", "--quiet", "-q", "--verbose", "-v"};
  return kOptions.count(option) != 0;
}

}  // namespace

std::string OutputPathOf(const CliOptions& options, const std::string& input) {
  if (!options.output.empty()) return options.output;
  return std::filesystem::path(OutputPathFor(input))
      .replace_extension(options.outputExtension)
      .string();
}

ParseResult ParseCommandLine(const std::vector<std::string>& args) {
  CliOptions o;
  size_t i = 0;
  bool formatGiven = false;
  auto fail = [](std::string why) { return ParseResult{std::nullopt, std::move(why)}; };
  if (args.empty()) return fail("no command given");
  const std::string& first = args[0];
  if (first == "--help" || first == "-h" || first == "help") {
    o.command = Command::kHelp;
    return ParseResult{o, {}};
  }
  if (first == "--version") {
    o.command = Command::kVersion;
    return ParseResult{o, {}};
  }
  if (first == "convert") {
    o.command = Command::kConvert;
  } else if (first == "inspect") {
    o.command = Command::kInspect;
  } else {
    return fail("unknown command: " + first);
  }
  for (i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string& out) -> bool {
      if (i + 1 >= args.size()) return false;
      out = args[++i];
      return true;
    };
    std::string v;
    if (o.command == Command::kInspect && IsConvertOnly(a))
      return fail(a + " does not apply to inspect");
    if (a == "--help" || a == "-h") {
      o.command = Command::kHelp;
      return ParseResult{o, {}};
    } else if (a == "-o" || a == "--output") {
      if (!value(o.output) || o.output.empty()) return fail(a + " needs a file name");
    } else if (a == "--cents") {
      if (!value(v)) return fail("--cents needs twelve offsets");
      std::string why;
      o.cents = ParseCents(v, &why);
      if (!o.cents) return fail("--cents: " + why + " (in \"" + v + "\")");
    } else if (a == "--scale") {
      if (!value(o.scaleFile)) return fail("--scale needs a file name");
    } else if (a == "--soundfont") {
      if (!value(o.soundFont)) return fail("--soundfont needs a path");
    } else if (a == "--engine") {
      if (!value(v)) return fail("--engine needs fast or files");
      if (v == "fast")
        o.engine = Engine::kFast;
      else if (v == "files")
        o.engine = Engine::kFiles;
      else
        return fail("--engine needs fast or files: " + v);
    } else if (a == "--jobs") {
      if (!value(v)) return fail("--jobs needs a number");
      const auto [ptr, ec] = std::from_chars(v.data(), v.data() + v.size(), o.jobs);
      if (ec != std::errc() || ptr != v.data() + v.size() || o.jobs < 1 || o.jobs > 256)
        return fail("--jobs needs a number from 1 to 256: " + v);
    } else if (a == "--format" && o.command == Command::kConvert) {
      if (!value(v) || !SoundFileTypeForExtension("." + v))
        return fail("--format needs wav, flac or aiff: " + v);
      o.outputExtension = "." + v;
      formatGiven = true;
    } else if (a == "--bits" && o.command == Command::kConvert) {
      if (!value(v) || (v != "16" && v != "24")) return fail("--bits needs 16 or 24: " + v);
      o.outputFormat.bits = v == "24" ? kHighBits : kPlainBits;
    } else if (a == "--gain" && o.command == Command::kConvert) {
      const std::optional<double> db = value(v) ? ParseDecibels(v) : std::nullopt;
      if (!db) return fail("--gain needs decibels from -60 to 60: " + v);
      o.outputFormat.gainDb = *db;
    } else if (a == "--normalize" && o.command == Command::kConvert) {
      o.outputFormat.normalize = true;
    } else if (a == "--quiet" || a == "-q") {
      o.quiet = true;
    } else if (a == "--verbose" || a == "-v") {
      o.verbose = true;
    } else if (a == "--bends" && o.command == Command::kInspect) {
      o.bends = true;
    } else if (a == "--raw" && o.command == Command::kInspect) {
      o.raw = true;
    } else if (a == "--") {
      for (++i; i < args.size(); ++i) o.inputs.push_back(args[i]);
    } else if (!a.empty() && a[0] == '-' && a != "-") {
      return fail("unknown option: " + a);
    } else {
      o.inputs.push_back(a);
    }
  }
  if (o.inputs.empty()) return fail("no MIDI file given");
  if (o.cents && !o.scaleFile.empty()) return fail("--cents and --scale exclude each other");
  if (!o.output.empty() && o.inputs.size() != 1) return fail("-o takes a single input");
  if (!o.output.empty() && !SoundFileTypeFor(o.output))
    return fail("the output's extension names no known type (.wav, .flac, .aiff, .aif): " +
                o.output);
  if (!o.output.empty() && formatGiven)
    return fail("-o names the type by its extension; --format is for outputs named after songs");
  if (o.command == Command::kInspect && o.inputs.size() != 1)
    return fail("inspect takes a single MIDI file");
  return ParseResult{o, {}};
}

}  // namespace velorna::cli
