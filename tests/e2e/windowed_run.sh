#!/usr/bin/env bash
# A windowed run of the engine under a private Xvfb server: waits for the "Graphics Output"
# window, takes a screenshot of it, closes it as a user would, and reports what it saw as
# key=value lines.  Exit 77 when the X tools are not installed.
# Usage: windowed_run.sh BASINFIT CONTROL_FILE WORK_DIR [close|kill]
# close: the window is destroyed as a window manager's close would; kill: the engine's X
# connection is cut (as xkill does).
set -u
engine="$1"; control="$2"; work="$3"; how="${4:-close}"
for tool in Xvfb xdotool import convert; do
  command -v "$tool" >/dev/null 2>&1 || exit 77
done

Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp >"$work/display" 2>/dev/null &
xvfb=$!
cleanup() { kill "$xvfb" 2>/dev/null; wait "$xvfb" 2>/dev/null; }
trap cleanup EXIT
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "xvfb=failed"; exit 1; }
export DISPLAY=":$(head -n 1 "$work/display")"

"$engine" "$control" >"$work/engine.out" 2>"$work/engine.err" &
engine_pid=$!

wid=$(timeout 20 xdotool search --sync --name '^Graphics Output$' | head -n 1)
echo "window=${wid:-none}"
# The run ends its drops while the window stays open; wait for the last progress line.
for _ in $(seq 200); do grep -q "Finished Drop No  2 of  2" "$work/engine.out" && break; sleep 0.1; done
sleep 0.5
if [ -n "$wid" ]; then
  echo "title=$(xdotool getwindowname "$wid")"
  eval "$(xdotool getwindowgeometry --shell "$wid")"
  echo "size=${WIDTH}x${HEIGHT}"
  import -window "$wid" "png:$work/shot.png" 2>/dev/null
  echo "colours=$(convert "$work/shot.png" -format %k info: 2>/dev/null)"
  echo "corner=$(convert "$work/shot.png" -format '%[pixel:p{2,470}]' info: 2>/dev/null)"
  # The user closes the window; the engine, which kept it open after the run, then ends.
  if [ "$how" = kill ]; then xdotool windowkill "$wid" 2>/dev/null; else xdotool windowclose "$wid" 2>/dev/null; fi
fi
status=timeout
for _ in $(seq 200); do
  if ! kill -0 "$engine_pid" 2>/dev/null; then wait "$engine_pid"; status=$?; break; fi
  sleep 0.1
done
[ "$status" = timeout ] && kill "$engine_pid" 2>/dev/null
echo "engine_status=$status"
