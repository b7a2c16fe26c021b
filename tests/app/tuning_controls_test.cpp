// The dialog's tuning and output controls: presets laid on the key, fractional offsets that
// reach the job, Scala import and export, and what a .sca file would lose.
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <cmath>
#include <fstream>
#include <set>

#include "app/gui_support.h"
#include "support/scala_text.h"
#include "support/temp_dir.h"
#include "tuning/scala.h"
#include "tuning/tuning_choice.h"

namespace velorna::test {
namespace {

constexpr int kKeyD = 9;

void ChoosePreset(QWidget& dialog, const char* displayName) {
  auto* presets = Control<QComboBox>(dialog, "preset");
  presets->setCurrentIndex(presets->findText(QString::fromUtf8(displayName)));
}

void WriteText(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

}  // namespace

class TuningControlsTest : public QObject {
  Q_OBJECT

 private slots:
  // Just intonation on D: the tonic keeps its pitch, every other pitch class sits at its
  // ratio above D. Saving it as a .sca, which cannot hold it, names the losses and offers
  // Scala files that read back to the same tuning; declining saves rounded cents. A later
  // key moves the preset; typing turns it into the fields' own values, which a key leaves.
  void presetIsLaidOnTheKeyAndSavedWhole() {
    auto dialog = MakeDialog();
    TempDir dir;
    const auto scl = dir / "out.scl";
    const auto sca = dir / "out.sca";
    dialog->SetPathAsker([&](PathPrompt prompt, const QString&) {
      return QString::fromStdString((prompt == PathPrompt::kSaveScala ? scl : sca).string());
    });
    Control<QComboBox>(*dialog, 1013)->setCurrentIndex(kKeyD);
    ChoosePreset(*dialog, PresetInfoOf(PresetId::kJust).displayName);
    // 1/1 16/15 9/8 6/5 5/4 4/3 45/32 3/2 8/5 5/3 9/5 15/8 above D, C..B, to 0.1 cent.
    const std::vector<double> justOnD{17.6,  -11.7, 0.0,  11.7, 3.9,  15.6,
                                      -13.7, -2.0,  -9.8, 2.0,  13.7, -15.6};
    QCOMPARE(Offsets(*dialog), justOnD);

    Control<QDoubleSpinBox>(*dialog, "a4")->setValue(415);
    ModalAnswerer answerer;
    Click(*dialog, 1012);
    QCOMPARE(answerer.texts.size(), 1);
    QVERIFY(answerer.texts[0].contains(QStringLiteral("1 セント未満")));
    QVERIFY(answerer.texts[0].contains(QStringLiteral("415.0 Hz")));
    QVERIFY(!std::filesystem::exists(sca));
    const auto scale = LoadScl(scl.string());
    const auto map = LoadKbm((dir / "out.kbm").string());
    QVERIFY(scale.value && map.value);
    const KeyTable read = KeyTableFromScala(*scale.value, *map.value);
    const KeyTable want = BuildTuning({PresetId::kJust, kKeyD, 415}).keys;
    for (size_t key = 0; key < read.size(); ++key)
      QVERIFY2(std::abs(read[key].value_or(1e9) - want[key].value_or(-1e9)) < 1e-3,
               qPrintable(QString::number(key)));
    answerer.answerYes = false;
    Click(*dialog, 1012);
    QCOMPARE(answerer.texts.size(), 2);
    const auto saved = LoadScaleFile(sca.string());
    QVERIFY(saved.has_value());
    for (size_t pc = 0; pc < 12; ++pc)
      QCOMPARE(saved->cents[pc], std::round(Spin(*dialog, pc)->value()));

    Control<QComboBox>(*dialog, 1013)->setCurrentIndex(7);  // C
    QCOMPARE(Spin(*dialog, 1)->value(), 11.7);
    QCOMPARE(Spin(*dialog, 9)->value(), -15.6);
    Spin(*dialog, 4)->setValue(-10);
    QCOMPARE(Control<QComboBox>(*dialog, "preset")->currentIndex(), 0);
    const std::vector<double> typed = Offsets(*dialog);
    Control<QComboBox>(*dialog, 1013)->setCurrentIndex(kKeyD);
    QCOMPARE(Offsets(*dialog), typed);
  }

