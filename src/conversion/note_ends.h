// Where the voices of notes were seen to end, kept across the renderings of one song with
// one SoundFont (a preview's): a rendering from a later point leaves out the notes that
// certainly fell silent before it, instead of rendering each from its onset only to find
// it silent there. A change of tuning is heard sooner for it.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <unordered_map>

namespace velorna {

// What a note's end depends on besides its events, in one tuning.
struct NoteSound {
  double synthRate = 0;  // the rate its synthesizer runs at
  double target = 0;     // its pitch, in cents from its key's equal-tempered pitch
  int keyShift = 0;      // keys the rendering moves the key by
};

// One note's rendering, as it ended.
struct NoteEnd {
  int64_t lastEvent = 0;  // the block of its last event before its voices fell silent
  int64_t end = 0;        // the end of the last block in which a voice sounded
  NoteSound sound;
};

// The last frame where the note rendered as `again` may still sound, from what `seen` showed;
// nothing when that cannot be told (another key sounds, with a sample and envelopes of its
// own).
[[nodiscard]] std::optional<int64_t> LatestEnd(const NoteEnd& seen, const NoteSound& again);

// Thread-safe: every rendering of a preview records into one and reads from it.
class NoteEnds {
 public:
  void Record(int32_t note, const NoteEnd& end);
  [[nodiscard]] std::optional<NoteEnd> Find(int32_t note) const;

 private:
  mutable std::mutex mutex_;
  std::unordered_map<int32_t, NoteEnd> ends_;  // by the note's position in the prepared track
};

}  // namespace velorna
