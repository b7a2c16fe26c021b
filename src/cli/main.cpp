// velorna-cli: the command-line front end over the conversion job.
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "audio/audio_messages.h"
#include "audio/rendering_service.h"
#include "base/display_text.h"
#include "base/file_io.h"
#include "base/output_target.h"
#include "base/run_files.h"

#include "cli/cli_options.h"
#include "cli/exit_status.h"
#include "cli/option_table.h"
#include "cli/play_command.h"
#include "cli/song_listing.h"
#include "cli/song_report.h"
#include "cli/stderr_reporter.h"
#include "cli/tuning_options.h"
#include "conversion/conversion_job.h"
#include "conversion/conversion_messages.h"
#include "conversion/job_files.h"

namespace {

using namespace velorna;
using namespace velorna::cli;

// Ctrl-C acts as the Stop button of every running job; SIGTERM and SIGHUP end the run at
// once, removing its temporary files, so that no output is replaced by a partial mix. The
// signals are taken by a thread of their own and blocked in every other, so that what they do
// is ordinary code rather than a handler's.
std::atomic<int> g_interrupted{0};
// Taken for good by whichever comes first: the end of the run, or a signal that ends it. The
// exit status then says which one it was.
std::mutex g_ending;
std::mutex g_jobsMutex;
std::set<JobControl*> g_jobs;  // the jobs running now

// A job that Ctrl-C stops while it runs.
class RunningJob {
 public:
  RunningJob() {
    std::lock_guard lock(g_jobsMutex);
    g_jobs.insert(&control);
    if (g_interrupted.load()) control.m_cancel.store(1);
  }
  ~RunningJob() {
    std::lock_guard lock(g_jobsMutex);
    g_jobs.erase(&control);
  }
  RunningJob(const RunningJob&) = delete;
  RunningJob& operator=(const RunningJob&) = delete;
  JobControl control;
};

void WatchSignals(sigset_t signals) {
  for (;;) {
    int signal = 0;
    if (sigwait(&signals, &signal) != 0) continue;
    if (signal == SIGINT) {
      g_interrupted.store(1);
      std::lock_guard lock(g_jobsMutex);
      for (JobControl* job : g_jobs) job->m_cancel.store(1);
      continue;
    }
    // A run that has already ended keeps its own status: its outputs are complete.
    if (!g_ending.try_lock()) continue;
    // On a line of its own, below a progress bar that may be showing.
    std::fprintf(stderr,
                 "\nvelorna-cli: ended by SIG%s; the output being written was left as it stood\n",
                 sigabbrev_np(signal));
    RemoveTemporariesAndExit(kExitBySignal + signal);
  }
}

// Before any other thread exists, so that every thread inherits the blocked signals.
void StartSignalWatcher() {
  sigset_t signals;
  sigemptyset(&signals);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&signals, signal);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::thread(WatchSignals, signals).detach();
  // A FIFO output whose reader has gone fails its write instead of ending the program.
  std::signal(SIGPIPE, SIG_IGN);
}

// Where the running program lies, for the translations found relative to it.
QString ProgramFolder(const char* argv0) {
  std::error_code ec;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  const std::filesystem::path program = ec ? std::filesystem::absolute(argv0, ec) : self;
  return QString::fromStdString(program.parent_path().string());
}

int Usage(const std::string& why) {
  std::fprintf(stderr, "velorna-cli: %s\n(velorna-cli --help lists the options)\n", why.c_str());
  return kExitUsage;
}

std::string Canonical(const std::string& path) {
  std::error_code ec;
  auto p = std::filesystem::weakly_canonical(std::filesystem::absolute(path, ec), ec);
  return ec ? path : p.string();
}

// The songs of --from-list, one a line; blank lines and "#" comments are passed over.
std::optional<std::vector<std::string>> ReadList(const std::string& name) {
  std::ifstream file;
  if (name != "-") {
    file.open(name);
    if (!file) return std::nullopt;
  }
  std::istream& in = name == "-" ? std::cin : file;
  std::vector<std::string> songs;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    songs.push_back(line);
  }
  if (in.bad()) return std::nullopt;
  return songs;
}

// How many songs run side by side, and the threads of each: all threads go to one song at a
// time until there are more songs than threads to spread.
struct Sharing {
  int songsAtOnce = 1;
  int threadsPerSong = 0;  // 0: the engine's default
};

Sharing ShareThreads(int jobs, size_t songs) {
  const int threads =
      jobs > 0 ? jobs : std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
  if (songs < 2 || threads < 2) return {1, jobs};
  const int atOnce = static_cast<int>(std::min<size_t>(songs, static_cast<size_t>(threads)));
  return {atOnce, threads / atOnce};
}

