#!/usr/bin/env bash
# Converts the ten long songs of planetblupi-music-midi (10 to 29 minutes, up to 28,000
# notes) with velorna-cli, one at a time, and reports for each the time taken and the peak
# memory (maximum resident set size). Checks that every output is a WAV whose length is the
# song's playing time, as an independent reader (mido) measures it, less at most one second
# or plus at most the 10 s its ending may ring.
# Then the songs of bench/make-stress-songs.py (an organ note held 60 minutes, a 60-minute
# song, real songs damaged in a seeded way, and those of seed 77), examples/demo.mid with
# --jobs 64 and 256, each three times, and the longest songs of the hostile set in
# tests/data/corpus: each must convert or fail with a message
# (exit 0 or 1, never a crash), with peak memory under 1.5 GB plus the SoundFont's size.
#   bench/long-songs.sh [velorna-cli options...]   e.g. --engine files, --soundfont x.sf2
#   STRESS=0 leaves the stress songs out; STRESS_ONLY=1 runs only them.
# Needs a release build (scripts/build.sh release). Exit status 1 when a check fails.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cli=${VELORNA_CLI:-$root/build/release/src/cli/velorna-cli}  # VELORNA_CLI=<path> for another build
songs=${SONGS:-/usr/share/planetblupi/music}  # SONGS=<folder> for other songs
[[ -x "$cli" ]] || { echo "long-songs: build first: scripts/build.sh release" >&2; exit 2; }
[[ -d "$songs" ]] || { echo "long-songs: install planetblupi-music-midi" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
peak_all=0
printf '%-14s %8s %8s %8s %9s %10s  %s\n' song notes "play s" "wav s" "time s" "peak MB" check
[[ ${STRESS_ONLY:-0} == 1 ]] && songs=/nonexistent
for song in "$songs"/*.mid; do
  [[ -e $song ]] || continue
  name=$(basename "$song" .mid)
  cp "$song" "$work/$name.mid"
  read -r playing notes < <(/usr/bin/python3 - "$song" <<'PY'
import sys, mido
try:
    m = mido.MidiFile(sys.argv[1])
    notes = sum(1 for t in m.tracks for x in t if x.type == "note_on" and x.velocity > 0)
    print(f"{m.length:.3f} {notes}")
except Exception:  # unreadable to mido: no length to check against
    print("-1 0")
PY
)
  status=0
  /usr/bin/time -f "%e %M" -o "$work/time" "$cli" convert --quiet "$@" "$work/$name.mid" \
    2>"$work/err" || status=$?
  read -r seconds peak_kb < <(tail -n 1 "$work/time")  # after any "Command exited" line
  check=$(/usr/bin/python3 - "$work/$name.wav" "$playing" "$status" <<'PY'
import os, struct, sys
path, playing, status = sys.argv[1], float(sys.argv[2]), int(sys.argv[3])
if status != 0 or not os.path.exists(path):
    print(f"FAIL exit {status}, no WAV"); sys.exit()
b = open(path, "rb").read(44)
size = os.path.getsize(path)
riff, wave, channels, rate, bits, data = (b[0:4], b[8:12], struct.unpack_from("<H", b, 22)[0],
    struct.unpack_from("<I", b, 24)[0], struct.unpack_from("<H", b, 34)[0],
    struct.unpack_from("<I", b, 40)[0])
if riff != b"RIFF" or wave != b"WAVE" or (channels, rate, bits) != (2, 44100, 16) \
        or data != size - 44:
    print("FAIL not a whole 44100 Hz 16-bit stereo WAV"); sys.exit()
length = data / 176400
# The ending rings out for at most 10 s past the song's last event.
print(f"{length:.3f} " + ("ok" if playing - 1.0 <= length <= playing + 11.0 else "FAIL length"))
PY
)
  if [[ $check == FAIL* ]]; then
    wav_seconds=0
    verdict=$check
  else
    wav_seconds=${check%% *}
    verdict=${check#* }
  fi
  [[ $verdict == ok ]] || failed=1
  peak_mb=$((peak_kb / 1024))
  ((peak_mb > peak_all)) && peak_all=$peak_mb
  printf '%-14s %8s %8.1f %8.1f %9s %10s  %s\n' "$name" "$notes" "$playing" "$wav_seconds" \
    "$seconds" "$peak_mb" "$verdict"
  [[ $verdict == ok ]] || sed 's/^/    /' "$work/err" | tail -n 5
  rm -f "$work/$name.mid" "$work/$name.wav"
done
echo "long-songs: highest peak ${peak_all} MB"

if [[ ${STRESS:-1} != 0 ]]; then
  # The SoundFont the runs use: the one named among the options, else the default.
  font=/usr/share/sounds/sf2/FluidR3_GM.sf2
  args=("$@")
  for ((i = 0; i < ${#args[@]}; ++i)); do
    [[ ${args[i]} == --soundfont ]] && font=${args[i + 1]}
  done
  [[ -e $font ]] || font=/usr/share/sounds/sf2/TimGM6mb.sf2
  bound_mb=$((1536 + $(stat -c %s "$font") / 1048576))
  mkdir -p "$work/stress"
  /usr/bin/python3 "$root/bench/make-stress-songs.py" "$work/stress"
  # The damaged songs of seed 77 (one becomes 3.9 hours long, another 4.7).
  /usr/bin/python3 "$root/bench/make-stress-songs.py" "$work/stress" --seed 77 --count 4
  # The hostile set's songs that run longest: 52-58 minutes of events in 19-86 KB.
  for name in test-all-gs-sounds test-all-xg-sounds test-all-gm2-sounds; do
    cp "$root/tests/data/corpus/$name.mid" "$work/stress/corpus-$name.mid"
  done
  printf '\n%-44s %6s %9s %10s  %s\n' "stress song" exit "time s" "peak MB" check
  # Every stress song three times (the peak varies from run to run with the threads' pace);
  # the demo song (34 s) with --jobs 64 and 256, three times each.
  runs=()
  for song in "$work"/stress/*.mid; do runs+=("$song|" "$song|" "$song|"); done
  for jobs in 64 256; do
    for _ in 1 2 3; do runs+=("$root/examples/demo.mid|$jobs"); done
  done
  for run in "${runs[@]}"; do
    song=${run%|*}
    jobs=${run#*|}
    name=$(basename "$song" .mid)${jobs:+ --jobs $jobs}
    status=0
    /usr/bin/time -f "%e %M" -o "$work/time" "$cli" convert --quiet "$@" ${jobs:+--jobs "$jobs"} \
      -o "$work/stress/out.wav" "$song" 2>"$work/err" || status=$?
    read -r seconds peak_kb < <(tail -n 1 "$work/time")
    peak_mb=$((peak_kb / 1024))
    verdict=ok
    if ((status > 1)); then
      verdict="FAIL exit $status"
    elif ((status == 1)) && [[ ! -s $work/err ]]; then
      verdict="FAIL no message"
    elif ((peak_mb >= bound_mb)); then
      verdict="FAIL over ${bound_mb} MB"
    fi
    [[ $verdict == ok ]] || failed=1
    printf '%-44s %6s %9s %10s  %s\n' "${name:0:44}" "$status" "$seconds" "$peak_mb" "$verdict"
    ((status == 1)) && sed 's/^/    /' "$work/err" | tail -n 2
    rm -f "$work/stress/out.wav"
  done
  echo "long-songs: bound ${bound_mb} MB"
fi
exit "$failed"
