#include "base/display_text.h"

#include <gtest/gtest.h>

#include <string>

namespace velorna {
namespace {

TEST(EscapeForDisplay, EscapesWhatDrivesTheTerminalAndKeepsText) {
  struct Case {
    std::string in;
    std::string out;
  };
  const Case cases[] = {
      {"", ""},
      {"plain name.mid", "plain name.mid"},
      {"日本語の曲名", "日本語の曲名"},
      {"a\nb\tc\rd", "a\\nb\\tc\\rd"},
      {"\x1b]52;c;ZXZpbA==\x07", "\\x1b]52;c;ZXZpbA==\\x07"},  // clipboard write
      {"\x1b[2J\x1b[H", "\\x1b[2J\\x1b[H"},                    // clear screen
      {"song\x7f", "song\\x7f"},
      {"\xc2\x9b"
       "31m",
       "\\u009b31m"},                                     // C1 CSI
      {"name\xe2\x80\xaegnp.exe", "name\\u202egnp.exe"},  // right-to-left override
      {"a\xe2\x80\xa8"
       "b",
       "a\\u2028b"},                                 // line separator
      {"\x82\xa0\x82\xa2", "\\x82\\xa0\\x82\\xa2"},  // Shift_JIS, not UTF-8
      {"\xc0\xaf", "\\xc0\\xaf"},                    // overlong '/'
      {"\xed\xa0\x80", "\\xed\\xa0\\x80"},           // surrogate
      {"\xf4\x90\x80\x80", "\\xf4\\x90\\x80\\x80"},  // past U+10FFFF
      {"cut\xe3\x81", "cut\\xe3\\x81"},              // truncated sequence
      {"\xf0\x9f\x8e\xb5ok", "\xf0\x9f\x8e\xb5ok"},  // four-byte character
  };
  for (const Case& c : cases) EXPECT_EQ(EscapeForDisplay(c.in), c.out) << c.in;
}

TEST(EscapeForDisplay, NoByteStringPrintsAControlCharacterOrBreaksALine) {
  // Every pair of bytes, each pair after a three-byte lead: the result holds no byte below
  // 0x20, no DEL, and is valid UTF-8 (escaping it again changes nothing).
  for (int a = 0; a < 256; ++a) {
    for (int b = 0; b < 256; ++b) {
      const std::string in = {'\xe2', static_cast<char>(a), static_cast<char>(b), 'x'};
      const std::string out = EscapeForDisplay(in);
      for (const char ch : out) {
        ASSERT_FALSE(static_cast<unsigned char>(ch) < 0x20 || ch == 0x7f) << a << "," << b;
      }
      ASSERT_EQ(EscapeForDisplay(out), out) << a << "," << b;
    }
  }
}

}  // namespace
}  // namespace velorna
