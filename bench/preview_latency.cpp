// How soon a preview answers, through the real audio output: the first sound after Play at
// a point of the song (song and SoundFont loaded), the time a change of tuning and an A/B
// switch take to be heard, and the output's underruns over a stretch of playing.
//   preview_latency SONG.mid SOUNDFONT [FROM_SECONDS [LISTEN_SECONDS]]
//   preview_latency --adaptive SONG.mid SOUNDFONT [FROM_SECONDS]
// Prints one "name value" line per figure (seconds, or a count); for a change of tuning also
// the processor time the process took meanwhile, what it would take on an idle machine. --adaptive
// measures only the time from turning adaptive intonation on while playing to its being heard (its
// choice is made over the whole song then).
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "audio/audio_output.h"
#include "conversion/preview_player.h"

namespace {

using namespace velorna;
using Clock = std::chrono::steady_clock;
constexpr int kRate = 44100;
constexpr int kSwitches = 5;
constexpr auto kPoll = std::chrono::milliseconds(1);
constexpr auto kBetweenSwitches = std::chrono::milliseconds(1500);

class StderrReporter final : public Reporter {
 public:
  void Show(const Report& report) override { std::fprintf(stderr, "%s\n", report.text.c_str()); }
};

// The processor time the whole process has taken so far: over a change of tuning, nearly all
// of it is the new rendering's, so it is what the change takes on an idle machine.
double ProcessorSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double Since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Waits for `done`, and the seconds it took.
template <typename Done>
double Await(PreviewPlayer& player, Done done) {
  const auto start = Clock::now();
  while (!done()) {
    std::this_thread::sleep_for(kPoll);
    player.Collect();
  }
  return Since(start);
}

// Plays on for `duration`, tending the player as a front end does.
void PlayOn(PreviewPlayer& player, std::chrono::milliseconds duration) {
  const auto end = Clock::now() + duration;
  while (Clock::now() < end && !player.ended()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    player.Collect();
  }
}

// "worst (each one)".
std::string Times(const std::vector<double>& times) {
  double worst = 0;
  std::string each;
  for (const double t : times) {
    worst = std::max(worst, t);
    each += (each.empty() ? "" : " ") + std::to_string(t).substr(0, 5);
  }
  return std::to_string(worst).substr(0, 5) + " (" + each + ")";
}

}  // namespace

int main(int argc, char** argv) {
  const bool adaptiveOnly = argc > 1 && std::string(argv[1]) == "--adaptive";
  if (adaptiveOnly) {
    --argc;
    ++argv;
  }
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s SONG.mid SOUNDFONT [FROM_SECONDS [LISTEN_SECONDS]]\n", argv[0]);
    return 2;
  }
  const double from = argc > 3 ? std::atof(argv[3]) : 10.0;
  const double listen = argc > 4 ? std::atof(argv[4]) : 60.0;
  StderrReporter reporter;
  const auto loading = Clock::now();
  std::unique_ptr<PreviewPlayer> player = PreviewPlayer::Open(argv[1], argv[2], kRate, reporter);
  if (!player) return 1;
  std::printf("load_s %.3f\n", Since(loading));
  auto output = AudioOutput::Open(kRate, [&](std::span<float> out) { player->Pull(out); });
  if (!output) {
    std::fprintf(stderr, "no audio output\n");
    return 1;
  }
  // The spare SoundFont copy is loaded in the background after Open: Play comes once it is.
  std::this_thread::sleep_for(std::chrono::seconds(2));
  const int64_t at = static_cast<int64_t>(from * kRate);
  const auto play = Clock::now();
  player->Seek(at);
  player->Play();
  Await(*player, [&] { return player->position() > at; });
  std::printf("first_sound_s %.3f\n", Since(play));
  if (adaptiveOnly) {
    PlayOn(*player, kBetweenSwitches);
    PreviewTuning adaptive = EqualTemperament();
    adaptive.adaptive = true;
    const int64_t before = player->lastSwitchFrame();
    const auto asked = Clock::now();
    if (!player->SetTuning(adaptive)) return 1;
    Await(*player, [&] { return player->lastSwitchFrame() != before; });
    std::printf("adaptive_on_heard_s %.3f\n", Since(asked));
    output.reset();
    return 0;
  }

  PreviewTuning meantone;
  meantone.tuning.keys = KeyTableFromCents({0, -24, -7, 10, -14, 3, -21, -3, -27, -10, 7, -17});
  std::vector<double> tunings, tuningCpu, ab;
  for (int k = 0; k < kSwitches; ++k) {
    PlayOn(*player, kBetweenSwitches);
    const int64_t before = player->lastSwitchFrame();
    const double cpu = ProcessorSeconds();
    (void)player->SetTuning(k % 2 ? PreviewTuning{} : meantone);
    tunings.push_back(Await(*player, [&] { return player->lastSwitchFrame() != before; }));
    tuningCpu.push_back(ProcessorSeconds() - cpu);
  }
  for (int k = 0; k < kSwitches; ++k) {
    PlayOn(*player, kBetweenSwitches);
    const int64_t before = player->lastSwitchFrame();
    player->SelectB(!player->selectedB());
    ab.push_back(Await(*player, [&] { return player->lastSwitchFrame() != before; }));
  }
  std::printf("tuning_switch_worst_s %s\n", Times(tunings).c_str());
  std::printf("tuning_switch_processor_s %s\n", Times(tuningCpu).c_str());
  std::printf("ab_switch_worst_s %s\n", Times(ab).c_str());

  player->Seek(0);
  const int64_t underrunsBefore = player->underruns();
  const auto listening = Clock::now();
  PlayOn(*player, std::chrono::milliseconds(static_cast<int64_t>(listen * 1000)));
  std::printf("underruns %lld (over %.0f s)\n",
              static_cast<long long>(player->underruns() - underrunsBefore), Since(listening));
  output.reset();
  return 0;
}
