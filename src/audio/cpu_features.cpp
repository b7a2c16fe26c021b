#include "audio/cpu_features.h"

namespace velorna {

bool CpuHasAvx2() {
#ifdef VELORNA_X86
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
#else
  return false;
#endif
}

}  // namespace velorna
