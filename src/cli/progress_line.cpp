#include "cli/progress_line.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/progress_time.h"

namespace velorna::cli {
namespace {

constexpr int kFullPercent = 100;
constexpr int kMinBar = 6;
constexpr int kMaxBar = 50;
constexpr int kMinName = 8;
constexpr char kEllipsis[] = "…";
constexpr int kEllipsisWidth = 1;

struct Glyph {
  size_t bytes;
  int width;
};

// Code points that terminals draw two columns wide (CJK, Hangul, full-width forms).
bool IsWide(uint32_t cp) {
  return (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0xA4CF && cp != 0x303F) ||
         (cp >= 0xAC00 && cp <= 0xD7A3) || (cp >= 0xF900 && cp <= 0xFAFF) ||
         (cp >= 0xFE30 && cp <= 0xFE4F) || (cp >= 0xFF00 && cp <= 0xFF60) ||
         (cp >= 0xFFE0 && cp <= 0xFFE6) || (cp >= 0x1F300 && cp <= 0x1F64F) ||
         (cp >= 0x20000 && cp <= 0x3FFFD);
}

// The glyphs of a UTF-8 text; a stray byte counts as one narrow glyph.
std::vector<Glyph> Glyphs(const std::string& text) {
  std::vector<Glyph> glyphs;
  for (size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    size_t n = lead < 0x80         ? 1
               : lead >> 5 == 0x6  ? 2
               : lead >> 4 == 0xE  ? 3
               : lead >> 3 == 0x1E ? 4
                                   : 1;
    if (i + n > text.size()) n = 1;
    uint32_t cp = n == 1 ? lead : lead & (0x7F >> n);
    for (size_t k = 1; k < n; ++k) cp = cp << 6 | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    glyphs.push_back({n, IsWide(cp) ? 2 : 1});
    i += n;
  }
  return glyphs;
}

// `text` cut to at most `width` columns, ending in "…" when it was cut.
std::string Shorten(const std::string& text, int width) {
  if (DisplayWidth(text) <= width) return text;
  std::string out;
  int used = 0;
  size_t at = 0;
  for (const Glyph& g : Glyphs(text)) {
    if (used + g.width > width - kEllipsisWidth) break;
    out.append(text, at, g.bytes);
    used += g.width;
    at += g.bytes;
  }
  return out + kEllipsis;
}

}  // namespace

int TerminalColumns(int fd) {
  winsize size{};
  if (ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  if (const char* env = std::getenv("COLUMNS")) {
    int columns = 0;
    const char* end = env + std::strlen(env);
    const auto [ptr, ec] = std::from_chars(env, end, columns);
    if (ec == std::errc() && ptr == end && columns > 0) return columns;
  }
  return kFallbackColumns;
}

int DisplayWidth(const std::string& text) {
  int width = 0;
  for (const Glyph& g : Glyphs(text)) width += g.width;
  return width;
}

std::string ProgressLine(const std::string& name, int percent, double elapsedSeconds, int columns) {
  percent = std::clamp(percent, 0, kFullPercent);
  const int room = columns - 1;
  const std::string pct = std::to_string(percent) + "%";
  const auto remaining = RemainingSeconds(elapsedSeconds, percent);
  const std::string times = " " + ClockText(elapsedSeconds) + " ETA " +
                            (remaining ? ClockText(*remaining) : std::string("--:--"));
  struct Layout {
    bool bar;
    bool times;
  };
  // Richest first: bar and times, then times only, then the percentage alone.
  for (const Layout layout : {Layout{true, true}, Layout{false, true}, Layout{false, false}}) {
    const std::string tail = " " + pct + (layout.times ? times : "");
    const int bracketsAndSpace = 3;
    const int fixed = static_cast<int>(tail.size()) + (layout.bar ? bracketsAndSpace + kMinBar : 0);
    const int nameRoom = room - fixed;
    if (nameRoom < std::min(kMinName, DisplayWidth(name))) continue;
    const std::string shown = Shorten(name, nameRoom);
    std::string line = shown;
    if (layout.bar) {
      const int bar = std::min(kMaxBar, kMinBar + nameRoom - DisplayWidth(shown));
      const int filled = percent * bar / kFullPercent;
      line += " [" + std::string(static_cast<size_t>(filled), '#') +
              std::string(static_cast<size_t>(bar - filled), '.') + "]";
    }
    return line + tail;
  }
  return Shorten(name + " " + pct, std::max(room, kEllipsisWidth));
}

}  // namespace velorna::cli
