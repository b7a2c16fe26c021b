#!/usr/bin/env bash
# Installs Velorna into a folder of its own, checks that every file is where a desktop and
# `man` look for it and that the desktop entry and metainfo validate, that the command line
# comes apart from the dialog without Qt's GUI libraries, then converts the demo song with
# the installed velorna-cli.
#   install-test.sh --build BUILD_DIR       DESTDIR install of a configured, built tree
#   install-test.sh --deb CLI.deb GUI.deb   the packages' contents (dpkg-deb -x), their
#                                           control fields and lintian's verdict
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
demo="$here/../examples/demo.mid"
id=io.github.velorna.Velorna
soundfont=/usr/share/sounds/sf2/TimGM6mb.sf2
version=$(sed -n 's/^project(Velorna VERSION \([0-9.]*\).*/\1/p' "$here/../CMakeLists.txt")
# Qt's GUI and multimedia libraries, which the command line must not need. (X11 itself may
# come in below Debian's FluidSynth, through SDL2: that is FluidSynth's, not ours.)
gui_libraries='libQt6(Gui|Widgets|Multimedia|OpenGL|Network|XcbQpa)|libgstreamer'

root=$(mktemp -d)
cli_root=$(mktemp -d)
trap 'rm -rf "$root" "$cli_root"' EXIT
fail() {
  echo "install-test: $*" >&2
  exit 1
}
# The control field `field` of package file $1 holds each of the rest.
control_has() {
  local deb=$1 field=$2 value
  shift 2
  value=$(dpkg-deb -f "$deb" "$field")
  for wanted in "$@"; do
    grep -qF -- "$wanted" <<<"$value" || fail "$(basename "$deb"): $field lacks $wanted: $value"
  done
}

