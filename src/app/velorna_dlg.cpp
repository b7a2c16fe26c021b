#include "app/velorna_dlg.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

#include <cmath>

#include "app/about_dlg.h"
#include "app/offset_spin_box.h"
#include "conversion/scale_file.h"

namespace velorna {
namespace {

constexpr char kTitle[] = "Velorna";
constexpr char kConvertText[] = "変換";
constexpr char kStopText[] = "停止";
constexpr char kNoStatus[] = "---";
constexpr char kAboutEntry[] = "バージョン情報 Velorna(&A)...";
constexpr char kSaveFailed[] = "設定ファイルを保存できませんでした。";
constexpr char kBadScaleFile[] = "設定ファイルの形式が正しくありません。";

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

QPushButton* MakeButton(QWidget* parent, int id, const char* text, int w, int h) {
  auto* button = new QPushButton(QString::fromUtf8(text), parent);
  button->setObjectName(Id(id));
  button->setAutoDefault(false);
  button->setMinimumSize(Dlu(*parent, w, h));
  return button;
}

QLabel* MakeStatusField(QWidget* parent, int id) {
  auto* field = new QLabel(QString::fromUtf8(kNoStatus), parent);
  field->setObjectName(Id(id));
  field->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  field->setAlignment(Qt::AlignCenter);
  field->setMinimumSize(Dlu(*parent, 39, 20));
  return field;
}

}  // namespace

QString AskPathWithFileDialog(PathPrompt prompt, const QString& pattern) {
  QFileDialog dialog;
  switch (prompt) {
    case PathPrompt::kOpenMidi:
      dialog.setAcceptMode(QFileDialog::AcceptOpen);
      dialog.setFileMode(QFileDialog::ExistingFile);
      dialog.setNameFilter(QStringLiteral("SMF files (*.mid)"));
      dialog.setDefaultSuffix(QStringLiteral("mid"));
      break;
    case PathPrompt::kOpenMidiPattern: {
      const QFileInfo info(pattern);
      dialog.setAcceptMode(QFileDialog::AcceptOpen);
      dialog.setFileMode(QFileDialog::ExistingFile);
      dialog.setDirectory(info.path());
      dialog.setNameFilter(QStringLiteral("指定種別のSMFファイル (%1)").arg(info.fileName()));
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
  }
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().constFirst();
}

QString FindHelpPage() {
  const QString dir = QCoreApplication::applicationDirPath();
  for (const QString& candidate : {dir + QStringLiteral("/help/index.htm"),
                                   dir + QStringLiteral("/../share/velorna/help/index.htm")}) {
    if (QFileInfo(candidate).isFile()) return QFileInfo(candidate).canonicalFilePath();
  }
  return {};
}

CVelornaDlg::CVelornaDlg(ConversionRunner runner, QWidget* parent)
    : QDialog(parent),
      m_hIcon(QStringLiteral(":/velorna/velorna.png")),
      m_runner(std::move(runner)),
      m_helpPage(FindHelpPage()) {
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
  auto* about = new QAction(QString::fromUtf8(kAboutEntry), this);
  about->setObjectName(QStringLiteral("16"));
  connect(about, &QAction::triggered, this, &CVelornaDlg::OnAbout);
  addAction(about);
  setContextMenuPolicy(Qt::ActionsContextMenu);

  m_job.m_running = 0;
  m_job.m_cancel = 0;
  BuildLayout();

  for (size_t pc = 0; pc < m_offsetSpins.size(); ++pc) {
    m_offsetSpins[pc]->setValue(static_cast<int>(std::lround(kPureIntervalCents[pc])));
  }
  m_upperC->setValue(0);
  for (const char* name : kKeyNames) m_keySelector->addItem(QString::fromUtf8(name));
  m_keySelector->setCurrentIndex(kInitialKeyIndex);
  m_initDone = 1;
}

void CVelornaDlg::BuildLayout() {
  m_keySelector = new QComboBox(this);
  m_keySelector->setObjectName(Id(1013));
  m_keySelector->setMinimumWidth(Dlu(*this, 91, 0).width());

  // One octave: black keys in the upper row between the white keys of the lower row. Each
  // white key spans two grid columns; a black key spans the two halves around its gap.
  auto* keys = new QGridLayout;
  keys->setHorizontalSpacing(Dlu(*this, 2, 0).width());
  for (int column = 0; column < 16; ++column) keys->setColumnStretch(column, 1);
  std::array<QSpinBox*, 13> spins{};
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
    // Rows: 0 black-key names, 1 black keys, 2 white keys, 3 white-key names.
    keys->addWidget(label, key.black ? 0 : 3, key.column, 1, 2);
    keys->addWidget(spin, key.black ? 1 : 2, key.column, 1, 2);
    spins[i] = spin;
  }
  std::copy_n(spins.begin(), m_offsetSpins.size(), m_offsetSpins.begin());
  m_upperC = spins[12];
  m_upperC->setEnabled(false);
  connect(m_offsetSpins[0], &QSpinBox::valueChanged, this, [this](int value) {
    if (m_initDone == 1) m_upperC->setValue(value);
  });

  auto* reset = MakeButton(this, 1011, "リセット", 54, 32);
  auto* save = MakeButton(this, 1012, "設定保存", 54, 32);
  auto* load = MakeButton(this, 1014, "設定読込", 54, 32);
  m_convertButton = MakeButton(this, 1001, kConvertText, 77, 38);
  auto* help = MakeButton(this, 1015, "ヘルプ", 54, 20);
  auto* exit = MakeButton(this, 1, "終了", 63, 21);
  exit->setDefault(true);
  m_progressField = MakeStatusField(this, 1010);
  m_elapsedField = MakeStatusField(this, 1016);

  connect(reset, &QPushButton::clicked, this, &CVelornaDlg::OnReset);
  connect(save, &QPushButton::clicked, this, &CVelornaDlg::OnSaveScale);
  connect(load, &QPushButton::clicked, this, &CVelornaDlg::OnLoadScale);
  connect(m_convertButton, &QPushButton::clicked, this, &CVelornaDlg::OnConvert);
  connect(help, &QPushButton::clicked, this, &CVelornaDlg::OnHelp);
  connect(exit, &QPushButton::clicked, this, &QDialog::accept);

  auto* top = new QHBoxLayout;
  top->addWidget(m_keySelector);
  top->addStretch(1);

  auto* actions = new QHBoxLayout;
  actions->addWidget(reset);
  actions->addWidget(save);
  actions->addWidget(load);
  actions->addStretch(1);
  actions->addWidget(m_convertButton);

  auto* bottom = new QHBoxLayout;
  bottom->addWidget(m_progressField);
  bottom->addWidget(m_elapsedField);
  bottom->addStretch(1);
  bottom->addWidget(help);
  bottom->addWidget(exit);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addSpacing(Dlu(*this, 0, 4).height());
  layout->addLayout(keys);
  layout->addSpacing(Dlu(*this, 0, 8).height());
  layout->addLayout(actions);
  layout->addSpacing(Dlu(*this, 0, 8).height());
  layout->addLayout(bottom);
  layout->setSizeConstraint(QLayout::SetMinimumSize);
}

CentTable CVelornaDlg::ReadOffsets() const {
  CentTable cents{};
  for (size_t pc = 0; pc < cents.size(); ++pc) cents[pc] = m_offsetSpins[pc]->value();
  return cents;
}

void CVelornaDlg::ShowStatus(const QString& progress, const QString& elapsed) {
  m_progressField->setText(progress);
  m_elapsedField->setText(elapsed);
}

void CVelornaDlg::ShowMessage(const QString& text) {
  QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(kTitle), text, QMessageBox::Ok, this);
  box.exec();
}

