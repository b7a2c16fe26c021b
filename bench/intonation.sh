#!/usr/bin/env bash
# How pure and how steady each song sounds in equal temperament, in fixed 5-limit just
# intonation on its best tonic, and in adaptive intonation: for every pair of notes sounding
# together, weighted by how long they do, the distance of their interval from the nearest
# just ratio (mean and 95th percentile, cents); the drift, the largest mean of chosen minus
# equal-tempered pitch over any 10-second window (cents); and the time adaptive takes.
# Prints a markdown table; exit status 1 when adaptive misses a target (drift above
# 10 cents, a mean or 95th percentile above fixed just intonation's as the table shows them,
# or on the chorales a mean above 2 or a 95th percentile above 6 cents). A mean equal to fixed
# just intonation's is marked "(tie)".
#
# usage: bench/intonation.sh [SONG.mid...]
#   default: the openmsx songs, the planetblupi songs and tests/data/chorales
#   BUILD   the build folder (default build/release)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$root/build/release}
tool="$build/bench/intonation_measure"
[[ -x "$tool" ]] || { echo "intonation: build first: scripts/build.sh release" >&2; exit 2; }
if [ $# -gt 0 ]; then
  exec "$tool" "$@"
fi
songs=()
for folder in /usr/share/games/openttd/baseset/openmsx /usr/share/planetblupi/music; do
  if compgen -G "$folder/*.mid" >/dev/null; then
    songs+=("$folder"/*.mid)
  else
    echo "intonation: no songs in $folder (openttd-openmsx, planetblupi-music-midi)" >&2
  fi
done
exec "$tool" "${songs[@]}" --strict "$root"/tests/data/chorales/*.mid
