// Runs a program as a user would: arguments, captured output, exit status.
#pragma once

#include <chrono>
#include <csignal>
#include <functional>
#include <string>
#include <vector>

namespace velorna::test {

struct ProcessResult {
  int exitStatus = -1;  // exit code, or 128 + signal when killed
  std::string out;
  std::string err;
};

struct ProcessOptions {
  bool unprivileged = false;  // run as nobody (CI runs as root, where permissions deny nothing)
  // Called with the stderr seen so far; returning true sends interruptSignal once.
  std::function<bool(const std::string& err)> interruptWhen;
  int interruptSignal = SIGINT;
  std::chrono::seconds timeout{300};
  std::string locale;  // when set, run under LANG=locale alone (LC_ALL and LC_MESSAGES unset)
};

ProcessResult RunProcess(const std::vector<std::string>& argv, const ProcessOptions& options = {});

inline ProcessResult RunInLocale(const std::string& locale, const std::vector<std::string>& argv) {
  ProcessOptions options;
  options.locale = locale;
  return RunProcess(argv, options);
}

}  // namespace velorna::test
