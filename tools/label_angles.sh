#!/bin/sh
# Screenshot of the rotated label at its eight angles, rendered on a virtual X
# display (Xvfb), as build/screenshots/label-angles.png by default.
# Usage: tools/label_angles.sh [output.png]
# KELVOX_BUILD_DIR names an already configured build folder (default build/debug).
set -eu
cd "$(dirname "$0")/.."
build=${KELVOX_BUILD_DIR:-build/debug}
out=${1:-build/screenshots/label-angles.png}
[ -f "$build/build.ninja" ] || cmake --preset debug -B "$build" >/dev/null
cmake --build "$build" -j 2 --target label-angles
mkdir -p "$(dirname "$out")"
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" "$build/tools/label-angles" "$out"
echo "label-angles: $out"
