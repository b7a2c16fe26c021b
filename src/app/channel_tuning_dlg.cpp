#include "app/channel_tuning_dlg.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "language/message_translation.h"
#include "tuning/channel_tuning.h"
#include "tuning/presets.h"

namespace velorna {
namespace {

constexpr QChar kFileSeparator = QLatin1Char(':');

// A Scala source as a part's choice shows it: the files' names.
QString ScalaLabel(const QString& source) {
  const qsizetype split = source.lastIndexOf(kFileSeparator);
  const bool withMap = !source.endsWith(QStringLiteral(".scl")) && split > 0;
  const QString scl = withMap ? source.left(split) : source;
  QString label = QFileInfo(scl).fileName();
  if (withMap) label += QStringLiteral(" + ") + QFileInfo(source.mid(split + 1)).fileName();
  return label;
}

// Selects `source` in `box`, adding it (a Scala pair) when the box does not offer it yet.
void Select(QComboBox& box, const QString& source) {
  int index = box.findData(source);
  if (index < 0 && IsChannelSource(source.toStdString())) {
    box.addItem(ScalaLabel(source), source);
    index = box.count() - 1;
  }
  box.setCurrentIndex(std::max(0, index));
}

}  // namespace

ChannelTuningDlg::ChannelTuningDlg(const PartTunings& parts, PathAsker askPath, Reporter& reporter,
                                   QWidget* parent)
    : QDialog(parent), m_askPath(std::move(askPath)), m_reporter(reporter) {
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
    Select(*source, parts[part]);
    auto* scala = new QPushButton(tr("Scala..."), this);
    scala->setObjectName(QStringLiteral("partScala%1").arg(part + 1));
    scala->setAutoDefault(false);
    scala->setToolTip(
        tr("このパートの音律を Scala 音階ファイル（.scl、あればキーボード割り当て "
           ".kbm も）から読みます"));
    connect(scala, &QPushButton::clicked, this, [this, part] { ChooseScala(part); });
    auto* row = new QHBoxLayout;
    row->addWidget(source, 1);
    row->addWidget(scala);
    form->addRow(tr("チャンネル %1:").arg(part + 1), row);
    m_sources[part] = source;
  }
  auto* note = new QLabel(
      tr("プリセットと Scala 音階は全体と同じ調と A4 の上に置きます。曲が自分で持つ調律（MTS）"
         "が優先します。"),
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

// The files are read now, so that a broken one is named while the user can choose again.
void ChannelTuningDlg::ChooseScala(size_t part) {
  const QString scl = m_askPath(PathPrompt::kOpenScala, m_lastScl);
  if (scl.isEmpty()) return;
  const QString kbm = m_askPath(PathPrompt::kOpenKeyboardMap, scl);
  if (!ReadScalaSource(scl.toStdString(), kbm.toStdString(), m_reporter)) return;
  m_lastScl = scl;
  Select(*m_sources[part], kbm.isEmpty() ? scl : scl + kFileSeparator + kbm);
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
