// Parsing the command line of velorna-cli.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "audio/sound_file_writer.h"
#include "conversion/conversion_job.h"
#include "export/midi_export.h"
#include "language/language.h"
#include "tuning/presets.h"
#include "tuning/tuning.h"

namespace velorna::cli {

enum class Command { kConvert, kInspect, kTuning, kExport, kPlay, kListPresets, kHelp, kVersion };

struct CliOptions {
  Command command = Command::kHelp;
  std::vector<std::string> inputs;
  std::string output;     // -o, one input only
  std::string outputDir;  // -d: every output into this folder
  // --name: the output's name from {stem}, {tuning}, {tonic}, {ext}; empty: "{stem}{ext}".
  std::string nameTemplate;
  bool skipExisting = false;  // a song whose output exists is skipped
  // The tuning: at most one source (--cents, --scale, --preset, --scl with --kbm), with
  // --tonic and --a4 on top of any.
  std::optional<CentTable> cents;
  std::string scaleFile;
  std::optional<PresetId> preset;
  std::string sclFile;
  std::string kbmFile;
  std::optional<int> tonicIndex;  // into kTonicNames
  std::optional<double> a4Hz;
  bool ignoreSongTuning = false;  // the song's own MTS data give way to the tuning
  // --channel-tuning: a channel (0-15) tuned apart, by a preset name, "FILE.scl[:FILE.kbm]"
  // or "none"; the last one given for a channel counts.
  std::vector<std::pair<int, std::string>> channelTunings;
  bool adaptive = false;  // each note's pitch chosen over the whole song, on top of the tuning
  std::string soundFont;
  Engine engine = Engine::kFast;
  int jobs = 0;  // 0: one per core
  bool quiet = false;
  bool progress = true;        // --no-progress turns the progress display off
  bool truePeakGiven = false;  // --true-peak, which only --loudness uses
  bool verbose = false;
  bool bends = false;                          // inspect --bends
  bool raw = false;                            // inspect --raw: the machine-oriented lines
  ExportForm exportForm = ExportForm::kBends;  // export --as
  int bendRange = 0;                           // export --bend-range; 0: the form's default
  double fromSeconds = 0.0;                    // play --from: where playing starts
  double abEvery = 0.0;  // play --ab-every: A and B take turns this often; 0: never
  // What is written: -o's extension names the type, else --format's for every input.
  std::string outputExtension;  // --format's, with its dot; empty: ".wav"
  OutputFormat outputFormat;
  std::optional<Language> language;  // --lang; none: the locale's
  // Collections.
  std::string fromList;    // --from-list: songs one a line from this file, "-" for stdin
  std::string reportFile;  // --report: one JSON line per song
  int shardIndex = 1;      // --shard I/N: the songs at positions I, I+N, I+2N, ... (from 1)
  int shardCount = 1;
};

struct ParseResult {
  std::optional<CliOptions> options;
  std::string error;  // set when options is empty
};

ParseResult ParseCommandLine(const std::vector<std::string>& args);
inline constexpr double kMaxCentsOption = 100.0;
// "0, 11.7, 4,..." (blanks around the numbers allowed) into twelve offsets of -100..100; on
// failure `problem`, when given, says which value is wrong.
std::optional<CentTable> ParseCents(const std::string& text, std::string* problem = nullptr);

// Where the conversion of `input` goes: -o, else the name --name makes (by default the
// input's base name with the output extension), in -d's folder or beside the input.
std::string OutputPathOf(const CliOptions& options, const std::string& input);

// The text of --name's placeholders that is not one of them; empty when the template is
// usable.
std::string CheckNameTemplate(const std::string& text);

}  // namespace velorna::cli