int Convert(const CliOptions& cli, const Tuning& tuning, ConsoleOutput& console) {
  std::vector<std::string> inputs = cli.inputs;
  if (!cli.fromList.empty()) {
    const auto listed = ReadList(cli.fromList);
    if (!listed) return Usage("cannot read the list of songs: " + cli.fromList);
    inputs.insert(inputs.end(), listed->begin(), listed->end());
  }
  // Every N-th song, so that N runs of one list share a collection without speaking.
  std::vector<std::string> shard;
  for (size_t i = 0; i < inputs.size(); ++i)
    if (static_cast<int>(i % static_cast<size_t>(cli.shardCount)) == cli.shardIndex - 1)
      shard.push_back(inputs[i]);
  inputs = std::move(shard);
  if (!cli.outputDir.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(cli.outputDir, ec);
    if (ec) return Usage("cannot make the output folder " + cli.outputDir + ": " + ec.message());
  }

  // Two inputs must never write one output, nor an output overwrite an input: refused
  // before anything starts.
  std::vector<std::string> outputs;
  std::set<std::string> seen;
  for (const auto& input : inputs) {
    const std::string out = OutputPathOf(cli, input);
    if (!seen.insert(Canonical(out)).second)
      return Usage("two inputs would write the same output: " + out);
    const OutputCheck check = CheckOutput(out, inputs);
    if (check.problem == OutputProblem::kIsInput)
      return Usage("the output " + out + " would overwrite the input " + check.input);
    // Standard output takes its type from --format (WAV without it).
    const std::optional<SoundFileType> type =
        out == kStandardOutput
            ? SoundFileTypeForExtension(cli.outputExtension.empty() ? std::string(".wav")
                                                                    : cli.outputExtension)
            : SoundFileTypeFor(out);
    if (!type)
      return Usage("the output's extension names no known type (.wav, .flac, .aiff, .aif): " + out);
    if (!FormatFitsType(cli.outputFormat, *type))
      return Usage("FLAC holds no float samples (--bits 32f): " + out);
    outputs.push_back(out);
  }
  std::optional<SongReport> report;
  if (!cli.reportFile.empty()) {
    report.emplace(cli.reportFile);
    if (!report->IsOpen()) return Usage("cannot write the report " + cli.reportFile);
  }

  // A SoundFont that cannot be read fails every song alike: said once, before any song.
  if (const SoundFontAccess font = CheckSoundFontAccess(cli.soundFont); font.error != 0) {
    console.ShowText(audio_msg::NoSynthesizer(font.path));
    console.ShowText(PathAndCause(font.path, font.error));
    return kExitNotWritten;
  }

  // The threads of the whole run fitted once to its memory bound, and said once.
  int jobs = cli.jobs;
  if (cli.engine == Engine::kFast) {
    ConversionOptions asked;
    asked.soundFont = cli.soundFont;
    asked.jobs = cli.jobs;
    const WorkerFit fit = FitWorkersFor(asked);
    if (fit.lowered) console.ShowText(conversion_msg::WorkersLowered(cli.jobs, fit.workers));
    if (!fit.refused) jobs = fit.workers;
  }
  const Sharing sharing = ShareThreads(jobs, inputs.size());
  ConversionOptions options;
  options.tuning = tuning;
  options.adaptive = cli.adaptive;
  options.ignoreSongTuning = cli.ignoreSongTuning;
  options.soundFont = cli.soundFont;
  options.engine = cli.engine;
  options.jobs = sharing.threadsPerSong;
  options.verbose = cli.verbose;
  options.outputFormat = cli.outputFormat;
  if (cli.output == kStandardOutput)
    options.outputType = SoundFileTypeForExtension(
        cli.outputExtension.empty() ? std::string(".wav") : cli.outputExtension);

  std::atomic<bool> anyFailed{false};
  std::atomic<size_t> next{0};
  const auto convertSongs = [&] {
    for (size_t i = next++; i < inputs.size() && !g_interrupted.load(); i = next++) {
      SongConsole song(console, std::filesystem::path(inputs[i]).filename().string());
      SongRecord record;
      record.input = inputs[i];
      record.output = outputs[i];
      std::error_code ec;
      if (cli.skipExisting && std::filesystem::exists(outputs[i], ec)) {
        song.Skip(outputs[i]);
        record.result = SongOutcome::kSkipped;
      } else if (const int error = LocateOutput(outputs[i]).error) {
        song.ShowText(audio_msg::kCannotOpen);
        song.ShowText(PathAndCause(outputs[i], error));
        song.End(ConversionResult::kNotWritten, outputs[i]);
        record.result = SongOutcome::kFailed;
      } else {
        RunningJob job;
        ConversionOptions own = options;
        own.outputPath = outputs[i];
        const ConversionResult result = RunConversion(inputs[i], own, job.control, song, song);
        // Under --skip-existing a half-written output would pass for a finished one when the
        // collection resumes: it goes, and the next run converts the song again.
        const bool unfinishedGoes =
            result == ConversionResult::kWrittenAfterStop && cli.skipExisting &&
            std::filesystem::is_regular_file(std::filesystem::symlink_status(outputs[i], ec)) &&
            std::filesystem::remove(outputs[i], ec);
        song.End(result, outputs[i], !unfinishedGoes,
                 {job.control.writtenSeconds, job.control.songSeconds});
        record.result = OutcomeOf(result);
        record.notes = job.control.m_notes.load();
        if (OutputWritten(result)) record.level = song.Level();
      }
      if (record.result == SongOutcome::kFailed) anyFailed = true;
      record.codes = song.Codes();
      record.seconds = song.Seconds();
      if (report) report->Write(record);
    }
  };
  std::vector<std::thread> workers;
  for (int k = 1; k < sharing.songsAtOnce; ++k) workers.emplace_back(convertSongs);
  convertSongs();
  for (std::thread& worker : workers) worker.join();
  console.EndBatch();
  if (g_interrupted.load()) return kExitInterrupted;
  return anyFailed ? kExitNotWritten : kExitOk;
}

