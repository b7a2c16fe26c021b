#include "app/velorna_dlg.h"

#include "app/song_preview.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QDoubleSpinBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QTextBrowser>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <optional>

#include "app/about_dlg.h"
#include "app/dialog_settings.h"
#include "app/help_page.h"
#include "app/language_choice.h"
#include "app/offset_spin_box.h"
#include "base/file_io.h"
#include "base/limits.h"
#include "base/output_target.h"
#include "base/progress_time.h"
#include "conversion/job_files.h"
#include "conversion/scale_file.h"
#include "language/message_translation.h"

namespace velorna {
namespace {

constexpr char kTitle[] = "Velorna";
// Texts kept in constants are marked for translation here and translated where shown.
constexpr char kConvertText[] = QT_TRANSLATE_NOOP("velorna::CVelornaDlg", "変換");
constexpr char kStopText[] = QT_TRANSLATE_NOOP("velorna::CVelornaDlg", "停止");
constexpr char kNoStatus[] = "---";
// How many existing outputs the overwrite question names before it counts the rest.
constexpr qsizetype kExistingNamedAtMost = 8;
constexpr int kSongStateRole = Qt::UserRole + 1;
constexpr char kAboutEntry[] =
    QT_TRANSLATE_NOOP("velorna::CVelornaDlg", "バージョン情報 Velorna(&A)...");
constexpr char kSaveFailed[] = "設定ファイルを保存できませんでした。";
constexpr char kBadScaleFile[] = "設定ファイルの形式が正しくありません。";
constexpr char kOutputIsInput[] = QT_TRANSLATE_NOOP(
    "velorna::CVelornaDlg",
    "出力ファイルが入力のMidiファイルと同じになるため、変換できません。\n入力: %1\n出力: %2");

constexpr std::array<const char*, kKeySelectorCount> kKeyNames{
    "Cb", "Gb", "Db", "Ab", "Eb", "Bb", "F", "C", "G", "D", "A", "E", "B", "F#", "C#"};

struct OffsetKey {
  int editId;
  int spinId;
  const char* name;
  bool black;
  int column;  // in half white keys: a black key sits between two white ones
};

// Pitch classes 0 (C) to 11 (B), then the upper C.
constexpr std::array<OffsetKey, 13> kOffsetKeys{{
    {1002, 1003, "C", false, 0},
    {1026, 1027, "C#", true, 1},
    {1004, 1005, "D", false, 2},
    {1028, 1029, "D#", true, 3},
    {1006, 1007, "E", false, 4},
    {1008, 1009, "F", false, 6},
    {1030, 1031, "F#", true, 7},
    {1018, 1019, "G", false, 8},
    {1032, 1033, "G#", true, 9},
    {1020, 1021, "A", false, 10},
    {1034, 1035, "A#", true, 11},
    {1022, 1023, "B", false, 12},
    {1024, 1025, "C", false, 14},
}};

QString Id(int id) {
  return QString::number(id);
}

// Dialog units of the font, so the template's proportions hold at any font size.
QSize Dlu(const QWidget& w, int x, int y) {
  const QFontMetrics fm = w.fontMetrics();
  const int baseX =
      fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) /
      52;
  return {(x * baseX + 2) / 4, (y * fm.height() + 4) / 8};
}

QPushButton* MakeButton(QWidget* parent, int id, const QString& text, int w, int h) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(Id(id));
  button->setAutoDefault(false);
  button->setMinimumSize(Dlu(*parent, w, h));
  return button;
}

QLabel* MakeStatusField(QWidget* parent, const QString& name) {
  auto* field = new QLabel(QString::fromUtf8(kNoStatus), parent);
  field->setObjectName(name);
  field->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  field->setAlignment(Qt::AlignCenter);
  // Tall enough for the font with its frame, so the lower edge is never cut, and no taller:
  // a one-line field keeps its height however large the window grows.
  field->setMinimumSize(Dlu(*parent, 39, 12).width(),
                        field->fontMetrics().height() + 2 * field->frameWidth() + 4);
  field->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
  return field;
}

QLabel* MakeFieldLabel(QWidget* parent, const QString& text, QWidget* buddy) {
  auto* label = new QLabel(text, parent);
  label->setBuddy(buddy);
  label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  return label;
}

QPushButton* MakeNamedButton(QWidget* parent, const char* name, const QString& text) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(QString::fromUtf8(name));
  button->setAutoDefault(false);
  return button;
}

QString FileName(const QString& path) {
  return QFileInfo(path).fileName();
}

// The preset selector's entries: none (the fields as typed), the presets, and while one is
// played the Scala tuning.
constexpr int kNoPresetEntry = 0;
constexpr int kScalaEntry = -2;
constexpr int kA4Decimals = 1;

struct OutputTypeEntry {
  SoundFileType type;
  const char* name;
  const char* extension;
};
constexpr std::array<OutputTypeEntry, 3> kOutputTypes{{
    {SoundFileType::kWav, "WAV", "wav"},
    {SoundFileType::kFlac, "FLAC", "flac"},
    {SoundFileType::kAiff, "AIFF", "aiff"},
}};

// The output levels offered: as rendered, the peak at -1 dBFS, and the loudness of streaming
// services and of broadcast (EBU R128).
struct LevelPreset {
  const char* name;
  bool normalize;
  std::optional<double> loudness;
};
constexpr double kStreamingLufs = -16.0;
constexpr double kBroadcastLufs = -23.0;
const std::array<LevelPreset, 4> kLevelPresets{{
    {QT_TRANSLATE_NOOP("velorna::CVelornaDlg", "音量そのまま"), false, std::nullopt},
    {QT_TRANSLATE_NOOP("velorna::CVelornaDlg", "ピーク -1 dBFS"), true, std::nullopt},
    {QT_TRANSLATE_NOOP("velorna::CVelornaDlg", "-16 LUFS（配信）"), false, kStreamingLufs},
    {QT_TRANSLATE_NOOP("velorna::CVelornaDlg", "-23 LUFS（放送）"), false, kBroadcastLufs},
}};

// The preset a remembered format names; the first (as rendered) for any other.
int LevelPresetOf(const OutputFormat& format) {
  for (size_t i = 0; i < kLevelPresets.size(); ++i) {
    if (kLevelPresets[i].normalize == format.normalize &&
        kLevelPresets[i].loudness == format.loudness)
      return static_cast<int>(i);
  }
  return 0;
}

// A question with two named answers besides Cancel.
struct Question {
  QMessageBox::Icon icon;
  const char* name;  // the box's object name
  QString text;
  QString yes;
  QString no;
  QMessageBox::StandardButton preferred;
};

// QMessageBox::Yes, No or Cancel as answered.
int AskYesNoCancel(QWidget* parent, const Question& question) {
  QMessageBox box(question.icon, QString::fromUtf8(kTitle), question.text,
                  QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, parent);
  box.setObjectName(QString::fromUtf8(question.name));
  box.button(QMessageBox::Yes)->setText(question.yes);
  box.button(QMessageBox::No)->setText(question.no);
  box.setDefaultButton(question.preferred);
  return box.exec();
}

bool WriteText(const QString& path, const std::string& text) {
  return WriteFileAtomically(path.toStdString(),
                             {reinterpret_cast<const uint8_t*>(text.data()), text.size()});
}

// Where a song's WAV goes: beside it, or in the chosen folder under the same name.
QString OutputFor(const QString& song, const QString& folder) {
  const QString beside = QString::fromStdString(OutputPathFor(song.toStdString()));
  return folder.isEmpty() ? beside : QDir(folder).filePath(FileName(beside));
}

}  // namespace

bool IsMidiFileName(const QString& path) {
  const QString suffix = QFileInfo(path).suffix().toLower();
  return suffix == QStringLiteral("mid") || suffix == QStringLiteral("midi");
}

