#!/usr/bin/env bash
# Renders the pages of both wizards into docs/screenshots/*.png for the README. The wizards run
# with printers from a prepared discovery (no network) on an X server of their own (Xvfb, 96 dpi)
# in a Simplified Chinese session, so that the Chinese texts take the Chinese forms of a CJK
# font, under a window manager (openbox) so that the pictures show the windows' titles. Needs
# the default build (cmake --build --preset default) and what install-deps.sh installs.
#
# The pages of the Windows build under Wine follow (scripts/screenshots-wine.sh) where the
# x86_64 cross build is there.
#
#   scripts/screenshots.sh [BUILD_DIR] [MINGW_BUILD_DIR]
#       (defaults build and build-mingw-x86_64)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
out=docs/screenshots
program=$build/bin/nvwizard-screenshots

if [ ! -x "$program" ]; then
  echo "screenshots.sh: $program is missing: build first (cmake --build --preset default)" >&2
  exit 1
fi
if ! command -v Xvfb >/dev/null; then
  echo "screenshots.sh: Xvfb is missing (apt-get install -y xvfb)" >&2
  exit 1
fi
if ! fc-list :lang=zh-cn family | grep -q .; then
  echo "screenshots.sh: no Chinese font (apt-get install -y fonts-noto-cjk)" >&2
  exit 1
fi

. tests/win32/process-env.sh
work=$(mktemp -d /tmp/nvscreens-XXXXXX)
xvfb=
wm=
cleanup() {
  stop_process "$wm"
  stop_process "$xvfb"
  rm -rf "$work"
}
trap cleanup EXIT

start_xvfb "$work" 1280x1024x24

if command -v openbox >/dev/null; then
  DISPLAY=$display openbox --sm-disable >"$work/openbox.log" 2>&1 &
  wm=$!
  sleep 1  # until it manages the screen
else
  echo "screenshots.sh: no openbox: the windows will have no title bars" >&2
fi

mkdir -p "$out"
DISPLAY=$display QT_QPA_PLATFORM=xcb LANG=zh_CN.UTF-8 LANGUAGE=zh_CN LC_ALL= \
  XDG_RUNTIME_DIR="$work" "$program" "$out"

mingw=${2:-build-mingw-x86_64}
if [ -e "$mingw/bin/wizard_screenshots.exe" ]; then
  scripts/screenshots-wine.sh "$mingw" "$build"
else
  echo "screenshots.sh: no $mingw/bin/wizard_screenshots.exe: the Windows pages are left as they are" >&2
fi
