#include "audio/glib_log.h"

#include <glib.h>

#include <algorithm>
#include <mutex>
#include <vector>

namespace velorna {
namespace {

// Held while a message is shown, so that no target is removed under it.
std::mutex& TargetsMutex() {
  static std::mutex mutex;
  return mutex;
}

std::vector<Reporter*>& Targets() {
  static std::vector<Reporter*> targets;
  return targets;
}

void ForwardGLog(const gchar* domain, GLogLevelFlags, const gchar* message, gpointer) {
  ForwardLibraryLog(std::string(domain != nullptr ? domain : "GLib") + ": " +
                    (message != nullptr ? message : ""));
}

}  // namespace

LibraryLogTarget::LibraryLogTarget(Reporter* verboseTarget) : target_(verboseTarget) {
  if (!target_) return;
  const std::lock_guard lock(TargetsMutex());
  Targets().push_back(target_);
}

LibraryLogTarget::~LibraryLogTarget() {
  if (!target_) return;
  const std::lock_guard lock(TargetsMutex());
  auto& targets = Targets();
  const auto it = std::find(targets.rbegin(), targets.rend(), target_);
  if (it != targets.rend()) targets.erase(std::next(it).base());
}

void ForwardLibraryLog(const std::string& text) {
  const std::lock_guard lock(TargetsMutex());
  if (!Targets().empty()) Targets().back()->ShowText(text);
}

void InstallGLibLog() {
  static const bool installed = [] {
    // libinstpatch logs without a domain of its own (older builds: under its name).
    const auto levels =
        static_cast<GLogLevelFlags>(G_LOG_LEVEL_MASK | G_LOG_FLAG_FATAL | G_LOG_FLAG_RECURSION);
    for (const char* domain : {static_cast<const char*>(nullptr), "libinstpatch"})
      g_log_set_handler(domain, levels, ForwardGLog, nullptr);
    return true;
  }();
  (void)installed;
}

}  // namespace velorna