QString AskPathWithFileDialog(PathPrompt prompt, const QString& start) {
  QFileDialog dialog;
  switch (prompt) {
    case PathPrompt::kOpenMidi:
      dialog.setAcceptMode(QFileDialog::AcceptOpen);
      dialog.setFileMode(QFileDialog::ExistingFile);
      dialog.setNameFilter(QStringLiteral("SMF files (*.mid)"));
      dialog.setDefaultSuffix(QStringLiteral("mid"));
      break;
    case PathPrompt::kOpenMidiPattern: {
      const QFileInfo info(start);
      dialog.setAcceptMode(QFileDialog::AcceptOpen);
      dialog.setFileMode(QFileDialog::ExistingFile);
      dialog.setDirectory(info.path());
      dialog.setNameFilter(QCoreApplication::translate("velorna", "指定種別のSMFファイル (%1)")
                               .arg(info.fileName()));
      dialog.setDefaultSuffix(QStringLiteral("mid"));
      break;
    }
    case PathPrompt::kSaveScale:
      dialog.setAcceptMode(QFileDialog::AcceptSave);
      dialog.setFileMode(QFileDialog::AnyFile);
      dialog.setOption(QFileDialog::DontConfirmOverwrite);
      dialog.setNameFilter(QStringLiteral("scale files (*.sca)"));
      dialog.setDefaultSuffix(QStringLiteral("sca"));
      break;
    case PathPrompt::kOpenScale:
      dialog.setAcceptMode(QFileDialog::AcceptOpen);
      dialog.setFileMode(QFileDialog::ExistingFile);
      dialog.setNameFilter(QStringLiteral("scale files (*.sca)"));
      dialog.setDefaultSuffix(QStringLiteral("sca"));
      break;
    case PathPrompt::kOpenSoundFont:
      dialog.setAcceptMode(QFileDialog::AcceptOpen);
      dialog.setFileMode(QFileDialog::ExistingFile);
      dialog.setNameFilter(QCoreApplication::translate("velorna", "SoundFont (*.sf2 *.sf3)"));
      if (!start.isEmpty()) dialog.setDirectory(QFileInfo(start).path());
      break;
    case PathPrompt::kOpenScala:
    case PathPrompt::kOpenKeyboardMap: {
      const bool scale = prompt == PathPrompt::kOpenScala;
      dialog.setAcceptMode(QFileDialog::AcceptOpen);
      dialog.setFileMode(QFileDialog::ExistingFile);
      dialog.setWindowTitle(scale ? QCoreApplication::translate("velorna", "Scala音階ファイル")
                                  : QCoreApplication::translate(
                                        "velorna", "キーボード割り当て（なければキャンセル）"));
      dialog.setNameFilter(
          scale ? QCoreApplication::translate("velorna", "Scala scale (*.scl)")
                : QCoreApplication::translate("velorna", "Scala keyboard map (*.kbm)"));
      if (!start.isEmpty()) dialog.setDirectory(QFileInfo(start).path());
      break;
    }
    case PathPrompt::kSaveScala:
      dialog.setAcceptMode(QFileDialog::AcceptSave);
      dialog.setFileMode(QFileDialog::AnyFile);
      dialog.setNameFilter(QCoreApplication::translate("velorna", "Scala scale (*.scl)"));
      dialog.setDefaultSuffix(QStringLiteral("scl"));
      break;
    case PathPrompt::kChooseOutputFolder:
      dialog.setAcceptMode(QFileDialog::AcceptOpen);
      dialog.setFileMode(QFileDialog::Directory);
      dialog.setOption(QFileDialog::ShowDirsOnly);
      if (!start.isEmpty()) dialog.setDirectory(start);
      break;
  }
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().constFirst();
}

QStringList AskSongsWithFileDialog(const QString& folder) {
  QFileDialog dialog;
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFiles);
  dialog.setNameFilter(QStringLiteral("SMF files (*.mid)"));
  dialog.setDefaultSuffix(QStringLiteral("mid"));
  if (!folder.isEmpty()) dialog.setDirectory(folder);
  if (dialog.exec() != QDialog::Accepted) return {};
  return dialog.selectedFiles();
}

CVelornaDlg::CVelornaDlg(ConversionRunner runner, QWidget* parent)
    : QDialog(parent),
      m_hIcon(QStringLiteral(":/velorna/velorna.png")),
      m_runner(std::move(runner)),
      m_openUrl([](const QUrl& url) { return QDesktopServices::openUrl(url); }),
      m_helpPage(FindHelpPage(QCoreApplication::applicationDirPath(), ApplicationLanguage())) {
  OnInitDialog();
}

