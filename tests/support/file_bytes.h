// Whole files as bytes, for tests that check exact file contents.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

namespace velorna::test {

std::vector<uint8_t> ReadBytes(const std::filesystem::path& path);
void WriteBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

}  // namespace velorna::test
