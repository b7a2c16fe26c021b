#include "app/channel_tuning_dlg.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QVBoxLayout>
#include <algorithm>

#include "language/message_translation.h"
#include "tuning/channel_tuning.h"
#include "tuning/presets.h"

namespace velorna {

ChannelTuningDlg::ChannelTuningDlg(const PartTunings& parts, QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("channelTunings"));
  setWindowTitle(tr("パートごとの音律"));
  auto* form = new QFormLayout;
  for (size_t part = 0; part < m_sources.size(); ++part) {
    auto* source = new QComboBox(this);
    source->setObjectName(QStringLiteral("part%1").arg(part + 1));
    source->addItem(tr("全体の音律"), QString());
    source->addItem(tr("そのまま（平均律）"), QString::fromUtf8(kUntouchedChannel));
    for (const PresetInfo& preset : Presets())
      source->addItem(TranslateWithApplication(preset.displayName), QString::fromUtf8(preset.name));
    source->setCurrentIndex(std::max(0, source->findData(parts[part])));
    form->addRow(tr("チャンネル %1:").arg(part + 1), source);
    m_sources[part] = source;
  }
  auto* note = new QLabel(
      tr("プリセットは全体と同じ調と A4 の上に置きます。曲が自分で持つ調律（MTS）が優先します。"),
      this);
  note->setWordWrap(true);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(note);
  layout->addWidget(buttons);
}

bool AddPartTunings(Tuning& tuning, const PartTunings& parts, int tonicIndex,
                    std::optional<double> a4Hz, Reporter& reporter) {
  for (size_t part = 0; part < parts.size(); ++part) {
    if (parts[part].isEmpty()) continue;
    std::optional<ChannelKeys> keys = ReadChannelTuning(
        static_cast<int>(part), parts[part].toStdString(), tonicIndex, a4Hz, reporter);
    if (!keys) return false;
    tuning.channels.push_back(std::move(*keys));
  }
  return true;
}

PartTunings ChannelTuningDlg::parts() const {
  PartTunings parts;
  for (size_t part = 0; part < m_sources.size(); ++part)
    parts[part] = m_sources[part]->currentData().toString();
  return parts;
}

}  // namespace velorna
