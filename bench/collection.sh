#!/usr/bin/env bash
# Songs per minute for a collection: the songs one by one (one run per song, each with every
# core, as a batch ran before songs went side by side) against one run of them all, where
# the songs go side by side and share the cores.
#
# usage: bench/collection.sh [SONG.mid...]   (default: 24 copies of examples/demo.mid)
#   VELORNA_CLI  the program (default build/release/src/cli/velorna-cli)
#   SOUNDFONT    the SoundFont (default /usr/share/sounds/sf2/TimGM6mb.sf2)
#   JOBS         threads in all (default: the number of cores)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cli=$(realpath "${VELORNA_CLI:-$root/build/release/src/cli/velorna-cli}")
soundfont=${SOUNDFONT:-/usr/share/sounds/sf2/TimGM6mb.sf2}
jobs=${JOBS:-$(nproc)}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if [ $# -gt 0 ]; then
  songs=("$@")
else
  songs=()
  for i in $(seq -w 1 24); do
    cp "$root/examples/demo.mid" "$work/demo$i.mid"
    songs+=("$work/demo$i.mid")
  done
fi
printf '%s\n' "${songs[@]}" > "$work/list.txt"

now() { date +%s.%N; }
per_minute() { awk -v n="${#songs[@]}" -v s="$1" 'BEGIN { printf "%.1f", n * 60 / s }'; }

mkdir "$work/one" "$work/side"
start=$(now)
for song in "${songs[@]}"; do
  "$cli" convert --soundfont "$soundfont" --jobs "$jobs" --no-progress --quiet \
    -d "$work/one" "$song"
done
one=$(awk -v a="$start" -v b="$(now)" 'BEGIN { print b - a }')

start=$(now)
"$cli" convert --soundfont "$soundfont" --jobs "$jobs" --no-progress --quiet \
  -d "$work/side" --from-list "$work/list.txt"
side=$(awk -v a="$start" -v b="$(now)" 'BEGIN { print b - a }')

same=yes
cmp -s <(cd "$work/one" && cat $(ls)) <(cd "$work/side" && cat $(ls)) || same=no
echo "songs: ${#songs[@]}, threads: $jobs"
printf 'one by one:   %6.1f s  %s songs/min\n' "$one" "$(per_minute "$one")"
printf 'side by side: %6.1f s  %s songs/min\n' "$side" "$(per_minute "$side")"
echo "outputs identical: $same"
