#include "cli/option_table.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "audio/sound_file_writer.h"
#include "base/limits.h"
#include "cli/cli_options.h"
#include "midi/midi_constants.h"
#include "tuning/channel_tuning.h"
#include "tuning/presets.h"
#include "tuning/tuning_choice.h"

namespace velorna::cli {
namespace {

constexpr double kMaxGainDb = 60.0;
constexpr int kMaxJobs = 256;
constexpr size_t kHelpIndent = 25;  // where --help's descriptions start

// A limit as the texts write it: "380", "-100", "0.5".
std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

bool ParseNumber(std::string_view text, double& value) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value, std::chars_format::fixed);
  return !text.empty() && ec == std::errc() && ptr == end && std::isfinite(value);
}

bool ParseWhole(std::string_view text, int& value) {
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return !text.empty() && ec == std::errc() && ptr == end;
}

std::string TonicList() {
  std::string list;
  for (const char* name : kTonicNames) list += (list.empty() ? "" : " ") + std::string(name);
  return list;
}

std::string RateList(std::string_view between) {
  std::string list;
  for (const int rate : kOutputRates)
    list += (list.empty() ? "" : std::string(between)) + std::to_string(rate);
  return list;
}

const std::string kA4Range = Number(kMinA4Hz) + ".." + Number(kMaxA4Hz);
const std::string kCentsRange = Number(-kMaxCentsOption) + ".." + Number(kMaxCentsOption);
const std::string kGainRange = Number(-kMaxGainDb) + ".." + Number(kMaxGainDb);

std::string ApplyCents(CliOptions& o, const std::string& v) {
  std::string why;
  o.cents = ParseCents(v, &why);
  return o.cents ? "" : "needs twelve offsets; " + why + " (in \"" + v + "\")";
}

std::string ApplyPreset(CliOptions& o, const std::string& v) {
  o.preset = FindPreset(v);
  return o.preset ? "" : "unknown preset (velorna-cli --list-presets lists them): " + v;
}

std::string ApplyChannelTuning(CliOptions& o, const std::string& v) {
  const size_t equals = v.find('=');
  int channel = 0;
  if (equals == std::string::npos || !ParseWhole(v.substr(0, equals), channel) || channel < 1 ||
      channel > kMidiChannels)
    return "needs CH=SOURCE with CH from 1 to " + std::to_string(kMidiChannels) + ": " + v;
  const std::string source = v.substr(equals + 1);
  if (!IsChannelSource(source))
    return "needs a preset, FILE.scl, FILE.scl:FILE.kbm or " + std::string(kUntouchedChannel) +
           ": " + v;
  o.channelTunings.emplace_back(channel - 1, source);
  return "";
}

std::string ApplyTonic(CliOptions& o, const std::string& v) {
  o.tonicIndex = FindTonic(v);
  return o.tonicIndex ? "" : "needs one of " + TonicList() + ": " + v;
}

std::string ApplyA4(CliOptions& o, const std::string& v) {
  double hz = 0;
  if (!ParseNumber(v, hz) || hz < kMinA4Hz || hz > kMaxA4Hz)
    return "needs a frequency from " + Number(kMinA4Hz) + " to " + Number(kMaxA4Hz) + " Hz: " + v;
  o.a4Hz = hz;
  return "";
}

std::string ApplyEngine(CliOptions& o, const std::string& v) {
  if (v == "fast") {
    o.engine = Engine::kFast;
  } else if (v == "files") {
    o.engine = Engine::kFiles;
  } else {
    return "needs fast or files: " + v;
  }
  return "";
}

std::string ApplyJobs(CliOptions& o, const std::string& v) {
  if (!ParseWhole(v, o.jobs) || o.jobs < 1 || o.jobs > kMaxJobs)
    return "needs a number from 1 to " + std::to_string(kMaxJobs) + ": " + v;
  return "";
}

std::string ApplyFormat(CliOptions& o, const std::string& v) {
  if (!SoundFileTypeForExtension("." + v)) return "needs wav, flac or aiff: " + v;
  o.outputExtension = "." + v;
  return "";
}

std::string ApplyBits(CliOptions& o, const std::string& v) {
  if (v != "16" && v != "24" && v != "32f") return "needs 16, 24 or 32f: " + v;
  o.outputFormat.bits = v == "32f" ? kFloatBits : v == "24" ? kHighBits : kPlainBits;
  return "";
}

