// Convert and Stop with the real conversion job on short songs.
#pragma once

#include <QObject>

namespace velorna::test {

class ConversionTest : public QObject {
  Q_OBJECT

 private slots:
  void convertShowsProgressAndEnds();
  void stopTwiceWritesWhatWasMixed();
  void doubleClickStartsOneJob();
  void closeWhileAMessageBoxIsUp();
  void destroyingTheDialogStopsTheJob();
};

}  // namespace velorna::test
