#include "app/export_panel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <algorithm>
#include <array>

#include "base/library_error.h"
#include "export/export_messages.h"

namespace velorna {
namespace {

struct FormEntry {
  ExportForm form;
  const char* name;
};
// In the order of the selector's items.
constexpr std::array<FormEntry, 3> kForms{
    {{ExportForm::kBends, QT_TRANSLATE_NOOP("velorna::ExportPanel", "ピッチベンド")},
     {ExportForm::kMpe, "MPE"},
     {ExportForm::kMts, "MTS"}}};

}  // namespace

ExportPanel::ExportPanel(PathAsker askPath, Reporter& reporter, QWidget* parent)
    : QWidget(parent), m_askPath(std::move(askPath)), m_reporter(reporter) {
  setObjectName(QStringLiteral("exportPanel"));
  m_form = new QComboBox(this);
  m_form->setObjectName(QStringLiteral("exportForm"));
  for (const FormEntry& entry : kForms) m_form->addItem(tr(entry.name));
  m_form->setToolTip(
      tr("音律の運び方：音ごとのチャンネルとピッチベンド（ベンド幅は RPN で設定）、MPE、"
         "または MIDI チューニング規格 (MTS) のメッセージ"));
  m_ignoreSongTuning = new QCheckBox(tr("曲の音律を無視"), this);
  m_ignoreSongTuning->setObjectName(QStringLiteral("ignoreSongTuning"));
  m_ignoreSongTuning->setToolTip(
      tr("曲に含まれる MTS の音律を使わず、選んだ音律ですべての音を鳴らします（変換と書出）"));
  m_button = new QPushButton(tr("MIDI書出"), this);
  m_button->setObjectName(QStringLiteral("exportMidi"));
  m_button->setAutoDefault(false);
  m_button->setToolTip(
      tr("選んだ曲（なければ一覧の全曲）を今の音律で鳴る MIDI ファイルに書き出します"));
  connect(m_button, &QPushButton::clicked, this, &ExportPanel::exportRequested);
  connect(m_ignoreSongTuning, &QCheckBox::toggled, this, &ExportPanel::tuningChanged);
  m_partsButton = new QPushButton(this);
  m_partsButton->setObjectName(QStringLiteral("partTunings"));
  m_partsButton->setAutoDefault(false);
  m_partsButton->setToolTip(tr("MIDI チャンネル（パート）ごとに別の音律を選びます（変換と書出）"));
  connect(m_partsButton, &QPushButton::clicked, this, [this] {
    ChannelTuningDlg dialog(m_parts, m_askPath, m_reporter, this);
    if (dialog.exec() == QDialog::Accepted) SetPartTunings(dialog.parts());
  });
  SetPartTunings({});

  auto* label = new QLabel(tr("MIDI 形式:"), this);
  label->setBuddy(m_form);
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  row->addWidget(label);
  row->addWidget(m_form);
  row->addWidget(m_ignoreSongTuning);
  row->addWidget(m_partsButton);
  row->addStretch(1);
  row->addWidget(m_button);
}

ExportForm ExportPanel::form() const {
  return kForms[static_cast<size_t>(std::max(0, m_form->currentIndex()))].form;
}

void ExportPanel::SetForm(ExportForm form) {
  for (size_t i = 0; i < kForms.size(); ++i) {
    if (kForms[i].form == form) m_form->setCurrentIndex(static_cast<int>(i));
  }
}

bool ExportPanel::ignoreSongTuning() const {
  return m_ignoreSongTuning->isChecked();
}

void ExportPanel::SetIgnoreSongTuning(bool ignore) {
  m_ignoreSongTuning->setChecked(ignore);
}

void ExportPanel::SetPartTunings(const PartTunings& parts) {
  const bool changed = parts != m_parts;
  m_parts = parts;
  if (changed) emit tuningChanged();
  const auto tuned = std::count_if(parts.begin(), parts.end(),
                                   [](const QString& source) { return !source.isEmpty(); });
  // The count says at a glance that some parts play apart.
  m_partsButton->setText(tuned == 0 ? tr("パート別音律...")
                                    : tr("パート別音律 (%1)...").arg(tuned));
}

QStringList ExportMidiFiles(const QStringList& songs, const QString& folder, const Tuning& tuning,
                            const ExportOptions& options, Reporter& reporter) {
  QStringList written;
  std::string paths;
  for (const QString& song : songs) {
    const std::string out = ExportPathFor(song.toStdString(), folder.toStdString(), options.form);
    if (!ExportSong(song.toStdString(), out, tuning, options, reporter)) continue;
    written << QString::fromStdString(out);
    paths += '\n' + out;
  }
  if (!written.isEmpty()) {
    ShowLibraryError(
        reporter, LibraryModule::EXPT, code::kExptWritten,
        export_msg::Written(static_cast<int>(written.size()), static_cast<int>(songs.size())) +
            paths,
        ReportKind::kFinished);
  }
  return written;
}

}  // namespace velorna
