#!/usr/bin/env bash
# Sets up the machine, then builds and runs every test twice: a normal build and an
# AddressSanitizer + UndefinedBehaviorSanitizer build. Prints each stage's time.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
stage() {
  local name=$1; shift
  local start=$SECONDS
  echo "=== $name"
  "$@"
  echo "=== $name: $((SECONDS - start)) s"
}
run_ctest() {
  ctest --test-dir "$root/build/$1" --output-on-failure -j "$(nproc)" --timeout 600
}
stage setup "$root/scripts/setup.sh"
# The playback tests play into a null sink of a private PulseAudio daemon; without one
# they skip and say why.
if audio_dir=$("$root/scripts/test-audio-server.sh" start); then
  export XDG_RUNTIME_DIR=$audio_dir
  trap '"$root/scripts/test-audio-server.sh" stop' EXIT
fi
stage "build release" "$root/scripts/build.sh" release
stage "tests release" run_ctest release
stage "build asan" "$root/scripts/build.sh" asan
stage "tests asan" run_ctest asan
if [[ -x "$root/scripts/fuzz-ci.sh" ]]; then
  stage fuzz "$root/scripts/fuzz-ci.sh"
fi
