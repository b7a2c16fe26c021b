#!/usr/bin/env bash
# A PulseAudio daemon with a null sink for the playback tests, private to this user:
#   scripts/test-audio-server.sh start   starts it (or finds it running) and prints its
#                                        XDG_RUNTIME_DIR; the sink is velorna_test
#   scripts/test-audio-server.sh running exits 0 when it answers
#   scripts/test-audio-server.sh stop    stops the daemon start started
# The runtime folder is $VELORNA_PULSE_DIR, by default /tmp/velorna-pulse-<uid>. Exits
# non-zero when no daemon can be started (the tests then skip, saying why).
set -euo pipefail
dir=${VELORNA_PULSE_DIR:-/tmp/velorna-pulse-$(id -u)}
sink=velorna_test
export XDG_RUNTIME_DIR=$dir HOME=$dir PULSE_SERVER=unix:$dir/pulse/native

running() { pactl info >/dev/null 2>&1; }

case ${1:-} in
  start)
    command -v pulseaudio >/dev/null || { echo "pulseaudio is not installed" >&2; exit 1; }
    mkdir -p "$dir" && chmod 700 "$dir"
    if ! running; then
      # As root (a container) the daemon warns that it is meant for users, and runs.
      pulseaudio -D -n --exit-idle-time=-1 --log-target=newfile:"$dir/log" \
        --load="module-null-sink sink_name=$sink" --load=module-native-protocol-unix 2>/dev/null ||
        { echo "pulseaudio did not start: see $dir/log" >&2; exit 1; }
      for _ in $(seq 50); do running && break; sleep 0.1; done
      running || { echo "pulseaudio does not answer: see $dir/log" >&2; exit 1; }
    fi
    echo "$dir"
    ;;
  running) running ;;
  stop)
    if [[ -f $dir/pulse/pid ]]; then
      pid=$(cat "$dir/pulse/pid")
      kill "$pid" 2>/dev/null || true
      for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    fi
    ;;
  *) echo "usage: $0 start|stop" >&2; exit 2 ;;
esac
