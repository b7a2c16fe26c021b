#include "app/dialog_test.h"

#include <QAction>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QTextBrowser>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

#include "app/dialog_settings.h"
#include "app/gui_support.h"
#include "app/velorna_app.h"
#include "support/smf_bytes.h"
#include "support/temp_dir.h"

namespace velorna::test {
namespace {

constexpr std::array<int, 13> kEditIds{1002, 1026, 1004, 1028, 1006, 1008, 1030,
                                       1018, 1032, 1020, 1034, 1022, 1024};
constexpr std::array<int, 12> kInitial{0, 12, 4, 16, -14, -2, -10, 2, 14, -16, 18, -12};

void PutInt32(std::vector<uint8_t>& bytes, int32_t v) {
  const auto u = static_cast<uint32_t>(v);
  for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(u >> (8 * i)));
}

std::vector<uint8_t> ScaleBytes(const std::vector<int32_t>& cents, int32_t key) {
  std::vector<uint8_t> bytes;
  for (int32_t c : cents) PutInt32(bytes, c);
  bytes.insert(bytes.end(), 12, 1);
  PutInt32(bytes, key);
  return bytes;
}

// Records whether a window was blocked by a modal one.
class BlockWatcher : public QObject {
 public:
  // Watches `target`, or every object called `name` that `target` sees events for.
  explicit BlockWatcher(QObject& target, const QString& name = {}) : m_name(name) {
    target.installEventFilter(this);
  }
  bool blocked = false;
  bool eventFilter(QObject* o, QEvent* e) override {
    if (!m_name.isEmpty() && o->objectName() != m_name) return false;
    if (e->type() == QEvent::WindowBlocked) blocked = true;
    if (e->type() == QEvent::WindowUnblocked) blocked = false;
    return false;
  }

 private:
  QString m_name;
};

}  // namespace

void DialogTest::initialValues() {
  auto dialog = MakeDialog();
  QCOMPARE(dialog->windowTitle(), QStringLiteral("Velorna"));
  for (size_t i = 0; i < kSpinIds.size(); ++i) {
    QDoubleSpinBox* spin = Spin(*dialog, i);
    QVERIFY2(spin != nullptr, qPrintable(QString::number(kSpinIds[i])));
    QCOMPARE(spin->minimum(), -100);
    QCOMPARE(spin->maximum(), 100);
    QCOMPARE(spin->value(), i < 12 ? kInitial[i] : 0);
    auto* edit = Control<QLineEdit>(*dialog, kEditIds[i]);
    QVERIFY(edit != nullptr);
    QVERIFY(!edit->isReadOnly());
    QCOMPARE(edit->text(), QString::number(spin->value(), 'f', 1));
    QCOMPARE(spin->isEnabled(), i < 12);
  }
  auto* keys = Control<QComboBox>(*dialog, 1013);
  QStringList names;
  for (int i = 0; i < keys->count(); ++i) names << keys->itemText(i);
  QCOMPARE(names, QStringList({"Cb", "Gb", "Db", "Ab", "Eb", "Bb", "F", "C", "G", "D", "A", "E",
                               "B", "F#", "C#"}));
  QCOMPARE(keys->currentIndex(), 7);
  QCOMPARE(Control<QLabel>(*dialog, 1010)->text(), QStringLiteral("---"));
  QCOMPARE(Control<QLabel>(*dialog, 1016)->text(), QStringLiteral("---"));
  const std::vector<std::pair<int, QString>> buttons{{1, "終了"},         {1001, "変換"},
                                                     {1011, "リセット"},  {1012, ".sca 保存"},
                                                     {1014, ".sca 読込"}, {1015, "ヘルプ"}};
  for (const auto& [id, text] : buttons) QCOMPARE(Control<QPushButton>(*dialog, id)->text(), text);
  QVERIFY(Control<QPushButton>(*dialog, 1)->isDefault());
  QVERIFY(!dialog->windowIcon().isNull());
}

