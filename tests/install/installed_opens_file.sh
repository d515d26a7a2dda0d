#!/bin/sh
# Starts the installed `kelvox FILE` (from a staging folder) on an X server and
# checks that the slice view shows FILE: its first slice is one grey level,
# and the window point (150, 300) inside the slice view shows the colour the
# installed kelvox-render gives that file under the start-up guess. The name
# is relative, with a space and a non-ASCII letter in it.
#
#   installed_opens_file.sh BUILD_DIR
#
# Without a DISPLAY it runs itself under xvfb-run.
set -eu

if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi
build=$1

work=$(mktemp -d)
pid=""
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

cmake --install "$build" --prefix "$work/usr" >/dev/null
kelvox=$work/usr/bin/kelvox
render=$work/usr/bin/kelvox-render

# Slice 0 all 100, slice 1 all 200 (256 x 256 unsigned bytes each).
mkdir "$work/data"
name="grey caf$(printf '\303\251').raw"
python3 -c 'import sys; open(sys.argv[1], "wb").write(bytes([100]) * 65536 + bytes([200]) * 65536)' \
  "$work/data/$name"

# The start-up guess: 256 x 256 x 256 unsigned bytes, window 0 to 256.
"$render" "$work/data/$name" --dims 256x256x256 --type u8 --order little --window 0:256 \
  --view slice --slice 0 --out "$work/expected.png" >/dev/null
expected=$(convert "$work/expected.png" -format "%[fx:int(255*p{0,0}.r)],%[fx:int(255*p{0,0}.g)],%[fx:int(255*p{0,0}.b)]" info:)

unset LC_ALL LC_MESSAGES QT_QPA_PLATFORM
export QT_QPA_PLATFORM=xcb LANG=C.UTF-8
(cd "$work/data" && exec "$kelvox" "$name") >"$work/out.log" 2>"$work/err.log" &
pid=$!

if ! window=$(timeout 20 xdotool search --sync --onlyvisible --name '^Kelvox$' | head -n 1); then
  echo "installed_opens_file: no window titled \"Kelvox\"" >&2
  cat "$work/err.log" >&2
  exit 1
fi
sleep 1.5  # the views follow 300 ms after the file opened
import -window "$window" "$work/window.png"
colour=$(convert "$work/window.png" -format "%[fx:int(255*p{150,300}.r)],%[fx:int(255*p{150,300}.g)],%[fx:int(255*p{150,300}.b)]" info:)
echo "installed kelvox \"$name\": slice view pixel $colour, kelvox-render gives $expected"
if [ "$colour" != "$expected" ] || [ "$colour" = "0,255,255" ]; then
  echo "installed_opens_file: the slice view does not show the file" >&2
  cat "$work/err.log" >&2
  exit 1
fi
