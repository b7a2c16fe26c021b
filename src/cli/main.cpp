// velorna-cli: the command-line front end over the conversion job.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

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
constexpr int kExitInterrupted = 130;

// Ctrl-C acts as the Stop button of the running job. A signal handler can reach nothing
// but a global; it only stores into a lock-free atomic.
std::atomic<int> g_interrupted{0};
std::atomic<std::atomic<int>*> g_cancel{nullptr};

extern "C" void OnInterrupt(int) {
  g_interrupted.store(1);
  if (auto* cancel = g_cancel.load()) cancel->store(1);
}

void InstallInterruptHandler() {
  struct sigaction sa {};
  sa.sa_handler = OnInterrupt;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
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
  // The job still takes twelve offsets; it is to take `tuning` whole.
  options.cents = OctaveOffsets(tuning);
  options.soundFont = cli.soundFont;
  options.engine = cli.engine;
  options.jobs = cli.jobs;
  options.verbose = cli.verbose;

  // Two inputs must never write one output: refused before anything starts.
  std::vector<std::string> outputs;
  std::set<std::string> seen;
  for (const auto& input : cli.inputs) {
    const std::string out = cli.output.empty() ? OutputPathFor(input) : cli.output;
    if (!seen.insert(Canonical(out)).second)
      return Usage("two inputs would write the same output: " + out);
    outputs.push_back(out);
  }

  int status = kExitOk;
  for (size_t i = 0; i < cli.inputs.size() && !g_interrupted.load(); ++i) {
    options.outputPath = outputs[i];
    JobControl control;
    g_cancel.store(&control.m_cancel);
    if (g_interrupted.load()) control.m_cancel.store(1);
    console.SetSong(std::filesystem::path(cli.inputs[i]).filename().string());
    const ConversionResult result =
        RunConversion(cli.inputs[i], options, control, console, console);
    g_cancel.store(nullptr);
    console.EndProgress();
    if (result == ConversionResult::kNotWritten) {
      status = kExitNotWritten;
    } else if (!cli.quiet) {
      std::fprintf(stderr, "%s\n", outputs[i].c_str());
    }
  }
  if (g_interrupted.load()) return kExitInterrupted;
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  const ParseResult parsed = ParseCommandLine(args);
  if (!parsed.options) return Usage(parsed.error);
  const CliOptions& cli = *parsed.options;
  switch (cli.command) {
    case Command::kHelp:
      std::fputs(kHelpText, stdout);
      return kExitOk;
    case Command::kVersion:
      std::printf("velorna-cli %s\n", VELORNA_VERSION);
      return kExitOk;
    case Command::kListPresets:
      PrintPresets();
      return kExitOk;
    case Command::kTuning:
    case Command::kInspect:
    case Command::kConvert:
      break;
  }
  // Every other command plays a tuning; one that cannot be read is a usage error.
  ConsoleOutput console(cli.command == Command::kConvert && !cli.quiet, isatty(STDERR_FILENO) != 0);
  const std::optional<Tuning> tuning = ResolveTuning(cli, console);
  if (!tuning) return kExitUsage;
  switch (cli.command) {
    case Command::kTuning:
      PrintTuningTable(*tuning);
      return kExitOk;
    case Command::kInspect:
      return Inspect(cli, OctaveOffsets(*tuning), console) ? kExitOk : kExitNotWritten;
    case Command::kConvert:
      InstallInterruptHandler();
      return Convert(cli, *tuning, console);
    default:
      break;
  }
  return kExitUsage;
}
