// What an engine hands the finished mix to, in song order: a sound file, or the audio ring
// a player reads from.
#pragma once

#include <cstdint>
#include <span>

namespace velorna {

class MixSink {
 public:
  virtual ~MixSink() = default;
  // The program's own 16-bit WAV at unity gain, whose bytes stay as they always were: the
  // file engine gives it sums of 16-bit renderings.
  virtual bool plainWav() const { return false; }
  // The first song frame this sink drops.
  virtual int64_t endFrame() const = 0;
  // Takes the mix (interleaved stereo, full scale 1.0, not yet clipped) for the next frames.
  // False once anything failed or the sink wants no more: nothing more is to be rendered.
  virtual bool Put(std::span<const float> mix) = 0;
  virtual bool PutSilence(int64_t frames) = 0;
  // A Stop: the mix ends at `frame` (or where it has already been taken to).
  virtual void EndAt(int64_t frame) = 0;
};

}  // namespace velorna
