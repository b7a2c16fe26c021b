// What the dialog remembers between runs (Qt settings): the last song folder, the SoundFont,
// the output folder, the output's type, depth, rate and level, the tuning it shows, and how
// it exports MIDI.
#pragma once

#include <QString>
#include <optional>

#include "app/channel_tuning_dlg.h"
#include "audio/sound_file_writer.h"
#include "conversion/scale_file.h"
#include "export/midi_export.h"

namespace velorna {

struct DialogSettings {
  QString songFolder;                   // where the open dialog starts; empty: Qt's choice
  QString soundFont;                    // empty: the program's default SoundFont
  QString outputFolder;                 // empty: beside each song
  std::optional<ScaleSettings> tuning;  // none: the dialog's initial tuning
  QString preset;                       // a preset's command-line name; empty: none
  std::optional<double> a4Hz;           // none: the reference pitch is not set
  QString sclFile;                      // a Scala tuning played instead of the offsets; empty: none
  QString kbmFile;
  bool adaptive = false;
  SoundFileType outputType = SoundFileType::kWav;
  OutputFormat outputFormat;
  ExportForm exportForm = ExportForm::kBends;  // how Export MIDI carries the tuning
  bool ignoreSongTuning = false;  // the song's own MTS tuning unheard (convert and export)
  PartTunings partTunings;        // the parts tuned apart (convert and export)
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
