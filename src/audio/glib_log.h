// Where the log of the SoundFont loaders that FluidSynth uses through GLib goes.
#pragma once

#include "base/reporter.h"

namespace velorna {

// To the reporter when verbose, else nowhere: a damaged SoundFont makes libinstpatch log
// assertion failures ("CRITICAL") that would otherwise go straight to stderr. Process-wide,
// like FluidSynth's own log.
void RouteGLibLog(Reporter* verboseTarget);

}  // namespace velorna