CVelornaDlg::~CVelornaDlg() {
  m_destroying = true;
  if (m_worker.joinable()) {
    // Destroyed with a job still running: stop it, and keep serving the boxes it may be
    // waiting for (they go to stderr now) until it has ended.
    m_closing = true;
    m_job.m_cancel = 1;
    while (!m_workerDone.load()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    m_worker.join();
  }
}

void CVelornaDlg::OnInitDialog() {
  m_initDone = 0;
  setWindowTitle(QString::fromUtf8(kTitle));
  setWindowIcon(m_hIcon);

  // Linux desktops give applications no system menu: the entry lives in the context menu.
  auto* about = new QAction(tr(kAboutEntry), this);
  about->setObjectName(QStringLiteral("16"));
  connect(about, &QAction::triggered, this, &CVelornaDlg::OnAbout);
  addAction(about);
  addAction(MakeLanguageAction(this));
  setContextMenuPolicy(Qt::ActionsContextMenu);

  m_job.m_running = 0;
  m_job.m_cancel = 0;
  BuildLayout();
  setAcceptDrops(true);

  for (size_t pc = 0; pc < m_offsetSpins.size(); ++pc) {
    SetOffset(*m_offsetSpins[pc], kPureIntervalCents[pc]);
  }
  SetOffset(*m_upperC, 0);
  for (const char* name : kKeyNames) m_keySelector->addItem(QString::fromUtf8(name));
  m_keySelector->setCurrentIndex(kInitialKeyIndex);
  m_initDone = 1;
  connect(m_keySelector, &QComboBox::currentIndexChanged, this, &CVelornaDlg::OnKeyChosen);
  for (OffsetSpinBox* spin : m_offsetSpins)
    connect(spin, &QDoubleSpinBox::valueChanged, this, &CVelornaDlg::OnOffsetEdited);
  // Every change of the tuning reaches what the preview plays; the key is also its chords'.
  const auto tuningChanged = [this] {
    m_preview->TuningChanged();
    m_preview->SetChordKey(TonicPitchClass(TonicIndexOf(CurrentTuning())));
  };
  for (OffsetSpinBox* spin : m_offsetSpins)
    connect(spin, &QDoubleSpinBox::valueChanged, this, tuningChanged);
  connect(m_keySelector, &QComboBox::currentIndexChanged, this, tuningChanged);
  connect(m_presetSelector, &QComboBox::currentIndexChanged, this, tuningChanged);
  connect(m_a4Field, &QDoubleSpinBox::valueChanged, this, tuningChanged);
  connect(m_adaptiveBox, &QCheckBox::toggled, this, tuningChanged);
  connect(m_exportPanel, &ExportPanel::tuningChanged, this, tuningChanged);
  connect(m_songList, &QTreeWidget::currentItemChanged, m_preview, &SongPreview::SourceChanged);
  connect(m_soundFontEdit, &QLineEdit::textChanged, m_preview, &SongPreview::SourceChanged);

  const DialogSettings remembered = LoadDialogSettings();
  m_songFolder = remembered.songFolder;
  m_soundFontEdit->setText(remembered.soundFont);
  m_outputFolderEdit->setText(remembered.outputFolder);
  if (remembered.tuning) ShowTuning(*remembered.tuning);
  ShowA4(remembered.a4Hz);
  m_adaptiveBox->setChecked(remembered.adaptive);
  if (const auto preset = FindPreset(remembered.preset.toStdString())) {
    m_presetSelector->setCurrentIndex(m_presetSelector->findData(static_cast<int>(*preset)));
  }
  // A Scala file that has gone or changed since is quietly dropped: the offsets remain.
  if (!remembered.sclFile.isEmpty()) LoadScala(remembered.sclFile, remembered.kbmFile, true);
  for (size_t i = 0; i < kOutputTypes.size(); ++i) {
    if (kOutputTypes[i].type == remembered.outputType)
      m_typeSelector->setCurrentIndex(static_cast<int>(i));
  }
  m_bitsSelector->setCurrentIndex(m_bitsSelector->findData(remembered.outputFormat.bits));
  m_rateSelector->setCurrentIndex(
      std::max(0, m_rateSelector->findData(remembered.outputFormat.sampleRate)));
  m_levelSelector->setCurrentIndex(LevelPresetOf(remembered.outputFormat));
  m_exportPanel->SetForm(remembered.exportForm);
  m_exportPanel->SetIgnoreSongTuning(remembered.ignoreSongTuning);
  m_exportPanel->SetPartTunings(remembered.partTunings);

  m_player.onPlayingChanged = [this](bool) { UpdatePlayButton(); };
  m_clock.setInterval(std::chrono::seconds(1));
  connect(&m_clock, &QTimer::timeout, this, &CVelornaDlg::OnClockTick);
}

void CVelornaDlg::BuildLayout() {
  BuildPreview();
  m_keySelector = new QComboBox(this);
  m_keySelector->setObjectName(Id(1013));
  m_keySelector->setMinimumWidth(Dlu(*this, 91, 0).width());

  // One octave: black keys in the upper row between the white keys of the lower row. Each
  // white key spans two grid columns; a black key spans the two halves around its gap.
  auto* keys = new QGridLayout;
  keys->setHorizontalSpacing(Dlu(*this, 2, 0).width());
  for (int column = 0; column < 16; ++column) keys->setColumnStretch(column, 1);
  std::array<OffsetSpinBox*, 13> spins{};
  for (size_t i = 0; i < kOffsetKeys.size(); ++i) {
    const OffsetKey& key = kOffsetKeys[i];
    auto* spin = new OffsetSpinBox(Id(key.editId), this);
    spin->setObjectName(Id(key.spinId));
    spin->setToolTip(QString::fromUtf8(key.name));
    spin->setAccessibleName(QString::fromUtf8(key.name));
    spin->setMinimumHeight(Dlu(*this, 0, 14).height());
    auto* label = new QLabel(QString::fromUtf8(key.name), this);
    label->setAlignment(Qt::AlignHCenter | (key.black ? Qt::AlignBottom : Qt::AlignTop));
    label->setBuddy(spin);
    m_preview->WatchKeyLabel(label, static_cast<int>(i % kPitchClassCount));
    // Rows: 0 black-key names, 1 black keys, 2 white keys, 3 white-key names.
    keys->addWidget(label, key.black ? 0 : 3, key.column, 1, 2);
    keys->addWidget(spin, key.black ? 1 : 2, key.column, 1, 2);
    spins[i] = spin;
  }
  std::copy_n(spins.begin(), m_offsetSpins.size(), m_offsetSpins.begin());
  m_upperC = spins[12];
  m_upperC->setEnabled(false);
  connect(m_offsetSpins[0], &QDoubleSpinBox::valueChanged, this, [this] {
    if (m_initDone == 1) SetOffset(*m_upperC, OffsetOf(*m_offsetSpins[0]));
  });

  auto* reset = MakeButton(this, 1011, tr("リセット"), 54, 32);
  // The .sca buttons say what they save: twelve whole cents, not the dialog's settings.
  auto* save = MakeButton(this, 1012, tr(".sca 保存"), 54, 32);
  auto* load = MakeButton(this, 1014, tr(".sca 読込"), 54, 32);
  save->setToolTip(tr("12 のずれ（整数セント）と調を 64 バイトの音律ファイル (.sca) に保存します"));
  load->setToolTip(tr("音律ファイル (.sca) の 12 のずれと調を読み込みます"));
  m_convertButton = MakeButton(this, 1001, tr(kConvertText), 77, 38);
  auto* help = MakeButton(this, 1015, tr("ヘルプ"), 54, 20);
  auto* exit = MakeButton(this, 1, tr("終了"), 63, 21);
  exit->setDefault(true);
  auto* defaults = MakeNamedButton(this, "defaults", tr("初期値に戻す"));
  defaults->setToolTip(tr("音律・音源・出力先を最初の状態に戻し、覚えた設定を消します"));

  connect(reset, &QPushButton::clicked, this, &CVelornaDlg::OnReset);
  connect(save, &QPushButton::clicked, this, &CVelornaDlg::OnSaveScale);
  connect(load, &QPushButton::clicked, this, &CVelornaDlg::OnLoadScale);
  connect(m_convertButton, &QPushButton::clicked, this, &CVelornaDlg::OnConvert);
  connect(help, &QPushButton::clicked, this, &CVelornaDlg::OnHelp);
  connect(exit, &QPushButton::clicked, this, &QDialog::accept);
  connect(defaults, &QPushButton::clicked, this, &CVelornaDlg::OnDefaults);

  auto* top = new QHBoxLayout;
  top->addWidget(MakeFieldLabel(this, tr("調:"), m_keySelector));
  top->addWidget(m_keySelector);
  top->addLayout(BuildTuningRow(), 1);
  m_keySelector->setToolTip(tr("音律や Scala の音階を置く主音"));
  auto* offsetsCaption = new QLabel(tr("各音のずれ（セント、平均律から）:"), this);
  offsetsCaption->setObjectName(QStringLiteral("offsetsCaption"));

  auto* importScala = MakeNamedButton(this, "importScala", tr("Scala 読込"));
  auto* exportScala = MakeNamedButton(this, "exportScala", tr("Scala 書出"));
  importScala->setToolTip(
      tr("Scala形式の音階 (.scl) と、あればキーボード割り当て (.kbm) を読み込みます"));
  exportScala->setToolTip(tr("今の音律を Scala形式 (.scl と .kbm) で書き出します"));
  for (QPushButton* button : {importScala, exportScala}) button->setMinimumSize(Dlu(*this, 54, 32));
  connect(importScala, &QPushButton::clicked, this, &CVelornaDlg::OnImportScala);
  connect(exportScala, &QPushButton::clicked, this, &CVelornaDlg::OnExportScala);
  m_scalaLabel = new QLabel(this);
  m_scalaLabel->setObjectName(QStringLiteral("scalaDescription"));
  m_scalaLabel->setWordWrap(true);
  m_scalaLabel->hide();

  auto* actions = new QHBoxLayout;
  actions->addWidget(reset);
  actions->addWidget(save);
  actions->addWidget(load);
  actions->addWidget(importScala);
  actions->addWidget(exportScala);
  actions->addStretch(1);
  actions->addWidget(m_convertButton);
  // The asker is looked up when used: tests replace it after the dialog is built.
  m_exportPanel = new ExportPanel(
      [this](PathPrompt prompt, const QString& start) { return m_askPath(prompt, start); },
      m_reporter, this);
  connect(m_exportPanel, &ExportPanel::exportRequested, this, &CVelornaDlg::OnExportMidi);

  auto* bottom = new QHBoxLayout;
  bottom->addWidget(defaults);
  bottom->addStretch(1);
  bottom->addWidget(help);
  bottom->addWidget(exit);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addSpacing(Dlu(*this, 0, 4).height());
  layout->addWidget(offsetsCaption);
  layout->addLayout(keys);
  layout->addWidget(m_scalaLabel);
  layout->addSpacing(Dlu(*this, 0, 8).height());
  layout->addLayout(actions);
  layout->addWidget(m_exportPanel);
  layout->addSpacing(Dlu(*this, 0, 6).height());
  // The list takes what a larger window adds; the rows of fields keep their height.
  layout->addLayout(BuildSongList(), 1);
  layout->addWidget(m_preview);
  layout->addSpacing(Dlu(*this, 0, 6).height());
  layout->addLayout(BuildFileRows());
  layout->addSpacing(Dlu(*this, 0, 6).height());
  layout->addLayout(BuildStatusRows());
  layout->addSpacing(Dlu(*this, 0, 8).height());
  layout->addLayout(bottom);
  layout->setSizeConstraint(QLayout::SetMinimumSize);

  m_tuningControls.insert(m_tuningControls.end(),
                          {m_keySelector, reset, load, defaults, importScala, m_presetSelector,
                           m_a4Field, m_adaptiveBox, m_exportPanel});
  m_tuningControls.insert(m_tuningControls.end(), m_offsetSpins.begin(), m_offsetSpins.end());
}

void CVelornaDlg::BuildPreview() {
  PreviewSource source;
  source.song = [this] { return SelectedSong(); };
  source.soundFont = [this] { return m_soundFontEdit->text().trimmed(); };
  source.tuning = [this] {
    const DialogTuning tuning = CurrentTuning();
    PreviewTuning played;
    played.tuning = JobTuning(tuning);
    played.adaptive = tuning.adaptive;
    played.ignoreSongTuning = m_exportPanel->ignoreSongTuning();
    return played;
  };
  m_preview = new SongPreview(std::move(source), m_reporter, this);
}

// The song the list has current, else its first; empty when the list is.
QString CVelornaDlg::SelectedSong() const {
  const QTreeWidgetItem* item = m_songList->currentItem();
  if (item == nullptr && m_songList->topLevelItemCount() > 0) item = m_songList->topLevelItem(0);
  return item ? item->data(0, Qt::UserRole).toString() : QString();
}

// The SoundFont and the output folder: typed or chosen; empty means the default.
QLayout* CVelornaDlg::BuildFileRows() {
  m_soundFontEdit = new QLineEdit(this);
  m_soundFontEdit->setObjectName(QStringLiteral("soundFont"));
  m_soundFontEdit->setPlaceholderText(tr("既定の音源（FluidR3_GM など）"));
  m_soundFontEdit->setClearButtonEnabled(true);
  m_outputFolderEdit = new QLineEdit(this);
  m_outputFolderEdit->setObjectName(QStringLiteral("outputFolder"));
  m_outputFolderEdit->setPlaceholderText(tr("曲と同じフォルダ"));
  m_outputFolderEdit->setClearButtonEnabled(true);
  auto* chooseSoundFont = MakeNamedButton(this, "chooseSoundFont", tr("選択..."));
  auto* chooseFolder = MakeNamedButton(this, "chooseOutputFolder", tr("選択..."));
  connect(chooseSoundFont, &QPushButton::clicked, this, &CVelornaDlg::OnChooseSoundFont);
  connect(chooseFolder, &QPushButton::clicked, this, &CVelornaDlg::OnChooseOutputFolder);

  auto* rows = new QGridLayout;
  rows->addWidget(MakeFieldLabel(this, tr("音源:"), m_soundFontEdit), 0, 0);
  rows->addWidget(m_soundFontEdit, 0, 1);
  rows->addWidget(chooseSoundFont, 0, 2);
  rows->addWidget(MakeFieldLabel(this, tr("出力先:"), m_outputFolderEdit), 1, 0);
  rows->addWidget(m_outputFolderEdit, 1, 1);
  rows->addWidget(chooseFolder, 1, 2);
  QLayout* shape = BuildOutputShapeRow();
  rows->addWidget(MakeFieldLabel(this, tr("形式:"), m_typeSelector), 2, 0);
  rows->addLayout(shape, 2, 1, 1, 2);
  rows->setColumnStretch(1, 1);
  for (QWidget* w :
       {static_cast<QWidget*>(m_soundFontEdit), static_cast<QWidget*>(chooseSoundFont),
        static_cast<QWidget*>(m_outputFolderEdit), static_cast<QWidget*>(chooseFolder)})
    m_tuningControls.push_back(w);
  return rows;
}

// The preset laid on the key, the reference pitch and adaptive intonation.
QLayout* CVelornaDlg::BuildTuningRow() {
  m_presetSelector = new QComboBox(this);
  m_presetSelector->setObjectName(QStringLiteral("preset"));
  m_presetSelector->addItem(tr("なし（手入力）"), -1);
  for (const PresetInfo& preset : Presets()) {
    m_presetSelector->addItem(TranslateWithApplication(preset.displayName),
                              static_cast<int>(preset.id));
  }
  m_presetSelector->setToolTip(tr("選んだ音律を調の主音の上に置き、12 の値を埋めます"));
  connect(m_presetSelector, &QComboBox::currentIndexChanged, this, &CVelornaDlg::OnPresetChosen);

  m_a4Field = new NumberField(kMinA4Hz, kMaxA4Hz, kA4Decimals, this);
  m_a4Field->setObjectName(QStringLiteral("a4"));
  m_a4Field->setSuffix(QStringLiteral(" Hz"));
  connect(m_a4Field, &QDoubleSpinBox::valueChanged, this, [this] {
    if (m_a4Set) return;
    m_a4Set = true;
    m_a4Field->setPalette(QPalette());
  });
  m_a4Field->setToolTip(tr("基準ピッチ（A4 の周波数）"));

  m_adaptiveBox = new QCheckBox(tr("適応純正律"), this);
  m_adaptiveBox->setObjectName(QStringLiteral("adaptive"));
  m_adaptiveBox->setToolTip(tr("曲全体を見て、同時に鳴る音が純正に響くよう音ごとに音高を選びます"));

  auto* row = new QHBoxLayout;
  const int gap = Dlu(*this, 6, 0).width();
  for (const auto& [label, field] :
       {std::pair{tr("音律:"), static_cast<QWidget*>(m_presetSelector)},
        std::pair{tr("A4:"), static_cast<QWidget*>(m_a4Field)}}) {
    row->addSpacing(gap);
    row->addWidget(MakeFieldLabel(this, label, field));
    row->addWidget(field);
  }
  row->addSpacing(gap);
  row->addWidget(m_adaptiveBox);
  row->addStretch(1);
  return row;
}

// The output's type, depth and level.
QLayout* CVelornaDlg::BuildOutputShapeRow() {
  m_typeSelector = new QComboBox(this);
  m_typeSelector->setObjectName(QStringLiteral("outputType"));
  for (const OutputTypeEntry& entry : kOutputTypes)
    m_typeSelector->addItem(QString::fromUtf8(entry.name));
  m_bitsSelector = new QComboBox(this);
  m_bitsSelector->setObjectName(QStringLiteral("bits"));
  for (const int bits : {kPlainBits, kHighBits})
    m_bitsSelector->addItem(tr("%1 ビット").arg(bits), bits);
  m_bitsSelector->addItem(tr("32 ビット浮動小数点"), kFloatBits);
  m_rateSelector = new QComboBox(this);
  m_rateSelector->setObjectName(QStringLiteral("rate"));
  for (const int hz : kOutputRates) m_rateSelector->addItem(QStringLiteral("%1 Hz").arg(hz), hz);
  m_rateSelector->setToolTip(tr("サンプリング周波数：音源はこの周波数で音を作ります"));
  m_levelSelector = new QComboBox(this);
  m_levelSelector->setObjectName(QStringLiteral("level"));
  for (const LevelPreset& preset : kLevelPresets) m_levelSelector->addItem(tr(preset.name));
  m_levelSelector->setToolTip(
      tr("全体の音量：最大の音量を -1 dBFS に、またはラウドネスを目標値に"
         "そろえます（トゥルーピークは -1 dBTP 以下）"));

  auto* row = new QHBoxLayout;
  row->addWidget(m_typeSelector);
  row->addWidget(m_bitsSelector);
  row->addWidget(m_rateSelector);
  row->addWidget(m_levelSelector);
  row->addStretch(1);
  m_tuningControls.insert(m_tuningControls.end(),
                          {m_typeSelector, m_bitsSelector, m_rateSelector, m_levelSelector});
  return row;
}

// Song, progress, elapsed and remaining time, and at the end the output with its actions.
QLayout* CVelornaDlg::BuildStatusRows() {
  m_songField = MakeStatusField(this, QStringLiteral("song"));
  m_songField->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  m_progressField = MakeStatusField(this, Id(1010));
  m_elapsedField = MakeStatusField(this, Id(1016));
  m_remainingField = MakeStatusField(this, QStringLiteral("remaining"));
  m_outputField = new QLineEdit(this);
  m_outputField->setObjectName(QStringLiteral("output"));
  m_outputField->setReadOnly(true);
  m_outputField->setPlaceholderText(QString::fromUtf8(kNoStatus));
  m_openFolderButton = MakeNamedButton(this, "openFolder", tr("フォルダを開く"));
  m_playButton = MakeNamedButton(this, "play", tr("再生"));
  m_openFolderButton->setEnabled(false);
  m_playButton->setEnabled(false);
  connect(m_openFolderButton, &QPushButton::clicked, this, &CVelornaDlg::OnOpenFolder);
  connect(m_playButton, &QPushButton::clicked, this, &CVelornaDlg::OnPlay);

  auto* times = new QHBoxLayout;
  times->addWidget(m_progressField);
  times->addSpacing(Dlu(*this, 6, 0).width());
  times->addWidget(MakeFieldLabel(this, tr("経過:"), m_elapsedField));
  times->addWidget(m_elapsedField);
  times->addSpacing(Dlu(*this, 6, 0).width());
  times->addWidget(MakeFieldLabel(this, tr("残り:"), m_remainingField));
  times->addWidget(m_remainingField);
  times->addStretch(1);

  auto* output = new QHBoxLayout;
  output->addWidget(m_outputField, 1);
  output->addWidget(m_openFolderButton);
  output->addWidget(m_playButton);

  auto* rows = new QGridLayout;
  rows->addWidget(MakeFieldLabel(this, tr("曲:"), m_songField), 0, 0);
  rows->addWidget(m_songField, 0, 1);
  rows->addWidget(MakeFieldLabel(this, tr("進行:"), m_progressField), 1, 0);
  rows->addLayout(times, 1, 1);
  rows->addWidget(MakeFieldLabel(this, tr("出力:"), m_outputField), 2, 0);
  rows->addLayout(output, 2, 1);
  rows->setColumnStretch(1, 1);
  return rows;
}

CentTable CVelornaDlg::ReadOffsets() const {
  CentTable cents{};
  for (size_t pc = 0; pc < cents.size(); ++pc) cents[pc] = OffsetOf(*m_offsetSpins[pc]);
  return cents;
}

// Offsets as typed: no preset or Scala tuning is played any more.
void CVelornaDlg::ShowTuning(const ScaleSettings& tuning) {
  ShowScala(std::nullopt, {}, {});
  m_presetSelector->setCurrentIndex(kNoPresetEntry);
  {
    const QSignalBlocker quiet(m_keySelector);
    m_keySelector->setCurrentIndex(tuning.keyIndex);
  }
  ShowOffsets({tuning.cents, {}});
}

void CVelornaDlg::ShowOffsets(const ShownOctave& octave) {
  m_showingOffsets = true;
  const QString unmapped = tr("未割当");
  for (size_t pc = 0; pc < m_offsetSpins.size(); ++pc) {
    SetOffset(*m_offsetSpins[pc], octave.cents[pc]);
    m_offsetSpins[pc]->SetUnmappedText(octave.unmapped[pc] ? unmapped : QString());
  }
  m_upperC->SetUnmappedText(m_offsetSpins[0]->IsUnmapped() ? unmapped : QString());
  m_showingOffsets = false;
  if (!m_a4Set) ShowA4(std::nullopt);
}

void CVelornaDlg::ShowA4(std::optional<double> hz) {
  m_a4Set = hz.has_value();
  const std::optional<double> sounding = A4FrequencyHz(BuildTuning(ChoiceOf(CurrentTuning())));
  const QSignalBlocker quiet(m_a4Field);
  m_a4Field->setValue(hz.value_or(sounding.value_or(kStandardA4Hz)));
  QPalette palette;
  if (!m_a4Set) palette.setColor(QPalette::Text, palette.color(QPalette::Disabled, QPalette::Text));
  m_a4Field->setPalette(palette);
}

DialogTuning CVelornaDlg::CurrentTuning() const {
  DialogTuning tuning;
  tuning.offsets = ReadOffsets();
  tuning.keyIndex = m_keySelector->currentIndex();
  const int preset = m_presetSelector->currentData().toInt();
  if (preset >= 0) tuning.preset = static_cast<PresetId>(preset);
  tuning.scala = m_scala;
  if (m_a4Set) tuning.a4Hz = m_a4Field->value();
  tuning.adaptive = m_adaptiveBox->isChecked();
  return tuning;
}

void CVelornaDlg::OnPresetChosen() {
  const int data = m_presetSelector->currentData().toInt();
  if (data == kScalaEntry) return;
  if (m_scala) ShowScala(std::nullopt, {}, {});  // the fields keep the Scala octave
  if (data >= 0) {
    const auto tonic = TonicPitchClass(TonicIndexOf(CurrentTuning()));
    ShowOffsets({PresetOffsets(static_cast<PresetId>(data), tonic), {}});
  }
}

// The key is the tonic a preset or a Scala tuning is laid on; typed offsets stay as they are.
void CVelornaDlg::OnKeyChosen() {
  const DialogTuning tuning = CurrentTuning();
  if (tuning.scala) {
    ShowOffsets(ScalaOctave(*tuning.scala, TonicIndexOf(tuning)));
  } else if (tuning.preset) {
    ShowOffsets({ExactOffsets(tuning), {}});
  }
}

void CVelornaDlg::OnOffsetEdited() {
  if (!m_showingOffsets && !m_a4Set) ShowA4(std::nullopt);
  if (m_showingOffsets || m_presetSelector->currentIndex() == kNoPresetEntry) return;
  const QSignalBlocker quiet(m_presetSelector);
  m_presetSelector->setCurrentIndex(kNoPresetEntry);
}

// Plays `scala` instead of the offsets (none: the offsets again). Its octave shows in the
// fields, which take no typing meanwhile.
void CVelornaDlg::ShowScala(std::optional<ScalaSource> scala, const QString& scl,
                            const QString& kbm) {
  m_scala = std::move(scala);
  m_sclPath = m_scala ? scl : QString();
  m_kbmPath = m_scala ? kbm : QString();
  const int entry = m_presetSelector->findData(kScalaEntry);
  {
    const QSignalBlocker quiet(m_presetSelector);
    const bool wasChosen = entry >= 0 && m_presetSelector->currentIndex() == entry;
    if (entry >= 0) m_presetSelector->removeItem(entry);
    if (m_scala) {
      m_presetSelector->addItem(tr("Scala: %1").arg(FileName(scl)), kScalaEntry);
      m_presetSelector->setCurrentIndex(m_presetSelector->count() - 1);
    } else if (wasChosen) {
      m_presetSelector->setCurrentIndex(kNoPresetEntry);
    }
  }
  if (m_scala) {
    const QString description = QString::fromStdString(m_scala->scale.description);
    m_scalaLabel->setText(
        tr("Scala: %1%2 — %3 音")
            .arg(FileName(scl), kbm.isEmpty() ? QString() : tr(" + %1").arg(FileName(kbm)))
            .arg(m_scala->scale.cents.size()) +
        (description.isEmpty() ? QString() : tr("：%1").arg(description)));
    m_scalaLabel->setToolTip(scl);
    ShowOffsets(ScalaOctave(*m_scala, TonicIndexOf(CurrentTuning())));
  }
  m_scalaLabel->setVisible(m_scala.has_value());
  // Leaving the Scala tuning, its silent keys take the offsets the fields hold.
  if (!m_scala) ShowOffsets({ReadOffsets(), {}});
  for (OffsetSpinBox* spin : m_offsetSpins) spin->setEnabled(!m_scala && !IsConverting());
  m_preview->TuningChanged();
}

std::optional<Scale> CVelornaDlg::ReadScl(const QString& scl, bool quiet) {
  ScalaRead<Scale> scale = LoadScl(scl.toStdString());
  if (!scale.value && !quiet)
    m_reporter.ShowText(ScalaErrorText(scale.error, FileName(scl).toStdString()));
  return std::move(scale.value);
}

// Reads both files first: any error is reported naming its line, and nothing changes.
bool CVelornaDlg::LoadScala(const QString& scl, const QString& kbm, bool quiet) {
  std::optional<Scale> scale = ReadScl(scl, quiet);
  return scale && PlayScala(std::move(*scale), scl, kbm, quiet);
}

// The scale with the map read from `kbm` (none: its default mapping); a bad map changes
// nothing.
bool CVelornaDlg::PlayScala(Scale scale, const QString& scl, const QString& kbm, bool quiet) {
  ScalaSource source{std::move(scale), std::nullopt};
  if (!kbm.isEmpty()) {
    ScalaRead<KeyboardMap> map = LoadKbm(kbm.toStdString());
    if (!map.value) {
      if (!quiet) m_reporter.ShowText(ScalaErrorText(map.error, FileName(kbm).toStdString()));
      return false;
    }
    source.map = std::move(map.value);
  }
  ShowScala(std::move(source), scl, kbm);
  return true;
}

void CVelornaDlg::OnImportScala() {
  const QString scl = m_askPath(PathPrompt::kOpenScala, m_sclPath);
  if (scl.isEmpty()) return;
  // A broken scale is named before the user is asked for its mapping; read once, so that a
  // pipe works too.
  std::optional<Scale> scale = ReadScl(scl, false);
  if (!scale) return;
  const QString kbm = m_askPath(PathPrompt::kOpenKeyboardMap, scl);
  PlayScala(std::move(*scale), scl, kbm, false);
}

void CVelornaDlg::OnExportScala() {
  ExportScala();
}

bool CVelornaDlg::ExportScala() {
  const DialogTuning tuning = CurrentTuning();
  const QString scl = m_askPath(PathPrompt::kSaveScala, m_sclPath);
  if (scl.isEmpty()) return false;
  const QFileInfo info(scl);
  const QString kbm = info.dir().filePath(info.completeBaseName() + QStringLiteral(".kbm"));
  const QString description = m_scala ? QString::fromStdString(m_scala->scale.description)
                                      : m_presetSelector->currentText() + QStringLiteral(" / ") +
                                            m_keySelector->currentText();
  const auto files = ScalaFilesOf(tuning, description.toStdString());
  if (!files) {
    ShowMessage(tr("この音律は Scala形式で書き出せません。"));
    return false;
  }
  if (!WriteText(scl, WriteScl(files->scale)) || !WriteText(kbm, WriteKbm(files->map))) {
    m_reporter.ShowText(kSaveFailed);
    return false;
  }
  return true;
}

QString CVelornaDlg::OutputPathFor(const QString& song) const {
  const QFileInfo wav(OutputFor(song, m_outputFolderEdit->text().trimmed()));
  const auto& entry =
      kOutputTypes[static_cast<size_t>(std::max(0, m_typeSelector->currentIndex()))];
  if (entry.type == SoundFileType::kWav) return wav.filePath();
  return wav.dir().filePath(wav.completeBaseName() + QLatin1Char('.') +
                            QString::fromUtf8(entry.extension));
}

OutputFormat CVelornaDlg::ChosenOutputFormat() const {
  OutputFormat format;
  format.bits = m_bitsSelector->currentData().toInt();
  format.sampleRate = m_rateSelector->currentData().toInt();
  const LevelPreset& level = kLevelPresets[static_cast<size_t>(
      std::clamp(m_levelSelector->currentIndex(), 0, static_cast<int>(kLevelPresets.size()) - 1))];
  format.normalize = level.normalize;
  format.loudness = level.loudness;
  return format;
}

void CVelornaDlg::RememberSettings() const {
  DialogSettings settings;
  settings.songFolder = m_songFolder;
  settings.soundFont = m_soundFontEdit->text().trimmed();
  settings.outputFolder = m_outputFolderEdit->text().trimmed();
  settings.tuning = ScaleSettings{ReadOffsets(), m_keySelector->currentIndex()};
  const DialogTuning tuning = CurrentTuning();
  if (tuning.preset) settings.preset = QString::fromUtf8(PresetInfoOf(*tuning.preset).name);
  settings.a4Hz = tuning.a4Hz;
  settings.sclFile = m_sclPath;
  settings.kbmFile = m_kbmPath;
  settings.adaptive = tuning.adaptive;
  settings.outputType =
      kOutputTypes[static_cast<size_t>(std::max(0, m_typeSelector->currentIndex()))].type;
  settings.outputFormat = ChosenOutputFormat();
  settings.exportForm = m_exportPanel->form();
  settings.ignoreSongTuning = m_exportPanel->ignoreSongTuning();
  settings.partTunings = m_exportPanel->partTunings();
  SaveDialogSettings(settings);
}

void CVelornaDlg::ShowMessage(const QString& text) {
  QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(kTitle), text, QMessageBox::Ok, this);
  box.exec();
}