constexpr double kLowestLoudness = -70.0;  // the absolute gate of EBU R128
constexpr double kLowestTruePeak = -20.0;

// A level in decibels within [lowest, 0].
std::optional<double> ParseLevel(const std::string& v, double lowest) {
  double db = 0.0;
  if (!ParseNumber(v, db) || db < lowest || db > 0.0) return std::nullopt;
  return db;
}

std::string ApplyLoudness(CliOptions& o, const std::string& v) {
  o.outputFormat.loudness = ParseLevel(v, kLowestLoudness);
  return o.outputFormat.loudness ? "" : "needs LUFS from -70 to 0: " + v;
}

std::string ApplyTruePeak(CliOptions& o, const std::string& v) {
  const std::optional<double> db = ParseLevel(v, kLowestTruePeak);
  if (!db) return "needs dBTP from -20 to 0: " + v;
  o.outputFormat.truePeakDb = *db;
  o.truePeakGiven = true;
  return "";
}

std::string ApplyRate(CliOptions& o, const std::string& v) {
  int hz = 0;
  if (!ParseWhole(v, hz) || !IsOutputRate(hz)) return "needs " + RateList(", ") + ": " + v;
  o.outputFormat.sampleRate = hz;
  return "";
}

std::string ApplyGain(CliOptions& o, const std::string& v) {
  double db = 0.0;
  if (!ParseNumber(v, db) || std::abs(db) > kMaxGainDb)
    return "needs decibels from " + Number(-kMaxGainDb) + " to " + Number(kMaxGainDb) + ": " + v;
  o.outputFormat.gainDb = db;
  return "";
}

std::string ApplyLanguage(CliOptions& o, const std::string& v) {
  o.language = ParseLanguage(v);
  return o.language ? "" : "needs ja or en: " + v;
}

std::string ApplyName(CliOptions& o, const std::string& v) {
  o.nameTemplate = v;
  return CheckNameTemplate(v);
}

std::string ApplyShard(CliOptions& o, const std::string& v) {
  const size_t slash = v.find('/');
  if (slash == std::string::npos ||
      !ParseWhole(std::string_view(v).substr(0, slash), o.shardIndex) ||
      !ParseWhole(std::string_view(v).substr(slash + 1), o.shardCount) || o.shardCount < 1 ||
      o.shardIndex < 1 || o.shardIndex > o.shardCount)
    return "needs I/N with 1 <= I <= N: " + v;
  return "";
}

std::string ApplyExportForm(CliOptions& o, const std::string& v) {
  if (v == "bends") {
    o.exportForm = ExportForm::kBends;
  } else if (v == "mpe") {
    o.exportForm = ExportForm::kMpe;
  } else if (v == "mts") {
    o.exportForm = ExportForm::kMts;
  } else {
    return "needs bends, mpe or mts: " + v;
  }
  return "";
}

std::string ApplyBendRange(CliOptions& o, const std::string& v) {
  if (!ParseWhole(v, o.bendRange) || o.bendRange < 1 || o.bendRange > kMaxExportBendRange)
    return "needs semitones from 1 to " + std::to_string(kMaxExportBendRange) + ": " + v;
  return "";
}

constexpr double kMaxFromSeconds = 1e7;  // past any song: a song ends before it

std::string ApplyFrom(CliOptions& o, const std::string& v) {
  if (!ParseNumber(v, o.fromSeconds) || o.fromSeconds < 0 || o.fromSeconds > kMaxFromSeconds)
    return "needs seconds from 0: " + v;
  return "";
}

std::string ApplyAbEvery(CliOptions& o, const std::string& v) {
  constexpr double kShortestTurn = 0.5;  // a turn shorter than that is no comparison
  if (!ParseNumber(v, o.abEvery) || o.abEvery < kShortestTurn || o.abEvery > kMaxFromSeconds)
    return "needs seconds from " + Number(kShortestTurn) + ": " + v;
  return "";
}

std::string NeedsText(const std::string& v, std::string_view what) {
  return v.empty() ? "needs " + std::string(what) : "";
}

