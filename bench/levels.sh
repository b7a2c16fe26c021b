#!/usr/bin/env bash
# Levels against an independent meter: converts each song with --loudness -16 (16-bit WAV)
# and --normalize (24-bit WAV), measures the loudness outputs with ffmpeg's ebur128 filter
# (integrated loudness and true peak) beside the level the program reported, and counts the
# longest run of equal samples at each output's peak. Also checks that --bits 24 at unity
# gain uses its 24 bits (sox stats) and agrees with the 16-bit WAV where that does not clip.
#
# usage: bench/levels.sh [SONG.mid...]   (default: the openmsx songs and the demo song)
#   VELORNA_CLI  the program under test (default build/release/src/cli/velorna-cli)
#   SOUNDFONT    the SoundFont (default /usr/share/sounds/sf2/TimGM6mb.sf2)
# Needs ffmpeg (apt-get install ffmpeg), sox and python3 with numpy. Prints one line per song
# and a verdict; exit status 1 when any song misses: loudness off the target by more than
# 0.3 LU (or, where the true-peak ceiling came first, off the reported loudness by more than
# 0.3 LU), true peak above -1 dBTP by more than 0.1 dB, a run of 3 or more equal samples at
# the peak, fewer than 24 bits of precision in use, or a 24-bit WAV that differs from the
# 16-bit one by more than 16-bit rounding (-95 dBFS RMS) where that does not clip.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cli=$(realpath "${VELORNA_CLI:-$root/build/release/src/cli/velorna-cli}")
soundfont=${SOUNDFONT:-/usr/share/sounds/sf2/TimGM6mb.sf2}
command -v ffmpeg >/dev/null || { echo "levels.sh needs ffmpeg: apt-get install ffmpeg" >&2; exit 2; }
command -v sox >/dev/null || { echo "levels.sh needs sox: apt-get install sox" >&2; exit 2; }
if [ $# -gt 0 ]; then
  songs=("$@")
else
  songs=("$root/examples/demo.mid" /usr/share/games/openttd/baseset/openmsx/*.mid)
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

misses=0
for song in "${songs[@]}"; do
  name=$(basename "$song" .mid)
  base=(convert --soundfont "$soundfont" --lang en)
  "$cli" "${base[@]}" -o "$work/l.wav" --loudness -16 "$song" 2>"$work/l.log" || { echo "$name: loudness conversion failed"; misses=$((misses + 1)); continue; }
  "$cli" "${base[@]}" -o "$work/n.wav" --bits 24 --normalize "$song" 2>/dev/null || { echo "$name: normalize failed"; misses=$((misses + 1)); continue; }
  "$cli" "${base[@]}" -o "$work/16.wav" "$song" 2>"$work/16.log" || { echo "$name: 16-bit failed"; misses=$((misses + 1)); continue; }
  "$cli" "${base[@]}" -o "$work/24.wav" --bits 24 "$song" 2>/dev/null || { echo "$name: 24-bit failed"; misses=$((misses + 1)); continue; }
  meter=$(ffmpeg -hide_banner -nostats -i "$work/l.wav" -af ebur128=peak=true -f null - 2>&1 | tail -12)
  measured_i=$(sed -n 's/^ *I: *\(-\?[0-9.]*\) LUFS.*/\1/p' <<<"$meter" | tail -1)
  measured_tp=$(sed -n 's/^ *Peak: *\(-\?[0-9.inf]*\) dBFS.*/\1/p' <<<"$meter" | tail -1)
  reported=$(sed -n 's/.*loudness \(-\?[0-9.]*\) LUFS.*/\1/p' "$work/l.log" | tail -1)
  bits=$(sox "$work/24.wav" -n stats 2>&1 | sed -n 's/^Bit-depth *\([0-9]*\/[0-9]*\).*/\1/p')
  clipped16=$(grep -c "LEVL1B000001" "$work/16.log")
  line=$(/usr/bin/python3 - "$work" "$measured_i" "$measured_tp" "${reported:-nan}" "$bits" "$clipped16" <<'PY'
import sys, wave, numpy as np
work, mi, mtp, rep, bits, clipped16 = sys.argv[1], float(sys.argv[2]), float(sys.argv[3]), float(sys.argv[4]), sys.argv[5], int(sys.argv[6])
def read(path):
    w = wave.open(path)
    raw = w.readframes(w.getnframes())
    width = w.getsampwidth()
    if width == 3:
        b = np.frombuffer(raw, np.uint8).reshape(-1, 3)
        v = (b[:, 0].astype(np.int32) | b[:, 1].astype(np.int32) << 8 | b[:, 2].astype(np.int32) << 16)
        v = np.where(v >= 1 << 23, v - (1 << 24), v)
        return v.astype(np.float64) / (1 << 23)
    return np.frombuffer(raw, np.int16).astype(np.float64) / 32768
def longest_run_at_peak(x):
    peak = np.max(np.abs(x))
    longest = 0
    for ch in (0, 1):
        at = np.abs(x[ch::2]) == peak
        run = 0
        for a in at:
            run = run + 1 if a else 0
            longest = max(longest, run)
    return longest
runs = max(longest_run_at_peak(read(f"{work}/l.wav")), longest_run_at_peak(read(f"{work}/n.wav")))
s16, s24 = read(f"{work}/16.wav"), read(f"{work}/24.wav")
n = min(len(s16), len(s24))
# The 16-bit WAV is the 24-bit one rounded to 16 bits: what differs is that rounding, about
# -101 dBFS RMS whatever the music's level.
diff = 10 * np.log10(max(np.mean((s24[:n] - s16[:n]) ** 2), 1e-30))
ceiling = mtp > -1.1 - 0.0 and abs(mi + 16) > 0.3
ok_loud = abs(mi + 16) <= 0.3 or (ceiling and abs(mi - rep) <= 0.3)
ok_tp = mtp <= -0.9
ok_bits = bits.endswith("/24")  # sox: bits the range needs / bits of precision in use
ok_diff = diff <= -95 or clipped16 > 0
verdict = "ok" if (ok_loud and ok_tp and runs < 3 and ok_bits and ok_diff) else "MISS"
print(f"I {mi:6.1f} LUFS (reported {rep:6.1f}) TP {mtp:5.1f} dBTP run@peak {runs} "
      f"24-bit {bits} 24-16 {diff:6.1f} dBFS{' (16-bit clips)' if clipped16 else ''} {verdict}")
PY
)
  echo "$name: $line"
  [[ -z $line || $line == *MISS* ]] && misses=$((misses + 1))
done
echo "${#songs[@]} songs, $misses missed"
[ "$misses" -eq 0 ]
