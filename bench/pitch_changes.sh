#!/usr/bin/env bash
# The notes whose pitch changed against a reference build: for each song, the notes of
# `inspect --bends` (bend, key shift and what the rate adds) that differ, old line then new.
# Only those notes' renderings can differ; every other note is rendered as before.
#
# usage: bench/pitch_changes.sh REFERENCE_CLI [SONG.mid...]
#   VELORNA_CLI  the program under test (default build/release/src/cli/velorna-cli)
#   SOUNDFONT    the SoundFont (default /usr/share/sounds/sf2/FluidR3_GM.sf2)
# Songs default to the openmsx set. Prints a count per song and a total.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
[ $# -ge 1 ] || { echo "usage: $0 REFERENCE_CLI [SONG.mid...]" >&2; exit 2; }
ref=$(realpath "$1")
shift
cli=$(realpath "${VELORNA_CLI:-$root/build/release/src/cli/velorna-cli}")
soundfont=${SOUNDFONT:-/usr/share/sounds/sf2/FluidR3_GM.sf2}
if [ $# -gt 0 ]; then songs=("$@"); else songs=(/usr/share/games/openttd/baseset/openmsx/*.mid); fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
total=0
for song in "${songs[@]}"; do
  name=$(basename "$song" .mid)
  # Headings aside: the reference pitch line is new. A reference that takes no SoundFont
  # for inspect measured every key from its own whole cents, whatever the SoundFont.
  "$ref" inspect --bends --soundfont "$soundfont" "$song" >"$work/old" 2>/dev/null ||
    "$ref" inspect --bends "$song" >"$work/old" 2>&1
  sed -i '/^#/d' "$work/old"
  "$cli" inspect --bends --soundfont "$soundfont" "$song" 2>&1 | grep -v '^#' >"$work/new"
  changed=$(paste -d '\n' "$work/old" "$work/new" | paste - - -d '\t' |
    awk -F '\t' -v song="$name" '$1 != $2 { print song ": old " $1; print song ": new " $2; n++ }
      END { print n + 0 > "/dev/stderr" }' 2>"$work/count")
  count=$(cat "$work/count")
  [ -n "$changed" ] && printf '%s\n' "$changed"
  printf '%-32s %d notes changed\n' "$name" "$count"
  total=$((total + count))
done
echo "total: $total notes changed"