void DialogTest::resetZeroesAndUpperCFollows() {
  auto dialog = MakeDialog();
  auto* keys = Control<QComboBox>(*dialog, 1013);
  keys->setCurrentIndex(3);
  Spin(*dialog, 0)->setValue(37);
  QCOMPARE(Spin(*dialog, 12)->value(), 37);
  QCOMPARE(Control<QLineEdit>(*dialog, 1024)->text(), QStringLiteral("37.0"));
  Click(*dialog, 1011);
  QCOMPARE(Offsets(*dialog), std::vector<double>(12, 0));
  QCOMPARE(Spin(*dialog, 12)->value(), 0);
  QCOMPARE(keys->currentIndex(), 3);
}

void DialogTest::arrowsStepWithinTheRange() {
  auto dialog = MakeDialog();
  QDoubleSpinBox* c = Spin(*dialog, 0);
  QDoubleSpinBox* d = Spin(*dialog, 2);
  c->setFocus();
  QTest::keyClick(c, Qt::Key_Up);
  QCOMPARE(c->value(), 1);
  QCOMPARE(Spin(*dialog, 12)->value(), 1);
  c->setValue(99);
  QTest::keyClick(c, Qt::Key_Up);
  QTest::keyClick(c, Qt::Key_Up);
  QCOMPARE(c->value(), 100);
  QCOMPARE(Spin(*dialog, 12)->value(), 100);

  // The arrow buttons work as well as typing.
  d->setValue(-99);
  const QPoint downArrow(d->width() - 4, d->height() - 4);
  QTest::mouseClick(d, Qt::LeftButton, {}, downArrow);
  QTest::mouseClick(d, Qt::LeftButton, {}, downArrow);
  QCOMPARE(d->value(), -100);
  QTest::mouseClick(d, Qt::LeftButton, {}, QPoint(d->width() - 4, 4));
  QCOMPARE(d->value(), -99);

  // Typing a value: Enter takes it and leaves the dialog open (Exit is its default button).
  c->setFocus();
  c->selectAll();
  QTest::keyClicks(c, "-16");
  QTest::keyClick(c, Qt::Key_Return);
  QCOMPARE(c->value(), -16);
  QCOMPARE(Spin(*dialog, 12)->value(), -16);
  QVERIFY(dialog->isVisible());
  // What lies outside the range cannot be typed: "150" stops at "15".
  d->setFocus();
  d->selectAll();
  QTest::keyClicks(d, "150");
  QTest::keyClick(d, Qt::Key_Tab);
  QCOMPARE(d->value(), 15);
  d->selectAll();
  QTest::keyClicks(d, "x");
  QTest::keyClick(d, Qt::Key_Tab);
  QCOMPARE(d->value(), 15);

  // The upper C only follows.
  QDoubleSpinBox* upper = Spin(*dialog, 12);
  QTest::keyClick(upper, Qt::Key_Up);
  QTest::mouseClick(upper, Qt::LeftButton, {}, QPoint(upper->width() - 4, 4));
  QCOMPARE(upper->value(), -16);
}

void DialogTest::keySelectorLeavesOffsetsAlone() {
  auto dialog = MakeDialog();
  auto* keys = Control<QComboBox>(*dialog, 1013);
  keys->setFocus();
  for (int i = 0; i < 20; ++i) QTest::keyClick(keys, Qt::Key_Down);
  QCOMPARE(keys->currentIndex(), 14);
  QCOMPARE(Offsets(*dialog), std::vector<double>(kInitial.begin(), kInitial.end()));
  QCOMPARE(Spin(*dialog, 12)->value(), 0);
}

