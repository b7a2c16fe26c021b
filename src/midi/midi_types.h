// The in-memory song: plain records with public fields. Times are ticks kept as `delta`
// (ticks since the previous event of the same list); absolute times are summed in 64 bits.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/limits.h"
#include "base/reporter.h"

namespace velorna {

// Status classes of MidiEvent::status.
namespace st {
inline constexpr uint32_t kDisabled = 0;
inline constexpr uint32_t kNote = 16;  // note-on folded with its note-off (track state 2)
inline constexpr uint32_t kNoteOff = 128;
inline constexpr uint32_t kNoteOn = 144;
inline constexpr uint32_t kKeyPressure = 160;
inline constexpr uint32_t kControl = 176;
inline constexpr uint32_t kProgram = 192;
inline constexpr uint32_t kChannelPressure = 208;
inline constexpr uint32_t kPitchBend = 224;
inline constexpr uint32_t kSysEx = 240;
inline constexpr uint32_t kEscape = 247;
inline constexpr uint32_t kMeta = 255;
}  // namespace st

// Meta types and controllers other code looks for in MidiEvent::kind.
namespace meta {
inline constexpr uint32_t kTrackName = 3;
inline constexpr uint32_t kEndOfTrack = 47;
inline constexpr uint32_t kTempo = 81;
inline constexpr uint32_t kTimeSignature = 88;
}  // namespace meta

namespace sysex {
inline constexpr uint32_t kMasterVolume = 1;
inline constexpr uint32_t kGmSystemOn = 9;
inline constexpr uint32_t kRhythmPart = 18;
inline constexpr uint32_t kGsSystemMode = 19;
inline constexpr uint32_t kMasterBalance = 40;
inline constexpr uint32_t kGsPartParameter = 69;
inline constexpr uint32_t kYamahaVoice = 127;
}  // namespace sysex

struct MidiEvent {
  uint32_t status = 0;
  int32_t delta = 0;
  int32_t note = 0;
  int32_t duration = 0;
  int32_t velocity = 0;
  uint32_t kind = 0;
  int32_t value = 0;
  int32_t size = 0;
  // Empty means "no buffer". Otherwise size + 8 bytes, zero filled past `size`.
  std::vector<uint8_t> data;
  int32_t channel = kNoChannel;
  // A note whose track releases its key at its own tick, after striking it: a synthesizer
  // playing the track releases the note at once. Pairing keeps no order within a tick, so
  // only this says it; what is written and shown ignores it.
  bool releasedAtStart = false;
  // Put in by the reader (the master volume every song gets), not held by the file: what is
  // listed of the song leaves it out.
  bool added = false;

  bool IsEndOfTrack() const { return status == st::kMeta && kind == meta::kEndOfTrack; }
};

// Track states.
namespace ts {
inline constexpr int32_t kNew = -1;
inline constexpr int32_t kRaw = 0;
inline constexpr int32_t kEvents = 1;
inline constexpr int32_t kNotes = 2;
}  // namespace ts

struct MidiTrack {
  int32_t length = 0;          // valid bytes in `bytes` (chunk incl. its header)
  int32_t pos = 0;             // read position while decoding
  std::vector<uint8_t> bytes;  // allocated on demand, at most `capacity` bytes
  int32_t capacity = kTrackCapacity;
  int32_t state = ts::kNew;
  std::vector<MidiEvent> events;  // at most capacity / 3 of them

  int32_t count() const { return static_cast<int32_t>(events.size()); }
  int32_t maxEvents() const { return capacity / 3; }
};

// What a song holds: its file image only, its tracks in events form, or in note form.
enum SongState : int32_t { kSongImage = 0, kSongEvents = 1, kSongNotes = 2 };

struct MidiFormat0Data {
  int32_t length = 0;
  int32_t pos = 0;
  std::vector<uint8_t> bytes;
  int32_t capacity = kSongCapacity;
  int32_t division = 0;        // raw header field; high bit set means SMPTE timing
  int32_t state = kSongImage;  // a SongState
  std::unique_ptr<MidiTrack> track;
};

struct MidiFormat1Data {
  int32_t length = 0;
  int32_t pos = 0;
  std::vector<uint8_t> bytes;
  int32_t capacity = kSongCapacity;
  int32_t division = 0;
  int32_t state = kSongImage;  // a SongState
  int32_t trackCount = 0;
  std::vector<std::unique_ptr<MidiTrack>> tracks;
};

struct MidiLoader {
  int64_t fileLength = 0;  // 0: the load failed
  std::vector<uint8_t> fileBytes;
  std::unique_ptr<MidiFormat1Data> multiTrack;
  std::unique_ptr<MidiFormat0Data> song;
  std::string path;
};

// Decoder state that the original library kept module-wide; here it lives per load so
// songs can be decoded on several threads at once.
struct DecoderState {
  int runningStatus = 0;
  bool noteNumberShown = false;    // MDTK 0x0D000017
  bool largeEventShown = false;    // MDTK 0x0D00000B (shared with the encoder)
  bool masterVolumeShown = false;  // MDTK 0x0D000011

  void ResetShowOnce() { noteNumberShown = largeEventShown = masterVolumeShown = false; }
};

// What every library operation that may report gets: where messages go, and the
// decoder state of the load or write in progress.
struct MidiContext {
  explicit MidiContext(Reporter& r) : reporter(&r) {}
  Reporter* reporter;
  DecoderState decoder;
};

}  // namespace velorna
