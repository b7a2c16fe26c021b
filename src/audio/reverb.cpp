#include "audio/reverb.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace velorna {
namespace {

// Delay lengths in samples at 44100 Hz (Freeverb's published tuning); the right side adds a
// fixed spread so the two tails decorrelate.
constexpr std::array<size_t, 8> kCombLengths = {1116, 1188, 1277, 1356, 1422, 1491, 1557, 1617};
constexpr std::array<size_t, 4> kAllpassLengths = {556, 441, 341, 225};
constexpr size_t kStereoSpread = 23;
constexpr float kInputGain = 0.015f;
constexpr float kAllpassFeedback = 0.5f;
constexpr double kRoomScale = 0.28;
constexpr double kRoomOffset = 0.7;
constexpr double kDampScale = 0.4;
constexpr double kWetScale = 3.0;

// Every chunk must be shorter than the shortest delay so a line's reads in one chunk never see
// its own writes of that chunk; that keeps the inner loops free of loop-carried dependencies.
constexpr size_t kChunk = 128;
static_assert(kChunk <= 225);

inline float Flush(float x) {
  return std::fabs(x) < kEffectFlushBelow ? 0.0f : x;
}

// Calls body(offset, bufferPointer, count) over the one or two contiguous pieces of the ring
// starting at `pos`, then advances `pos` by n.
template <typename Body>
void ForRingPieces(std::vector<float>& ring, size_t& pos, size_t n, Body body) {
  size_t done = 0;
  while (done < n) {
    const size_t count = std::min(n - done, ring.size() - pos);
    body(done, ring.data() + pos, count);
    done += count;
    pos += count;
    if (pos == ring.size()) pos = 0;
  }
}

}  // namespace

Reverb::Reverb(const ReverbParams& params) {
  const double room = std::clamp(params.roomSize, 0.0, 1.0);
  const double damping = std::clamp(params.damping, 0.0, 1.0);
  const double width = std::clamp(params.width, 0.0, 1.0);
  const double wet = std::max(params.level, 0.0) * kWetScale;
  feedback_ = static_cast<float>(room * kRoomScale + kRoomOffset);
  damp1_ = static_cast<float>(damping * kDampScale);
  damp2_ = 1.0f - damp1_;
  wet1_ = static_cast<float>(wet * (width / 2 + 0.5));
  wet2_ = static_cast<float>(wet * ((1 - width) / 2));
  for (size_t side = 0; side < 2; ++side) {
    const size_t extra = side == 0 ? 0 : kStereoSpread;
    for (size_t length : kCombLengths) {
      combs_[side].push_back({std::vector<float>(length + extra, 0.0f), 0, 0.0f});
      longestLine_ = std::max(longestLine_, length + extra);
    }
    for (size_t length : kAllpassLengths) {
      allpasses_[side].push_back({std::vector<float>(length + extra, 0.0f), 0, 0.0f});
    }
  }
  zeroRun_ = static_cast<int64_t>(longestLine_);
}

void Reverb::Clear() {
  for (auto& bank : combs_) {
    for (auto& line : bank) line = {std::vector<float>(line.buffer.size(), 0.0f), 0, 0.0f};
  }
  for (auto& bank : allpasses_) {
    for (auto& line : bank) line = {std::vector<float>(line.buffer.size(), 0.0f), 0, 0.0f};
  }
  zeroRun_ = static_cast<int64_t>(longestLine_);
}

bool Reverb::IsSilent() const {
  return zeroRun_ >= static_cast<int64_t>(longestLine_);
}

void Reverb::Process(int64_t /*songSample*/, std::span<const float> send, std::span<float> left,
                     std::span<float> right) {
  const size_t frames = std::min({send.size(), left.size(), right.size()});
  for (size_t start = 0; start < frames; start += kChunk) {
    const size_t n = std::min(kChunk, frames - start);
    ProcessChunk(send.data() + start, left.data() + start, right.data() + start, n);
  }
}

void Reverb::ProcessChunk(const float* send, float* left, float* right, size_t n) {
  std::array<float, kChunk> input;
  std::array<std::array<float, kChunk>, 2> sum{};
  for (size_t i = 0; i < n; ++i) input[i] = send[i] * kInputGain;

  // Any non-zero value written into the state during this chunk.
  unsigned written = 0;
  const float feedback = feedback_;
  const float damp1 = damp1_;
  const float damp2 = damp2_;
  for (size_t side = 0; side < 2; ++side) {
    float* acc = sum[side].data();
    for (DelayLine& comb : combs_[side]) {
      if (damp1 == 0.0f) {
        // Undamped: the lowpass is the identity, and every sample is independent of the others.
        ForRingPieces(comb.buffer, comb.pos, n, [&](size_t off, float* ring, size_t count) {
          const float* in = input.data() + off;
          float* out = acc + off;
          unsigned nz = 0;
          for (size_t i = 0; i < count; ++i) {
            const float delayed = ring[i];
            const float w = Flush(in[i] + delayed * feedback);
            ring[i] = w;
            out[i] += delayed;
            nz |= static_cast<unsigned>(w != 0.0f);
          }
          written |= nz;
        });
      } else {
        float state = comb.filterState;
        ForRingPieces(comb.buffer, comb.pos, n, [&](size_t off, float* ring, size_t count) {
          const float* in = input.data() + off;
          float* out = acc + off;
          unsigned nz = 0;
          for (size_t i = 0; i < count; ++i) {
            const float delayed = ring[i];
            state = Flush(delayed * damp2 + state * damp1);
            const float w = Flush(in[i] + state * feedback);
            ring[i] = w;
            out[i] += delayed;
            nz |= static_cast<unsigned>(w != 0.0f) | static_cast<unsigned>(state != 0.0f);
          }
          written |= nz;
        });
        comb.filterState = state;
      }
    }
    for (DelayLine& allpass : allpasses_[side]) {
      ForRingPieces(allpass.buffer, allpass.pos, n, [&](size_t off, float* ring, size_t count) {
        float* io = acc + off;
        unsigned nz = 0;
        for (size_t i = 0; i < count; ++i) {
          const float delayed = ring[i];
          const float x = io[i];
          const float w = Flush(x + delayed * kAllpassFeedback);
          ring[i] = w;
          io[i] = delayed - x;
          nz |= static_cast<unsigned>(w != 0.0f);
        }
        written |= nz;
      });
    }
  }

  const float wet1 = wet1_;
  const float wet2 = wet2_;
  const float* accL = sum[0].data();
  const float* accR = sum[1].data();
  for (size_t i = 0; i < n; ++i) {
    left[i] += accL[i] * wet1 + accR[i] * wet2;
    right[i] += accR[i] * wet1 + accL[i] * wet2;
  }
  zeroRun_ = written != 0 ? 0 : zeroRun_ + static_cast<int64_t>(n);
}

}  // namespace velorna
