#!/bin/sh
# Starts the real program on an X server and checks what a user sees first:
# a window titled "Kelvox" whose first activation filled in the defaults, so
# the slice view (window point 150, 300) is 256 x 256 light blue (no file).
#
#   startup.sh KELVOX LOCALE      e.g. startup.sh build/debug/src/app/kelvox de_DE.UTF-8
#
# Without a DISPLAY it runs itself under xvfb-run.
set -eu

if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi
kelvox=$1 locale=$2

work=$(mktemp -d)
pid=""
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

unset LC_ALL LC_MESSAGES QT_QPA_PLATFORM
export QT_QPA_PLATFORM=xcb LANG="$locale"
"$kelvox" >"$work/out.log" 2>"$work/err.log" &
pid=$!

# The caption is the version record's FileDescription, in every locale.
if ! window=$(timeout 20 xdotool search --sync --onlyvisible --name '^Kelvox$' | head -n 1); then
  echo "startup: no window titled \"Kelvox\" under LANG=$locale" >&2
  xdotool search --onlyvisible --name '.' getwindowname %@ >&2 || true
  cat "$work/err.log" >&2
  exit 1
fi
sleep 1.5  # the first refresh comes 300 ms after the defaults
import -window "$window" "$work/window.png"
colour=$(convert "$work/window.png" -format "%[fx:int(255*p{150,300}.r)],%[fx:int(255*p{150,300}.g)],%[fx:int(255*p{150,300}.b)]" info:)
echo "LANG=$locale: window \"$(xdotool getwindowname "$window")\", slice view pixel $colour"
if [ "$colour" != "0,255,255" ]; then
  echo "startup: the slice view is not the empty 256 x 256 light-blue view" >&2
  exit 1
fi
