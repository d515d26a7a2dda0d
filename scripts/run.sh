#!/bin/sh
# Builds Kelvox (release) with its sample volumes and starts the viewer on
# the byte sample, or on FILE:
#   scripts/run.sh [FILE]
# (kelvox's options, such as --help, pass through.)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)

(
  cd "$root"
  scripts/install-deps.sh
  jobs=$(nproc 2>/dev/null || echo 2)
  cmake --preset release >/dev/null
  cmake --build --preset release -j "$jobs" --target kelvox samples kelvox-render
)
kelvox=$root/build/release/src/app/kelvox
sample=$root/build/release/samples/head_256x256x64_u8.raw

# A FILE is taken from the folder run.sh was started in.
case "${1:-}" in
  -h | --help | -v | --version) exec "$kelvox" "$@" ;;
esac
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "kelvox: no display found (DISPLAY is unset); for screenshots without a display run tools/screenshots.sh"
  exit 1
fi
echo "Sample volumes are in $root/build/release/samples/"
if [ $# -eq 0 ]; then
  # The start-up guess (256 x 256 unsigned bytes per slice) shows it right.
  exec "$kelvox" "$sample"
fi
exec "$kelvox" "$@"
