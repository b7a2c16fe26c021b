#include "conversion/version.h"

namespace velorna {

const char* VersionString() {
  return VELORNA_VERSION;
}

}  // namespace velorna
