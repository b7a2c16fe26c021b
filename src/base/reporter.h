// Every message the user sees goes through a Reporter handed in by the front end.
// Library code never prints; the dialog shows a modal box, the command line a line on
// stderr, tests record and assert.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

namespace velorna {

// What a message is for, so that a front end never has to tell by its text.
enum class ReportKind {
  kMessage,   // anything the user should read
  kFinished,  // a job's closing word that its output is written
  kWarning,   // something the user must read even when asking for quiet
};

// The level of a written output, for the front ends' result lines.
struct OutputLevel {
  double peakDb = 0.0;                  // highest sample as written, dBFS; -inf when silent
  int64_t clippedSamples = 0;           // samples beyond what the output's depth holds
  std::optional<double> loudness;       // integrated, LUFS; none when too quiet to gate
  std::optional<double> loudnessRange;  // LU, when asked for
  std::optional<double> truePeakDb;     // dBTP, when measured
};

struct Report {
  std::string module;            // "GENE", "MDTK", ...; empty for plain texts
  std::optional<uint32_t> code;  // the eight-digit code where the message has one
  std::string text;  // exactly what is shown, e.g. "GENE01000002 メモリが不足しています。"
  ReportKind kind = ReportKind::kMessage;
  std::optional<OutputLevel> level{};  // on a job's kFinished report
};

// "GENE01000002": the module's tag and the code as the message shows them; empty for a
// message without a code.
std::string CodeText(const std::string& module, std::optional<uint32_t> code);

// Implementations must be safe to call from any thread; Show returns when the user has
// seen the message (for a dialog: when the box is closed).
class Reporter {
 public:
  virtual ~Reporter() = default;
  virtual void Show(const Report& report) = 0;

  void ShowText(const std::string& text) { Show(Report{{}, std::nullopt, text}); }
};

// Swallows everything: for the job's re-reads of its own temporary files.
class SilentReporter final : public Reporter {
 public:
  void Show(const Report&) override {}
};

// Keeps every report; used by tests and by callers that decide later what to show.
class RecordingReporter final : public Reporter {
 public:
  void Show(const Report& report) override;
  std::vector<Report> reports() const;
  std::vector<std::string> texts() const;
  bool Contains(const std::string& text_part) const;
  void Clear();

 private:
  mutable std::mutex mutex_;
  std::vector<Report> reports_;
};

// Passes each distinct text on once: a job that meets the same fault thousands of times
// must not stop the user thousands of times.
class OnceReporter final : public Reporter {
 public:
  explicit OnceReporter(Reporter& target) : target_(target) {}
  void Show(const Report& report) override;

 private:
  Reporter& target_;
  std::mutex mutex_;
  std::unordered_set<std::string> shown_;
};

}  // namespace velorna
