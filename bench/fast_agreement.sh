#!/usr/bin/env bash
# Agreement of the fast engine with the file-based one (the reference): converts each song
# with both engines and prints the SNR over both channels and the worst one-second window.
# The file-based engine takes minutes per song.
#
# usage: bench/fast_agreement.sh [SONG.mid...]
#   VELORNA_CLI  the program (default build/release/src/cli/velorna-cli)
#   SOUNDFONT    the SoundFont (default /usr/share/sounds/sf2/FluidR3_GM.sf2)
#   JOBS         threads of the fast engine (default: one per core)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cli=${VELORNA_CLI:-$root/build/release/src/cli/velorna-cli}
soundfont=${SOUNDFONT:-/usr/share/sounds/sf2/FluidR3_GM.sf2}
openmsx=/usr/share/games/openttd/baseset/openmsx
if [ $# -eq 0 ]; then
  set -- "$root/examples/demo.mid" "$openmsx/5432gone_redfarn.mid" \
    "$openmsx/chuggachugga.mid" "$openmsx/train_filled_with_cash.mid" \
    "$openmsx/coconut_run2.mid" "$openmsx/ultimate_run.mid" "$openmsx/ttsong_iii_imuh3.mid"
fi
jobs=()
[ -n "${JOBS:-}" ] && jobs=(--jobs "$JOBS")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

seconds() { /usr/bin/time -f %e -o "$work/time" "$@" >/dev/null 2>&1; cat "$work/time"; }

printf '%-24s %8s %7s %7s %11s %5s %8s %7s %14s\n' song files_s fast_s snr_db worst_1s_db at_s \
  ref_peak max_err worst_audible
for song in "$@"; do
  name=$(basename "$song" .mid)
  files=$(seconds "$cli" convert --quiet --engine files --soundfont "$soundfont" \
    -o "$work/$name.files.wav" "$song")
  fast=$(seconds "$cli" convert --quiet --engine fast "${jobs[@]}" --soundfont "$soundfont" \
    -o "$work/$name.fast.wav" "$song")
  read -r snr worst at peak err audible < <(/usr/bin/python3 "$root/bench/wav_agreement.py" \
    "$work/$name.files.wav" "$work/$name.fast.wav")
  printf '%-24s %8s %7s %7s %11s %5s %8s %7s %14s\n' "$name" "$files" "$fast" "$snr" "$worst" \
    "$at" "$peak" "$err" "$audible"
done
