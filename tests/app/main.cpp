// Runs every GUI test class inside the program's own application object.
#include <QStandardPaths>
#include <QTest>

#include "app/conversion_test.h"
#include "app/dialog_test.h"
#include "app/export_panel_test.h"
#include "app/help_page_test.h"
#include "app/tuning_controls_test.h"
#include "app/velorna_app.h"

int main(int argc, char** argv) {
  // Settings of the tests' own, so the user's remembered ones never reach them.
  QStandardPaths::setTestModeEnabled(true);
  velorna::CVelornaApp app(argc, argv);
  int failures = 0;
  {
    velorna::test::DialogTest test;
    failures += QTest::qExec(&test, argc, argv);
  }
  failures += velorna::test::RunConversionTests(argc, argv);
  failures += velorna::test::RunHelpPageTests(argc, argv);
  failures += velorna::test::RunTuningControlsTests(argc, argv);
  failures += velorna::test::RunExportPanelTests(argc, argv);
  return failures == 0 ? 0 : 1;
}