std::vector<OptionRow> MakeTable() {
  using G = OptionGroup;
  // clang-format off
  return {
    {"", "--help", "", kForEvery | kInsteadOfCommand, G::kGeneral, "this text",
     [](CliOptions& o, const std::string&) { o.command = Command::kHelp; return std::string(); }},
    {"", "--version", "", kInsteadOfCommand, G::kGeneral, "the version",
     [](CliOptions& o, const std::string&) { o.command = Command::kVersion; return std::string(); }},
    {"", "--list-presets", "", kInsteadOfCommand, G::kGeneral,
     "the presets: name, display name, source",
     [](CliOptions& o, const std::string&) { o.command = Command::kListPresets; return std::string(); }},

    {"", "--cents", "C,C#,D,...,B", kForEvery, G::kTuning,
     "the twelve offsets in cents, each " + kCentsRange + ", decimals allowed\n"
     "(default 0,12,4,16,-14,-2,-10,2,14,-16,18,-12: pure intervals)",
     ApplyCents},
    {"", "--scale", "FILE.sca", kForEvery, G::kTuning,
     "read the twelve offsets from a scale file (64 bytes)",
     [](CliOptions& o, const std::string& v) { o.scaleFile = v; return NeedsText(v, "a file name"); }},
    {"", "--preset", "NAME", kForEvery, G::kTuning,
     "a historical or just tuning (--list-presets names them; any case)",
     ApplyPreset},
    {"", "--scl", "FILE.scl", kForEvery, G::kTuning,
     "a Scala scale; without --kbm its degree 0 sits on key 60 at\n"
     "that key's equal-tempered pitch, one degree per key",
     [](CliOptions& o, const std::string& v) { o.sclFile = v; return NeedsText(v, "a file name"); }},
    {"", "--kbm", "FILE.kbm", kForEvery, G::kTuning,
     "the keyboard mapping of --scl's scale",
     [](CliOptions& o, const std::string& v) { o.kbmFile = v; return NeedsText(v, "a file name"); }},
    {"", "--tonic", "NAME", kForEvery, G::kTuning,
     "the key the tuning is laid on: " + TonicList() + "\n"
     "(default C, any case). Offsets and presets: the tonic's pitch class\n"
     "takes the first offset (or degree), the others follow. Scala:\n"
     "the mapping and its pitches move by the tonic's nearest\n"
     "distance from C (-5..+6 semitones).",
     ApplyTonic},
    {"", "--a4", "HZ", kForEvery, G::kTuning,
     "reference pitch, " + kA4Range + ": the frequency A4 sounds at; the\n"
     "whole tuning moves so that its A4 lands there (where it leaves\n"
     "A4 unmapped, the .kbm's reference key sounds at HZ). It replaces\n"
     "a .kbm's reference frequency. Default: offsets from equal\n"
     "temperament at A4 = 440 Hz, a .kbm's own reference frequency",
     ApplyA4},
    {"", "--adaptive", "", kForSong | kForExport, G::kTuning,
     "adaptive just intonation: every note gets its own pitch, chosen\n"
     "over the whole song so that what sounds together is pure\n"
     "(the tuning above gives the pitches it starts from)",
     [](CliOptions& o, const std::string&) { o.adaptive = true; return std::string(); }},

    {"", "--channel-tuning", "CH=SOURCE", kForSong | kForExport, G::kTuning,
     "tune MIDI channel CH (1-16) apart: SOURCE is a preset, FILE.scl or\n"
     "FILE.scl:FILE.kbm (on --tonic and --a4 like the tuning above), or\n"
     "none to leave the channel as the song plays it; repeatable. The\n"
     "song's own tuning still comes first",
     ApplyChannelTuning},
    {"", "--ignore-song-tuning", "", kForSong | kForExport, G::kTuning,
     "the tuning above for every note, also those the song tunes itself\n"
     "(MTS messages, tuning program and bank), which otherwise keep\n"
     "the song's pitches",
     [](CliOptions& o, const std::string&) { o.ignoreSongTuning = true; return std::string(); }},

    {"-o", "--output", "OUT", kForConvert | kForExport, G::kGeneral,
     "write the output here (one input only); its extension picks\n"
     "the type: .wav, .flac, .aiff or .aif (export: a MIDI file)",
     [](CliOptions& o, const std::string& v) { o.output = v; return NeedsText(v, "a file name"); }},
    {"-d", "--output-dir", "DIR", kForConvert, G::kGeneral,
     "write every output into the folder DIR instead of beside its song",
     [](CliOptions& o, const std::string& v) { o.outputDir = v; return NeedsText(v, "a folder"); }},
    {"", "--name", "TEMPLATE", kForConvert, G::kGeneral,
     "the outputs' names: {stem} the song's name without its extension,\n"
     "{tuning} the tuning's name, {tonic} the tonic, {ext} the output's\n"
     "extension (default {stem}{ext})",
     ApplyName},
    {"", "--skip-existing", "", kForConvert, G::kGeneral,
     "a song whose output exists is skipped (and counted as skipped):\n"
     "an interrupted collection resumes where it stopped",
     [](CliOptions& o, const std::string&) { o.skipExisting = true; return std::string(); }},
    {"", "--format", "wav|flac|aiff", kForConvert, G::kGeneral,
     "the type of outputs named after their songs (default wav)",
     ApplyFormat},
    {"", "--bits", "16|24|32f", kForConvert, G::kGeneral,
     "bits per sample (default 16); 32f: 32-bit float (WAV, AIFF)",
     ApplyBits},
    {"", "--rate", RateList("|"), kForConvert, G::kGeneral,
     "samples per second: the synthesizer renders at this rate and\n"
     "the mix and its reverb and chorus follow (default 44100)",
     ApplyRate},
    {"", "--gain", "DB", kForConvert, G::kGeneral,
     "raise or lower the whole mix by DB decibels, " + kGainRange,
     ApplyGain},
    {"", "--normalize", "", kForConvert, G::kGeneral,
     "scale the whole mix so that its peak is at -1 dBFS (then\n"
     "--gain, if given, applies on top); the mix waits for it in\n"
     "an unnamed file in $TMPDIR, 8 bytes per frame",
     [](CliOptions& o, const std::string&) { o.outputFormat.normalize = true; return std::string(); }},
    {"", "--loudness", "LUFS", kForConvert, G::kGeneral,
     "scale the whole mix to this integrated loudness (EBU R128),\n"
     "-70..0, or less where its true peak would pass --true-peak;\n"
     "one gain, no limiter; excludes --normalize, waits like it",
     ApplyLoudness},
    {"", "--true-peak", "DBTP", kForConvert, G::kGeneral,
     "the ceiling of --loudness, -20..0 (default -1)",
     ApplyTruePeak},
    {"", "--soundfont", "PATH", kForSong, G::kGeneral,
     "the SoundFont to play with (default: FluidR3_GM.sf2, else\n"
     "default-GM.sf2 in /usr/share/sounds/sf2, else TimGM6mb.sf2)",
     [](CliOptions& o, const std::string& v) { o.soundFont = v; return NeedsText(v, "a path"); }},
    {"", "--engine", "fast|files", kForConvert, G::kGeneral,
     "fast (default): every note rendered in memory from where it\n"
     "starts, spread over threads; files: one temporary MIDI and\n"
     "WAV file per note (the reference, much slower)",
     ApplyEngine},
    {"", "--jobs", "N", kForConvert, G::kGeneral,
     "threads in all (default: one per core); the output is the same\n"
     "for any number",
     ApplyJobs},
    {"", "--from", "SECONDS", kForPlay, G::kGeneral,
     "play only: start this far into the song (default 0)",
     ApplyFrom},
    {"", "--ab-every", "SECONDS", kForPlay, G::kGeneral,
     "play only: switch between the tuning (A) and equal temperament (B)\n"
     "every SECONDS of song time, for a comparison without keys",
     ApplyAbEvery},
    {"-q", "--quiet", "", kForConvert, G::kGeneral,
     "nothing on success; a failed song's messages at its end",
     [](CliOptions& o, const std::string&) { o.quiet = true; return std::string(); }},
    {"", "--no-progress", "", kForConvert, G::kGeneral,
     "no progress display; messages and each song's closing line stay",
     [](CliOptions& o, const std::string&) { o.progress = false; return std::string(); }},
    {"-v", "--verbose", "", kForConvert | kForPlay, G::kGeneral,
     "also show the synthesizer's own log (play: and the output's underruns)",
     [](CliOptions& o, const std::string&) { o.verbose = true; return std::string(); }},
    {"", "--bends", "", kForInspect, G::kGeneral, "inspect only: the retuning of each note",
     [](CliOptions& o, const std::string&) { o.bends = true; return std::string(); }},
    {"", "--raw", "", kForInspect, G::kGeneral, "inspect only: the lines for scripts",
     [](CliOptions& o, const std::string&) { o.raw = true; return std::string(); }},
    {"", "--as", "bends|mpe|mts", kForExport, G::kGeneral,
     "export only: how the tuning is carried (default bends): a channel\n"
     "per bend sounding at once; an MPE lower zone; MIDI Tuning\n"
     "Standard messages on the song's own channels",
     ApplyExportForm},
    {"", "--bend-range", "N", kForExport, G::kGeneral,
     "export only: the bend range in semitones, 1.." + std::to_string(kMaxExportBendRange) + "\n"
     "(default: bends 2, or what the song's bends need; mpe 48)",
     ApplyBendRange},
    {"", "--lang", "ja|en", kForEvery | kInsteadOfCommand, G::kGeneral,
     "the language of the system's messages and the presets' display\n"
     "names (default: the locale's; Japanese for ja*, C and POSIX)",
     ApplyLanguage},

    {"", "--from-list", "FILE|-", kForConvert, G::kCollection,
     "also convert the songs named in FILE, one a line (\"-\": standard\n"
     "input); blank lines and lines starting with # are passed over",
     [](CliOptions& o, const std::string& v) { o.fromList = v; return NeedsText(v, "a file name or -"); }},
    {"", "--report", "FILE", kForConvert, G::kCollection,
     "write one JSON line per song to FILE: input, output, result,\n"
     "message codes, seconds, notes",
     [](CliOptions& o, const std::string& v) { o.reportFile = v; return NeedsText(v, "a file name"); }},
    {"", "--shard", "I/N", kForConvert, G::kCollection,
     "convert only the songs at positions I, I+N, I+2N, ... of the\n"
     "list (from 1): N runs together convert the whole collection",
     ApplyShard},
  };
  // clang-format on
}

