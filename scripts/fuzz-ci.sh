#!/usr/bin/env bash
# Builds the fuzz flavour (clang, libFuzzer, ASan + UBSan), replays every seed and regression
# input of each target, then fuzzes each target for a fixed number of runs from a fixed seed,
# so a red run is reproduced by running the same command again. Findings land in
# fuzz/findings/<target>/; each one belongs in fuzz/regressions/<target>/ with its fix.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/fuzz"
findings="$root/fuzz/findings"
total_start=$SECONDS

# target  runs  max_len  timeout(s)  [more seed folders]: runs are sized to some 20-40 s
# per target on one core.
plan=(
  "aiff  1500000 16384 10"
  "wav     50000 16384 10"
  "smf      6000  8192 10 tests/data/corpus"
  "scale  500000   256 10"
  "scala 1000000  2048 10"
)

start=$SECONDS
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVELORNA_FUZZ=ON -DVELORNA_BUILD_GUI=OFF -DVELORNA_BUILD_TESTS=OFF \
  -DVELORNA_BUILD_BENCH=OFF -DVELORNA_WERROR=ON >/dev/null
targets=()
for line in "${plan[@]}"; do
  read -r name _ <<<"$line"
  targets+=("fuzz_$name")
done
cmake --build "$build" -j "$(nproc)" --target "${targets[@]}"
echo "fuzz: build $((SECONDS - start)) s"

export ASAN_OPTIONS=${ASAN_OPTIONS:-}
export UBSAN_OPTIONS="print_stacktrace=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
common=(-rss_limit_mb=2048 -print_final_stats=0)

failed=0
for line in "${plan[@]}"; do
  read -r name runs max_len timeout extra <<<"$line"
  binary="$build/fuzz/fuzz_$name"
  seeds=()
  for folder in "fuzz/corpus/$name" "fuzz/regressions/$name" $extra; do
    if [[ -d "$root/$folder" ]]; then seeds+=("$root/$folder"); fi
  done
  log=$(mktemp)
  mkdir -p "$findings/$name"

  # Replay: every stored input whole, whatever its length.
  start=$SECONDS
  mapfile -t inputs < <(find "${seeds[@]}" -type f -name '[!.]*' ! -name '*.md' \
    ! -name '*.tsv' 2>/dev/null | sort)
  if ((${#inputs[@]})); then
    if ! "$binary" "${common[@]}" -timeout="$timeout" \
      -artifact_prefix="$findings/$name/" "${inputs[@]}" >"$log" 2>&1; then
      echo "fuzz: $name: replay FAILED"
      tail -n 40 "$log"
      failed=1
    fi
  fi
  echo "fuzz: $name: replayed ${#inputs[@]} inputs in $((SECONDS - start)) s"

  # Fixed-seed fuzzing; new corpus entries go to a scratch folder, not the repository.
  start=$SECONDS
  scratch=$(mktemp -d)
  if ! "$binary" "${common[@]}" -seed=1 -runs="$runs" -max_len="$max_len" \
    -timeout="$timeout" -artifact_prefix="$findings/$name/" \
    "$scratch" "${seeds[@]}" >"$log" 2>&1; then
    echo "fuzz: $name: fuzzing FAILED (reproduce: scripts/fuzz-ci.sh; input in $findings/$name/)"
    tail -n 40 "$log"
    failed=1
  fi
  echo "fuzz: $name: $runs runs in $((SECONDS - start)) s"
  rm -rf "$scratch" "$log"
done

echo "fuzz: total $((SECONDS - total_start)) s"
exit "$failed"
