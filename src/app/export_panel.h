// The Export MIDI row: the form the tuning travels in (bends, MPE, MTS), whether the song's
// own tuning is heard and the parts tuned apart (both for conversions too), and the button
// that exports the songs.
#pragma once

#include <QStringList>
#include <QWidget>

#include "app/channel_tuning_dlg.h"
#include "base/reporter.h"
#include "export/midi_export.h"

class QCheckBox;
class QComboBox;
class QPushButton;

namespace velorna {

class ExportPanel : public QWidget {
  Q_OBJECT

 public:
  // `askPath` and `reporter` serve the parts' Scala files.
  ExportPanel(PathAsker askPath, Reporter& reporter, QWidget* parent);

  [[nodiscard]] ExportForm form() const;
  void SetForm(ExportForm form);
  [[nodiscard]] bool ignoreSongTuning() const;
  void SetIgnoreSongTuning(bool ignore);
  [[nodiscard]] const PartTunings& partTunings() const { return m_parts; }
  void SetPartTunings(const PartTunings& parts);

 signals:
  void exportRequested();
  // The song's own tuning or the parts' tunings changed: what a conversion plays did.
  void tuningChanged();

 private:
  QComboBox* m_form = nullptr;
  QCheckBox* m_ignoreSongTuning = nullptr;
  QPushButton* m_button = nullptr;
  QPushButton* m_partsButton = nullptr;
  PartTunings m_parts;
  PathAsker m_askPath;
  Reporter& m_reporter;
};

// Exports each of `songs` to ExportPathFor(song, folder, form) and closes with one message
// naming what was written; a song that could not be has said why. Returns the paths written.
QStringList ExportMidiFiles(const QStringList& songs, const QString& folder, const Tuning& tuning,
                            const ExportOptions& options, Reporter& reporter);

}  // namespace velorna