std::string_view GroupHeading(OptionGroup group) {
  switch (group) {
    case OptionGroup::kTuning:
      return "Tuning";
    case OptionGroup::kGeneral:
      return "Output and run";
    case OptionGroup::kCollection:
      return "Collections";
  }
  return {};
}

// Roff for a text: its minus signs as such, and no line taken for a request.
std::string Roff(std::string_view text) {
  std::string out;
  for (const char c : text) {
    if (c == '-' || c == '\\') out += '\\';
    out += c == '\n' ? ' ' : c;
  }
  if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out.insert(0, "\\&");
  return out;
}

}  // namespace

const std::vector<OptionRow>& OptionTable() {
  static const std::vector<OptionRow> table = MakeTable();
  return table;
}

const OptionRow* FindOption(std::string_view name) {
  for (const OptionRow& option : OptionTable())
    if (name == option.longName || (!option.shortName.empty() && name == option.shortName))
      return &option;
  return nullptr;
}

std::string OptionHead(const OptionRow& option) {
  std::string head = option.shortName.empty() ? "" : option.shortName + ", ";
  head += option.longName;
  if (!option.value.empty()) head += " " + option.value;
  return head;
}

std::string HelpText() {
  std::string text = R"(usage: velorna-cli convert [options] [tuning] SONG.mid...
       velorna-cli inspect [--bends] [--raw] [--soundfont PATH] [tuning] SONG.mid
       velorna-cli export [--as bends|mpe|mts] [--bend-range N] [tuning] [-o OUT.mid] SONG.mid
       velorna-cli tuning [tuning]
       velorna-cli play [--from SECONDS] [--soundfont PATH] [tuning] SONG.mid
       velorna-cli --list-presets | --help | --version

convert   Renders each SONG.mid to a sound file (stereo, by default a 16-bit WAV at
          44100 Hz) in which every pitched note sounds at its key's target in the tuning.
          The output goes beside the song (or into -d's folder): its name cut at the
          last "." plus ".wav" (or the extension --format names).
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
export    Writes SONG.mid as a MIDI file (format 1, its tracks, tempo map, names and
          controllers kept) in which every pitched note sounds at its target on an
          ordinary synthesizer: by pitch bends, an MPE zone or MTS messages (--as).
          Drums stay as they are. The output goes beside the song as SONG-FORM.mid
          unless -o names it.
play      Plays SONG.mid to the default audio output (PulseAudio, else ALSA) as convert
          would write it, from --from's point. On a terminal it shows the position, and
          keys act: space pauses, left and right seek 5 s, "a" switches between the
          tuning (A) and equal temperament (B) at the same point, "q" ends. Elsewhere it
          plays to the end. Ctrl-C ends it.
tuning    Prints the tuning's 128 keys, one a line: key name Hz cents
          (C4 is key 60; cents from the key's equal-tempered pitch at A4 = 440 Hz;
          "x x" for a key the tuning leaves unmapped, whose notes stay silent).
)";
  const std::pair<OptionGroup, const char*> sections[] = {
      {OptionGroup::kTuning, "tuning (one source at most; default: pure intervals on C):"},
      {OptionGroup::kGeneral, "options (--opt=value works as well as --opt value):"},
      {OptionGroup::kCollection, "collections:"},
  };
  const std::string indent(kHelpIndent, ' ');
  for (const auto& [group, heading] : sections) {
    text += std::string("\n") + heading + "\n";
    for (const OptionRow& option : OptionTable()) {
      if (option.group != group) continue;
      std::string head = "  " + OptionHead(option);
      head += head.size() + 2 > kHelpIndent ? "\n" + indent
                                            : std::string(kHelpIndent - head.size(), ' ');
      std::string help;
      for (const char c : option.help) help += c == '\n' ? "\n" + indent : std::string(1, c);
      text += head + help + "\n";
    }
  }
  text += R"(
On a terminal, a progress line shows each song's bar, percentage, elapsed and remaining
time; elsewhere (a log, a pipe) a plain line at most every 10 % or 10 s. A line per song
then says where its output went and how long it took, and several songs end with a
summary. Every message starts with its song's name.
Several songs are converted side by side, sharing the threads (--jobs) between them.
Ctrl-C stops a conversion like the dialog's Stop button: the output then holds what was
mixed so far. SIGTERM (and SIGHUP) end it at once, leaving the output being written as
it stood. An output is never one of the inputs; an existing output is replaced as what
it is: a file keeps its mode, owner and other names, a symbolic link leads to the file
that is written, a device or FIFO is written in place when the conversion is complete
(until then it is gathered in an unnamed file in $TMPDIR, which needs room for it).
Exit status: 0 every output written (or skipped), 1 an output not written, 2 usage
error (also a tuning file that cannot be read or an output that is an input, for
convert and inspect alike), 130 stopped by Ctrl-C, 143 ended by SIGTERM, 129 by SIGHUP.
Options that do not concern a command are refused by it.
)";
  return text;
}

