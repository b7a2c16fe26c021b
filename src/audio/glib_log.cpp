#include "audio/glib_log.h"

#include <glib.h>

#include <atomic>
#include <string>

namespace velorna {
namespace {

std::atomic<Reporter*> g_target{nullptr};

void ForwardGLog(const gchar* domain, GLogLevelFlags, const gchar* message, gpointer) {
  if (Reporter* target = g_target.load()) {
    target->ShowText(std::string(domain != nullptr ? domain : "GLib") + ": " +
                     (message != nullptr ? message : ""));
  }
}

}  // namespace

void RouteGLibLog(Reporter* verboseTarget) {
  g_target.store(verboseTarget);
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
