#include "cli/cli_options.h"

#include "tuning/tuning_choice.h"

#include <charconv>
#include <cmath>
#include <filesystem>
#include <set>
#include <string_view>

#include "base/limits.h"
#include "conversion/job_files.h"

namespace velorna::cli {

const char kHelpText[] = R"(usage: velorna-cli convert [options] [tuning] SONG.mid...
       velorna-cli inspect [--bends] [--raw] [tuning] SONG.mid
       velorna-cli tuning [tuning]
       velorna-cli --list-presets | --help | --version

convert   Renders each SONG.mid to a sound file (stereo, by default a 16-bit WAV at
          44100 Hz) in which every pitched note sounds at its key's target in the tuning.
          The output goes beside the song: its name cut at the last "." plus ".wav"
          (or the extension --format names).
inspect   Prints the prepared song, one event a line: time in seconds and bar:beat,
          channel 1-16, note names (C4 = key 60) and values as a musician reads them.
          With --bends, one line per note instead: its target in cents, frequency in Hz,
          the bend with the whole cents it carries, and the cents the rendering's rate
          adds (together they sound the target within 0.1 cent).
          With --raw, the machine-oriented lines, for scripts:
          tick channel status note velocity duration kind value
          and with --bends as well:
          index tick channel note pitch-class cents sensitivity base-bend bend
          ("rhythm" or "drum" replaces the last four for notes that are not retuned).
tuning    Prints the tuning's 128 keys, one a line: key name Hz cents
          (C4 is key 60; cents from the key's equal-tempered pitch at A4 = 440 Hz;
          "x x" for a key the tuning leaves unmapped, whose notes stay silent).

tuning (one source at most; default: pure intervals on C):
  --cents C,C#,D,...,B   the twelve offsets in cents, each -100..100, decimals allowed
                         (default 0,12,4,16,-14,-2,-10,2,14,-16,18,-12: pure intervals)
  --scale FILE.sca       read the twelve offsets from a scale file (64 bytes)
  --preset NAME          a historical or just tuning (--list-presets names them)
  --scl FILE.scl         a Scala scale; without --kbm its degree 0 sits on key 60 at
  [--kbm FILE.kbm]       that key's equal-tempered pitch, one degree per key
  --tonic NAME           the key the tuning is laid on: Cb Gb Db Ab Eb Bb F C G D A E B
                         F# C# (default C). Offsets and presets: the tonic's pitch class
                         takes the first offset (or degree), the others follow. Scala:
                         the mapping and its pitches move by the tonic's nearest
                         distance from C (-5..+6 semitones).
  --a4 HZ                reference pitch, 380..500 (default 440): moves every key by
                         1200*log2(HZ/440) cents
  --adaptive             adaptive just intonation: every note gets its own pitch, chosen
                         over the whole song so that what sounds together is pure
                         (the tuning above gives the pitches it starts from)

options:
  -o, --output OUT       write the output here (one input only); its extension picks
                         the type: .wav, .flac, .aiff or .aif
  --format wav|flac|aiff the type of outputs named after their songs (default wav)
  --bits 16|24|32f       bits per sample (default 16); 32f: 32-bit float (WAV, AIFF)
  --rate 44100|48000|96000
                         samples per second: the synthesizer renders at this rate and
                         the mix and its reverb and chorus follow (default 44100)
  --gain DB              raise or lower the whole mix by DB decibels, -60..60
  --normalize            scale the whole mix so that its peak is at -1 dBFS (then
                         --gain, if given, applies on top); the mix waits for it in
                         an unnamed file in $TMPDIR, 8 bytes per frame
  --loudness LUFS        scale the whole mix to this integrated loudness (EBU R128),
                         -70..0, or less where its true peak would pass --true-peak;
                         one gain, no limiter; excludes --normalize, waits like it
  --true-peak DBTP       the ceiling of --loudness, -20..0 (default -1)
  --soundfont PATH       the SoundFont to play with (default: FluidR3_GM.sf2, else
                         default-GM.sf2 in /usr/share/sounds/sf2, else TimGM6mb.sf2)
  --engine fast|files    fast (default): every note rendered in memory from where it
                         starts, spread over threads; files: one temporary MIDI and
                         WAV file per note (the reference, much slower)
  --jobs N               threads for the fast engine (default: one per core)
  --quiet                nothing on success; a failed song's messages at its end
  --verbose              also show the synthesizer's own log and the loudness range
  --bends, --raw         inspect only: the retuning of each note; the lines for scripts
  --list-presets         the presets: name, display name, source
  --lang ja|en           the language of the system's messages and the presets' display
                         names (default: the locale's; Japanese for ja*, C and POSIX)
  --help                 this text
  --version              the version

On a terminal, a progress line shows each song's bar, percentage, elapsed and remaining
time; a line per song then says where its WAV went and how long it took, and several
songs end with a summary. Every message starts with its song's name.
Ctrl-C stops a conversion like the dialog's Stop button: the WAV then holds what was
mixed so far. SIGTERM (and SIGHUP) end it at once, leaving the output being written as
it stood. An output is never one of the inputs; an existing output is replaced as what
it is: a file keeps its mode, owner and other names, a symbolic link leads to the file
that is written, a device or FIFO is written in place when the conversion is complete
(until then it is gathered in an unnamed file in $TMPDIR, which needs room for it).
Exit status: 0 every output written, 1 an output not written, 2 usage error (also an
tuning file that cannot be read or an output that is an input, for convert and inspect alike),
130 stopped by Ctrl-C, 143 ended by SIGTERM, 129 by SIGHUP. Options that only concern
convert are refused by inspect.
)";

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

std::string TonicList() {
  std::string list;
  for (const char* name : kTonicNames) list += (list.empty() ? "" : " ") + std::string(name);
  return list;
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

constexpr double kMaxGainDb = 60.0;
constexpr double kLowestLoudness = -70.0;  // the absolute gate of EBU R128
constexpr double kLowestTruePeak = -20.0;

// One of the output rates, written as a whole number of Hz.
std::optional<int> ParseRate(const std::string& text) {
  int hz = 0;
  const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), hz);
  if (ec != std::errc() || ptr != text.data() + text.size() || !IsOutputRate(hz))
    return std::nullopt;
  return hz;
}

