#!/usr/bin/env bash
# Draws the dialog as it looks on start into docs/dialog.png (no display needed).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/release"
if [[ ! -f "$build/build.ninja" ]]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target velorna_dialog_screenshot
mkdir -p "$root/docs"
QT_QPA_PLATFORM=offscreen "$build/tests/app/velorna_dialog_screenshot" "$root/docs/dialog.png"
echo "$root/docs/dialog.png"
