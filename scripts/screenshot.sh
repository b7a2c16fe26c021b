#!/usr/bin/env bash
# Draws the dialog idle, running and finished into docs/dialog.png, dialog-running.png and
# dialog-finished.png, and the same in English into docs/dialog-en.png and so on (no display
# needed).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/release"
if [[ ! -f "$build/build.ninja" ]]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target velorna_dialog_screenshot
mkdir -p "$root/docs"
for lang in ja en; do
  QT_QPA_PLATFORM=offscreen "$build/tests/app/velorna_dialog_screenshot" --lang "$lang" "$root/docs"
done
ls "$root"/docs/dialog*.png
