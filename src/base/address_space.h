// The process's address space as the kernel counts it against RLIMIT_AS (ulimit -v), so that
// work which cannot survive running out of memory midway (FluidSynth loading a SoundFont or
// making its settings) is refused before it starts, by arithmetic rather than by allocating.
#pragma once

#include <cstdint>

namespace velorna {

// The address-space limit this process runs under (RLIMIT_AS), or -1 for none.
[[nodiscard]] int64_t AddressSpaceLimit();

// Whether `bytes` more of address space fit under the limit (always, without one).
[[nodiscard]] bool AddressSpaceFits(int64_t bytes);

}  // namespace velorna
