#include "support/audio_take.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "support/run_process.h"
#include "support/smf_bytes.h"

namespace velorna::test {

namespace {

const std::string kServer = std::string(VELORNA_SOURCE_DIR) + "/scripts/test-audio-server.sh";

}  // namespace

AudioServer::AudioServer() {
  started_ = RunProcess({kServer, "running"}).exitStatus != 0;
  const ProcessResult start = RunProcess({kServer, "start"});
  if (start.exitStatus != 0) {
    why_ = "no PulseAudio daemon could be started: " + start.err;
    return;
  }
  const std::string dir = start.out.substr(0, start.out.find('\n'));
  setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
  unsetenv("PULSE_SERVER");
}

AudioServer::~AudioServer() {
  if (started_ && why_.empty()) RunProcess({kServer, "stop"});
}

namespace {

// Runs a shell command with `dir` and `sink` as $1 and $2 through system(), which leaves
// the recorders it starts in the background holding none of this process's pipes; true
// when it exits 0.
bool Shell(const std::string& command, const std::filesystem::path& dir, const std::string& sink) {
  const std::string line = "/bin/sh -c '" + command + "' sh '" + dir.string() + "' '" + sink + "'";
  return std::system(line.c_str()) == 0;
}

}  // namespace

MonitorRecording::MonitorRecording(const std::filesystem::path& dir, const std::string& sink)
    : dir_(dir) {
  // The recorders outlive the shell: their ids stay in files for Stop.
  recording_ = Shell(
      "cd \"$1\" || exit 1; "
      "PULSE_SINK=$2 pacat --raw --rate=44100 --channels=2 --format=s16le /dev/zero "
      "</dev/null >/dev/null 2>&1 & echo $! >silence.pid; "
      "parec --latency-msec=100 -d $2.monitor --raw --rate=44100 --channels=2 --format=s16le "
      "</dev/null >take.raw 2>/dev/null & echo $! >take.pid; "
      "for _ in $(seq 100); do [ -s take.raw ] && exit 0; sleep 0.05; done; exit 1",
      dir, sink);
}

MonitorRecording::~MonitorRecording() {
  (void)Stop();
}

std::vector<int16_t> MonitorRecording::Stop() {
  (void)Shell(
      "cd \"$1\" && for f in take.pid silence.pid; do [ -f $f ] && kill $(cat $f); rm -f $f; "
      "done; sleep 0.2",
      dir_, {});
  if (!recording_) return {};
  recording_ = false;
  const Bytes bytes = ReadBytes(dir_ / "take.raw");
  std::vector<int16_t> samples(bytes.size() / 2);
  for (size_t i = 0; i < samples.size(); ++i)
    samples[i] = static_cast<int16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
  return samples;
}

std::vector<int16_t> OnSongClock(const std::vector<int16_t>& take, double leadSeconds) {
  constexpr int kSoundLevel = 300;
  // Two frames of exact silence are no zero crossing of a tone louder than a few steps.
  constexpr size_t kGapFrames = 2;
  size_t first = 0;
  while (2 * first < take.size() && std::abs(take[2 * first]) < kSoundLevel) ++first;
  std::vector<int16_t> song(static_cast<size_t>(leadSeconds * kTakeRate) * 2, 0);
  for (size_t i = first; 2 * i < take.size();) {
    size_t run = 0;
    while (2 * (i + run) < take.size() && take[2 * (i + run)] == 0 && take[2 * (i + run) + 1] == 0)
      ++run;
    if (run < kGapFrames || 2 * (i + run) >= take.size())
      song.insert(song.end(), take.begin() + static_cast<ptrdiff_t>(2 * i),
                  take.begin() + static_cast<ptrdiff_t>(2 * (i + std::max<size_t>(run, 1))));
    i += std::max<size_t>(run, 1);
  }
  return song;
}

double ToneHz(const std::vector<int16_t>& song, double from, double to) {
  std::vector<double> crossings;
  const auto end = std::min(static_cast<size_t>(to * kTakeRate), song.size() / 2);
  for (auto i = static_cast<size_t>(from * kTakeRate); i + 1 < end; ++i) {
    const double a = song[2 * i], b = song[2 * i + 2];
    if (a < 0 && b >= 0) crossings.push_back(static_cast<double>(i) + a / (a - b));
  }
  std::vector<double> periods;
  for (size_t k = 1; k < crossings.size(); ++k) periods.push_back(crossings[k] - crossings[k - 1]);
  if (periods.empty()) return 0;
  std::vector<double> sorted = periods;
  std::nth_element(sorted.begin(), sorted.begin() + static_cast<ptrdiff_t>(sorted.size() / 2),
                   sorted.end());
  const double median = sorted[sorted.size() / 2];
  double sum = 0;
  int count = 0;
  for (const double p : periods) {
    if (std::abs(p - median) > median / 100) continue;
    sum += p;
    ++count;
  }
  return count > 0 ? kTakeRate * count / sum : 0;
}

double CentsAt(const std::vector<int16_t>& song, double from, double to, double targetHz) {
  return 1200 * std::log2(ToneHz(song, from, to) / targetHz);
}

double TargetHz(int key, double cents) {
  return 441 * std::exp2(((key - 69) * 100 + cents) / 1200);
}

}  // namespace velorna::test
