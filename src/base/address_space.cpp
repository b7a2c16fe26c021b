#include "base/address_space.h"

#include <sys/resource.h>
#include <unistd.h>

#include <fstream>

namespace velorna {
namespace {

// The pages mapped now (the first field of /proc/self/statm), in bytes; 0 when unknown.
int64_t AddressSpaceInUse() {
  std::ifstream statm("/proc/self/statm");
  int64_t pages = 0;
  if (!(statm >> pages)) return 0;
  return pages * ::sysconf(_SC_PAGESIZE);
}

}  // namespace

int64_t AddressSpaceLimit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return -1;
  return static_cast<int64_t>(limit.rlim_cur);
}

bool AddressSpaceFits(int64_t bytes) {
  const int64_t limit = AddressSpaceLimit();
  return limit < 0 || AddressSpaceInUse() + bytes <= limit;
}

}  // namespace velorna
