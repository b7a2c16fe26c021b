#!/usr/bin/env bash
# Configures and builds one flavour: scripts/build.sh [release|asan] (default release).
# The build folder is build/<flavour>.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
flavour=${1:-release}
case "$flavour" in
  release) args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELORNA_WERROR=ON) ;;
  asan) args=(-DCMAKE_BUILD_TYPE=Debug -DVELORNA_SANITIZE=ON -DVELORNA_BUILD_BENCH=OFF -DVELORNA_WERROR=ON) ;;
  *) echo "usage: $0 [release|asan]" >&2; exit 2 ;;
esac
build="$root/build/$flavour"
cmake -S "$root" -B "$build" -G Ninja "${args[@]}" >/dev/null
cmake --build "$build" -j "$(nproc)"
