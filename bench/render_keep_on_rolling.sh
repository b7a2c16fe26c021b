#!/usr/bin/env bash
# Renders keep_on_rolling.mid (openttd-openmsx) once through the program's rendering path and
# once with the fluidsynth command line, with the same SoundFont, and prints both times.
#   bench/render_keep_on_rolling.sh [SOUNDFONT]   (default: FluidR3_GM, else TimGM6mb)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VELORNA_BUILD:-$root/build/release}
song=/usr/share/games/openttd/baseset/openmsx/keep_on_rolling.mid
soundfont=${1:-}
if [[ -z "$soundfont" ]]; then
  for candidate in /usr/share/sounds/sf2/FluidR3_GM.sf2 /usr/share/sounds/sf2/TimGM6mb.sf2; do
    if [[ -f "$candidate" ]]; then soundfont=$candidate; break; fi
  done
fi
for need in "$song" "$soundfont"; do
  [[ -f "$need" ]] || { echo "missing: $need" >&2; exit 1; }
done
command -v fluidsynth >/dev/null || { echo "missing: fluidsynth (apt-get install fluidsynth)" >&2; exit 1; }

cmake --build "$build" --target render_midi_file >/dev/null
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

echo "song: $song"
echo "SoundFont: $soundfont"
"$build/bench/render_midi_file" "$soundfont" "$song" "$out/velorna.wav"
start=$EPOCHREALTIME
fluidsynth -ni -q -F "$out/fluidsynth.wav" -r 44100 "$soundfont" "$song" >/dev/null 2>&1
end=$EPOCHREALTIME
awk -v s="$start" -v e="$end" 'BEGIN { printf "fluidsynth -ni -F: total %.3f s\n", e - s }'
