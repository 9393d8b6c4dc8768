#!/usr/bin/env bash
# Builds Kestrune Vardomon and starts it on examples/localhost.vdm, with a small TCP
# listener on 127.0.0.1:47123 for the example's TCP hosts (stopped when the program ends).
# Installs missing Debian packages first. Any arguments are passed to the program.
set -euo pipefail
cd "$(dirname "$0")"

./scripts/install-deps.sh

JOBS="${JOBS:-2}"
cmake -S . -B build-run -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=g++ \
      -DVARDO_BUILD_TESTS=OFF >/dev/null
cmake --build build-run -j"$JOBS" --target vardomon

PORT=47123
/usr/bin/python3 scripts/example-listener.py "$PORT" &
LISTENER=$!
trap 'kill "$LISTENER" 2>/dev/null || true' EXIT

if [ "$#" -eq 0 ]; then
  set -- examples/localhost.vdm
fi
./build-run/ui/vardomon "$@"
