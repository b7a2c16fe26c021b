// Where tests find their data and the programs they run.
#pragma once

#include <filesystem>
#include <string>

namespace velorna::test {

inline std::filesystem::path DataDir() {
  return VELORNA_TEST_DATA;
}
inline std::string CliPath() {
  return VELORNA_CLI_PATH;
}

}  // namespace velorna::test