// The songs opened: each waits with its state until Convert takes it.
QLayout* CVelornaDlg::BuildSongList() {
  m_songList = new QTreeWidget(this);
  m_songList->setObjectName(QStringLiteral("songs"));
  m_songList->setColumnCount(2);
  m_songList->setHeaderLabels({tr("曲"), tr("状態")});
  m_songList->setRootIsDecorated(false);
  m_songList->setSelectionMode(QAbstractItemView::ExtendedSelection);
  m_songList->header()->setStretchLastSection(false);
  m_songList->header()->setSectionResizeMode(0, QHeaderView::Stretch);
  m_songList->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
  // Three rows and the header at least; more when the window grows.
  m_songList->setMinimumHeight(Dlu(*this, 0, 44).height());
  m_songList->setMinimumWidth(Dlu(*this, 120, 0).width());
  auto* add = MakeNamedButton(this, "addSongs", tr("曲を追加..."));
  m_removeSongsButton = MakeNamedButton(this, "removeSongs", tr("リストから外す"));
  add->setToolTip(tr("曲 (.mid) をリストに加えます。変換は「変換」で始まります"));
  connect(add, &QPushButton::clicked, this, &CVelornaDlg::OnAddSongs);
  connect(m_removeSongsButton, &QPushButton::clicked, this, &CVelornaDlg::OnRemoveSongs);

  auto* buttons = new QVBoxLayout;
  buttons->addWidget(add);
  buttons->addWidget(m_removeSongsButton);
  buttons->addStretch(1);
  auto* row = new QHBoxLayout;
  row->addWidget(m_songList, 1);
  row->addLayout(buttons);
  m_tuningControls.insert(m_tuningControls.end(), {add, m_removeSongsButton});
  return row;
}

