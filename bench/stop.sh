#!/usr/bin/env bash
# How soon a Stop lands: converts a long song with velorna-cli and sends Ctrl-C (SIGINT) at
# several moments (0.3 s in, then at a quarter, half and three quarters of the time a whole
# conversion takes), with either engine and with --normalize, and reports the time from
# the signal to the program's end, and how much of the song was written. Goal: under 1 s
# at every point.
#   bench/stop.sh [song.mid]   (default: the longest song of planetblupi-music-midi)
#   ONLY="--engine fast --normalize"   one of the four runs alone
# Needs a release build (scripts/build.sh release). Exit status 1 when a Stop took 1 s or more.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cli=${VELORNA_CLI:-$root/build/release/src/cli/velorna-cli}
song=${1:-$(ls -S /usr/share/planetblupi/music/*.mid | head -n 1)}
font=${SOUNDFONT:-/usr/share/sounds/sf2/TimGM6mb.sf2}
[[ -x "$cli" ]] || { echo "stop: build first: scripts/build.sh release" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
printf '%-20s %9s %10s  %s\n' run "at s" "stop s" result
runs=("--engine fast" "--engine files" "--engine fast --normalize" "--engine files --normalize")
[[ -n "${ONLY:-}" ]] && runs=("$ONLY")
for options in "${runs[@]}"; do
  # shellcheck disable=SC2086  # the options are words
  for at in 0.3 5 20 60; do
    "$cli" convert --quiet --lang en --soundfont "$font" $options -o "$work/out.wav" "$song" \
      2>"$work/err" &
    pid=$!
    sleep "$at"
    sent=$(date +%s.%N)
    kill -INT "$pid" 2>/dev/null || true
    wait "$pid" || true
    took=$(awk -v from="$sent" -v to="$(date +%s.%N)" 'BEGIN { printf "%.3f", to - from }')
    result=$(grep -o 'stopped.*' "$work/err" | sed 's/ (.*//' | head -n 1 || true)
    printf '%-20s %9s %10.2f  %s\n' "${options#--engine }" "$at" "$took" "${result:-finished}"
    awk -v t="$took" 'BEGIN { exit !(t >= 1) }' && failed=1
    rm -f "$work/out.wav"
  done
done
exit "$failed"