void CVelornaDlg::OnConvert() {
  if (m_job.m_running.load() == 1) {
    m_job.m_cancel = 1;
    return;
  }
  m_job.m_cancel = 0;
  const QString path = m_askPath(PathPrompt::kOpenMidi, {});
  if (path.isEmpty()) return;

  ConversionOptions options;
  options.tuning.keys = KeyTableFromCents(ReadOffsets());
  options.fileOpenHook = [this](const std::string& pattern) {
    return AskPatternFromWorker(pattern);
  };
  if (m_worker.joinable()) m_worker.join();  // the previous worker has already ended
  // Set here, not by the worker: a second click before the worker runs must act as Stop.
  m_job.m_running = 1;
  m_job.m_progress = 0;
  m_job.m_startTick = std::chrono::steady_clock::now();
  m_convertButton->setText(QString::fromUtf8(kStopText));
  m_workerDone = false;
  m_worker =
      std::thread(&CVelornaDlg::ConversionThreadProc, this, path.toStdString(), std::move(options));
}

void CVelornaDlg::ConversionThreadProc(std::string path, ConversionOptions options) {
  if (m_runner) m_runner(path, options, m_job, m_observer, m_reporter);
  m_workerDone = true;
  QMetaObject::invokeMethod(
      this, [this] { OnWorkerEnded(); }, Qt::QueuedConnection);
}

void CVelornaDlg::OnWorkerEnded() {
  if (m_destroying || !m_worker.joinable()) return;
  m_worker.join();
  m_convertButton->setText(QString::fromUtf8(kConvertText));
  m_job.m_running = 0;
  if (m_closing) {
    m_closing = false;
    SetControlsEnabled(true);
    QDialog::done(m_closeResult);
  }
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
  if (m_job.m_running.load() == 1) {
    // The worker may be waiting for a box on this thread, so the event loop must go on
    // until it ends; the song it reads belongs to the job and goes with it.
    m_job.m_cancel = 1;
    m_closing = true;
    m_closeResult = result;
    SetControlsEnabled(false);
    return;
  }
  QDialog::done(result);
}

void CVelornaDlg::SetControlsEnabled(bool enabled) {
  // Only the controls: a box that is up must stay answerable, or the worker never ends.
  for (QWidget* w : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
    if (!w->isWindow()) w->setEnabled(enabled && w != m_upperC);
  }
}

void CVelornaDlg::OnReset() {
  for (QSpinBox* spin : m_offsetSpins) spin->setValue(0);
}

void CVelornaDlg::OnSaveScale() {
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
  for (size_t pc = 0; pc < m_offsetSpins.size(); ++pc) {
    m_offsetSpins[pc]->setValue(static_cast<int>(std::lround(settings->cents[pc])));
  }
  m_keySelector->setCurrentIndex(settings->keyIndex);
}

void CVelornaDlg::OnHelp() {
  if (m_helpPage.isEmpty() || !QFileInfo(m_helpPage).isFile()) return;
  if (m_helpWindow == nullptr) {
    // A window of the dialog's own, so the modal dialog does not block it.
    auto* browser = new QTextBrowser(this);
    browser->setWindowFlag(Qt::Window);
    browser->setAttribute(Qt::WA_DeleteOnClose);
    browser->setObjectName(QStringLiteral("help"));
    browser->setWindowTitle(QStringLiteral("Velorna ヘルプ"));
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
