#!/usr/bin/env bash
# How pure and how steady each song sounds in equal temperament, in fixed 5-limit just
# intonation on its best tonic, and in adaptive intonation: for every pair of notes sounding
# together, weighted by how long they do, the distance of their interval from the nearest
# just ratio (mean and 95th percentile, cents); the drift, the largest mean of chosen minus
# equal-tempered pitch over any 10-second window (cents); and the time adaptive takes.
# Prints a markdown table; exit status 1 when adaptive misses a target (drift above
# 10 cents, a mean or 95th percentile above fixed just intonation's as the table shows them,
# or on the chorales a mean above 2 or a 95th percentile above 6 cents). A mean equal to fixed
# just intonation's is marked "(tie)". Then adaptive over a scale that is not twelve-tone
# (19 equal steps to the octave, as a Scala file): the conversion must be refused, with its
# message and exit status 1, and write nothing; exit status 1 when it is not.
#
# usage: bench/intonation.sh [SONG.mid...]
#   default: the openmsx songs, the planetblupi songs and tests/data/chorales
#   BUILD   the build folder (default build/release)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$root/build/release}
tool="$build/bench/intonation_measure"
[[ -x "$tool" ]] || { echo "intonation: build first: scripts/build.sh release" >&2; exit 2; }
cli="$build/src/cli/velorna-cli"
if [ $# -gt 0 ]; then
  exec "$tool" "$@"
fi

# Adaptive's interval classes are twelve-tone; over 19-EDO it would pull C-E-G from the
# scale's 253/442 cents toward 5-limit just 386/702, so the combination is refused.
refusal() {
  local work status message
  work=$(mktemp -d)
  {
    echo "! 19edo.scl"
    echo "19 equal steps to the octave"
    echo " 19"
    echo "!"
    for step in $(seq 1 19); do awk -v s="$step" 'BEGIN { printf " %.5f\n", s * 1200 / 19 }'; done
  } > "$work/19edo.scl"
  set +e
  message=$("$cli" convert --lang en --adaptive --scl "$work/19edo.scl" --no-progress \
    -o "$work/out.wav" "$root/tests/data/chorales/chorale_in_d.mid" 2>&1)
  status=$?
  set -e
  echo
  echo "adaptive over 19-EDO (chorale_in_d): exit status $status: $message"
  local refused=0
  [[ $status -eq 1 && ! -e "$work/out.wav" && $message == *twelve* ]] && refused=1
  rm -rf "$work"
  if ((refused == 0)); then
    echo "intonation: adaptive over 19-EDO was not refused as it should be" >&2
    return 1
  fi
}
songs=()
for folder in /usr/share/games/openttd/baseset/openmsx /usr/share/planetblupi/music; do
  if compgen -G "$folder/*.mid" >/dev/null; then
    songs+=("$folder"/*.mid)
  else
    echo "intonation: no songs in $folder (openttd-openmsx, planetblupi-music-midi)" >&2
  fi
done
[[ -x "$cli" ]] || { echo "intonation: build first: scripts/build.sh release" >&2; exit 2; }
status=0
"$tool" "${songs[@]}" --strict "$root"/tests/data/chorales/*.mid || status=$?
refusal || status=1
exit "$status"
