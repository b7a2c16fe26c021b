// The dialog's controls, scale files, help and about box, without a conversion.
#pragma once

#include <QObject>

namespace velorna::test {

class DialogTest : public QObject {
  Q_OBJECT

 private slots:
  void initialValues();
  void resetZeroesAndUpperCFollows();
  void arrowsStepWithinTheRange();
  void keySelectorLeavesOffsetsAlone();
  void saveScaleFiles();
  void failedSaveIsReported();
  void loadScaleFiles();
  void shortScaleFileChangesNothing();
  void layoutIsAnOctaveWithoutOverlaps();
  void layoutHoldsFromTheLeastToALargeSize();
  void helpOpensItsOwnWindow();
  void aboutBoxFromTheContextMenu();
  void settingsAreRememberedUntilTheDefaults();
  void convertAsksForMidiFiles();
  void qtSpeaksJapanese();
};

}  // namespace velorna::test
