#!/usr/bin/env bash
# The fast engine against the synthesizer program's single pass over the same song and
# SoundFont: runs them alternately (paired), prints every run, then the median ratios of
# wall time and of CPU time (user + system) and the peak memory of each. The single pass runs
# with OMP_NUM_THREADS=1, so that its CPU time is one core's work like ours with --jobs 1
# (its effects otherwise wait in a parallel region for a helper thread).
# With CALLGRIND=1 it also counts instructions (valgrind's callgrind, one run each), which a
# shared machine disturbs far less than time: expect some minutes per song.
#
# usage: bench/fast_vs_single_pass.sh [SONG.mid [RUNS]]
#   default song: keep_on_rolling.mid of openttd-openmsx; RUNS default 3
#   VELORNA_CLI  the program (default build/release/src/cli/velorna-cli)
#   SOUNDFONT    the SoundFont (default /usr/share/sounds/sf2/FluidR3_GM.sf2)
#   JOBS         threads of the fast engine (default: one per core)
#   CALLGRIND    1: count instructions too
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

# Prints "wall-seconds cpu-seconds peak-KB" of one command.
measure() {
  /usr/bin/time -f '%e %U %S %M' -o "$work/time" "$@" >/dev/null 2>&1
  awk '{ printf "%s %.2f %s\n", $1, $2 + $3, $4 }' "$work/time"
}

# Prints the instructions one command executes, threads included. Children are traced: the
# single pass starts through env, and valgrind would otherwise count env alone.
instructions() {
  valgrind --tool=callgrind --trace-children=yes --callgrind-out-file="$work/cg.%p" "$@" \
    2>&1 >/dev/null |
    awk '/Collected :/ { n += $NF } END { print n }'
  rm -f "$work"/cg.*
}

fast=("$cli" convert --quiet "${jobs[@]}" --soundfont "$soundfont" -o "$work/fast.wav" "$song")
single=(env OMP_NUM_THREADS=1 fluidsynth -ni -F "$work/single.wav" "$soundfont" "$song")
echo "song: $song"
echo "soundfont: $soundfont"
echo "jobs: ${JOBS:-one per core}; single pass: OMP_NUM_THREADS=1"
printf '%-4s %9s %9s %9s %9s %10s %10s\n' run fast_s single_s fast_cpu single_cpu fast_MB single_MB
for ((i = 1; i <= runs; i++)); do
  read -r fs fc fm < <(measure "${fast[@]}")
  read -r ss sc sm < <(measure "${single[@]}")
  printf '%-4s %9s %9s %9s %9s %10d %10d\n' "$i" "$fs" "$ss" "$fc" "$sc" $((fm / 1024)) \
    $((sm / 1024))
  echo "$fs $ss $fc $sc $fm $sm" >>"$work/runs"
done
/usr/bin/python3 - "$work/runs" <<'PY'
import statistics, sys
rows = [list(map(float, line.split())) for line in open(sys.argv[1])]
med = lambda k: statistics.median(r[k] for r in rows)
ratio = lambda a, b: statistics.median(r[a] / r[b] for r in rows)
print(f"median wall: fast {med(0):.2f} s, single pass {med(1):.2f} s, ratio {ratio(0, 1):.2f}")
print(f"median CPU:  fast {med(2):.2f} s, single pass {med(3):.2f} s, ratio {ratio(2, 3):.2f}")
print(f"peak memory: fast {max(r[4] for r in rows) / 1024:.0f} MB, "
      f"single pass {max(r[5] for r in rows) / 1024:.0f} MB")
PY
if [[ "${CALLGRIND:-0}" == 1 ]]; then
  fi=$(instructions "${fast[@]}")
  si=$(instructions "${single[@]}")
  awk -v f="$fi" -v s="$si" 'BEGIN { printf "instructions: fast %.2f G, single pass %.2f G, ratio %.2f\n", f / 1e9, s / 1e9, f / s }'
fi