QTreeWidgetItem* CVelornaDlg::SongItem(const QString& song) const {
  for (int i = 0; i < m_songList->topLevelItemCount(); ++i) {
    QTreeWidgetItem* item = m_songList->topLevelItem(i);
    if (item->data(0, Qt::UserRole).toString() == song) return item;
  }
  return nullptr;
}

void CVelornaDlg::ShowSongState(const QString& song, SongState state, const QString& detail) {
  QTreeWidgetItem* item = SongItem(song);
  if (item == nullptr) return;  // taken off the list meanwhile
  QString text;
  switch (state) {
    case SongState::kWaiting:
      text = tr("待機中");
      break;
    case SongState::kConverting:
      text = detail.isEmpty() ? tr("変換中") : tr("変換中 %1").arg(detail);
      break;
    case SongState::kWritten:
      text = tr("完了 → %1").arg(FileName(detail));
      break;
    case SongState::kStopped:
      text = tr("停止（途中まで保存）→ %1").arg(FileName(detail));
      break;
    case SongState::kFailed:
      text = tr("失敗");
      break;
    case SongState::kSkipped:
      text = tr("出力があるため飛ばしました");
      break;
  }
  item->setText(1, text);
  item->setToolTip(1, detail.isEmpty() ? text : detail);
  item->setData(0, kSongStateRole, static_cast<int>(state));
}