  // A typed 11.7 stays 11.7 in the field, in the job's tuning and after a restart; so do the
  // output's type, depth and rate.
  void fractionalOffsetsReachTheJob() {
    std::optional<ConversionOptions> seen;
    auto dialog = MakeDialog([&](const std::string&, const ConversionOptions& options, JobControl&,
                                 JobObserver&, Reporter&) {
      seen = options;
      return ConversionResult::kNotWritten;
    });
    QDoubleSpinBox* cSharp = Spin(*dialog, 1);
    cSharp->setFocus();
    cSharp->selectAll();
    QTest::keyClicks(cSharp, "11.7");
    QTest::keyClick(cSharp, Qt::Key_Return);
    QCOMPARE(cSharp->value(), 11.7);
    // Enter takes a typed reference pitch and leaves the dialog open.
    auto* a4 = Control<QDoubleSpinBox>(*dialog, "a4");
    a4->setFocus();
    a4->selectAll();
    QTest::keyClicks(a4, "415");
    QTest::keyClick(a4, Qt::Key_Return);
    QVERIFY(dialog->isVisible());
    Control<QCheckBox>(*dialog, "adaptive")->setChecked(true);
    Control<QComboBox>(*dialog, "outputType")->setCurrentIndex(1);
    Control<QComboBox>(*dialog, "bits")->setCurrentIndex(1);
    Control<QComboBox>(*dialog, "rate")->setCurrentIndex(1);
    TempDir dir;
    dialog->ConvertSongs({QString::fromStdString((dir / "song.mid").string())});
    QTRY_VERIFY(!dialog->IsConverting());
    QVERIFY(seen.has_value());
    const double shift = 1200 * std::log2(415.0 / 440);
    QVERIFY(std::abs(*seen->tuning.keys[61] - (11.7 + shift)) < 1e-9);
    QVERIFY(std::abs(*seen->tuning.keys[60] - shift) < 1e-9);
    QVERIFY(seen->adaptive);
    QCOMPARE(seen->outputFormat.bits, 24);
    QCOMPARE(seen->outputFormat.sampleRate, 48000);
    QCOMPARE(QString::fromStdString(seen->outputPath),
             QString::fromStdString((dir / "song.flac").string()));

    dialog.reset();
    CVelornaDlg again{ConversionRunner{}};
    QCOMPARE(Spin(again, 1)->value(), 11.7);
    QCOMPARE(Control<QDoubleSpinBox>(again, "a4")->value(), 415.0);
    QCOMPARE(Control<QComboBox>(again, "outputType")->currentIndex(), 1);
    QCOMPARE(Control<QComboBox>(again, "rate")->currentIndex(), 1);
    QVERIFY(Control<QCheckBox>(again, "adaptive")->isChecked());
  }

