// The mix on its way to an audio output: a bounded ring between the rendering, which puts
// the mix in song order, and the output's callback, which reads it at its own pace. The
// rendering waits while the ring is full, so it never runs more than the ring ahead.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <span>
#include <vector>

#include "audio/mix_sink.h"

namespace velorna {

class MixRing final : public MixSink {
 public:
  // Holds at most `capacityFrames`; takes the mix from song frame `startFrame` (earlier
  // frames are passed over) up to `endFrame`. Silence past `songFrames` is held back as a
  // count and played only when sound follows, so playback ends where the sound does.
  MixRing(int64_t startFrame, int64_t songFrames, int64_t endFrame, int64_t capacityFrames);

  // The rendering's side.
  int64_t endFrame() const override;
  bool Put(std::span<const float> mix) override;
  bool PutSilence(int64_t frames) override;
  void EndAt(int64_t frame) override;
  // Everything has been put (or the rendering failed): the reader reaches the end.
  void Finish();
  // Wakes a waiting rendering: it takes nothing more.
  void Cancel();

  // The reader's side. Frames held from song frame `frame` on (those before it are
  // dropped); `ended` tells whether nothing more will come after them.
  struct Held {
    int64_t frames = 0;
    bool ended = false;
  };
  [[nodiscard]] Held HeldFrom(int64_t frame);
  // Copies up to out.size() / 2 frames from `frame` on into `out` (interleaved stereo);
  // returns how many.
  int64_t ReadAt(int64_t frame, std::span<float> out);
  int64_t startFrame() const { return start_; }

 private:
  // Appends frames (zeros for a null `from`), waiting for room; false once cancelled.
  bool Push(const float* from, int64_t frames, std::unique_lock<std::mutex>& lock);
  void DropBefore(int64_t frame);

  const int64_t start_;
  const int64_t songFrames_;
  const int64_t capacity_;
  mutable std::mutex mutex_;
  std::condition_variable room_;
  std::vector<float> ring_;
  int64_t end_;
  int64_t next_ = 0;         // the next song frame put (held silence included)
  int64_t head_;             // the song frame of the first frame held
  int64_t count_ = 0;        // frames held
  int64_t heldSilence_ = 0;  // silent frames past the song's length, not yet in the ring
  bool finished_ = false;
  bool cancelled_ = false;
};

}  // namespace velorna
