#include "audio/mix_ring.h"

#include <algorithm>

#include "audio/sound_file_writer.h"

namespace velorna {

MixRing::MixRing(int64_t startFrame, int64_t songFrames, int64_t endFrame, int64_t capacityFrames)
    : start_(startFrame),
      songFrames_(songFrames),
      capacity_(std::max<int64_t>(capacityFrames, 1)),
      ring_(static_cast<size_t>(capacity_) * 2),
      end_(endFrame),
      head_(startFrame) {}

int64_t MixRing::endFrame() const {
  std::lock_guard lock(mutex_);
  return end_;
}

bool MixRing::Push(const float* from, int64_t frames, std::unique_lock<std::mutex>& lock) {
  while (frames > 0) {
    room_.wait(lock, [&] { return cancelled_ || count_ < capacity_; });
    if (cancelled_) return false;
    const int64_t tail = (head_ - start_ + count_) % capacity_;
    const int64_t n = std::min({frames, capacity_ - count_, capacity_ - tail});
    float* to = ring_.data() + tail * 2;
    if (from) {
      std::copy(from, from + n * 2, to);
      from += n * 2;
    } else {
      std::fill(to, to + n * 2, 0.0f);
    }
    count_ += n;
    frames -= n;
  }
  return true;
}

bool MixRing::Put(std::span<const float> mix) {
  std::unique_lock lock(mutex_);
  const float* p = mix.data();
  const int64_t given = static_cast<int64_t>(mix.size() / 2);
  int64_t frames = std::min(given, std::max<int64_t>(end_ - next_, 0));
  // Before the start: passed over.
  const int64_t skip = std::clamp<int64_t>(start_ - next_, 0, frames);
  p += skip * 2;
  frames -= skip;
  next_ += skip;
  int64_t run = 0;  // sounding frames not yet pushed, ending at `p`
  for (int64_t i = 0; i < frames; ++i, p += 2, ++next_) {
    if (next_ >= songFrames_ && RoundsToSilence(p[0], p[1])) {
      if (run > 0 && !Push(p - run * 2, run, lock)) return false;
      run = 0;
      ++heldSilence_;
      continue;
    }
    if (heldSilence_ > 0) {
      if (!Push(nullptr, heldSilence_, lock)) return false;
      heldSilence_ = 0;
    }
    ++run;
  }
  if (run > 0 && !Push(p - run * 2, run, lock)) return false;
  next_ += given - frames - skip;
  return !cancelled_;
}

bool MixRing::PutSilence(int64_t frames) {
  std::unique_lock lock(mutex_);
  frames = std::min(frames, std::max<int64_t>(end_ - next_, 0));
  const int64_t skip = std::clamp<int64_t>(start_ - next_, 0, frames);
  next_ += skip;
  frames -= skip;
  // Silence within the song's length is played; past it, held back like any silence.
  const int64_t played = std::clamp<int64_t>(songFrames_ - next_, 0, frames);
  if (played > 0 && !Push(nullptr, heldSilence_ + played, lock)) return false;
  if (played > 0) heldSilence_ = 0;
  heldSilence_ += frames - played;
  next_ += frames;
  return !cancelled_;
}

void MixRing::EndAt(int64_t frame) {
  std::lock_guard lock(mutex_);
  end_ = std::max(frame, next_);
}

void MixRing::Finish() {
  std::lock_guard lock(mutex_);
  finished_ = true;
}

void MixRing::Cancel() {
  {
    std::lock_guard lock(mutex_);
    cancelled_ = true;
  }
  room_.notify_all();
}

void MixRing::DropBefore(int64_t frame) {
  const int64_t drop = std::clamp<int64_t>(frame - head_, 0, count_);
  head_ += drop;
  count_ -= drop;
  if (drop > 0) room_.notify_all();
}

MixRing::Held MixRing::HeldFrom(int64_t frame) {
  std::lock_guard lock(mutex_);
  DropBefore(frame);
  if (frame < head_) return {0, false};
  return {count_, finished_};
}

int64_t MixRing::ReadAt(int64_t frame, std::span<float> out) {
  std::lock_guard lock(mutex_);
  DropBefore(frame);
  if (frame < head_) return 0;
  const int64_t n = std::min(count_, static_cast<int64_t>(out.size() / 2));
  for (int64_t done = 0; done < n;) {
    const int64_t at = (head_ - start_ + done) % capacity_;
    const int64_t m = std::min(n - done, capacity_ - at);
    std::copy(ring_.data() + at * 2, ring_.data() + (at + m) * 2, out.data() + done * 2);
    done += m;
  }
  DropBefore(head_ + n);
  return n;
}

}  // namespace velorna