QStringList CVelornaDlg::WaitingSongs() const {
  QStringList songs;
  for (int i = 0; i < m_songList->topLevelItemCount(); ++i) {
    const QTreeWidgetItem* item = m_songList->topLevelItem(i);
    if (item->data(0, kSongStateRole).toInt() == static_cast<int>(SongState::kWaiting))
      songs << item->data(0, Qt::UserRole).toString();
  }
  return songs;
}

QStringList CVelornaDlg::OpenSongs(const QStringList& named) {
  // Absolute, so that a song named twice, relative and whole, is listed once.
  QStringList songs;
  for (const QString& song : named) songs << QFileInfo(song).absoluteFilePath();
  for (const QString& song : songs) {
    // A song of the run under way keeps the state the run gives it.
    if (IsConverting() && (m_queue.contains(song) || (!m_run.empty() && m_run.back().song == song)))
      continue;
    QTreeWidgetItem* item = SongItem(song);
    if (item == nullptr) {
      item = new QTreeWidgetItem(m_songList, {FileName(song)});
      item->setData(0, Qt::UserRole, song);
      item->setToolTip(0, song);
    }
    ShowSongState(song, SongState::kWaiting);
  }
  // The song previewed is the list's current one, else its first: the first added is it.
  m_preview->SourceChanged();
  return songs;
}

void CVelornaDlg::OnAddSongs() {
  const QStringList songs = m_askSongs(m_songFolder);
  if (songs.isEmpty()) return;
  m_songFolder = QFileInfo(songs.constFirst()).absolutePath();
  OpenSongs(songs);
}

void CVelornaDlg::OnRemoveSongs() {
  if (IsConverting()) return;
  qDeleteAll(m_songList->selectedItems());
}

void CVelornaDlg::OnConvert() {
  if (m_job.m_running.load() == 1) {
    m_job.m_cancel = 1;
    m_queue.clear();  // Stop ends the whole run, not only the song at hand
    return;
  }
  m_job.m_cancel = 0;
  QStringList songs = WaitingSongs();
  if (songs.isEmpty()) {
    songs = m_askSongs(m_songFolder);
    if (songs.isEmpty()) return;
    m_songFolder = QFileInfo(songs.constFirst()).absolutePath();
    songs = OpenSongs(songs);
  }
  StartRun(songs);
}

Tuning CVelornaDlg::JobTuning(const DialogTuning& tuning) {
  Tuning built = BuildTuning(ChoiceOf(tuning));
  // A part's Scala file may have gone since it was chosen: said, and the parts dropped.
  if (!AddPartTunings(built, m_exportPanel->partTunings(), TonicIndexOf(tuning), tuning.a4Hz,
                      m_reporter))
    built.channels.clear();
  return built;
}

void CVelornaDlg::OnExportMidi() {
  if (IsConverting()) return;
  QStringList songs;
  for (const QTreeWidgetItem* item : m_songList->selectedItems())
    songs << item->data(0, Qt::UserRole).toString();
  for (int i = 0; songs.isEmpty() && i < m_songList->topLevelItemCount(); ++i)
    songs << m_songList->topLevelItem(i)->data(0, Qt::UserRole).toString();
  if (songs.isEmpty()) {
    songs = m_askSongs(m_songFolder);
    if (songs.isEmpty()) return;
    m_songFolder = QFileInfo(songs.constFirst()).absolutePath();
    songs = OpenSongs(songs);
  }
  RememberSettings();
  const DialogTuning tuning = CurrentTuning();
  ExportOptions options;
  options.form = m_exportPanel->form();
  options.adaptive = tuning.adaptive;
  options.ignoreSongTuning = m_exportPanel->ignoreSongTuning();
  // Quick beside a conversion (no rendering): done here, its closing message names the files.
  ExportMidiFiles(songs, m_outputFolderEdit->text().trimmed(), JobTuning(tuning), options,
                  m_reporter);
}

void CVelornaDlg::ConvertSongs(const QStringList& songs) {
  if (m_job.m_running.load() == 1) return;
  StartRun(OpenSongs(songs));
}

std::optional<QStringList> CVelornaDlg::AskAboutExistingOutputs(const QStringList& songs) {
  QStringList existing, named;
  for (const QString& song : songs) {
    const QString output = OutputPathFor(song);
    if (!QFileInfo::exists(output)) continue;
    existing << song;
    if (named.size() < kExistingNamedAtMost) named << QStringLiteral("・") + output;
  }
  if (existing.isEmpty()) return songs;
  if (existing.size() > named.size()) named << tr("ほか %1 曲").arg(existing.size() - named.size());
  const int answer =
      AskYesNoCancel(this, {QMessageBox::Question, "overwrite",
                            tr("出力ファイルが既にあります（%1 曲）。\n%2\n\n置き換えますか？")
                                .arg(existing.size())
                                .arg(named.join(QLatin1Char('\n'))),
                            tr("すべて置き換える"), tr("既存を飛ばす"), QMessageBox::No});
  if (answer == QMessageBox::Yes) return songs;
  if (answer != QMessageBox::No) return std::nullopt;
  QStringList rest;
  for (const QString& song : songs) {
    if (existing.contains(song)) {
      ShowSongState(song, SongState::kSkipped, OutputPathFor(song));
    } else {
      rest << song;
    }
  }
  return rest;
}