void DialogTest::saveScaleFiles() {
  auto dialog = MakeDialog();
  TempDir dir;
  const auto path = dir / "a.sca";
  PathPrompt asked{};
  dialog->SetPathAsker([&](PathPrompt prompt, const QString&) {
    asked = prompt;
    return QString::fromStdString(path.string());
  });
  Click(*dialog, 1012);
  QCOMPARE(asked, PathPrompt::kSaveScale);
  QCOMPARE(ReadBytes(path), ScaleBytes({0, 12, 4, 16, -14, -2, -10, 2, 14, -16, 18, -12}, 7));

  // Over an existing file, after Reset and with nothing selected.
  Click(*dialog, 1011);
  Control<QComboBox>(*dialog, 1013)->setCurrentIndex(-1);
  Click(*dialog, 1012);
  QCOMPARE(ReadBytes(path), ScaleBytes(std::vector<int32_t>(12, 0), -1));
}

void DialogTest::failedSaveIsReported() {
  auto dialog = MakeDialog();
  TempDir dir;
  const auto existing = dir / "keep.sca";
  WriteBytes(existing, {1, 2, 3});
  ModalAnswerer answerer;
  dialog->SetPathAsker([&](PathPrompt, const QString&) {
    return QString::fromStdString((dir / "no-such-folder" / "x.sca").string());
  });
  Click(*dialog, 1012);
  QCOMPARE(answerer.texts, QStringList{"設定ファイルを保存できませんでした。"});

  // Cancelling the file dialog does nothing at all.
  dialog->SetPathAsker([](PathPrompt, const QString&) { return QString(); });
  Click(*dialog, 1012);
  Click(*dialog, 1014);
  QCOMPARE(answerer.texts.size(), 1);
  QCOMPARE(ReadBytes(existing), (std::vector<uint8_t>{1, 2, 3}));
}

void DialogTest::loadScaleFiles() {
  auto dialog = MakeDialog();
  TempDir dir;
  const auto path = dir / "b.sca";
  WriteBytes(path, ScaleBytes({-5, 6, -7, 8, -9, 10, -11, 12, -13, 14, -15, 16}, 2));
  dialog->SetPathAsker([&](PathPrompt prompt, const QString&) {
    return prompt == PathPrompt::kOpenScale ? QString::fromStdString(path.string()) : QString();
  });
  Click(*dialog, 1014);
  QCOMPARE(Offsets(*dialog),
           (std::vector<double>{-5, 6, -7, 8, -9, 10, -11, 12, -13, 14, -15, 16}));
  QCOMPARE(Spin(*dialog, 12)->value(), -5);
  QCOMPARE(Control<QComboBox>(*dialog, 1013)->currentIndex(), 2);

  // Out-of-range values are clamped; an unknown key leaves nothing selected.
  WriteBytes(path, ScaleBytes({500, -101, 100, -100, 0, 0, 0, 0, 0, 0, 0, 2147483647}, 15));
  Click(*dialog, 1014);
  QCOMPARE(Offsets(*dialog), (std::vector<double>{100, -100, 100, -100, 0, 0, 0, 0, 0, 0, 0, 100}));
  QCOMPARE(Spin(*dialog, 12)->value(), 100);
  QCOMPARE(Control<QComboBox>(*dialog, 1013)->currentIndex(), -1);
  QCOMPARE(Control<QComboBox>(*dialog, 1013)->currentText(), QString());

  // A missing file is silent and changes nothing.
  ModalAnswerer answerer;
  std::filesystem::remove(path);
  Click(*dialog, 1014);
  QCOMPARE(Spin(*dialog, 0)->value(), 100);
  QVERIFY(answerer.texts.isEmpty());
}

void DialogTest::shortScaleFileChangesNothing() {
  auto dialog = MakeDialog();
  TempDir dir;
  const auto path = dir / "short.sca";
  auto bytes = ScaleBytes(std::vector<int32_t>(12, 50), 1);
  bytes.pop_back();
  WriteBytes(path, bytes);
  dialog->SetPathAsker(
      [&](PathPrompt, const QString&) { return QString::fromStdString(path.string()); });
  ModalAnswerer answerer;
  Click(*dialog, 1014);
  QCOMPARE(answerer.texts, QStringList{"設定ファイルの形式が正しくありません。"});
  QCOMPARE(Offsets(*dialog), std::vector<double>(kInitial.begin(), kInitial.end()));
  QCOMPARE(Control<QComboBox>(*dialog, 1013)->currentIndex(), 7);
}

