// Renders one MIDI file to WAV through the rendering service and prints how long each step took:
//   render_midi_file SOUNDFONT MIDI WAV
#include <chrono>
#include <cstdio>
#include <string>

#include "audio/rendering_service.h"
#include "base/reporter.h"

namespace {

class StderrReporter final : public velorna::Reporter {
 public:
  void Show(const velorna::Report& report) override {
    std::fprintf(stderr, "%s\n", report.text.c_str());
  }
};

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s SOUNDFONT MIDI WAV\n", argv[0]);
    return 2;
  }
  StderrReporter reporter;
  const auto start = std::chrono::steady_clock::now();
  const auto font = velorna::ResolveSoundFont(reporter, argv[1]);
  if (!font) return 1;
  const double loaded = SecondsSince(start);
  const auto renderStart = std::chrono::steady_clock::now();
  const bool ok = velorna::RenderMidiToWave(*font, reporter, argv[2], argv[3]);
  const double rendered = SecondsSince(renderStart);
  std::printf("velorna: SoundFont load %.3f s, rendering %.3f s, total %.3f s\n", loaded, rendered,
              SecondsSince(start));
  return ok ? 0 : 1;
}
