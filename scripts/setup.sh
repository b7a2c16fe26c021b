#!/usr/bin/env bash
# Brings a fresh Debian 12 machine (root) to everything Velorna needs to build, test and run.
# Packages already installed are skipped; a second run does nothing but check.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libfluidsynth-dev libglib2.0-dev fluidsynth fluid-soundfont-gm timgm6mb-soundfont
  fluidr3mono-gm-soundfont
  qt6-base-dev qt6-translations-l10n qt6-tools-dev qt6-l10n-tools fonts-ipaexfont-gothic xvfb xauth
  qt6-multimedia-dev gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  python3 python3-mido python3-numpy sox
  openttd-openmsx planetblupi-music-midi
  time clang libclang-rt-14-dev clang-format util-linux
  libsndfile1-dev libebur128-dev dpkg-dev desktop-file-utils appstream groff-base lintian
  parallel ffmpeg valgrind
  pulseaudio pulseaudio-utils
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  if [[ $(id -u) -ne 0 ]]; then SUDO="sudo"; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
else
  echo "setup: all packages present"
fi
