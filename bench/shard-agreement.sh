#!/usr/bin/env bash
# Whether a collection gives the same bytes however it is run: 200 one-note songs converted
# once in one run, then RUNS times in two shards side by side under GNU Parallel (each run
# converting two songs at once), every output compared with the single run's. Songs that
# share a SoundFont load and let go of their copies constantly here, so a fault between
# threads shows as a differing output or a crash.
#   bench/shard-agreement.sh [RUNS]   (default 50)
#   VELORNA_CLI  the program (default build/release/src/cli/velorna-cli)
#   SOUNDFONT    the SoundFont (default /usr/share/sounds/sf2/TimGM6mb.sf2)
# Exit status 1 when any run differed or failed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cli=$(realpath "${VELORNA_CLI:-$root/build/release/src/cli/velorna-cli}")
soundfont=${SOUNDFONT:-/usr/share/sounds/sf2/TimGM6mb.sf2}
runs=${1:-50}
[[ -x "$cli" ]] || { echo "shard-agreement: build first: scripts/build.sh release" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

PYTHONPATH="$root/bench" /usr/bin/python3 - "$work" <<'PY'
import sys
from pathlib import Path
from smf_bytes import smf, vlq

work = Path(sys.argv[1])
(work / "songs").mkdir()
names = []
for i in range(200):
    key = 36 + i % 60
    track = (vlq(0) + b"\xff\x51\x03" + (500000).to_bytes(3, "big")
             + vlq(0) + bytes([0x90, key, 90]) + vlq(60) + bytes([0x80, key, 0])
             + vlq(0) + b"\xff\x2f\x00")
    song = work / "songs" / f"song{i}.mid"
    song.write_bytes(smf(0, 480, [track]))
    names.append(str(song))
(work / "list.txt").write_text("\n".join(names) + "\n")
PY

"$cli" convert --lang en --no-progress --soundfont "$soundfont" --from-list "$work/list.txt" \
  -d "$work/one" >/dev/null 2>&1
bad=0
for run in $(seq 1 "$runs"); do
  rm -rf "$work/two"
  status=0
  /usr/bin/parallel --will-cite "$cli convert --lang en --no-progress --soundfont $soundfont \
    --from-list $work/list.txt -d $work/two --shard {}/2" ::: 1 2 >/dev/null 2>&1 || status=$?
  differing=$(diff -rq "$work/one" "$work/two" 2>/dev/null | wc -l || true)
  if ((status != 0 || differing != 0)); then
    echo "run $run: exit status $status, $differing outputs differ or are missing"
    bad=$((bad + 1))
  fi
done
echo "runs $runs, differing or failed $bad"
((bad == 0))
