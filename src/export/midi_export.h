// The retuned song as MIDI: a Standard MIDI File (format 1, the song's own tracks) in which
// every pitched note sounds at its target on an ordinary synthesizer, carried by pitch bends
// on channels of their own, by an MPE zone, or by MIDI Tuning Standard messages. Nothing is
// rendered: the song's tracks are rewritten event by event from the song index.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/reporter.h"
#include "midi/midi_types.h"
#include "tuning/tuning.h"

namespace velorna {

enum class ExportForm {
  kBends,  // a channel for each bend that sounds at once, the song's own bends added
  kMpe,    // an MPE lower zone: master channel 1, a member channel per sounding note
  kMts,    // notes on their channels; MTS bulk dump and single-note changes
};

struct ExportOptions {
  ExportForm form = ExportForm::kBends;
  // Semitones the bends span; 0: 2 or the smallest that carries the song's bends plus the
  // offsets (bends), 48 (mpe).
  int bendRange = 0;
  bool adaptive = false;          // each note's pitch chosen over the whole song
  bool ignoreSongTuning = false;  // the song's own MTS data do not set its notes' targets
};

inline constexpr int kMaxExportBendRange = 96;

// What an export did beyond the notes it placed exactly; the exporter has reported each.
struct ExportSummary {
  int notes = 0;       // pitched notes exported
  int tailsTaken = 0;  // notes given a channel whose notes were only ringing out
  // Notes that found no channel of their own free, or lost theirs to such a note while held.
  int withoutChannel = 0;
  std::vector<int32_t> crowded;  // those notes, as events of the prepared song
  double worstCents = 0;         // the largest miss among those
  int clippedBends = 0;          // bends the range could not carry
  int sharedKeys = 0;            // mts: a key held with two targets at once
  int noteOns = 0;               // in the file written, drums included
};

// Where an export of `songPath` goes: "SONG-bends.mid" (-mpe, -mts) in `folder`, or beside
// the song when `folder` is empty.
[[nodiscard]] std::string ExportPathFor(const std::string& songPath, const std::string& folder,
                                        ExportForm form);

// The exported file's bytes from a loaded song (LoadSmf's loader, before PrepareSong);
// none when the song holds no track (the loader has said why).
[[nodiscard]] std::optional<std::vector<uint8_t>> ExportSongBytes(MidiContext& ctx,
                                                                  MidiLoader& loader,
                                                                  const Tuning& tuning,
                                                                  const ExportOptions& options,
                                                                  ExportSummary* summary = nullptr);

// Loads `songPath`, exports it and writes `outPath` (replaced as what it is); warns when
// Velorna itself could not read the result back whole (too large a file, or more events than
// a song holds). False when nothing was written; `reporter` has heard why.
[[nodiscard]] bool ExportSong(const std::string& songPath, const std::string& outPath,
                              const Tuning& tuning, const ExportOptions& options,
                              Reporter& reporter, ExportSummary* summary = nullptr);

}  // namespace velorna
