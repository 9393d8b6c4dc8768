#!/usr/bin/env bash
# Draws the pictures in docs/screenshots under Xvfb: both views of the main window, the four
# pages of the host dialog, the tray's menu, and a notification as a notification service
# (dunst, on a session bus of its own) shows it. BUILD_DIR picks the build folder (default
# build-shots).
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh

BUILD_DIR="${BUILD_DIR:-build-shots}"
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release -DVARDO_BUILD_TESTS=OFF >/dev/null
cmake --build "$BUILD_DIR" -j"${JOBS:-2}" --target vardomon_screenshots

mkdir -p docs/screenshots
home="$(mktemp -d)"
trap 'rm -rf "$home"' EXIT
mkdir -p "$home/.config/dunst"
cat >"$home/.config/dunst/dunstrc" <<'CONF'
[global]
    width = 380
    origin = top-right
    offset = 10x10
    font = DejaVu Sans 9
    frame_width = 1
[urgency_critical]
    timeout = 0
CONF

# A fixed style and no desktop settings, so the pictures look the same on every machine.
export HOME="$home" XDG_CONFIG_HOME="$home/.config" QT_STYLE_OVERRIDE=Fusion BUILD_DIR
xvfb-run -a -s '-screen 0 1024x768x24' dbus-run-session -- bash -c '
  dunst >/dev/null 2>&1 &
  sleep 1
  "$BUILD_DIR/ui/vardomon_screenshots" docs/screenshots
  kill %1'
ls -l docs/screenshots
