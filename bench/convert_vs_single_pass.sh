#!/usr/bin/env bash
# Converts songs of openttd-openmsx with velorna-cli and renders each once with the
# fluidsynth program (the single-pass yardstick), printing both times, the ratio and the
# peak memory of each.
#
#   bench/convert_vs_single_pass.sh [--engine fast|files] [--runs N] [SONG.mid...]
#
# Default songs: 5432gone_redfarn, coconut_run2, ultimate_run (about a minute each).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cli="$root/build/release/src/cli/velorna-cli"
soundfont=${SOUNDFONT:-/usr/share/sounds/sf2/FluidR3_GM.sf2}
engine=fast
runs=1
songs=()
while (($#)); do
  case "$1" in
    --engine) engine=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    *) songs+=("$1"); shift ;;
  esac
done
if ((${#songs[@]} == 0)); then
  dir=/usr/share/games/openttd/baseset/openmsx
  songs=("$dir/5432gone_redfarn.mid" "$dir/coconut_run2.mid" "$dir/ultimate_run.mid")
fi
[[ -x "$cli" ]] || "$root/scripts/build.sh" release >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Prints "seconds peak-KiB" of a command.
measure() {
  /usr/bin/time -f '%e %M' -o "$work/time" "$@" >/dev/null 2>"$work/err" || {
    cat "$work/err" >&2
    return 1
  }
  cat "$work/time"
}

median() { sort -n | awk '{a[NR]=$1} END {print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'; }

printf '%-28s %10s %10s %7s %12s %12s\n' song velorna_s single_s ratio velorna_MiB single_MiB
for song in "${songs[@]}"; do
  name=$(basename "$song" .mid)
  cp "$song" "$work/$name.mid"
  : >"$work/v" >"$work/f" >"$work/vm" >"$work/fm"
  for ((r = 0; r < runs; r++)); do
    read -r vt vm < <(measure "$cli" convert --quiet --engine "$engine" --soundfont "$soundfont" \
      "$work/$name.mid")
    read -r ft fm < <(measure fluidsynth -ni -q -F "$work/single.wav" "$soundfont" "$song")
    echo "$vt" >>"$work/v"; echo "$ft" >>"$work/f"; echo "$vm" >>"$work/vm"; echo "$fm" >>"$work/fm"
    if grep -q . "$work/err"; then echo "messages for $name:" >&2; cat "$work/err" >&2; fi
  done
  v=$(median <"$work/v"); f=$(median <"$work/f")
  vm=$(sort -n "$work/vm" | tail -1); fm=$(sort -n "$work/fm" | tail -1)
  printf '%-28s %10.2f %10.2f %7.2f %12.0f %12.0f\n' "$name" "$v" "$f" \
    "$(echo "$v / $f" | bc -l)" "$(echo "$vm / 1024" | bc -l)" "$(echo "$fm / 1024" | bc -l)"
done
