// Playback of a song as a conversion would write it, from any point and in any tuning,
// for the front ends' previews: the song and the SoundFont are loaded once, and each start,
// seek or change of tuning starts a rendering by the fast engine from that point into a
// short ring that the audio output reads. A new tuning crossfades in at the same song
// position, so a comparison is heard without a gap or a click.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "base/reporter.h"
#include "tuning/tuning.h"

namespace velorna {

struct PreviewTuning {
  Tuning tuning;
  bool adaptive = false;          // each note's pitch chosen over the whole song from tuning's keys
  bool ignoreSongTuning = false;  // the song's own tuning messages do not set its notes
};

// Equal temperament at A4 = 440 Hz: what a tuning is compared against (A/B).
[[nodiscard]] PreviewTuning EqualTemperament();

// How far ahead of the output the rendering may run: the ring's mix, and the sums of the
// renderings beyond it. And the crossfade of a switch.
inline constexpr double kPreviewAheadSeconds = 2.0;
inline constexpr double kPreviewMixAheadSeconds = 1.0;
inline constexpr double kCrossfadeSeconds = 0.03;

// The frames a preview of the song at `path` spans (what songFrames() of a player of it
// gives), from the song alone: a front end shows its length before anything plays. None
// when the song cannot be loaded (the reporter has said why).
[[nodiscard]] std::optional<int64_t> PreviewSongFrames(const std::string& path, int sampleRate,
                                                       Reporter& reporter);

class PreviewPlayer {
 public:
  // Loads the song (prepared as a conversion prepares it) and the SoundFont (empty: the
  // default); nullptr when either cannot be (the reporter has said why). The player
  // starts paused at the song's start, in tuning A.
  static std::unique_ptr<PreviewPlayer> Open(const std::string& songPath,
                                             const std::string& soundFont, int sampleRate,
                                             Reporter& reporter);
  // The same for a song held in memory as a Standard MIDI File (`name` stands for it in
  // messages).
  static std::unique_ptr<PreviewPlayer> OpenBytes(std::span<const uint8_t> smf,
                                                  const std::string& name,
                                                  const std::string& soundFont, int sampleRate,
                                                  Reporter& reporter);
  ~PreviewPlayer();
  PreviewPlayer(const PreviewPlayer&) = delete;
  PreviewPlayer& operator=(const PreviewPlayer&) = delete;

  // The tunings compared: A (the chosen one) and B (by default equal temperament). A
  // change of the one heard while playing crossfades in at the same position. False for an
  // adaptive tuning whose keys do not repeat at the octave (the reporter has said so).
  [[nodiscard]] bool SetTuning(const PreviewTuning& a);
  [[nodiscard]] bool SetCompared(const PreviewTuning& b);
  // Hears B instead of A (or back), crossfading at the same position: now, or at song
  // frame `atFrame` when that is still to come (its rendering then starts at once, so the
  // switch lands on that frame).
  void SelectB(bool b, int64_t atFrame = -1);
  [[nodiscard]] bool selectedB() const;
  // The other tuning of A/B renders alongside and holds the position heard: a switch now
  // lands on it (see Collect).
  [[nodiscard]] bool readyToSwitch() const;

  void Play();
  void Pause();
  [[nodiscard]] bool playing() const;
  // Moves to `frame` (clamped to the song): what sounds there is heard from its onset's
  // rendering, from the frame on.
  void Seek(int64_t frame);

  // The next frame the output is given, the song's own length and its rate.
  [[nodiscard]] int64_t position() const;
  [[nodiscard]] int64_t songFrames() const;
  [[nodiscard]] int sampleRate() const;
  // Played to where the sound ends (a playing player then pauses at its end).
  [[nodiscard]] bool ended() const;
  // Output periods that found the rendering behind, once sound had reached the output, and
  // were given silence.
  [[nodiscard]] int64_t underruns() const;
  // The song frame at which the last switch of tuning began to be heard (its crossfade's
  // start); -1 before any.
  [[nodiscard]] int64_t lastSwitchFrame() const;

  // The output's side: fills `out` (interleaved stereo, full scale 1.0) with the next
  // frames; silence while paused. Never waits for the rendering.
  void Pull(std::span<float> out);

  // Frees renderings that the output has left behind, and starts the other tuning of A/B
  // alongside once sound flows; front ends call it from their own thread now and then (the
  // output's thread must neither wait for a rendering to end nor start one).
  void Collect();

 private:
  struct State;
  struct Rendering;
  explicit PreviewPlayer(std::unique_ptr<State> state);
  template <typename Load>
  static std::unique_ptr<PreviewPlayer> OpenWith(const Load& load, const std::string& soundFont,
                                                 int sampleRate, Reporter& reporter);
  [[nodiscard]] bool Set(const PreviewTuning& tuning, bool b);
  std::unique_ptr<State> state_;
};

}  // namespace velorna
