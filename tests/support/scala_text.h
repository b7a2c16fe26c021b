// Scala scale files written by tests.
#pragma once

#include <string>

namespace velorna::test {

// A .scl of `steps` equal steps filling `periodCents`, under `description`.
inline std::string EqualStepsScl(int steps, double periodCents,
                                 const std::string& description = "equal steps") {
  std::string scl = "! " + description + "\n" + description + "\n" + std::to_string(steps) + "\n";
  for (int k = 1; k <= steps; ++k) scl += std::to_string(k * periodCents / steps) + "\n";
  return scl;
}

}  // namespace velorna::test
