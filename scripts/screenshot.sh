#!/usr/bin/env bash
# Draws the dialog idle, at its least and a large size, running and finished into
# docs/dialog.png, dialog-min.png, dialog-large.png, dialog-running.png and
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
# Under a real X server (Xvfb) where there is one, as a desktop shows it; else offscreen.
for lang in ja en; do
  if command -v xvfb-run >/dev/null; then
    xvfb-run -a -s "-screen 0 1600x1200x24" env QT_QPA_PLATFORM=xcb \
      "$build/tests/app/velorna_dialog_screenshot" --lang "$lang" "$root/docs"
  else
    QT_QPA_PLATFORM=offscreen "$build/tests/app/velorna_dialog_screenshot" --lang "$lang" "$root/docs"
  fi
done
ls "$root"/docs/dialog*.png
