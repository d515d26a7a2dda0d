#!/bin/sh
# Screenshots of the main window without a display: starts Kelvox under Xvfb,
# drives it with the keyboard through xdotool (the same keys a user would
# press) and saves the window as PNG files:
#   kelvox-start.png      right after start-up
#   kelvox-i16be-right.png  the int16 big-endian sample, 128 x 128 x 64,
#                         2 volumes, read with the right guess
#   kelvox-i16be-wrong.png  the same file read little-endian
#   kelvox-u16-header.png  the UInt-16 sample behind its 512-byte header,
#                         read with the right guess
# Usage: tools/screenshots.sh [output folder]   (default build/screenshots)
# KELVOX_BUILD_DIR names an already configured build folder to use instead
# of build/release.
set -eu
cd "$(dirname "$0")/.."

out=${1:-build/screenshots}
build=${KELVOX_BUILD_DIR:-build/release}

scripts/install-deps.sh
if [ -z "${KELVOX_BUILD_DIR:-}" ]; then
  cmake --preset release >/dev/null
fi
cmake --build "$build" -j 2 --target kelvox samples
sample=$(cd "$build/samples" && pwd)/head_128x128x64x2_i16be.raw
[ -f "$sample" ] || { echo "screenshots: sample $sample is missing" >&2; exit 1; }
sample16=$(cd "$build/samples" && pwd)/head_160x128x48_u16le_header512.raw
[ -f "$sample16" ] || { echo "screenshots: sample $sample16 is missing" >&2; exit 1; }
mkdir -p "$out"

display=:97
Xvfb "$display" -screen 0 1400x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
app=""
cleanup() {
  [ -n "$app" ] && kill "$app" 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT INT TERM
export DISPLAY="$display"
for _ in 1 2 3 4 5 6 7 8 9 10; do
  xdpyinfo >/dev/null 2>&1 && break
  sleep 0.3
done

QT_QPA_PLATFORM=xcb "$build/src/app/kelvox" &
app=$!
win=$(xdotool search --sync --onlyvisible --name '^Kelvox')
# No window manager runs under Xvfb: give the window the input focus
# ourselves, which is what activates it.
xdotool windowfocus --sync "$win"
sleep 1

keys() { xdotool key --clearmodifiers --delay 60 "$@"; }
text() { xdotool type --clearmodifiers --delay 40 "$1"; }
shot() { sleep 1.2; import -window "$win" "$out/$1"; echo "screenshots: $out/$1"; }

shot kelvox-start.png

# File > Open File, then the file name into the dialog.
keys alt+f o
sleep 1
text "$sample"
keys Return
sleep 0.8
xdotool windowfocus --sync "$win"

# Focus starts in Voxels/Row; the tab order runs through the top strip and
# then the view panels.
keys ctrl+a; text 128; keys Tab      # voxels per row
keys ctrl+a; text 128; keys Tab      # rows per slice
keys ctrl+a; text 64;  keys Tab      # slices per volume
keys Down Tab                        # data type: Int-16
keys Down Tab                        # byte order: Big-Endian
keys Tab Tab                         # intensity minimum, maximum
keys Tab                             # header bytes: 0
keys ctrl+a; text 32; keys Tab       # slice 32
sleep 1
keys space Tab                       # "Apply": the slice's own range
keys ctrl+a; text 64; keys Tab       # cross-slice at row 64
# The pointer over the slice view, for the readout in the status bar.
xdotool mousemove --window "$win" 90 230
shot kelvox-i16be-right.png

# Back to the byte order (shift+Tab past the row, Apply, slice, header and
# both intensity edits) and read the file little-endian.
keys shift+Tab shift+Tab shift+Tab shift+Tab shift+Tab shift+Tab shift+Tab
keys Up
sleep 0.8
xdotool mousemove --window "$win" 92 232
shot kelvox-i16be-wrong.png

# The UInt-16 sample: its layout and header, then its own range.
keys alt+f o
sleep 1
text "$sample16"
keys Return
sleep 0.8
xdotool windowfocus --sync "$win"
keys shift+Tab shift+Tab shift+Tab shift+Tab     # back from the byte order to Voxels/Row
keys ctrl+a; text 160; keys Tab      # voxels per row
keys ctrl+a; text 128; keys Tab      # rows per slice
keys ctrl+a; text 48;  keys Tab      # slices per volume
keys Down Down Down Tab              # data type: UInt-16 (from Int-16)
keys Up Tab                          # byte order: Lil-Endian
keys Tab Tab                         # intensity minimum, maximum
keys ctrl+a; text 512; keys Tab      # header bytes
keys ctrl+a; text 24; keys Tab       # slice 24
sleep 1
keys space                           # "Apply": the slice's own range
xdotool mousemove --window "$win" 100 200
shot kelvox-u16-header.png
