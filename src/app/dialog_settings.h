// What the dialog remembers between runs (Qt settings): the last song folder, the SoundFont,
// the output folder and the tuning it shows. Later tuning choices join the "tuning" group.
#pragma once

#include <QString>
#include <optional>

#include "conversion/scale_file.h"

namespace velorna {

struct DialogSettings {
  QString songFolder;                   // where the open dialog starts; empty: Qt's choice
  QString soundFont;                    // empty: the program's default SoundFont
  QString outputFolder;                 // empty: beside each song
  std::optional<ScaleSettings> tuning;  // none: the dialog's initial tuning
};

DialogSettings LoadDialogSettings();
void SaveDialogSettings(const DialogSettings& settings);
// The language the dialog is to speak: "ja", "en", or empty for the locale's. Kept apart from
// the rest: it is chosen before the dialog exists.
QString LoadLanguageSetting();
void SaveLanguageSetting(const QString& code);
// Forgets everything, so the next start shows the initial values.
void ClearDialogSettings();

}  // namespace velorna
