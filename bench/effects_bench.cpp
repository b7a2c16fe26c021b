// Speed of the reverb and chorus together, as a multiple of real time on one core.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "audio/chorus.h"
#include "audio/reverb.h"
#include "base/limits.h"

namespace {

std::vector<float> Noise(size_t n) {
  std::vector<float> v(n);
  uint32_t x = 12345;
  for (float& s : v) {
    x = x * 1664525u + 1013904223u;
    s = 0.1f * (static_cast<float>(x >> 8) / 8388608.0f - 1.0f);
  }
  return v;
}

// Both units fed a continuous send in blocks of the given size (state never silent).
void BM_ReverbAndChorus(benchmark::State& state) {
  const auto block = static_cast<size_t>(state.range(0));
  const size_t span = velorna::kSampleRate;  // one second of send, cycled
  const std::vector<float> reverbSend = Noise(span);
  const std::vector<float> chorusSend = Noise(span + 7);
  std::vector<float> left(block), right(block);
  velorna::Reverb reverb;
  velorna::Chorus chorus;
  int64_t song = 0;
  for (auto _ : state) {
    const size_t at = static_cast<size_t>(song) % (span - block);
    reverb.Process(song, std::span(reverbSend).subspan(at, block), left, right);
    chorus.Process(song, std::span(chorusSend).subspan(at, block), left, right);
    benchmark::DoNotOptimize(left.data());
    benchmark::DoNotOptimize(right.data());
    song += static_cast<int64_t>(block);
  }
  state.SetItemsProcessed(song);
  state.counters["x_realtime"] = benchmark::Counter(
      static_cast<double>(song) / velorna::kSampleRate, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ReverbAndChorus)->Arg(64)->Arg(1024);

// One unit alone, to see where the time goes.
template <typename Unit>
void BM_OneUnit(benchmark::State& state) {
  const size_t block = 64;
  const std::vector<float> send = Noise(block);
  std::vector<float> left(block), right(block);
  Unit unit;
  int64_t song = 0;
  for (auto _ : state) {
    unit.Process(song, send, left, right);
    benchmark::DoNotOptimize(left.data());
    song += static_cast<int64_t>(block);
  }
  state.counters["x_realtime"] = benchmark::Counter(
      static_cast<double>(song) / velorna::kSampleRate, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_OneUnit<velorna::Reverb>);
BENCHMARK(BM_OneUnit<velorna::Chorus>);

}  // namespace

BENCHMARK_MAIN();
