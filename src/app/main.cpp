#include "app/velorna_app.h"
#include "conversion/conversion_job.h"

int main(int argc, char** argv) {
  velorna::CVelornaApp app(argc, argv);
  return app.InitInstance(velorna::RunConversion);
}
