// A 600-second accumulator, 100 one-second renderings mixed into it, the result written.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "audio/mix_accumulator.h"
#include "audio/sound_file_writer.h"
#include "audio/wave_data.h"
#include "support/whole_mix.h"

namespace {

using namespace velorna;

constexpr int kSeconds = 600;
constexpr int kRenderings = 100;

struct Folder {
  std::filesystem::path path;
  Folder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "mix-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path = pattern;
  }
  ~Folder() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
};

std::vector<int16_t> OneSecond(int seed) {
  std::vector<int16_t> s(44100 * 2);
  for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<int16_t>((i * 31 + seed * 977) % 20000);
  return s;
}

// Half the renderings at 44100 Hz, half at 22050 Hz mono so the conversions are timed too.
std::vector<std::string> WriteRenderings(const Folder& folder) {
  std::vector<std::string> paths;
  SilentReporter silent;
  for (int r = 0; r < kRenderings; ++r) {
    CWaveData w;
    w.formatTag = 1;
    w.bitsPerSample = 16;
    const auto s = OneSecond(r);
    const bool converted = r % 2 == 1;
    w.channels = converted ? 1 : 2;
    w.sampleRate = converted ? 22050 : 44100;
    w.blockAlign = static_cast<uint16_t>(w.channels * 2);
    w.byteRate = w.sampleRate * w.blockAlign;
    w.samples.resize(static_cast<size_t>(w.sampleRate) * w.blockAlign);
    std::memcpy(w.samples.data(), s.data(), w.samples.size());
    paths.push_back((folder.path / ("r" + std::to_string(r) + ".wav")).string());
    WriteWaveFile(silent, paths.back(), w);
  }
  return paths;
}

void BM_MixFilesAndWrite(benchmark::State& state) {
  Folder folder;
  const auto paths = WriteRenderings(folder);
  const auto out = (folder.path / "out.wav").string();
  SilentReporter silent;
  for (auto _ : state) {
    auto acc = CreateMixAccumulator(silent, kSeconds);
    for (const auto& p : paths) MixWaveFile(silent, *acc, p);
    benchmark::DoNotOptimize(WriteMixAccumulator(silent, *acc, out));
  }
}
BENCHMARK(BM_MixFilesAndWrite)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

void BM_MixMemoryAndWrite(benchmark::State& state) {
  Folder folder;
  std::vector<std::vector<int16_t>> renderings;
  for (int r = 0; r < kRenderings; ++r) renderings.push_back(OneSecond(r));
  const auto out = (folder.path / "out.wav").string();
  SilentReporter silent;
  for (auto _ : state) {
    auto acc = CreateMixAccumulator(silent, kSeconds);
    for (int r = 0; r < kRenderings; ++r) MixSamples(*acc, renderings[r], int64_t{r} * 44100 * 5);
    benchmark::DoNotOptimize(WriteMixAccumulator(silent, *acc, out));
  }
}
BENCHMARK(BM_MixMemoryAndWrite)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

// The write alone, to tell the file system's share from the mixing.
void BM_WriteOnly(benchmark::State& state) {
  Folder folder;
  const auto out = (folder.path / "out.wav").string();
  SilentReporter silent;
  auto acc = CreateMixAccumulator(silent, kSeconds);
  for (auto _ : state) benchmark::DoNotOptimize(WriteMixAccumulator(silent, *acc, out));
}
BENCHMARK(BM_WriteOnly)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

}  // namespace

BENCHMARK_MAIN();
