#!/usr/bin/env bash
# Draws the pictures in docs/screenshots under Xvfb: both views of the main window and the
# four pages of the host dialog. BUILD_DIR picks the build folder (default build-shots).
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh

BUILD_DIR="${BUILD_DIR:-build-shots}"
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release -DVARDO_BUILD_TESTS=OFF >/dev/null
cmake --build "$BUILD_DIR" -j"${JOBS:-2}" --target vardomon_screenshots

mkdir -p docs/screenshots
# A fixed style and no desktop settings, so the pictures look the same on every machine.
HOME="$(mktemp -d)" XDG_CONFIG_HOME="" QT_STYLE_OVERRIDE=Fusion \
  xvfb-run -a -s '-screen 0 1024x768x24' "$BUILD_DIR/ui/vardomon_screenshots" docs/screenshots
ls -l docs/screenshots
