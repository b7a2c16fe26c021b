// The memory one run may take, decided once at the job's edge: at most kRunMemoryBytes plus
// the SoundFont, whatever the song, the tuning, the engine or the --jobs asked for. The
// worker threads are fitted to it (each loads its own copy of the SoundFont, and so does the
// drum pass when there are several), and under an
// address-space limit (ulimit -v) too small for the SoundFont the run is refused up front:
// FluidSynth's allocator aborts by design when it fails mid-load.
#pragma once

#include <cstdint>

#include "base/address_space.h"

namespace velorna {

inline constexpr int64_t kMiB = int64_t{1} << 20;
inline constexpr int64_t kRunMemoryBytes = 1536 * kMiB;
// What a run holds besides its SoundFonts and workers: the program, the song and its index,
// the window of sums and the output's buffers.
inline constexpr int64_t kJobBaseBytes = 256 * kMiB;
// One worker besides its SoundFont: its two synthesizers' settings, voices and buffers.
inline constexpr int64_t kWorkerBytes = 16 * kMiB;
// Notes waiting open at the window's end while the mix catches up, each with a small
// synthesizer of its own (its buffers take about 0.8 MB, whatever its voices): the polyphony
// holds a song to 256 sounding notes at once, and a few more may be on their way there.
inline constexpr int kMaxOpenNotes = 320;
inline constexpr int64_t kOpenNoteBytes = kMiB;
// Address space a worker thread reserves besides what it uses: its stack and its share of
// the allocator's arenas. Counted only under an address-space limit.
inline constexpr int64_t kWorkerReservedBytes = 72 * kMiB;
// Address space the program maps before any SoundFont (libraries, Qt, the allocator).
inline constexpr int64_t kProgramAddressBytes = 480 * kMiB;
// Loading a SoundFont maps its samples and, briefly, as much again.
inline constexpr int kSoundFontLoadFactor = 2;

// The SoundFont copies a run of `workers` threads loads: one for each, and one for the drum
// pass when there are several (a lone worker shares its own with the pass).
[[nodiscard]] constexpr int SoundFontCopies(int workers) {
  return workers > 1 ? workers + 1 : 1;
}

struct WorkerFit {
  int workers = 1;
  bool lowered = false;  // fewer than asked, to stay within the bound
  bool refused = false;  // the address-space limit leaves no room for the SoundFont
};

// How many workers a run of `asked` (0: one per core) may have with a SoundFont of
// `soundFontBytes`, under `addressLimit` bytes of address space (-1: none).
[[nodiscard]] WorkerFit FitWorkers(int asked, int64_t soundFontBytes, int64_t addressLimit);

}  // namespace velorna
