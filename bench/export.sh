#!/usr/bin/env bash
# Exporting MIDI: how long the export of each song takes beyond loading it, and, with every
# form rendered by the fluidsynth program with a pure-sine SoundFont, how far each pitched
# note lands from its target (default tuning). A note is measured where no other note sounds
# within two semitones and its bend and modulation wheel stay still
# (bench/export_measure.cpp); the others are counted as skipped. The notes the export
# reported as sharing a channel (more notes at once than channels) are counted apart
# ("reported sharing"). Every note's start in the exported file, in seconds through its own
# tempo map, is compared with the song's.
# Exit status 1 when a measured note that was not reported misses its target by more than
# 1.3 cents, or a note starts more than a millisecond from where the song starts it (or is
# missing).
#
# usage: bench/export.sh [SONG.mid...]
#   default: the demo song, planetblupi's music001 (29 min) and openmsx's keep_on_rolling
#   (a song with its own bends)
#   BUILD   the build folder (default build/release)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$root/build/release}
tool="$build/bench/export_measure"
cli="$build/src/cli/velorna-cli"
[[ -x "$tool" && -x "$cli" ]] || { echo "export: build first: scripts/build.sh release" >&2; exit 2; }
if [ $# -gt 0 ]; then
  songs=("$@")
else
  songs=("$root/examples/demo.mid" /usr/share/planetblupi/music/music001.mid
         /usr/share/games/openttd/baseset/openmsx/keep_on_rolling.mid)
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$tool" font "$work/sine.sf2"
status=0
for song in "${songs[@]}"; do
  name=$(basename "$song" .mid)
  echo "$name: seconds $("$tool" time "$song")"
  for form in bends mpe mts; do
    # A file larger than Velorna reads back is written with a warning (EXPT0E000005): another
    # synthesizer plays it whole.
    "$cli" export --as "$form" -o "$work/$name-$form.mid" "$song" 2>"$work/messages" >/dev/null ||
      { echo "$name $form: export failed"; cat "$work/messages"; status=1; continue; }
    # Gain 0.25: at 1, the dense chords of keep_on_rolling's last minute clipped (330 000
    # samples at full scale) and the distortion moved peaks by up to 5 cents, in a rendering
    # of the song itself as much as in any export.
    fluidsynth -ni -q -g 0.25 -R 0 -C 0 -r 44100 -T raw -O s16 -F "$work/$name-$form.raw" \
      "$work/sine.sf2" "$work/$name-$form.mid" >/dev/null 2>&1
    result=$("$tool" pitch "$song" "$work/$name-$form.raw" "$form") || status=1
    onsets=$("$tool" onsets "$song" "$work/$name-$form.mid") || status=1
    echo "$name $form: $result; $onsets $(tr '\n' ' ' <"$work/messages" | cut -c1-160)"
    rm -f "$work/$name-$form.raw"
  done
done
exit $status
