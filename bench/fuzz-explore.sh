#!/usr/bin/env bash
# Longer exploratory fuzzing of one target: bench/fuzz-explore.sh <target> [seconds] [jobs]
# (target: aiff, wav, ... as in fuzz/fuzz_<target>.cpp; default 600 s, 1 job). Builds the
# fuzz flavour when needed and keeps the grown corpus in fuzz/findings/<target>/corpus, so
# runs build on each other. Crashes, hangs and leaks land in fuzz/findings/<target>/; each
# one goes to fuzz/regressions/<target>/ with its fix. Ends with a minimised merge of the
# grown corpus into fuzz/findings/<target>/new-seeds, from which good seeds can be copied
# to fuzz/corpus/<target>/ by hand.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
target=${1:?usage: $0 <target> [seconds] [jobs]}
seconds=${2:-600}
jobs=${3:-1}
build="$root/build/fuzz"
work="$root/fuzz/findings/$target"
max_len=${MAX_LEN:-65536}

if [[ ! -x "$build/fuzz/fuzz_$target" ]]; then
  CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVELORNA_FUZZ=ON -DVELORNA_BUILD_GUI=OFF -DVELORNA_BUILD_TESTS=OFF \
    -DVELORNA_BUILD_BENCH=OFF >/dev/null
fi
cmake --build "$build" -j "$(nproc)" --target "fuzz_$target"
mkdir -p "$work/corpus" "$work/new-seeds"

start=$SECONDS
"$build/fuzz/fuzz_$target" -max_total_time="$seconds" -jobs="$jobs" -workers="$jobs" \
  -max_len="$max_len" -timeout=20 -rss_limit_mb=2048 -artifact_prefix="$work/" \
  -print_final_stats=1 "$work/corpus" "$root/fuzz/corpus/$target" \
  "$root/fuzz/regressions/$target" || status=$?
echo "fuzz-explore: $target: $((SECONDS - start)) s, status ${status:-0}"

"$build/fuzz/fuzz_$target" -merge=1 -max_len="$max_len" "$work/new-seeds" "$work/corpus" \
  >/dev/null 2>&1 || true
echo "fuzz-explore: corpus $(find "$work/corpus" -type f | wc -l) inputs," \
  "minimised $(find "$work/new-seeds" -type f | wc -l)"
find "$work" -maxdepth 1 -type f \( -name 'crash-*' -o -name 'timeout-*' -o -name 'leak-*' \
  -o -name 'oom-*' \) -print
exit "${status:-0}"
