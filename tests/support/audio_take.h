// Playback recorded from a null sink of the test PulseAudio daemon (scripts/test-audio-server.sh)
// and measured: the daemon for a test, a recording of a sink's monitor, the recording put back
// on the song's clock, and the pitch of a pure tone in it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace velorna::test {

inline constexpr int kTakeRate = 44100;

// The test daemon, started for the test when none runs, and stopped after it then; its
// XDG_RUNTIME_DIR is set in this process. why() says why it could not be had.
class AudioServer {
 public:
  AudioServer();
  ~AudioServer();
  AudioServer(const AudioServer&) = delete;
  AudioServer& operator=(const AudioServer&) = delete;
  const std::string& why() const { return why_; }

 private:
  bool started_ = false;
  std::string why_;
};

// Records the monitor of `sink` (16-bit stereo at kTakeRate into `dir`) from construction, with
// a silent stream playing into the sink so that the monitor runs before and after the sound.
class MonitorRecording {
 public:
  MonitorRecording(const std::filesystem::path& dir, const std::string& sink);
  ~MonitorRecording();
  MonitorRecording(const MonitorRecording&) = delete;
  MonitorRecording& operator=(const MonitorRecording&) = delete;
  bool recording() const { return recording_; }
  // Ends the recording; the samples, interleaved.
  std::vector<int16_t> Stop();

 private:
  std::filesystem::path dir_;
  bool recording_ = false;
};

// The recording on the song's clock: from the first sound, which is at `leadSeconds` of the
// song, with the silences an underrun put into the sound taken out again (the sound server
// plays silence while a stream is late, and then the stream's sound, none of it lost).
std::vector<int16_t> OnSongClock(const std::vector<int16_t>& take, double leadSeconds);

// The pitch of a pure tone on the left channel from its rising zero crossings between two
// song times: periods that a lost or late stretch broke (off the median by more than a
// percent) are left out, and the rest are averaged.
double ToneHz(const std::vector<int16_t>& song, double from, double to);
double CentsAt(const std::vector<int16_t>& song, double from, double to, double targetHz);

// The tone font sounds key 69 at 441 Hz; a key's target moves it by its cents.
double TargetHz(int key, double cents);

}  // namespace velorna::test
