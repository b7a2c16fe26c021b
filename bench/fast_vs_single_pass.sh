#!/usr/bin/env bash
# The fast engine against the synthesizer program's single pass over the same song and
# SoundFont: runs them alternately, prints every run, then the median time ratio and the
# peak memory of each.
#
# usage: bench/fast_vs_single_pass.sh [SONG.mid [RUNS]]
#   default song: keep_on_rolling.mid of openttd-openmsx; RUNS default 3
#   VELORNA_CLI  the program (default build/release/src/cli/velorna-cli)
#   SOUNDFONT    the SoundFont (default /usr/share/sounds/sf2/FluidR3_GM.sf2)
#   JOBS         threads of the fast engine (default: one per core)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cli=${VELORNA_CLI:-$root/build/release/src/cli/velorna-cli}
soundfont=${SOUNDFONT:-/usr/share/sounds/sf2/FluidR3_GM.sf2}
song=${1:-/usr/share/games/openttd/baseset/openmsx/keep_on_rolling.mid}
runs=${2:-3}
jobs=()
[ -n "${JOBS:-}" ] && jobs=(--jobs "$JOBS")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Prints "seconds peak-KB" of one command.
measure() {
  /usr/bin/time -f '%e %M' -o "$work/time" "$@" >/dev/null 2>&1
  cat "$work/time"
}

echo "song: $song"
echo "soundfont: $soundfont"
printf '%-4s %12s %12s %14s %14s\n' run fast_s single_s fast_peak_MB single_peak_MB
for ((i = 1; i <= runs; i++)); do
  read -r fs fm < <(measure "$cli" convert --quiet "${jobs[@]}" --soundfont "$soundfont" \
    -o "$work/fast.wav" "$song")
  read -r ss sm < <(measure fluidsynth -ni -F "$work/single.wav" "$soundfont" "$song")
  printf '%-4s %12s %12s %14d %14d\n' "$i" "$fs" "$ss" $((fm / 1024)) $((sm / 1024))
  echo "$fs $ss $fm $sm" >>"$work/runs"
done
/usr/bin/python3 - "$work/runs" <<'PY'
import statistics, sys
rows = [list(map(float, line.split())) for line in open(sys.argv[1])]
fast = statistics.median(r[0] for r in rows)
single = statistics.median(r[1] for r in rows)
print(f"median: fast {fast:.2f} s, single pass {single:.2f} s, ratio {fast / single:.2f}")
print(f"peak memory: fast {max(r[2] for r in rows) / 1024:.0f} MB, "
      f"single pass {max(r[3] for r in rows) / 1024:.0f} MB")
PY
