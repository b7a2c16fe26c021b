// What every fuzz target checks about the messages a run gives: each is shown text, so it
// must be non-empty and valid UTF-8 whatever bytes the input held.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/reporter.h"

namespace velorna::fuzz {

inline bool IsValidUtf8(const std::string& s) {
  size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    size_t extra = 0;
    if (c < 0x80) {
      extra = 0;
    } else if (c >= 0xC2 && c <= 0xDF) {
      extra = 1;
    } else if (c >= 0xE0 && c <= 0xEF) {
      extra = 2;
    } else if (c >= 0xF0 && c <= 0xF4) {
      extra = 3;
    } else {
      return false;
    }
    if (s.size() - i <= extra) return false;
    for (size_t k = 1; k <= extra; ++k) {
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    }
    i += extra + 1;
  }
  return true;
}

class CheckingReporter final : public Reporter {
 public:
  void Show(const Report& report) override {
    if (report.text.empty() || !IsValidUtf8(report.text)) {
      std::fprintf(stderr, "bad message: [%s]\n", report.text.c_str());
      std::abort();
    }
    ++count;
  }
  size_t count = 0;
};

// Aborts with the reason, so the fuzzer keeps the input that broke an invariant.
inline void Require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

}  // namespace velorna::fuzz
