#!/bin/sh
# A real drag and drop between two processes on an X server, driven by
# xdotool: the drag source (a separate program) drags FILE onto a point of
# the target program's window.
#
#   real_drag.sh [--idlist] [--expect-opened] TARGET WINDOW_NAME DROP_X DROP_Y DRAG_SOURCE FILE
#
#   TARGET         the drop-target program (the harness, or kelvox itself)
#   WINDOW_NAME    regular expression for the target window's title
#   DROP_X DROP_Y  drop point relative to the target window (the file-name strip)
#   --idlist       the source offers only a "Shell IDList Array"
#   --expect-opened  the target prints "OPENED <path>": require FILE there
#   --screenshot PNG   save the target window after the drop (needs ImageMagick)
#   --expect-rendered X Y  the pixel at X, Y of the target window is light blue
#                  (0, 255, 255: no file) before the drop and something else
#                  after it (the dropped file's data), needs ImageMagick
#
# Succeeds when the source sees the copy action (and the target opened FILE).
# Without a DISPLAY it runs itself under xvfb-run.
set -eu

if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi

source_args=""
expect_opened=0
screenshot=""
probe_x="" probe_y=""
while [ $# -gt 0 ]; do
  case "$1" in
    --idlist) source_args="--idlist"; shift ;;
    --expect-opened) expect_opened=1; shift ;;
    --screenshot) screenshot=$2; shift 2 ;;
    --expect-rendered) probe_x=$2 probe_y=$3; shift 3 ;;
    *) break ;;
  esac
done
target=$1 window_name=$2 drop_x=$3 drop_y=$4 drag_source=$5 file=$6

work=$(mktemp -d)
target_pid="" source_pid=""
cleanup() {
  [ -n "$source_pid" ] && kill "$source_pid" 2>/dev/null || true
  [ -n "$target_pid" ] && kill "$target_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

unset QT_QPA_PLATFORM
export QT_QPA_PLATFORM=xcb

"$target" >"$work/target.log" 2>"$work/target.err" &
target_pid=$!
target_window=$(timeout 20 xdotool search --sync --onlyvisible --name "$window_name" | head -n 1)
eval "$(xdotool getwindowgeometry --shell "$target_window")"
target_x=$X target_y=$Y

# The colour of one pixel of the target window, as "r,g,b".
pixel() {
  import -window "$target_window" "$work/probe.png"
  convert "$work/probe.png" -format "%[fx:int(255*p{$1,$2}.r)],%[fx:int(255*p{$1,$2}.g)],%[fx:int(255*p{$1,$2}.b)]" info:
}
before=""
if [ -n "$probe_x" ]; then
  sleep 1.5  # the first refresh comes 300 ms after start-up
  before=$(pixel "$probe_x" "$probe_y")
fi

# shellcheck disable=SC2086
"$drag_source" $source_args "$file" >"$work/source.log" 2>"$work/source.err" &
source_pid=$!
source_window=$(timeout 20 xdotool search --sync --onlyvisible --name "Kelvox drag source" | head -n 1)
eval "$(xdotool getwindowgeometry --shell "$source_window")"
source_x=$((X + 40)) source_y=$((Y + 40))

end_x=$((target_x + drop_x)) end_y=$((target_y + drop_y))
sleep 0.5
xdotool mousemove --sync "$source_x" "$source_y"
xdotool mousedown 1
sleep 0.5
steps=12
i=1
while [ $i -le $steps ]; do
  x=$((source_x + (end_x - source_x) * i / steps))
  y=$((source_y + (end_y - source_y) * i / steps))
  xdotool mousemove "$x" "$y"
  sleep 0.1
  i=$((i + 1))
done
# A last small move so the target answers for the final position.
xdotool mousemove "$((end_x + 1))" "$end_y"
sleep 0.3
xdotool mousemove "$end_x" "$end_y"
sleep 0.3
xdotool mouseup 1

waited=0
while kill -0 "$source_pid" 2>/dev/null && [ $waited -lt 100 ]; do
  sleep 0.1
  waited=$((waited + 1))
done
sleep 0.5

after=""
if [ -n "$probe_x" ]; then
  sleep 1  # the views show the file 300 ms after the drop
  after=$(pixel "$probe_x" "$probe_y")
fi

if [ -n "$screenshot" ]; then
  import -window "$target_window" "$screenshot"
fi

echo "source: $(cat "$work/source.log")"
echo "target: $(cat "$work/target.log")"
status=0
if ! grep -qx "ACTION copy" "$work/source.log"; then
  echo "real_drag: the source did not see the copy action" >&2
  cat "$work/source.err" "$work/target.err" >&2
  status=1
fi
if [ "$expect_opened" -eq 1 ]; then
  absolute=$(readlink -f "$file")
  if ! grep -qxF "OPENED $absolute" "$work/target.log"; then
    echo "real_drag: the target did not open $absolute" >&2
    status=1
  fi
fi
if [ -n "$probe_x" ]; then
  echo "pixel $probe_x,$probe_y: before $before, after $after"
  if [ "$before" != "0,255,255" ] || [ "$after" = "0,255,255" ]; then
    echo "real_drag: the view did not go from light blue to the dropped file's data" >&2
    status=1
  fi
fi
exit $status
