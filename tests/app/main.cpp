// Runs every GUI test class inside the program's own application object.
#include <QTest>

#include "app/dialog_test.h"
#include "app/velorna_app.h"
#ifdef VELORNA_HAVE_JOB
#include "app/conversion_test.h"
#endif

int main(int argc, char** argv) {
  velorna::CVelornaApp app(argc, argv);
  int failures = 0;
  {
    velorna::test::DialogTest test;
    failures += QTest::qExec(&test, argc, argv);
  }
#ifdef VELORNA_HAVE_JOB
  failures += velorna::test::RunConversionTests(argc, argv);
#endif
  return failures == 0 ? 0 : 1;
}