std::optional<std::string> ManOptionList(const ManTranslation* translation) {
  std::string roff;
  bool complete = true;
  const auto text = [&](std::string_view key, const std::string& english) -> std::string {
    if (!translation) return english;
    const auto found = translation->find(key);
    if (found != translation->end()) return found->second;
    complete = false;
    return {};
  };
  for (const OptionGroup group :
       {OptionGroup::kTuning, OptionGroup::kGeneral, OptionGroup::kCollection}) {
    const std::string heading(GroupHeading(group));
    roff += ".SS " + text(heading, heading) + "\n";
    for (const OptionRow& option : OptionTable()) {
      if (option.group != group) continue;
      roff += ".TP\n";
      if (!option.shortName.empty()) roff += "\\fB" + Roff(option.shortName) + "\\fR, ";
      roff += "\\fB" + Roff(option.longName) + "\\fR";
      if (!option.value.empty()) roff += " \\fI" + Roff(option.value) + "\\fR";
      std::string body = Roff(text(option.longName, option.help));
      // Japanese has no spaces for groff to break a line at, so a long text would overrun
      // the page: a new source line after each comma and full stop gives it the breaks.
      if (translation) {
        for (const std::string_view mark : {"、", "。"}) {
          for (size_t at = body.find(mark); at != std::string::npos; at = body.find(mark, at)) {
            at += mark.size();
            if (at >= body.size() || body[at] == ' ') continue;
            // A line that starts with a dot (".kbm") would be taken for a request.
            body.insert(at, body[at] == '.' || body[at] == '\'' ? "\n\\&" : "\n");
          }
        }
        // A long aside in brackets may follow a clause without a comma: break before it.
        const std::string_view open = "（";
        for (size_t at = body.find(open, 1); at != std::string::npos;
             at = body.find(open, at + open.size())) {
          if (body[at - 1] != ' ' && body[at - 1] != '\n') body.insert(at++, "\n");
        }
      }
      roff += "\n" + body + "\n";
    }
  }
  if (!complete) return std::nullopt;
  return roff;
}

}  // namespace velorna::cli
