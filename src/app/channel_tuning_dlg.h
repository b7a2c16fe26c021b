// The advanced setting of a tuning per MIDI channel (part): the dialog's own tuning, a preset
// of its own on the same key, a Scala scale with or without its keyboard map, or the part
// left as the song plays it ("none"), as --channel-tuning names them.
#pragma once

#include <QDialog>
#include <QString>
#include <array>
#include <optional>

#include "app/path_prompt.h"
#include "base/reporter.h"
#include "tuning/tuning.h"

class QComboBox;

namespace velorna {

inline constexpr int kPartCount = 16;
// Each part's source as --channel-tuning names it; empty: the dialog's tuning.
using PartTunings = std::array<QString, kPartCount>;

// `tuning` with the parts tuned apart, on `tonicIndex` at `a4Hz`; false when a part's source
// cannot be read (reported).
[[nodiscard]] bool AddPartTunings(Tuning& tuning, const PartTunings& parts, int tonicIndex,
                                  std::optional<double> a4Hz, Reporter& reporter);

class ChannelTuningDlg : public QDialog {
  Q_OBJECT

 public:
  // `askPath` asks for a part's .scl and .kbm; `reporter` hears why a file cannot be read.
  ChannelTuningDlg(const PartTunings& parts, PathAsker askPath, Reporter& reporter,
                   QWidget* parent);
  [[nodiscard]] PartTunings parts() const;

 private:
  void ChooseScala(size_t part);

  PathAsker m_askPath;
  Reporter& m_reporter;
  QString m_lastScl;
  std::array<QComboBox*, kPartCount> m_sources{};
};

}  // namespace velorna
