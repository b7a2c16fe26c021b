// velorna-cli: the command-line front end over the conversion job.
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "audio/audio_messages.h"
#include "base/output_target.h"
#include "base/run_files.h"

#include "cli/cli_options.h"
#include "cli/song_listing.h"
#include "cli/stderr_reporter.h"
#include "cli/tuning_options.h"
#include "conversion/conversion_job.h"
#include "conversion/job_files.h"

namespace {

using namespace velorna;
using namespace velorna::cli;

constexpr int kExitOk = 0;
constexpr int kExitNotWritten = 1;
constexpr int kExitUsage = 2;
constexpr int kExitBySignal = 128;  // plus the signal's number, as a shell reports it
constexpr int kExitInterrupted = kExitBySignal + SIGINT;

// Ctrl-C acts as the Stop button of the running job; SIGTERM and SIGHUP end the run at once,
// removing its temporary files, so that no output is replaced by a partial mix. The signals
// are taken by a thread of their own and blocked in every other, so that what they do is
// ordinary code rather than a handler's.
std::atomic<int> g_interrupted{0};
std::atomic<std::atomic<int>*> g_cancel{nullptr};

void WatchSignals(sigset_t signals) {
  for (;;) {
    int signal = 0;
    if (sigwait(&signals, &signal) != 0) continue;
    if (signal == SIGINT) {
      g_interrupted.store(1);
      if (auto* cancel = g_cancel.load()) cancel->store(1);
      continue;
    }
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

int Convert(const CliOptions& cli, const Tuning& tuning, ConsoleOutput& console) {
  ConversionOptions options;
  options.tuning = tuning;
  options.adaptive = cli.adaptive;
  options.soundFont = cli.soundFont;
  options.engine = cli.engine;
  options.jobs = cli.jobs;
  options.verbose = cli.verbose;
  options.outputFormat = cli.outputFormat;

  // Two inputs must never write one output, nor an output overwrite an input: refused
  // before anything starts.
  std::vector<std::string> outputs;
  std::set<std::string> seen;
  for (const auto& input : cli.inputs) {
    const std::string out = OutputPathOf(cli, input);
    if (!seen.insert(Canonical(out)).second)
      return Usage("two inputs would write the same output: " + out);
    const OutputCheck check = CheckOutput(out, cli.inputs);
    if (check.problem == OutputProblem::kIsInput)
      return Usage("the output " + out + " would overwrite the input " + check.input);
    const std::optional<SoundFileType> type = SoundFileTypeFor(out);
    if (!type)
      return Usage("the output's extension names no known type (.wav, .flac, .aiff, .aif): " + out);
    if (!FormatFitsType(cli.outputFormat, *type))
      return Usage("FLAC holds no float samples (--bits 32f): " + out);
    outputs.push_back(out);
  }

  int status = kExitOk;
  for (size_t i = 0; i < cli.inputs.size() && !g_interrupted.load(); ++i) {
    options.outputPath = outputs[i];
    console.BeginSong(std::filesystem::path(cli.inputs[i]).filename().string());
    if (const int error = LocateOutput(outputs[i]).error) {
      console.ShowText(audio_msg::kCannotOpen);
      console.ShowText(outputs[i] + ": " + std::strerror(error));
      console.EndSong(ConversionResult::kNotWritten, outputs[i]);
      status = kExitNotWritten;
      continue;
    }
    JobControl control;
    g_cancel.store(&control.m_cancel);
    if (g_interrupted.load()) control.m_cancel.store(1);
    const ConversionResult result =
        RunConversion(cli.inputs[i], options, control, console, console);
    g_cancel.store(nullptr);
    console.EndSong(result, outputs[i]);
    if (result == ConversionResult::kNotWritten) status = kExitNotWritten;
  }
  console.EndBatch();
  if (g_interrupted.load()) return kExitInterrupted;
  return status;
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
      std::fputs(kHelpText, stdout);
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
      break;
  }
  // Before any other thread starts, so that every thread inherits the blocked signals.
  if (cli.command == Command::kConvert) StartSignalWatcher();
  ConsoleOutput console(
      cli.command == Command::kConvert
          ? ConsoleMode{.terminal = isatty(STDERR_FILENO) != 0, .quiet = cli.quiet}
          : ConsoleMode{.progress = false},
      messages);
  if (cli.command == Command::kInspect)
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
    default:
      break;
  }
  return kExitUsage;
}

// Memory or threads running out where no part of the job catches it: a clean failure, not an
// abort.
int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::bad_alloc&) {
  } catch (const std::system_error&) {
  }
  std::fprintf(stderr, "velorna-cli: %s\n", velorna::audio_msg::kOutOfMemory.c_str());
  return kExitNotWritten;
}
