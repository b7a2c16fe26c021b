#include "app/conversion_test.h"

#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QObject>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <filesystem>
#include <memory>

#include "app/dialog_settings.h"
#include "app/gui_support.h"
#include "app/short_song.h"
#include "app/velorna_dlg.h"
#include "support/smf_bytes.h"
#include "support/temp_dir.h"

namespace velorna::test {

// Convert and Stop with the real conversion job on short songs.
class ConversionTest : public QObject {
  Q_OBJECT

 private slots:
  void convertShowsProgressAndEnds();
  void stopTwiceWritesWhatWasMixed();
  void doubleClickStartsOneJob();
  void closeWhileAMessageBoxIsUp();
  void closeDuringARunAsksFirst();
  void aDroppedBatchEndsWithASummary();
  void destroyingTheDialogStopsTheJob();
  void aSongNamedLikeItsOutputIsNotWrittenOver();
  void existingOutputsAreReplacedOrSkippedAsAnswered();
};

namespace {

constexpr char kEndMessage[] = "変換が終了しました。";
constexpr int kJobTimeoutMs = 180000;

// The closing box keeps its words, and the output's level follows on a line of its own.
void ExpectEndBoxWithLevel(const QStringList& texts) {
  QCOMPARE(texts.size(), 1);
  const QStringList lines = texts.front().split(u'\n');
  QCOMPARE(lines.front(), QString::fromUtf8(kEndMessage));
  QVERIFY2(lines.size() == 2 && lines.back().contains(QStringLiteral("dBFS")),
           qPrintable(texts.front()));
}

// A dialog running the real job; its file dialog answers with `songs` and counts the asks.
struct JobDialog {
  explicit JobDialog(const std::filesystem::path& song) : JobDialog(QStringList{Path(song)}) {}
  explicit JobDialog(const QStringList& songs) {
    ClearDialogSettings();
    dialog = std::make_unique<CVelornaDlg>(RunConversion);
    dialog->SetSongsAsker([this, songs](const QString&) {
      ++asked;
      return cancelNext ? QStringList() : songs;
    });
    dialog->SetPathAsker([](PathPrompt, const QString&) { return QString(); });
    dialog->show();
  }
  static QString Path(const std::filesystem::path& path) {
    return QString::fromStdString(path.string());
  }
  QPushButton& convert() const { return *Control<QPushButton>(*dialog, 1001); }
  QString progress() const { return Control<QLabel>(*dialog, 1010)->text(); }
  QString elapsed() const { return Control<QLabel>(*dialog, 1016)->text(); }
  // Clicks Convert and waits until the note passes have begun.
  bool StartAndWaitForNotes() {
    QTest::mouseClick(&convert(), Qt::LeftButton);
    const QRegularExpression started(QStringLiteral("^[1-9]\\d*％$"));
    return QTest::qWaitFor([&] { return started.match(progress()).hasMatch(); }, kJobTimeoutMs);
  }
  bool WaitUntilIdle() const {
    return QTest::qWaitFor([this] { return !dialog->IsConverting(); }, kJobTimeoutMs);
  }

  std::unique_ptr<CVelornaDlg> dialog;
  int asked = 0;
  bool cancelNext = false;
};

// Every distinct text the progress field shows, in order.
class FieldSampler : public QObject {
 public:
  explicit FieldSampler(QLabel& field) : seen{field.text()} {
    connect(&m_timer, &QTimer::timeout, this, [this, &field] {
      if (seen.isEmpty() || seen.back() != field.text()) seen << field.text();
    });
    m_timer.start(1);
  }
  QStringList seen;

