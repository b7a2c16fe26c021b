#!/usr/bin/env bash
# Sets up the machine, builds Velorna and converts the demo song: out/demo.wav, its notes in
# just intonation above C.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" release
mkdir -p "$root/out"
"$root/build/release/src/cli/velorna-cli" convert -o "$root/out/demo.wav" "$root/examples/demo.mid"
echo "The demo song in just intonation: $root/out/demo.wav"