void CVelornaDlg::StartRun(const QStringList& requested) {
  if (m_job.m_running.load() == 1) return;
  // An output goes beside its song under the song's name: a song named like a WAV would
  // be lost, so it is refused before anything starts.
  QStringList songs;
  for (const QString& song : requested) {
    const std::string output = OutputPathFor(song).toStdString();
    if (CheckOutput(output, {song.toStdString()}).problem == OutputProblem::kIsInput) {
      ShowMessage(tr(kOutputIsInput).arg(song, QString::fromStdString(output)));
      ShowSongState(song, SongState::kFailed);
      continue;
    }
    songs.push_back(song);
  }
  const std::optional<QStringList> chosen = AskAboutExistingOutputs(songs);
  if (!chosen) return;
  m_runSkipped = songs.size() - chosen->size();
  songs = *chosen;
  if (songs.isEmpty()) return;
  m_player.Stop();
  m_queue = songs;
  m_run.clear();
  m_runSize = songs.size();
  m_runStart = std::chrono::steady_clock::now();
  m_job.m_cancel = 0;
  // Set here, not by the worker: a second click before the worker runs must act as Stop.
  m_job.m_running = 1;
  m_convertButton->setText(tr(kStopText));
  SetTuningControlsEnabled(false);
  ShowOutput({});
  RememberSettings();
  StartNextSong();
  m_clock.start();
}

void CVelornaDlg::StartNextSong() {
  const QString song = m_queue.takeFirst();
  const bool batch = m_runSize > 1;
  ConversionOptions options;
  const DialogTuning tuning = CurrentTuning();
  options.tuning = JobTuning(tuning);
  options.adaptive = tuning.adaptive;
  options.ignoreSongTuning = m_exportPanel->ignoreSongTuning();
  options.soundFont = m_soundFontEdit->text().trimmed().toStdString();
  options.outputPath = OutputPathFor(song).toStdString();
  options.outputFormat = ChosenOutputFormat();
  options.fileOpenHook = [this](const std::string& pattern) {
    return AskPatternFromWorker(pattern);
  };
  m_run.push_back(
      {song, QString::fromStdString(options.outputPath), ConversionResult::kNotWritten, {}});
  m_songField->setText(
      batch ? tr("%1（%2 / %3 曲目）").arg(FileName(song)).arg(m_run.size()).arg(m_runSize)
            : FileName(song));
  ShowSongState(song, SongState::kConverting);
  m_progressField->setText(QString::fromUtf8(kNoStatus));
  m_remainingField->setText(QString::fromUtf8(kNoStatus));
  if (m_worker.joinable()) m_worker.join();  // the previous worker has already ended
  m_job.m_progress = 0;
  m_job.m_startTick = std::chrono::steady_clock::now();
  m_batchMessages.Clear();
  m_workerDone = false;
  m_worker = std::thread(&CVelornaDlg::ConversionThreadProc, this, song.toStdString(),
                         std::move(options), batch);
}

void CVelornaDlg::ConversionThreadProc(std::string path, ConversionOptions options, bool batch) {
  // A batch keeps its messages for the summary: one box per song would stop it at each.
  Reporter& reporter = batch ? static_cast<Reporter&>(m_batchMessages) : m_reporter;
  const ConversionResult result = m_runner ? m_runner(path, options, m_job, m_observer, reporter)
                                           : ConversionResult::kNotWritten;
  m_workerDone = true;
  QMetaObject::invokeMethod(
      this, [this, result] { OnWorkerEnded(result); }, Qt::QueuedConnection);
}

void CVelornaDlg::ShowJobProgress(const QString& progress, const QString& elapsed) {
  m_progressField->setText(progress);
  if (!m_run.empty()) ShowSongState(m_run.back().song, SongState::kConverting, progress);
  m_elapsedField->setText(elapsed);
  ShowRemainingTime();
}

double CVelornaDlg::SecondsRunning() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - m_job.m_startTick)
      .count();
}

void CVelornaDlg::ShowRemainingTime() {
  const auto remaining = RemainingSeconds(SecondsRunning(), m_job.m_progress.load());
  m_remainingField->setText(remaining ? QString::fromStdString(ClockText(*remaining))
                                      : QString::fromUtf8(kNoStatus));
}

// A long note or the writing may keep the job from reporting for a while: the clock goes on.
void CVelornaDlg::OnClockTick() {
  if (!IsConverting() || m_closing) return;
  // Whole seconds passed, as the job counts them.
  m_elapsedField->setText(QString::fromStdString(ClockText(std::floor(SecondsRunning()))));
  ShowRemainingTime();
}

void CVelornaDlg::OnWorkerEnded(ConversionResult result) {
  if (m_destroying || !m_worker.joinable()) return;
  m_worker.join();
  SongRun& song = m_run.back();
  song.result = result;
  // A song a Stop cut short says so, and how much of it was written, instead of 100 %.
  if (result == ConversionResult::kWrittenAfterStop ||
      result == ConversionResult::kStoppedBeforeSound) {
    m_progressField->setText(tr("停止 %1 / %2")
                                 .arg(QString::fromStdString(ClockText(m_job.writtenSeconds)),
                                      QString::fromStdString(ClockText(m_job.songSeconds))));
    m_remainingField->setText(QString::fromUtf8(kNoStatus));
  }
  for (const Report& report : m_batchMessages.reports()) {
    song.messages << ShownText(report);
    if (report.kind == ReportKind::kFinished && report.level)
      song.clippedSamples = report.level->clippedSamples;
  }
  switch (result) {
    case ConversionResult::kWritten:
      ShowSongState(song.song, SongState::kWritten, song.output);
      break;
    case ConversionResult::kWrittenAfterStop:
    case ConversionResult::kStoppedBeforeSound:
      ShowSongState(song.song, SongState::kStopped, song.output);
      break;
    case ConversionResult::kNotWritten:
      ShowSongState(song.song, SongState::kFailed, song.messages.value(0));
      break;
  }
  if (!m_queue.isEmpty() && !m_closing && m_job.m_cancel.load() == 0) {
    StartNextSong();
    return;
  }
  m_queue.clear();
  m_clock.stop();
  m_convertButton->setText(tr(kConvertText));
  m_job.m_running = 0;
  if (m_closing) {
    m_closing = false;
    SetControlsEnabled(true);
    QDialog::done(m_closeResult);
    return;
  }
  FinishRun();
}

// The end of a run: the last WAV written goes into the output row; several songs get a
// summary with each song's outcome and messages.
void CVelornaDlg::FinishRun() {
  SetTuningControlsEnabled(true);
  QString lastWritten;
  int written = 0, stopped = 0, failed = 0;
  QStringList failures, clipped, details;
  for (const SongRun& song : m_run) {
    switch (song.result) {
      case ConversionResult::kWritten:
        ++written;
        break;
      case ConversionResult::kWrittenAfterStop:
      case ConversionResult::kStoppedBeforeSound:
        ++stopped;
        break;
      case ConversionResult::kNotWritten:
        ++failed;
        // With its first message, so the box says why without opening the details.
        failures << tr("%1: 変換できませんでした。").arg(FileName(song.song)) +
                        (song.messages.isEmpty() ? QString() : tr("（%1）").arg(song.messages[0]));
        break;
    }
    const bool wrote = OutputWritten(song.result);
    if (wrote) lastWritten = song.output;
    if (wrote && song.clippedSamples > 0)
      clipped << tr("%1（%2 サンプル）").arg(FileName(song.song)).arg(song.clippedSamples);
    details << (!wrote ? tr("%1: 変換できませんでした。").arg(song.song)
                       : tr("%1 → %2").arg(song.song, song.output));
    for (const QString& message : song.messages) details << QStringLiteral("    ") + message;
  }
  ShowOutput(lastWritten);
  if (m_runSize < 2) return;
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - m_runStart).count();
  QStringList counts{tr("変換 %1 曲").arg(written)};
  if (stopped > 0) counts << tr("停止 %1 曲").arg(stopped);
  if (failed > 0) counts << tr("失敗 %1 曲").arg(failed);
  const qsizetype untouched = m_runSize - static_cast<qsizetype>(m_run.size());
  if (untouched > 0) counts << tr("未処理 %1 曲").arg(untouched);
  if (m_runSkipped > 0) counts << tr("出力があり飛ばした %1 曲").arg(m_runSkipped);
  QString text = tr("%1 曲のうち %2。\n所要時間 %3")
                     .arg(m_runSize + m_runSkipped)
                     .arg(counts.join(tr("、")), QString::fromStdString(ClockText(seconds)));
  if (!failures.isEmpty()) text += QStringLiteral("\n\n") + failures.join(QLatin1Char('\n'));
  if (!clipped.isEmpty())
    text += QStringLiteral("\n\n") + tr("音割れのあった曲:") + QLatin1Char('\n') +
            clipped.join(QLatin1Char('\n'));
  QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(kTitle), text, QMessageBox::Ok, this);
  box.setObjectName(QStringLiteral("summary"));
  box.setDetailedText(details.join(QLatin1Char('\n')));
  box.exec();
}

