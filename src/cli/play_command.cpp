#include "cli/play_command.h"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>

#include "audio/audio_output.h"
#include "base/library_error.h"
#include "cli/exit_status.h"
#include "conversion/preview_player.h"

namespace velorna::cli {

namespace {

constexpr int kSeekSeconds = 5;
// How often the position line is redrawn and the keys looked at.
constexpr int kTickMilliseconds = 100;
constexpr char kEscape = '\x1b';

// The terminal in single keys without echo, for as long as this lives.
class RawKeys {
 public:
  RawKeys() {
    if (tcgetattr(STDIN_FILENO, &saved_) != 0) return;
    termios raw = saved_;
    raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    active_ = tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
  }
  ~RawKeys() {
    if (active_) tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
  }
  RawKeys(const RawKeys&) = delete;
  RawKeys& operator=(const RawKeys&) = delete;

  // The keys typed within `milliseconds`; arrows come as "\x1b[D" and "\x1b[C".
  std::string Read(int milliseconds) const {
    pollfd in{STDIN_FILENO, POLLIN, 0};
    if (poll(&in, 1, milliseconds) <= 0) return {};
    char keys[16];
    const ssize_t n = read(STDIN_FILENO, keys, sizeof keys);
    return n > 0 ? std::string(keys, static_cast<size_t>(n)) : std::string();
  }

 private:
  termios saved_{};
  bool active_ = false;
};

std::string Clock(int64_t frame, int rate) {
  const int64_t tenths = frame * 10 / rate;
  char text[32];
  std::snprintf(text, sizeof text, "%lld:%02lld.%lld", static_cast<long long>(tenths / 600),
                static_cast<long long>(tenths / 10 % 60), static_cast<long long>(tenths % 10));
  return text;
}

// "> 1:23.4 / 3:45.0  A": playing or paused (||), where, of how long, which tuning.
void ShowPosition(const PreviewPlayer& player) {
  const int rate = player.sampleRate();
  std::fprintf(stderr, "\r%s %s / %s  %c   ", player.playing() ? ">" : "||",
               Clock(player.position(), rate).c_str(), Clock(player.songFrames(), rate).c_str(),
               player.selectedB() ? 'B' : 'A');
  std::fflush(stderr);
}

// Acts on the keys typed; false when they end the playing.
bool TakeKeys(const std::string& keys, PreviewPlayer& player) {
  const int64_t seek = int64_t{kSeekSeconds} * player.sampleRate();
  for (size_t i = 0; i < keys.size(); ++i) {
    const char key = keys[i];
    if (key == 'q' || key == 'Q') return false;
    if (key == ' ') {
      if (player.playing()) {
        player.Pause();
      } else {
        player.Play();
      }
    } else if (key == 'a' || key == 'A') {
      player.SelectB(!player.selectedB());
    } else if (key == kEscape && i + 2 < keys.size() && keys[i + 1] == '[') {
      if (keys[i + 2] == 'C') player.Seek(player.position() + seek);
      if (keys[i + 2] == 'D') player.Seek(std::max<int64_t>(player.position() - seek, 0));
      i += 2;
    }
  }
  return true;
}

}  // namespace

int PlaySong(const CliOptions& cli, const Tuning& tuning, Reporter& reporter,
             const std::atomic<int>& interrupted) {
  const int rate = cli.outputFormat.sampleRate;
  std::unique_ptr<PreviewPlayer> player =
      PreviewPlayer::Open(cli.inputs[0], cli.soundFont, rate, reporter);
  if (!player || !player->SetTuning({tuning, cli.adaptive, cli.ignoreSongTuning}))
    return kExitNotWritten;
  std::unique_ptr<AudioOutput> output =
      AudioOutput::Open(rate, [&](std::span<float> out) { player->Pull(out); });
  if (!output) {
    ShowLibraryError(reporter, LibraryModule::AOUT, code::kAoutNoOutput, msg::kNoAudioOutput);
    return kExitNotWritten;
  }
  const int64_t from = std::llround(cli.fromSeconds * rate);
  if (from >= player->songFrames()) return kExitOk;  // past the end: nothing to play
  player->Seek(from);
  // A and B take turns at fixed song times, each scheduled once the one before has landed.
  const int64_t turn = std::llround(cli.abEvery * rate);
  int64_t nextTurn = turn > 0 ? from + turn : -1;
  if (nextTurn >= 0) player->SelectB(true, nextTurn);
  player->Play();

  const bool terminal = isatty(STDIN_FILENO) != 0 && isatty(STDERR_FILENO) != 0;
  std::optional<RawKeys> keys;
  if (terminal) keys.emplace();
  bool quit = false;
  while (!player->ended() && !quit && interrupted.load() == 0) {
    if (keys) {
      quit = !TakeKeys(keys->Read(kTickMilliseconds), *player);
      ShowPosition(*player);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(kTickMilliseconds));
    }
    if (nextTurn >= 0 && player->lastSwitchFrame() >= nextTurn) {
      nextTurn += turn;
      player->SelectB(!player->selectedB(), nextTurn);
    }
    player->Collect();
  }
  output.reset();  // no more pulls before the player goes
  if (terminal) std::fputc('\n', stderr);
  if (cli.verbose) {
    ShowLibraryError(reporter, LibraryModule::AOUT, code::kAoutUnderruns,
                     std::string(msg::kUnderruns) + " " + std::to_string(player->underruns()));
  }
  return interrupted.load() != 0 ? kExitInterrupted : kExitOk;
}

}  // namespace velorna::cli
