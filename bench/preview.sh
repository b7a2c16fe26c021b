#!/usr/bin/env bash
# How soon a preview answers, through PulseAudio (the test daemon's null sink, as in CI):
# the first sound after Play 10 s into a song (goal <= 0.5 s), a change of tuning and an A/B
# switch while playing (goal <= 0.3 s; the worst of five each), and the underruns over 60 s
# of a dense song (goal 0). Then the time from turning adaptive intonation on while a
# 30-minute song plays (from 10 minutes in) to its being heard: its choice is made over the
# whole song first. A change of tuning also gives the processor time the process took over it:
# what it takes on an idle machine.
#   bench/preview.sh [song.mid [soundfont]]   (default: the densest openmsx song, FluidR3)
# Needs a release build (scripts/build.sh release).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tool=${VELORNA_PREVIEW_BENCH:-$root/build/release/bench/preview_latency}
song=${1:-$(ls -S /usr/share/games/openttd/baseset/openmsx/*.mid | head -n 1)}
font=${2:-/usr/share/sounds/sf2/FluidR3_GM.sf2}
[[ -x "$tool" ]] || { echo "preview: build first: scripts/build.sh release" >&2; exit 2; }
started=0
if ! "$root/scripts/test-audio-server.sh" running; then started=1; fi
XDG_RUNTIME_DIR=$("$root/scripts/test-audio-server.sh" start)
export XDG_RUNTIME_DIR
stop() { if ((started)); then "$root/scripts/test-audio-server.sh" stop; fi; }
trap stop EXIT
echo "song: $song"
echo "soundfont: $font"
"$tool" "$song" "$font" 10 60
long=${VELORNA_LONG_SONG:-/usr/share/planetblupi/music/music001.mid}
if [[ -f $long ]]; then
  echo "long song: $long"
  "$tool" --adaptive "$long" "$font" 600
fi