void CVelornaDlg::ShowOutput(const QString& path) {
  m_outputField->setText(path);
  m_outputField->setToolTip(path);
  m_outputField->setCursorPosition(static_cast<int>(path.size()));  // the file name shows
  m_openFolderButton->setEnabled(!path.isEmpty());
  UpdatePlayButton();
}

void CVelornaDlg::UpdatePlayButton() {
  const bool hasResult = !m_outputField->text().isEmpty();
  if (hasResult && !ResultPlayer::HasAudioOutput()) {
    m_playButton->setText(tr("音声出力なし"));
    m_playButton->setToolTip(tr("音声の出力先が見つからないため再生できません。"));
    m_playButton->setEnabled(false);
    return;
  }
  m_playButton->setText(m_player.IsPlaying() ? tr("再生を止める") : tr("再生"));
  m_playButton->setToolTip({});
  m_playButton->setEnabled(hasResult && !IsConverting());
}

void CVelornaDlg::OnOpenFolder() {
  const QString folder = QFileInfo(m_outputField->text()).absolutePath();
  if (!m_openUrl(QUrl::fromLocalFile(folder))) ShowMessage(tr("フォルダを開けませんでした。"));
}

void CVelornaDlg::OnPlay() {
  if (m_player.IsPlaying()) {
    m_player.Stop();
  } else {
    m_player.Play(m_outputField->text());
  }
  UpdatePlayButton();
}

void CVelornaDlg::OnChooseSoundFont() {
  const QString path = m_askPath(PathPrompt::kOpenSoundFont, m_soundFontEdit->text());
  if (!path.isEmpty()) m_soundFontEdit->setText(path);
}

void CVelornaDlg::OnChooseOutputFolder() {
  const QString path = m_askPath(PathPrompt::kChooseOutputFolder, m_outputFolderEdit->text());
  if (!path.isEmpty()) m_outputFolderEdit->setText(path);
}

void CVelornaDlg::OnDefaults() {
  m_a4Set = false;
  ShowTuning(ScaleSettings{kPureIntervalCents, kInitialKeyIndex});
  m_adaptiveBox->setChecked(false);
  m_typeSelector->setCurrentIndex(0);
  m_bitsSelector->setCurrentIndex(0);
  m_rateSelector->setCurrentIndex(0);
  m_levelSelector->setCurrentIndex(0);
  m_exportPanel->SetForm(ExportForm::kBends);
  m_exportPanel->SetIgnoreSongTuning(false);
  m_exportPanel->SetPartTunings({});
  m_soundFontEdit->clear();
  m_outputFolderEdit->clear();
  m_songFolder.clear();
  ClearDialogSettings();
}

void CVelornaDlg::dragEnterEvent(QDragEnterEvent* event) {
  if (!event->mimeData()->hasUrls()) return;
  for (const QUrl& url : event->mimeData()->urls()) {
    if (url.isLocalFile() && IsMidiFileName(url.toLocalFile())) {
      event->acceptProposedAction();
      return;
    }
  }
}

void CVelornaDlg::dropEvent(QDropEvent* event) {
  QStringList songs;
  for (const QUrl& url : event->mimeData()->urls()) {
    if (url.isLocalFile() && IsMidiFileName(url.toLocalFile())) songs << url.toLocalFile();
  }
  if (songs.isEmpty()) return;
  event->acceptProposedAction();
  // Dropped songs wait in the list: the tuning is chosen first, and Convert starts them.
  OpenSongs(songs);
}

std::optional<std::string> CVelornaDlg::AskPatternFromWorker(const std::string& pattern) {
  QString chosen;
  QMetaObject::invokeMethod(
      this,
      [this, &chosen, &pattern] {
        if (!m_closing)
          chosen = m_askPath(PathPrompt::kOpenMidiPattern, QString::fromStdString(pattern));
      },
      Qt::BlockingQueuedConnection);
  if (chosen.isEmpty()) return std::nullopt;
  return chosen.toStdString();
}

void CVelornaDlg::done(int result) {
  if (m_job.m_running.load() == 1 && !m_closing) {
    const auto answer = QMessageBox::question(
        this, QString::fromUtf8(kTitle),
        tr("変換中です。変換を中止して閉じますか？\n中止した曲は、そこまでの内容で保存されます。"),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes) return;
  }
  if (m_job.m_running.load() == 1) {
    // The worker may be waiting for a box on this thread, so the event loop must go on
    // until it ends; the song it reads belongs to the job and goes with it.
    m_job.m_cancel = 1;
    m_queue.clear();
    m_closing = true;
    m_closeResult = result;
    m_songField->setText(tr("停止しています..."));
    SetControlsEnabled(false);
    return;
  }
  m_player.Stop();
  RememberSettings();
  QDialog::done(result);
}

void CVelornaDlg::SetControlsEnabled(bool enabled) {
  // Only the controls: a box that is up must stay answerable, or the worker never ends.
  for (QWidget* w : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
    if (!w->isWindow()) w->setEnabled(enabled && w != m_upperC);
  }
  if (enabled) {
    SetTuningControlsEnabled(!IsConverting());
    ShowOutput(m_outputField->text());
  }
}

void CVelornaDlg::SetTuningControlsEnabled(bool enabled) {
  for (QWidget* w : m_tuningControls) w->setEnabled(enabled);
  for (OffsetSpinBox* spin : m_offsetSpins) spin->setEnabled(enabled && !m_scala);
  UpdatePlayButton();
}

void CVelornaDlg::OnReset() {
  ShowTuning(ScaleSettings{CentTable{}, m_keySelector->currentIndex()});
}

void CVelornaDlg::OnSaveScale() {
  // A scale file holds twelve whole cents on 440 Hz: say what else would be lost first.
  const std::vector<ScaLoss> losses = ScaLosses(CurrentTuning());
  if (!losses.empty()) {
    QStringList lost;
    for (const ScaLoss loss : losses) {
      switch (loss) {
        case ScaLoss::kFractions:
          lost << tr("・1 セント未満の値（整数に丸められます）");
          break;
        case ScaLoss::kScala:
          lost << tr("・Scala の音律（表示中の 1 オクターブだけが残ります）");
          break;
        case ScaLoss::kReferencePitch:
          lost << tr("・基準ピッチ A4 = %1 Hz（440 Hz として読み込まれます）")
                      .arg(m_a4Field->value(), 0, 'f', kA4Decimals);
          break;
        case ScaLoss::kAdaptive:
          lost << tr("・適応純正律の指定");
          break;
      }
    }
    const int answer =
        AskYesNoCancel(this, {QMessageBox::Warning, "scaLosses",
                              tr("設定ファイル (.sca) には次の内容を保存できません。\n%1\n\n"
                                 "代わりに Scala形式 (.scl と .kbm) で書き出しますか？")
                                  .arg(lost.join(QLatin1Char('\n'))),
                              tr("Scala形式で書き出す"), tr(".sca に保存する"), QMessageBox::Yes});
    if (answer == QMessageBox::Yes) {
      ExportScala();
      return;
    }
    if (answer != QMessageBox::No) return;
  }
  const QString path = m_askPath(PathPrompt::kSaveScale, {});
  if (path.isEmpty()) return;
  const ScaleSettings settings{ReadOffsets(), m_keySelector->currentIndex()};
  if (!SaveScaleFile(path.toStdString(), settings)) m_reporter.ShowText(kSaveFailed);
}

void CVelornaDlg::OnLoadScale() {
  const QString path = m_askPath(PathPrompt::kOpenScale, {});
  if (path.isEmpty()) return;
  ScaleLoadError error = ScaleLoadError::kNone;
  const auto settings = LoadScaleFile(path.toStdString(), &error);
  if (!settings) {
    if (error == ScaleLoadError::kTooShort) m_reporter.ShowText(kBadScaleFile);
    return;
  }
  ShowTuning(*settings);
}

void CVelornaDlg::OnHelp() {
  if (m_helpPage.isEmpty() || !QFileInfo(m_helpPage).isFile()) return;
  if (m_helpWindow == nullptr) {
    // A window of the dialog's own, so the modal dialog does not block it.
    auto* browser = new QTextBrowser(this);
    browser->setWindowFlag(Qt::Window);
    browser->setAttribute(Qt::WA_DeleteOnClose);
    browser->setObjectName(QStringLiteral("help"));
    browser->setWindowTitle(tr("Velorna ヘルプ"));
    browser->setOpenExternalLinks(true);
    browser->resize(Dlu(*this, 320, 300));
    m_helpWindow = browser;
  }
  auto* browser = static_cast<QTextBrowser*>(m_helpWindow.data());
  browser->setSource(QUrl::fromLocalFile(m_helpPage));
  browser->show();
  browser->raise();
  browser->activateWindow();
}

void CVelornaDlg::OnAbout() {
  CAboutDlg about(this);
  about.exec();
}

}  // namespace velorna
