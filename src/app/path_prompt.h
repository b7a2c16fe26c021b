// The paths the dialog asks the user for, through one asker that tests can replace.
#pragma once

#include <QString>
#include <functional>

namespace velorna {

enum class PathPrompt {
  kOpenMidi,
  kSaveScale,
  kOpenScale,
  kOpenMidiPattern,
  kOpenSoundFont,
  kChooseOutputFolder,
  kOpenScala,
  kOpenKeyboardMap,  // after a .scl; cancelled: the scale's default mapping
  kSaveScala         // the .scl; its .kbm goes beside it under the same name
};
// Asks the user for a path; an empty string when cancelled. `start` is the MIDI path holding
// '*' for kOpenMidiPattern, else the file or folder the dialog starts at (may be empty).
using PathAsker = std::function<QString(PathPrompt prompt, const QString& start)>;

}  // namespace velorna
