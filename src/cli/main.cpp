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
#include "conversion/conversion_job.h"
#include "conversion/job_files.h"
#include "conversion/scale_file.h"

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

int Convert(const CliOptions& cli, ConsoleOutput& console) {
  ConversionOptions options;
  if (cli.cents) options.tuning.keys = KeyTableFromCents(*cli.cents);
  if (!cli.scaleFile.empty()) {
    ScaleLoadError error = ScaleLoadError::kNone;
    auto scale = LoadScaleFile(cli.scaleFile, &error);
    if (!scale) {
      return Usage(error == ScaleLoadError::kTooShort
                       ? "not a scale file (shorter than 64 bytes): " + cli.scaleFile
                       : "cannot read the scale file: " + cli.scaleFile);
    }
    options.tuning.keys = KeyTableFromCents(scale->cents);
  }
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
    case Command::kInspect: {
      ConsoleOutput console(false, false);
      return Inspect(cli, console) ? kExitOk : kExitNotWritten;
    }
    case Command::kConvert: {
      InstallInterruptHandler();
      ConsoleOutput console(!cli.quiet, isatty(STDERR_FILENO) != 0);
      return Convert(cli, console);
    }
  }
  return kExitUsage;
}