int Export(const CliOptions& cli, const Tuning& tuning, ConsoleOutput& console) {
  const std::string& input = cli.inputs[0];
  const std::string out = OutputPathOf(cli, input);
  if (CheckOutput(out, cli.inputs).problem == OutputProblem::kIsInput)
    return Usage("the output " + out + " would overwrite the input " + input);
  ExportOptions options;
  options.form = cli.exportForm;
  options.bendRange = cli.bendRange;
  options.adaptive = cli.adaptive;
  options.ignoreSongTuning = cli.ignoreSongTuning;
  if (!ExportSong(input, out, tuning, options, console)) return kExitNotWritten;
  std::fprintf(stderr, "%s -> %s\n", EscapeForDisplay(input).c_str(),
               EscapeForDisplay(out).c_str());
  return kExitOk;
}

}  // namespace

static int Run(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  const ParseResult parsed = ParseCommandLine(args);
  if (!parsed.options) return Usage(parsed.error);
  const CliOptions& cli = *parsed.options;
  MessageCatalog messages;
  const Language language = cli.language.value_or(LanguageOfEnvironment());
  if (!messages.Load(language, ProgramFolder(argv[0]))) {
    std::fprintf(stderr, "velorna-cli: the %s translation is missing; messages stay Japanese\n",
                 std::string(LanguageCode(language)).c_str());
  }
  switch (cli.command) {
    case Command::kHelp:
      std::fputs(HelpText().c_str(), stdout);
      return kExitOk;
    case Command::kVersion:
      std::printf("velorna-cli %s\n", VELORNA_VERSION);
      return kExitOk;
    case Command::kListPresets:
      PrintPresets(messages);
      return kExitOk;
    case Command::kTuning:
    case Command::kInspect:
    case Command::kConvert:
    case Command::kExport:
    case Command::kPlay:
      break;
  }
  // Before any other thread starts, so that every thread inherits the blocked signals.
  if (cli.command == Command::kConvert || cli.command == Command::kPlay) StartSignalWatcher();
  ConsoleOutput console(cli.command == Command::kConvert
                            ? ConsoleMode{.progress = cli.progress,
                                          .terminal = isatty(STDERR_FILENO) != 0,
                                          .quiet = cli.quiet}
                            : ConsoleMode{.progress = false},
                        messages);
  if (cli.command == Command::kInspect || cli.command == Command::kExport ||
      cli.command == Command::kPlay)
    console.BeginSong(std::filesystem::path(cli.inputs[0]).filename().string());
  // Every other command plays a tuning; one that cannot be read is a usage error.
  const std::optional<Tuning> tuning = ResolveTuning(cli, console);
  if (!tuning) return kExitUsage;
  switch (cli.command) {
    case Command::kTuning:
      PrintTuningTable(*tuning);
      return kExitOk;
    case Command::kInspect:
      return Inspect(cli, *tuning, console) ? kExitOk : kExitNotWritten;
    case Command::kConvert:
      return Convert(cli, *tuning, console);
    case Command::kExport:
      return Export(cli, *tuning, console);
    case Command::kPlay:
      return PlaySong(cli, *tuning, console, g_interrupted);
    default:
      break;
  }
  return kExitUsage;
}

// Memory or threads running out where no part of the job catches it: a clean failure, not an
// abort.
int main(int argc, char** argv) {
  int status = kExitNotWritten;
  try {
    status = Run(argc, argv);
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "velorna-cli: %s\n", velorna::audio_msg::kOutOfMemory.c_str());
  } catch (const std::system_error&) {
    std::fprintf(stderr, "velorna-cli: %s\n", velorna::audio_msg::kOutOfMemory.c_str());
  }
  // Waits here for good while a signal is ending the run with its own status.
  g_ending.lock();
  return status;
}