void DialogTest::layoutIsAnOctaveWithoutOverlaps() {
  auto dialog = MakeDialog();
  QApplication::processEvents();
  QVERIFY(dialog->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly).size() >= 13 + 9);
  const QString problem = LayoutProblem(*dialog);
  QVERIFY2(problem.isEmpty(), qPrintable(problem));
  // White keys in one row left to right, each black key above and between its neighbours.
  const std::array<size_t, 8> white{0, 2, 4, 5, 7, 9, 11, 12};
  for (size_t k = 1; k < white.size(); ++k) {
    QCOMPARE(Spin(*dialog, white[k])->y(), Spin(*dialog, 0)->y());
    QVERIFY(Spin(*dialog, white[k])->x() > Spin(*dialog, white[k - 1])->x());
  }
  for (size_t black : {1, 3, 6, 8, 10}) {
    const QRect b = Spin(*dialog, black)->geometry();
    QVERIFY(b.bottom() < Spin(*dialog, 0)->y());
    QVERIFY(b.center().x() > Spin(*dialog, black - 1)->geometry().center().x());
    QVERIFY(b.center().x() < Spin(*dialog, black + 1)->geometry().center().x());
  }
}

// From the least size the dialog allows to a large window: nothing overlaps or is cut, the
// one-line fields keep their height, and the room goes to the list of songs.
void DialogTest::layoutHoldsFromTheLeastToALargeSize() {
  auto dialog = MakeDialog();
  dialog->OpenSongs({QStringLiteral("/music/a.mid"), QStringLiteral("/music/b.mid")});
  QApplication::processEvents();
  const char* const oneLine[] = {"song",      "1010",         "1016",   "remaining", "output",
                                 "soundFont", "outputFolder", "preset", "a4"};
  std::vector<int> heights;
  int listHeight = 0;
  for (const QSize size : {dialog->minimumSize(), QSize(1380, 980)}) {
    dialog->resize(size);
    QApplication::processEvents();
    QCOMPARE(dialog->size(), size);
    const QString problem = LayoutProblem(*dialog);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    std::vector<int> now;
    for (const char* name : oneLine) now.push_back(Control<QWidget>(*dialog, name)->height());
    if (heights.empty()) {
      heights = now;
    } else {
      QCOMPARE(now, heights);
    }
    const int list = Control<QWidget>(*dialog, "songs")->height();
    QVERIFY(list > listHeight);
    listHeight = list;
  }
  // The least size is a usable window, not a squeezed one.
  QVERIFY(dialog->minimumWidth() <= 1024 && dialog->minimumHeight() <= 768);
}

void DialogTest::helpOpensItsOwnWindow() {
  auto dialog = MakeDialog();
  dialog->SetHelpPage(QString());
  Click(*dialog, 1015);
  QVERIFY(dialog->HelpWindow() == nullptr);

  dialog->SetHelpPage(QStringLiteral(VELORNA_HELP_PAGE));
  dialog->hide();
  dialog->setWindowModality(Qt::ApplicationModal);
  dialog->show();
  // A window of its own is blocked by the modal dialog; the help window must not be.
  QWidget stranger;
  BlockWatcher strangerBlocked(stranger);
  stranger.show();
  QApplication::processEvents();
  QVERIFY(strangerBlocked.blocked);

  BlockWatcher helpBlocked(*qApp, QStringLiteral("help"));
  Click(*dialog, 1015);
  auto* browser = qobject_cast<QTextBrowser*>(dialog->HelpWindow());
  QVERIFY(browser != nullptr);
  QApplication::processEvents();
  QVERIFY(browser->isVisible());
  QVERIFY(browser->isWindow());
  QVERIFY(browser->toPlainText().contains(QStringLiteral("変換のしかた")));
  QVERIFY(!helpBlocked.blocked);
  browser->close();
}