std::optional<double> ParseDecibels(const std::string& text, double lowest = -kMaxGainDb,
                                    double highest = kMaxGainDb) {
  double db = 0.0;
  if (!ParseNumber(text, db) || db < lowest || db > highest) return std::nullopt;
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

ParseResult ParseCommandLine(const std::vector<std::string>& given) {
  CliOptions o;
  size_t i = 0;
  bool formatGiven = false;
  bool trueCeilingGiven = false;
  auto fail = [](std::string why) { return ParseResult{std::nullopt, std::move(why)}; };
  // --lang goes with every command, --help and --list-presets included.
  std::vector<std::string> args;
  for (i = 0; i < given.size(); ++i) {
    if (given[i] == "--") {
      args.insert(args.end(), given.begin() + static_cast<std::ptrdiff_t>(i), given.end());
      break;
    }
    if (given[i] != "--lang") {
      args.push_back(given[i]);
      continue;
    }
    const std::string code = i + 1 < given.size() ? given[++i] : std::string();
    o.language = ParseLanguage(code);
    if (!o.language) return fail("--lang needs ja or en: " + code);
  }
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
  if (first == "--list-presets") {
    o.command = Command::kListPresets;
    return ParseResult{o, {}};
  }
  if (first == "convert") {
    o.command = Command::kConvert;
  } else if (first == "inspect") {
    o.command = Command::kInspect;
  } else if (first == "tuning") {
    o.command = Command::kTuning;
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
    } else if (a == "--preset") {
      if (!value(v)) return fail("--preset needs a name (velorna-cli --list-presets lists them)");
      o.preset = FindPreset(v);
      if (!o.preset) return fail("unknown preset (velorna-cli --list-presets lists them): " + v);
    } else if (a == "--tonic") {
      if (!value(v)) return fail("--tonic needs one of " + TonicList());
      o.tonicIndex = FindTonic(v);
      if (!o.tonicIndex) return fail("--tonic needs one of " + TonicList() + ": " + v);
    } else if (a == "--a4") {
      double hz = 0;
      if (!value(v) || !ParseNumber(v, hz) || hz < kMinA4Hz || hz > kMaxA4Hz)
        return fail("--a4 needs a frequency from 380 to 500 Hz: " + v);
      o.a4Hz = hz;
    } else if (a == "--adaptive") {
      if (o.command == Command::kTuning)
        return fail(
            "--adaptive chooses the pitches of a song's notes: use it with convert or inspect");
      o.adaptive = true;
    } else if (a == "--scl") {
      if (!value(o.sclFile)) return fail("--scl needs a file name");
    } else if (a == "--kbm") {
      if (!value(o.kbmFile)) return fail("--kbm needs a file name");
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
      if (!value(v) || (v != "16" && v != "24" && v != "32f"))
        return fail("--bits needs 16, 24 or 32f: " + v);
      o.outputFormat.bits = v == "32f" ? kFloatBits : v == "24" ? kHighBits : kPlainBits;
    } else if (a == "--rate" && o.command == Command::kConvert) {
      const std::optional<int> hz = value(v) ? ParseRate(v) : std::nullopt;
      if (!hz) return fail("--rate needs 44100, 48000 or 96000: " + v);
      o.outputFormat.sampleRate = *hz;
    } else if (a == "--gain" && o.command == Command::kConvert) {
      const std::optional<double> db = value(v) ? ParseDecibels(v) : std::nullopt;
      if (!db) return fail("--gain needs decibels from -60 to 60: " + v);
      o.outputFormat.gainDb = *db;
    } else if (a == "--normalize" && o.command == Command::kConvert) {
      o.outputFormat.normalize = true;
    } else if (a == "--loudness" && o.command == Command::kConvert) {
      o.outputFormat.loudness = value(v) ? ParseDecibels(v, kLowestLoudness, 0.0) : std::nullopt;
      if (!o.outputFormat.loudness) return fail("--loudness needs LUFS from -70 to 0: " + v);
    } else if (a == "--true-peak" && o.command == Command::kConvert) {
      const std::optional<double> db =
          value(v) ? ParseDecibels(v, kLowestTruePeak, 0.0) : std::nullopt;
      if (!db) return fail("--true-peak needs dBTP from -20 to 0: " + v);
      o.outputFormat.truePeakDb = *db;
      trueCeilingGiven = true;
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
  const int sources = int{o.cents.has_value()} + int{!o.scaleFile.empty()} +
                      int{o.preset.has_value()} + int{!o.sclFile.empty()};
  if (sources > 1) return fail("--cents, --scale, --preset and --scl exclude each other");
  if (!o.kbmFile.empty() && o.sclFile.empty()) return fail("--kbm needs --scl");
  if (o.outputFormat.normalize && o.outputFormat.loudness)
    return fail("--normalize and --loudness exclude each other");
  if (trueCeilingGiven && !o.outputFormat.loudness) return fail("--true-peak needs --loudness");
  if (o.command == Command::kTuning) {
    if (!o.inputs.empty()) return fail("tuning takes no MIDI file: " + o.inputs[0]);
    return ParseResult{o, {}};
  }
  if (o.inputs.empty()) return fail("no MIDI file given");
  if (!o.output.empty() && o.inputs.size() != 1) return fail("-o takes a single input");
  if (!o.output.empty() && formatGiven)
    return fail("-o names the type by its extension; --format is for outputs named after songs");
  if (o.command == Command::kInspect && o.inputs.size() != 1)
    return fail("inspect takes a single MIDI file");
  return ParseResult{o, {}};
}

}  // namespace velorna::cli
