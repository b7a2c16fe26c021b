#!/usr/bin/env bash
# Velorna with every offset 0 against FluidSynth playing the song in one pass, with the song's
# events on Velorna's own 64-sample grid (bench/fidelity.cpp renders that yardstick). Prints a
# markdown table: dry SNR (both sides with every reverb and chorus send at 0), the level
# difference of the octave bands 250 Hz-4 kHz and of the side signal with the effects on, and
# the seconds of audible ending lost (see bench/fidelity.py).
#
#   bench/fidelity.sh [--cli PATH] [--before PATH] [--every N] [SONG.mid...]
#
# Default songs: the openttd-openmsx songs and the planetblupi songs; --every N takes every
# N-th of them. --cli measures another build of velorna-cli; --before also measures a second
# one (e.g. an older build) against the same yardstick and prints its table after the first.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/release"
cli="$build/src/cli/velorna-cli"
tool="$build/bench/fidelity"
soundfont=${SOUNDFONT:-/usr/share/sounds/sf2/FluidR3_GM.sf2}
before=
every=1
songs=()
while (($#)); do
  case "$1" in
    --cli) cli=$2; shift 2 ;;
    --before) before=$2; shift 2 ;;
    --every) every=$2; shift 2 ;;
    *) songs+=("$1"); shift ;;
  esac
done
if ((${#songs[@]} == 0)); then
  all=(/usr/share/games/openttd/baseset/openmsx/*.mid /usr/share/planetblupi/music/*.mid)
  for ((i = 0; i < ${#all[@]}; i += every)); do songs+=("${all[i]}"); done
fi
[[ -x "$cli" && -x "$tool" ]] || "$root/scripts/build.sh" release >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
zero=0,0,0,0,0,0,0,0,0,0,0,0

header() {
  echo "| song | dry SNR dB | 250 Hz | 500 Hz | 1 kHz | 2 kHz | 4 kHz | band mean | side | ending lost s |"
  echo "| --- | ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: |"
}

# Converts the stripped and the whole song with one build and prints its row.
row() {
  local program=$1 name=$2
  "$program" convert --quiet --cents "$zero" --soundfont "$soundfont" -o "$work/vel_dry.wav" \
    "$work/dry.mid" >/dev/null 2>&1
  "$program" convert --quiet --cents "$zero" --soundfont "$soundfont" -o "$work/vel_wet.wav" \
    "$work/song.mid" >/dev/null 2>&1
  /usr/bin/python3 "$root/bench/fidelity.py" "$name" "$work/ref_dry.wav" "$work/vel_dry.wav" \
    "$work/ref_wet.wav" "$work/vel_wet.wav"
}

header
for song in "${songs[@]}"; do
  name=$(basename "$(dirname "$(dirname "$song")")")/$(basename "$song" .mid)
  name=${name#baseset/}
  cp "$song" "$work/song.mid"
  "$tool" strip "$song" "$work/dry.mid"
  "$tool" reference --dry "$soundfont" "$work/dry.mid" "$work/ref_dry.wav"
  "$tool" reference "$soundfont" "$song" "$work/ref_wet.wav"
  row "$cli" "$name"
  if [[ -n "$before" ]]; then row "$before" "$name" >>"$work/before.md"; fi
done
if [[ -n "$before" ]]; then
  echo
  echo "With $before:"
  echo
  header
  cat "$work/before.md"
fi
