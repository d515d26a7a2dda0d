#!/bin/sh
# Builds Kelvox (release) with its sample volumes and starts the viewer.
set -eu
cd "$(dirname "$0")/.."

scripts/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)
cmake --preset release >/dev/null
cmake --build --preset release -j "$jobs" --target kelvox samples kelvox-render

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "kelvox: no display found (DISPLAY is unset); for screenshots without a display run tools/screenshots.sh"
  exit 1
fi
echo "Sample volumes are in build/release/samples/"
exec build/release/src/app/kelvox