void DialogTest::aboutBoxFromTheContextMenu() {
  auto dialog = MakeDialog();
  QAction* about = dialog->findChild<QAction*>(QStringLiteral("16"));
  QVERIFY(about != nullptr);
  QCOMPARE(about->text(), QStringLiteral("バージョン情報 Velorna(&A)..."));
  QVERIFY(dialog->actions().contains(about));
  QCOMPARE(dialog->contextMenuPolicy(), Qt::ActionsContextMenu);
  QString shown;
  ModalAnswerer answerer;
  answerer.other = [&](QDialog& box) {
    if (auto* version = box.findChild<QLabel*>(QStringLiteral("version"))) shown = version->text();
    box.accept();
  };
  about->trigger();
  QVERIFY(shown.startsWith(QStringLiteral("Velorna Version ")));
}

void DialogTest::settingsAreRememberedUntilTheDefaults() {
  TempDir dir;
  const QString soundFont = QString::fromStdString((dir / "my.sf2").string());
  const QString folder = QString::fromStdString(dir.path().string());
  {
    auto dialog = MakeDialog();
    dialog->SetPathAsker([&](PathPrompt prompt, const QString&) {
      return prompt == PathPrompt::kOpenSoundFont ? soundFont : folder;
    });
    Spin(*dialog, 3)->setValue(-33);
    Control<QComboBox>(*dialog, 1013)->setCurrentIndex(9);
    Click(*dialog, "chooseSoundFont");
    Click(*dialog, "chooseOutputFolder");
    dialog->close();
  }
  std::vector<double> changed(kInitial.begin(), kInitial.end());
  changed[3] = -33;
  auto dialog = std::make_unique<CVelornaDlg>(ConversionRunner{});
  QCOMPARE(Offsets(*dialog), changed);
  QCOMPARE(Control<QComboBox>(*dialog, 1013)->currentIndex(), 9);
  QCOMPARE(Control<QLineEdit>(*dialog, "soundFont")->text(), soundFont);
  QCOMPARE(Control<QLineEdit>(*dialog, "outputFolder")->text(), folder);

  // The way back: the initial values now and at the next start.
  Click(*dialog, "defaults");
  QCOMPARE(Offsets(*dialog), std::vector<double>(kInitial.begin(), kInitial.end()));
  QCOMPARE(Control<QComboBox>(*dialog, 1013)->currentIndex(), 7);
  QVERIFY(Control<QLineEdit>(*dialog, "soundFont")->text().isEmpty());
  dialog.reset();
  auto fresh = std::make_unique<CVelornaDlg>(ConversionRunner{});
  QCOMPARE(Offsets(*fresh), std::vector<double>(kInitial.begin(), kInitial.end()));
  QVERIFY(Control<QLineEdit>(*fresh, "outputFolder")->text().isEmpty());
}

void DialogTest::convertAsksForMidiFiles() {
  auto dialog = MakeDialog();
  dialog->SetSongsAsker(AskSongsWithFileDialog);
  QStringList filters;
  QFileDialog::FileMode mode{};
  ModalAnswerer answerer;
  answerer.other = [&](QDialog& d) {
    if (auto* files = qobject_cast<QFileDialog*>(&d)) {
      filters = files->nameFilters();
      mode = files->fileMode();
    }
    d.reject();
  };
  Click(*dialog, 1001);
  QCOMPARE(filters, QStringList{"SMF files (*.mid)"});
  QCOMPARE(mode, QFileDialog::ExistingFiles);
  QVERIFY(!dialog->IsConverting());
  QCOMPARE(Control<QPushButton>(*dialog, 1001)->text(), QStringLiteral("変換"));
}

void DialogTest::qtSpeaksJapanese() {
  auto* app = static_cast<CVelornaApp*>(QCoreApplication::instance());
  QVERIFY(app->HasJapaneseTranslations());
  QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("キャンセル"));
}

}  // namespace velorna::test
