// Runs every GUI test class inside the program's own application object.
#include <QTest>

#include "app/conversion_test.h"
#include "app/dialog_test.h"
#include "app/export_panel_test.h"
#include "app/help_page_test.h"
#include "app/tuning_controls_test.h"
#include "app/velorna_app.h"
#include "own_settings.h"

int main(int argc, char** argv) {
  velorna::test::UseOwnSettings();
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
