#include "audio/cpu_features.h"

namespace velorna {

bool CpuHasAvx2() {
#ifdef VELORNA_X86
  // The features are read here, not by a constructor that may run after a caller's.
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
  }();
  return has;
#else
  return false;
#endif
}

}  // namespace velorna
