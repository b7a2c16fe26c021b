// SoundFonts loaded and let go of on several threads at once, as a collection converts several
// songs at once.
#include "audio/render_synth.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include "audio/dry_rendering.h"
#include "render_songs.h"

namespace {

// A load that reads a file's samples afresh locks them in memory before it counts itself
// as their user. The thread that sets `g_holdInLock` is held there until another thread has
// loaded and let go of a copy (or a while has passed): the worst a busy machine can do.
thread_local bool g_holdInLock = false;
std::promise<void> g_inLock;
std::atomic<bool> g_otherDone{false};
std::atomic<int> g_locks{0};
constexpr auto kLongestHold = std::chrono::milliseconds(300);

}  // namespace

// Takes the place of the C library's for FluidSynth, which calls it through the dynamic
// linker.
extern "C" int mlock(const void* address, size_t bytes) {
  using Lock = int (*)(const void*, size_t);
  static const auto real = reinterpret_cast<Lock>(dlsym(RTLD_NEXT, "mlock"));
  if (g_holdInLock && g_locks++ == 0) {
    g_inLock.set_value();
    const auto until = std::chrono::steady_clock::now() + kLongestHold;
    while (!g_otherDone && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return real(address, bytes);
}

namespace velorna {
namespace {

using test::kTestSoundFont;
using test::TrackBuilder;

// FluidSynth shares a file's samples between all its loads in the process, but counts a
// load as their user only after leaving its lock. A copy loaded and let go of on another
// thread in between freed the samples the first load went on to play: a song in a
// collection sounded wrong, or the run crashed.
TEST(SampleCacheRace, ACopyLetGoOfWhileAnotherLoadsLeavesItsSamples) {
  TrackBuilder b;
  b.Program(0, 0, 0).NoteOn(0, 0, 57, 90).NoteOff(240, 0, 57).End(240);
  const std::optional<std::vector<TimedEvent>> events = TimeTrackEvents(b.Build(), 480);
  ASSERT_TRUE(events);
  const auto render = [&](const LoadedSoundFont& copy) {
    constexpr int64_t kFrames = 4096;
    const FluidSettingsPtr settings = MakeRenderSettings(kRenderPolyphony);
    DryRendering dry;
    std::vector<float> left;
    if (!dry.Start(copy, settings.get(), *events, true)) return left;
    (void)dry.RenderUntil(kFrames, [&](const DryBlock& block) {
      left.insert(left.end(), block.left.begin(), block.left.end());
    });
    return left;
  };
  // Rendered with a copy let go of at once: no copy is left, and the next load reads afresh.
  std::vector<float> reference;
  if (const auto font = LoadSoundFont(kTestSoundFont)) reference = render(*font);
  ASSERT_FALSE(reference.empty()) << "needs " << kTestSoundFont;

  std::future<void> inLock = g_inLock.get_future();
  std::vector<float> heard;
  std::jthread loading([&] {
    g_holdInLock = true;
    if (const auto font = LoadSoundFont(kTestSoundFont)) heard = render(*font);
  });
  if (inLock.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
    loading.join();
    GTEST_SKIP() << "FluidSynth no longer locks a SoundFont's samples in memory";
  }
  { const auto other = LoadSoundFont(kTestSoundFont); }
  g_otherDone = true;
  loading.join();
  EXPECT_TRUE(heard == reference) << "the load played samples already freed";
}

}  // namespace
}  // namespace velorna