 private:
  QTimer m_timer;
};

// The list's songs as "name: state", in order.
QStringList ListedSongs(QWidget& dialog) {
  QStringList rows;
  auto* list = Control<QTreeWidget>(dialog, "songs");
  for (int i = 0; i < list->topLevelItemCount(); ++i)
    rows << list->topLevelItem(i)->text(0) + QStringLiteral(": ") + list->topLevelItem(i)->text(1);
  return rows;
}

bool IsWav(const std::filesystem::path& path) {
  const auto bytes = ReadBytes(path);
  return bytes.size() > 44 && std::string(bytes.begin(), bytes.begin() + 4) == "RIFF" &&
         std::string(bytes.begin() + 8, bytes.begin() + 12) == "WAVE";
}

}  // namespace

void ConversionTest::convertShowsProgressAndEnds() {
  TempDir dir;
  const auto song = dir / "song.mid";
  WriteShortSong(song, {.notes = 6});
  JobDialog job(song);
  ModalAnswerer answerer;
  FieldSampler sampler(*Control<QLabel>(*job.dialog, 1010));

  QTest::mouseClick(&job.convert(), Qt::LeftButton);
  QCOMPARE(job.convert().text(), QStringLiteral("停止"));
  QVERIFY(job.dialog->IsConverting());
  QVERIFY(job.WaitUntilIdle());
  QApplication::processEvents();

  ExpectEndBoxWithLevel(answerer.texts);
  QCOMPARE(job.convert().text(), QStringLiteral("変換"));
  QCOMPARE(job.progress(), QStringLiteral("100％"));
  QVERIFY2(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d$")).match(job.elapsed()).hasMatch(),
           qPrintable(job.elapsed()));
  QVERIFY(IsWav(dir / "song.wav"));
  // The field went up through the passes: "---", then percentages that never fall.
  QVERIFY2(sampler.seen.size() >= 3, qPrintable(sampler.seen.join(' ')));
  QCOMPARE(sampler.seen.front(), QStringLiteral("---"));
  int last = -1;
  for (qsizetype i = 1; i < sampler.seen.size(); ++i) {
    const auto m = QRegularExpression(QStringLiteral("^(\\d+)％$")).match(sampler.seen[i]);
    QVERIFY2(m.hasMatch(), qPrintable(sampler.seen[i]));
    QVERIFY(m.captured(1).toInt() >= last);
    last = m.captured(1).toInt();
  }

  // Convert again asks for a new file; cancelling it starts nothing.
  job.cancelNext = true;
  QTest::mouseClick(&job.convert(), Qt::LeftButton);
  QCOMPARE(job.asked, 2);
  QVERIFY(!job.dialog->IsConverting());
  QCOMPARE(job.progress(), QStringLiteral("100％"));
}

void ConversionTest::stopTwiceWritesWhatWasMixed() {
  TempDir dir;
  WriteShortSong(dir / "long.mid", {.notes = 120});
  JobDialog job(dir / "long.mid");
  ModalAnswerer answerer;
  QVERIFY(job.StartAndWaitForNotes());
  QTest::mouseClick(&job.convert(), Qt::LeftButton);
  QTest::mouseClick(&job.convert(), Qt::LeftButton);
  QCOMPARE(job.asked, 1);
  QVERIFY(job.WaitUntilIdle());
  QApplication::processEvents();

  ExpectEndBoxWithLevel(answerer.texts);
  QCOMPARE(job.convert().text(), QStringLiteral("変換"));
  // Stopped, with how much of the song was written, never 100 %.
  QVERIFY2(QRegularExpression(QStringLiteral("^停止 \\d\\d:\\d\\d / \\d\\d:\\d\\d$"))
               .match(job.progress())
               .hasMatch(),
           qPrintable(job.progress()));
  QVERIFY(IsWav(dir / "long.wav"));
}

void ConversionTest::doubleClickStartsOneJob() {
  TempDir dir;
  const auto song = dir / "twice.mid";
  WriteShortSong(song, {.notes = 3});
  JobDialog job(song);
  ModalAnswerer answerer;

  // The second click lands before the worker has run a step: it is already Stop, and
  // nothing was mixed, so nothing is written.
  QTest::mouseClick(&job.convert(), Qt::LeftButton);
  QTest::mouseClick(&job.convert(), Qt::LeftButton);
  QCOMPARE(job.asked, 1);
  QVERIFY(job.WaitUntilIdle());
  QApplication::processEvents();
  QVERIFY(answerer.texts.isEmpty());
  QVERIFY(!std::filesystem::exists(dir / "twice.wav"));
}

void ConversionTest::closeWhileAMessageBoxIsUp() {
  TempDir dir;
  const auto song = dir / "noted.mid";
  // A long text event: loading the song shows a message while the job runs.
  WriteShortSong(song, {.notes = 60, .textBytes = 400});
  JobDialog job(song);
  ModalAnswerer answerer;
  QString first;
  bool closed = true, visible = false, controlsOff = false, closing = false;
  int ticksUp = 0;
  bool convertingWithBoxUp = false;
  answerer.ready = [&](QMessageBox& box) {
    if (first.isEmpty()) {
      first = box.text();
      // Closed from the event loop, where the close's own question can be answered. The
      // close waits: the dialog stays, its controls off, while the worker waits.
      QTimer::singleShot(0, job.dialog.get(), [&] {
        closed = job.dialog->close();
        visible = job.dialog->isVisible();
        controlsOff =
            !job.convert().isEnabled() && !Control<QPushButton>(*job.dialog, 1)->isEnabled();
        closing = job.dialog->IsClosing();
      });
      return false;
    }
    convertingWithBoxUp = job.dialog->IsConverting();
    return ++ticksUp > 5;
  };

  QTest::mouseClick(&job.convert(), Qt::LeftButton);
  QVERIFY(QTest::qWaitFor([&] { return !job.dialog->isVisible(); }, kJobTimeoutMs));
  QVERIFY(!first.isEmpty());
  QVERIFY(first != kEndMessage);
  QVERIFY(!closed);
  QVERIFY(visible);
  QVERIFY(controlsOff);
  QVERIFY(closing);
  QVERIFY(convertingWithBoxUp);
  QVERIFY(!job.dialog->IsConverting());
  QCOMPARE(job.dialog->result(), int(QDialog::Rejected));
  QTest::qWait(50);
  // The question, then the box that was up: nothing after the close, no end message.
  QCOMPARE(answerer.texts.size(), 2);
  QCOMPARE(answerer.texts.back(), first);
}

void ConversionTest::closeDuringARunAsksFirst() {
  TempDir dir;
  WriteShortSong(dir / "asked.mid", {.notes = 120});
  JobDialog job(dir / "asked.mid");
  ModalAnswerer answerer;
  QVERIFY(job.StartAndWaitForNotes());

  // Answered "no": the conversion goes on and the dialog stays.
  answerer.answerYes = false;
  QVERIFY(!job.dialog->close());
  QCOMPARE(answerer.texts.size(), 1);
  QVERIFY(answerer.texts[0].contains(QStringLiteral("中止して閉じますか")));
  QVERIFY(job.dialog->isVisible());
  QVERIFY(job.dialog->IsConverting());
  QVERIFY(!job.dialog->IsClosing());

  // Esc asks the same; "yes" stops the job and closes once it has ended.
  answerer.answerYes = true;
  QTest::keyClick(job.dialog.get(), Qt::Key_Escape);
  QCOMPARE(answerer.texts.size(), 2);
  QVERIFY(QTest::qWaitFor([&] { return !job.dialog->isVisible(); }, kJobTimeoutMs));
  QVERIFY(!job.dialog->IsConverting());
  QCOMPARE(job.dialog->result(), int(QDialog::Rejected));
  QVERIFY(IsWav(dir / "asked.wav"));
  QTest::qWait(50);
  QCOMPARE(answerer.texts.size(), 2);  // no end message after the close
}

void ConversionTest::aDroppedBatchEndsWithASummary() {
  TempDir dir;
  WriteShortSong(dir / "one.mid", {.notes = 3});
  WriteBytes(dir / "broken.mid", {'M', 'T', 'h', 'd'});
  WriteShortSong(dir / "two.mid", {.notes = 4});
  WriteBytes(dir / "notes.txt", {'x'});
  std::filesystem::create_directory(dir / "out");
  JobDialog job(QStringList{});
  Control<QLineEdit>(*job.dialog, "outputFolder")->setText(JobDialog::Path(dir / "out"));
  ModalAnswerer answerer;
  FieldSampler songs(*Control<QLabel>(*job.dialog, "song"));

  // Dropped on the dialog, with a file that is no song, which is left out.
  QMimeData dropped;
  dropped.setUrls({QUrl::fromLocalFile(JobDialog::Path(dir / "one.mid")),
                   QUrl::fromLocalFile(JobDialog::Path(dir / "notes.txt")),
                   QUrl::fromLocalFile(JobDialog::Path(dir / "broken.mid")),
                   QUrl::fromLocalFile(JobDialog::Path(dir / "two.mid"))});
  const QPoint at = job.dialog->rect().center();
  QDragEnterEvent enter(at, Qt::CopyAction, &dropped, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(job.dialog.get(), &enter);
  QVERIFY(enter.isAccepted());
  QDropEvent drop(at, Qt::CopyAction, &dropped, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(job.dialog.get(), &drop);
  // The songs wait in the list, the tuning still open to change, until Convert.
  QTest::qWait(50);
  QVERIFY(!job.dialog->IsConverting());
  QCOMPARE(ListedSongs(*job.dialog),
           QStringList({"one.mid: 待機中", "broken.mid: 待機中", "two.mid: 待機中"}));
  QVERIFY(Control<QDoubleSpinBox>(*job.dialog, 1003)->isEnabled());
  QTest::mouseClick(&job.convert(), Qt::LeftButton);
  QVERIFY(job.dialog->IsConverting());
  QCOMPARE(job.asked, 0);
  // The tuning cannot change under a running job; Stop and Exit stay.
  QVERIFY(!Control<QDoubleSpinBox>(*job.dialog, 1003)->isEnabled());
  QVERIFY(!Control<QLineEdit>(*job.dialog, "soundFont")->isEnabled());
  QVERIFY(Control<QPushButton>(*job.dialog, 1)->isEnabled());
  QString problem = LayoutProblem(*job.dialog);
  QVERIFY2(problem.isEmpty(), qPrintable(problem));
  QVERIFY(job.WaitUntilIdle());
  QVERIFY(QTest::qWaitFor([&] { return !answerer.texts.isEmpty(); }, kJobTimeoutMs));

  // One box for the whole batch: the summary, naming the song that failed.
  QCOMPARE(answerer.texts.size(), 1);
  const QString summary = answerer.texts[0];
  QVERIFY2(summary.startsWith(QStringLiteral("3 曲のうち 変換 2 曲、失敗 1 曲。")),
           qPrintable(summary));
  QVERIFY2(summary.contains(QStringLiteral("broken.mid: 変換できませんでした。（")),
           qPrintable(summary));
  QVERIFY(IsWav(dir / "out" / "one.wav"));
  QVERIFY(IsWav(dir / "out" / "two.wav"));
  QVERIFY(!std::filesystem::exists(dir / "one.wav"));
  QVERIFY2(songs.seen.contains(QStringLiteral("one.mid（1 / 3 曲目）")),
           qPrintable(songs.seen.join('|')));
  QVERIFY(songs.seen.contains(QStringLiteral("two.mid（3 / 3 曲目）")));
  QCOMPARE(ListedSongs(*job.dialog),
           QStringList({"one.mid: 完了 → one.wav", "broken.mid: 失敗", "two.mid: 完了 → two.wav"}));
  // The last WAV is offered to open and play; the tuning is back.
  QCOMPARE(Control<QLineEdit>(*job.dialog, "output")->text(),
           JobDialog::Path(dir / "out" / "two.wav"));
  QVERIFY(Control<QPushButton>(*job.dialog, "openFolder")->isEnabled());
  QVERIFY(Control<QDoubleSpinBox>(*job.dialog, 1003)->isEnabled());
  QUrl opened;
  job.dialog->SetUrlOpener([&](const QUrl& url) {
    opened = url;
    return true;
  });
  QTest::mouseClick(Control<QPushButton>(*job.dialog, "openFolder"), Qt::LeftButton);
  QCOMPARE(opened, QUrl::fromLocalFile(JobDialog::Path(dir / "out")));
  // Without an audio device the play button says so rather than failing.
  auto* play = Control<QPushButton>(*job.dialog, "play");
  QVERIFY(play->isEnabled() || play->text().contains(QStringLiteral("音声出力なし")));
  problem = LayoutProblem(*job.dialog);
  QVERIFY2(problem.isEmpty(), qPrintable(problem));
}

void ConversionTest::destroyingTheDialogStopsTheJob() {
  TempDir dir;
  WriteShortSong(dir / "gone.mid", {.notes = 120});
  JobDialog job(dir / "gone.mid");
  ModalAnswerer answerer;
  QVERIFY(job.StartAndWaitForNotes());
  job.dialog.reset();  // waits for the worker, which stops at its next event
  QVERIFY(IsWav(dir / "gone.wav"));
  QTest::qWait(50);
  QVERIFY(answerer.texts.isEmpty());
}

void ConversionTest::aSongNamedLikeItsOutputIsNotWrittenOver() {
  TempDir dir;
  const auto song = dir / "song.wav";
  WriteShortSong(song, {.notes = 2});
  const auto before = ReadBytes(song);
  JobDialog job(song);
  ModalAnswerer answerer;
  QTest::mouseClick(&job.convert(), Qt::LeftButton);
  QVERIFY(!job.dialog->IsConverting());
  QCOMPARE(answerer.texts.size(), 1);
  QVERIFY2(answerer.texts[0].count(QString::fromStdString(song.string())) == 2,
           qPrintable(answerer.texts[0]));
  QCOMPARE(job.convert().text(), QStringLiteral("変換"));
  QVERIFY(ReadBytes(song) == before);
}

// Converting where outputs exist asks first: "skip existing" leaves them as they were and
// converts the rest, "replace all" writes them all, cancelling converts nothing.
void ConversionTest::existingOutputsAreReplacedOrSkippedAsAnswered() {
  TempDir dir;
  WriteShortSong(dir / "old.mid", {.notes = 2});
  WriteShortSong(dir / "new.mid", {.notes = 2});
  const Bytes kept{'k', 'e', 'p', 't'};
  WriteBytes(dir / "old.wav", kept);
  const QStringList songs{JobDialog::Path(dir / "old.mid"), JobDialog::Path(dir / "new.mid")};
  JobDialog job(songs);
  ModalAnswerer answerer;
  job.dialog->OpenSongs(songs);
  struct Answer {
    QMessageBox::StandardButton button;
    bool oldWritten, newWritten;
    QStringList listed;
  };
  const std::vector<Answer> answers{
      {QMessageBox::Cancel, false, false, {"old.mid: 待機中", "new.mid: 待機中"}},
      {QMessageBox::No,
       false,
       true,
       {"old.mid: 出力があるため飛ばしました", "new.mid: 完了 → new.wav"}},
      {QMessageBox::Yes, true, true, {"old.mid: 完了 → old.wav", "new.mid: 完了 → new.wav"}},
  };
  for (const Answer& a : answers) {
    if (a.button != QMessageBox::Cancel) job.dialog->OpenSongs(songs);
    std::filesystem::remove(dir / "new.wav");
    if (a.button == QMessageBox::Yes) WriteBytes(dir / "new.wav", kept);
    QString question;
    answerer.ready = [&](QMessageBox& box) {
      if (box.objectName() != QStringLiteral("overwrite")) return true;
      question = box.text();
      box.button(a.button)->click();
      return false;
    };
    QTest::mouseClick(&job.convert(), Qt::LeftButton);
    QVERIFY(job.WaitUntilIdle());
    QTest::qWait(50);
    QVERIFY2(question.contains(JobDialog::Path(dir / "old.wav")), qPrintable(question));
    QCOMPARE(question.contains(JobDialog::Path(dir / "new.wav")), a.button == QMessageBox::Yes);
    QCOMPARE(ReadBytes(dir / "old.wav") != kept, a.oldWritten);
    QCOMPARE(IsWav(dir / "new.wav"), a.newWritten);
    QCOMPARE(ListedSongs(*job.dialog), a.listed);
  }
  QCOMPARE(job.asked, 0);
}

int RunConversionTests(int argc, char** argv) {
  ConversionTest test;
  return QTest::qExec(&test, argc, argv);
}

}  // namespace velorna::test

#include "conversion_test.moc"
