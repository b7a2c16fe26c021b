#!/usr/bin/env bash
# Converts one song under address-space limits (ulimit -v) from 100 MB to 2.5 GB, with
# --jobs 1, the default and --jobs 256: every run must end with 0 (converted) or 1 (with
# "メモリが不足しています。" or another message), never by a signal, and a failed run must
# leave the old output as it was and no temporary file.
#   bench/ulimit-sweep.sh [song.mid] [velorna-cli options...]
# Needs a release build (scripts/build.sh release). Exit status 1 when a run fails the check.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cli=${VELORNA_CLI:-$root/build/release/src/cli/velorna-cli}
song=${1:-$root/examples/demo.mid}
shift || true
[[ -x "$cli" ]] || { echo "ulimit-sweep: build first: scripts/build.sh release" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$song" "$work/song.mid"
failed=0
printf '%8s %-10s %5s  %s\n' "limit MB" jobs exit result
for mb in 100 200 300 400 500 600 700 800 1000 1200 1500 2000 2500; do
  for jobs in 1 default 256; do
    printf 'old' >"$work/song.wav"
    jobArgs=()
    [[ $jobs == default ]] || jobArgs=(--jobs "$jobs")
    status=0
    (ulimit -v $((mb * 1024)) && TMPDIR=$work exec "$cli" convert --quiet "${jobArgs[@]}" "$@" \
      "$work/song.mid") 2>"$work/err" || status=$?
    if ((status == 0)); then
      result=converted
    elif ((status == 1)) && [[ -s $work/err && $(cat "$work/song.wav") == old ]]; then
      result="failed: $(tail -n 1 "$work/err")"
    else
      result="FAIL: $(tail -n 1 "$work/err")"
      failed=1
    fi
    leftovers=$(find "$work" -mindepth 1 -not -name 'song.*' -not -name err | wc -l)
    ((leftovers == 0)) || { result="FAIL: leftovers"; failed=1; }
    printf '%8s %-10s %5s  %s\n' "$mb" "$jobs" "$status" "$result"
  done
done
exit "$failed"
