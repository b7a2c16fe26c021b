// The vector instructions this CPU runs, for the loops that have a path of their own for
// them (each such path gives the very bytes of the portable one).
#pragma once

#if defined(__x86_64__) || defined(__i386__)
#define VELORNA_X86 1
#endif

namespace velorna {

[[nodiscard]] bool CpuHasAvx2();

}  // namespace velorna