  // A bad .scl is named with its line and changes nothing; a good one with its .kbm plays
  // instead of the offsets, its description shown, until a preset is chosen.
  void scalaImport() {
    auto dialog = MakeDialog();
    TempDir dir;
    WriteText(dir / "bad.scl", "! bad\nBroken\n 3\n 100.0\n oops\n 1200.0\n");
    WriteText(dir / "good.scl", EqualStepsScl(19, 1200, "Nineteen equal"));
    WriteText(dir / "good.kbm", "0\n0\n127\n60\n60\n261.6255653\n0\n");
    QString scl = QString::fromStdString((dir / "bad.scl").string());
    QString kbm = QString::fromStdString((dir / "good.kbm").string());
    int mapsAsked = 0;
    dialog->SetPathAsker([&](PathPrompt prompt, const QString&) {
      if (prompt == PathPrompt::kOpenKeyboardMap) ++mapsAsked;
      return prompt == PathPrompt::kOpenScala         ? scl
             : prompt == PathPrompt::kOpenKeyboardMap ? kbm
                                                      : QString();
    });
    const std::vector<double> before = Offsets(*dialog);
    ModalAnswerer answerer;
    Click(*dialog, "importScala");
    QCOMPARE(answerer.texts.size(), 1);
    QVERIFY2(answerer.texts[0].startsWith(QStringLiteral("bad.scl の 5 行目")),
             qPrintable(answerer.texts[0]));
    QCOMPARE(mapsAsked, 0);  // the broken scale is named before its map is asked for
    QCOMPARE(Offsets(*dialog), before);
    QCOMPARE(Control<QComboBox>(*dialog, "preset")->currentIndex(), 0);
    QVERIFY(!Control<QLabel>(*dialog, "scalaDescription")->isVisible());

    scl = QString::fromStdString((dir / "good.scl").string());
    Click(*dialog, "importScala");
    QCOMPARE(answerer.texts.size(), 1);
    auto* label = Control<QLabel>(*dialog, "scalaDescription");
    QVERIFY(label->isVisible());
    QVERIFY(label->text().contains(QStringLiteral("Nineteen equal")));
    QVERIFY(!Spin(*dialog, 0)->isEnabled());
    // Key 61 plays degree 1 of 19 above key 60: 63.2 cents, 36.8 below its own pitch.
    QCOMPARE(Spin(*dialog, 1)->value(), -36.8);
    QCOMPARE(mapsAsked, 1);
    ChoosePreset(*dialog, PresetInfoOf(PresetId::kEqual).displayName);
    QVERIFY(!label->isVisible());
    QVERIFY(Spin(*dialog, 0)->isEnabled());
    QCOMPARE(Offsets(*dialog), std::vector<double>(12, 0));
  }

  // Keys a map leaves unmapped are silent: their fields say so, never "0.0", and take no
  // typing, on every key the scale is laid on; the other keys show their offsets. Leaving
  // the Scala tuning gives every field a value again.
  void unmappedKeysShowAsSuch() {
    auto dialog = MakeDialog();
    TempDir dir;
    WriteText(dir / "twelve.scl", EqualStepsScl(12, 1200, "Twelve equal"));
    // Degrees 1 and 6 of each octave (C# and F# above C) unmapped.
    WriteText(dir / "holes.kbm",
              "12\n0\n127\n60\n69\n440.0\n12\n0\nx\n2\n3\n4\n5\nx\n7\n8\n9\n10\n11\n");
    const QString scl = QString::fromStdString((dir / "twelve.scl").string());
    const QString kbm = QString::fromStdString((dir / "holes.kbm").string());
    dialog->SetPathAsker([&](PathPrompt prompt, const QString&) {
      return prompt == PathPrompt::kOpenScala ? scl : kbm;
    });
    Click(*dialog, "importScala");
    // The map follows the key: degrees 1 and 6 above its tonic stay silent.
    for (const auto& [key, tonic] : {std::pair{7, 0}, std::pair{9, 2}, std::pair{12, 11}}) {
      Control<QComboBox>(*dialog, 1013)->setCurrentIndex(key);
      const std::set<size_t> silent{static_cast<size_t>((tonic + 1) % 12),
                                    static_cast<size_t>((tonic + 6) % 12)};
      for (size_t i = 0; i < 13; ++i) {
        auto* edit = Spin(*dialog, i)->findChild<QLineEdit*>();
        const bool unmapped = silent.count(i % 12) > 0;
        const QString where =
            QStringLiteral("key %1, field %2: %3").arg(key).arg(i).arg(edit->text());
        QVERIFY2((edit->text() == QStringLiteral("未割当")) == unmapped, qPrintable(where));
        QVERIFY2(edit->isReadOnly() == unmapped, qPrintable(where));
      }
    }
    ChoosePreset(*dialog, "なし（手入力）");
    for (size_t pc = 0; pc < 12; ++pc) {
      auto* edit = Spin(*dialog, pc)->findChild<QLineEdit*>();
      QVERIFY(!edit->isReadOnly());
      QCOMPARE(edit->text(), QString::number(Spin(*dialog, pc)->value(), 'f', 1));
    }
  }
};

int RunTuningControlsTests(int argc, char** argv) {
  TuningControlsTest test;
  return QTest::qExec(&test, argc, argv);
}

}  // namespace velorna::test

#include "tuning_controls_test.moc"