case "${1:-}" in
  --build)
    DESTDIR="$root" cmake --install "$2" --prefix /usr >/dev/null
    DESTDIR="$cli_root" cmake --install "$2" --prefix /usr --component cli >/dev/null
    ;;
  --deb)
    [[ $# -eq 3 ]] || fail "--deb takes the velorna-cli and the velorna package"
    cli_deb=$2 gui_deb=$3
    control_has "$cli_deb" Package velorna-cli
    control_has "$cli_deb" Depends libfluidsynth3 libsndfile1 libqt6core6
    control_has "$cli_deb" Recommends "fluid-soundfont-gm | timgm6mb-soundfont"
    ! dpkg-deb -f "$cli_deb" Depends | grep -qE 'libqt6(gui|widgets|multimedia)' ||
      fail "velorna-cli depends on Qt's GUI: $(dpkg-deb -f "$cli_deb" Depends)"
    control_has "$gui_deb" Package velorna
    control_has "$gui_deb" Depends "velorna-cli (= $version)" libqt6widgets6 libqt6multimedia6
    control_has "$gui_deb" Recommends gstreamer1.0-plugins-good gstreamer1.0-plugins-base
    dpkg-deb -x "$cli_deb" "$cli_root"
    dpkg-deb -x "$cli_deb" "$root"
    dpkg-deb -x "$gui_deb" "$root"
    if command -v lintian >/dev/null; then
      for deb in "$cli_deb" "$gui_deb"; do
        errors=$(lintian --tag-display-limit 0 "$deb" | grep '^E:' || true)
        [[ -z "$errors" ]] || fail "lintian: $errors"
      done
    fi
    ;;
  *)
    echo "usage: $0 --build BUILD_DIR | --deb CLI.deb GUI.deb" >&2
    exit 2
    ;;
esac

# The command line alone: its files, none of the dialog's, no GUI library behind it.
cli_usr="$cli_root/usr"
for file in bin/velorna-cli share/velorna/translations/messages_en.qm \
  share/man/man1/velorna-cli.1.gz share/man/ja/man1/velorna-cli.1.gz \
  share/doc/velorna-cli/copyright share/doc/velorna-cli/changelog.gz; do
  [[ -s "$cli_usr/$file" ]] || fail "the command line's part lacks $file"
done
for file in bin/velorna share/velorna/help "share/applications/$id.desktop"; do
  [[ ! -e "$cli_usr/$file" ]] || fail "the command line's part holds the dialog's $file"
done
if ldd "$cli_usr/bin/velorna-cli" | grep -E "$gui_libraries"; then
  fail "velorna-cli needs GUI libraries"
fi

usr="$root/usr"
for file in bin/velorna bin/velorna-cli share/velorna/help/index.htm \
  share/velorna/help/index_en.htm share/velorna/translations/messages_en.qm \
  share/velorna/translations/velorna_en.qm \
  "share/applications/$id.desktop" "share/metainfo/$id.metainfo.xml" \
  "share/icons/hicolor/scalable/apps/$id.svg" "share/icons/hicolor/48x48/apps/$id.png" \
  "share/icons/hicolor/256x256/apps/$id.png" \
  share/man/man1/velorna.1.gz share/man/man1/velorna-cli.1.gz \
  share/man/ja/man1/velorna.1.gz share/man/ja/man1/velorna-cli.1.gz \
  share/doc/velorna/copyright share/doc/velorna/changelog.gz; do
  [[ -s "$usr/$file" ]] || fail "missing $file"
done
# The icon sizes are what their folders say.
for size in 48 256; do
  # A PNG's width and height are the two big-endian words after its signature and IHDR tag.
  read -r w h < <(od -An -tu1 -j16 -N8 "$usr/share/icons/hicolor/${size}x$size/apps/$id.png" |
    awk '{ print $1 * 16777216 + $2 * 65536 + $3 * 256 + $4, $5 * 16777216 + $6 * 65536 + $7 * 256 + $8 }')
  [[ $w == "$size" && $h == "$size" ]] || fail "the $size px icon is $w x $h"
done

desktop-file-validate "$usr/share/applications/$id.desktop" || fail "desktop entry"
grep -q '^MimeType=audio/midi;audio/x-midi;$' "$usr/share/applications/$id.desktop" ||
  fail "the desktop entry does not open MIDI files"
appstreamcli validate --no-net "$usr/share/metainfo/$id.metainfo.xml" >/dev/null ||
  fail "metainfo: $(appstreamcli validate --no-net "$usr/share/metainfo/$id.metainfo.xml")"
for page in "$usr"/share/man/man1/*.gz "$usr"/share/man/ja/man1/*.gz; do
  warnings=$(zcat "$page" | groff -k -Tutf8 -man -ww -z 2>&1)
  [[ -z "$warnings" ]] || fail "$page: $warnings"
done

# The installed program runs from where it was installed, with the system's libraries.
"$usr/bin/velorna-cli" --version | grep -q '^velorna-cli ' || fail "velorna-cli --version"
out="$root/demo.flac"
"$usr/bin/velorna-cli" convert --quiet --soundfont "$soundfont" -o "$out" "$demo" ||
  fail "converting the demo song"
[[ $(soxi -t "$out") == flac && $(soxi -r "$out") == 44100 && $(soxi -c "$out") == 2 ]] ||
  fail "the demo's output is not 44100 Hz stereo FLAC"
seconds=$(soxi -D "$out")
awk -v s="$seconds" 'BEGIN { exit !(s > 30 && s < 40) }' || fail "the demo lasts $seconds s"
# It speaks English outside Japanese locales.
printf 'no MIDI' >"$root/notmidi.mid"
english=$(env -u LC_ALL -u LC_MESSAGES LANG=en_US.UTF-8 "$usr/bin/velorna-cli" convert \
  "$root/notmidi.mid" 2>&1 || true)
grep -qF 'notmidi.mid: MDLD17000002 Not a MIDI file.' <<<"$english" ||
  fail "no English message: $english"
echo "install-test: all installed files in place, velorna-cli apart from the GUI, demo converted ($seconds s)"
