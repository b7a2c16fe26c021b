#include "base/display_text.h"

#include <cstdint>
#include <cstdio>

namespace velorna {
namespace {

constexpr char32_t kNoCodePoint = 0xFFFFFFFF;
constexpr char32_t kLastCodePoint = 0x10FFFF;
constexpr char32_t kSurrogateFirst = 0xD800;
constexpr char32_t kSurrogateLast = 0xDFFF;

struct Decoded {
  char32_t code_point = kNoCodePoint;  // kNoCodePoint: the first byte starts no valid sequence
  size_t length = 1;
};

// Decodes the UTF-8 sequence at `pos`, rejecting overlong forms, surrogates and values past
// the last code point, so that every accepted sequence has exactly one spelling.
Decoded DecodeAt(std::string_view text, size_t pos) {
  const auto lead = static_cast<uint8_t>(text[pos]);
  if (lead < 0x80) return {lead, 1};
  size_t length = 0;
  char32_t value = 0;
  char32_t smallest = 0;
  if ((lead & 0xE0) == 0xC0) {
    length = 2, value = lead & 0x1F, smallest = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, value = lead & 0x0F, smallest = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, value = lead & 0x07, smallest = 0x10000;
  } else {
    return {};
  }
  if (pos + length > text.size()) return {};
  for (size_t i = 1; i < length; ++i) {
    const auto next = static_cast<uint8_t>(text[pos + i]);
    if ((next & 0xC0) != 0x80) return {};
    value = (value << 6) | (next & 0x3F);
  }
  if (value < smallest || value > kLastCodePoint ||
      (value >= kSurrogateFirst && value <= kSurrogateLast)) {
    return {};
  }
  return {value, length};
}

// Characters that move the cursor, end a line or reorder what follows when printed.
bool NeedsEscape(char32_t c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029 ||
         (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) || c == 0x200E ||
         c == 0x200F || c == 0x061C;
}

void AppendEscape(std::string& out, char32_t c) {
  switch (c) {
    case '\n':
      out += "\\n";
      return;
    case '\r':
      out += "\\r";
      return;
    case '\t':
      out += "\\t";
      return;
    default:
      break;
  }
  char buffer[12];
  if (c < 0x80) {
    std::snprintf(buffer, sizeof buffer, "\\x%02x", static_cast<unsigned>(c));
  } else {
    std::snprintf(buffer, sizeof buffer, "\\u%04x", static_cast<unsigned>(c));
  }
  out += buffer;
}

}  // namespace

std::string EscapeForDisplay(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t pos = 0; pos < text.size();) {
    const Decoded d = DecodeAt(text, pos);
    if (d.code_point == kNoCodePoint) {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\x%02x", static_cast<uint8_t>(text[pos]));
      out += buffer;
      pos += 1;
      continue;
    }
    if (NeedsEscape(d.code_point)) {
      AppendEscape(out, d.code_point);
    } else {
      out.append(text.substr(pos, d.length));
    }
    pos += d.length;
  }
  return out;
}

}  // namespace velorna
