#include "base/reporter.h"

#include <cstdio>

namespace velorna {

std::string CodeText(const std::string& module, std::optional<uint32_t> code) {
  if (!code) return {};
  char digits[16];
  std::snprintf(digits, sizeof digits, "%08X", static_cast<unsigned>(*code));
  return module + digits;
}

void RecordingReporter::Show(const Report& report) {
  std::lock_guard lock(mutex_);
  reports_.push_back(report);
}

std::vector<Report> RecordingReporter::reports() const {
  std::lock_guard lock(mutex_);
  return reports_;
}

std::vector<std::string> RecordingReporter::texts() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> out;
  out.reserve(reports_.size());
  for (const auto& r : reports_) out.push_back(r.text);
  return out;
}

bool RecordingReporter::Contains(const std::string& text_part) const {
  std::lock_guard lock(mutex_);
  for (const auto& r : reports_)
    if (r.text.find(text_part) != std::string::npos) return true;
  return false;
}

void RecordingReporter::Clear() {
  std::lock_guard lock(mutex_);
  reports_.clear();
}

void OnceReporter::Show(const Report& report) {
  {
    std::lock_guard lock(mutex_);
    if (!shown_.insert(report.text).second) return;
  }
  // Shown outside the lock: the target may block until the user answers.
  target_.Show(report);
}

}  // namespace velorna
