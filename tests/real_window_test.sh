#!/usr/bin/env bash
# The real program in a real X server (Xvfb), clicked as a user would with
# xdotool and checked from screenshots. No port is opened here: the wire is
# covered offscreen and through D-Bus. Usage: real_window_test.sh RELAISKARTE
set -uo pipefail
app=$1
work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }
ok() { echo "ok: $*"; }

for tool in Xvfb xdotool import convert; do
  command -v $tool >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
for n in $(seq 90 140); do
  [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ] || { display=:$n; break; }
done
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
export DISPLAY=$display
unset QT_QPA_PLATFORM
wait_for() { for _ in $(seq 100); do "$@" && return 0; sleep 0.1; done; return 1; }
wait_for xdotool getmouselocation >/dev/null 2>&1 || fail "Xvfb did not start: $(cat "$work/xvfb.log")"

title='Relaiskarte 16 von Korvander'
find_window() { wid=$(xdotool search --onlyvisible --name "$title" 2>/dev/null | head -n1); [ -n "$wid" ]; }
# Colour (RRGGBB) at a point of the window's client area.
pixel() {
  local X Y x y
  eval "$(xdotool getwindowgeometry --shell "$wid")"
  x=$((X + $1)) y=$((Y + $2))
  import -window root "$work/shot.png" 2>/dev/null
  convert "$work/shot.png" -format "%[hex:p{$x,$y}]" info: | tail -c 6
}
# Clicks, then moves away so that no hover highlight is measured.
click() { xdotool mousemove --window "$wid" "$1" "$2" click 1 mousemove --window "$wid" 500 450; sleep 0.3; }

"$app" >"$work/app.log" 2>&1 &
app_pid=$!
pids+=($app_pid)
wait_for find_window || fail "the window did not appear: $(cat "$work/app.log")"
sleep 0.5
face=$(pixel 172 56) # Relais-1
[ "$(pixel 172 136)" = "$face" ] || fail "Relais-3 not in the button face at start"
click 196 136
[ "$(pixel 172 136)" = "00FF00" ] || fail "Relais-3 not green after a click: $(pixel 172 136)"
[ "$(pixel 172 56)" = "$face" ] || fail "Relais-1 changed"
ok "a click turns Relais-3 green, the others keep the button face ($face)"
[ -n "${SCREENSHOT_DIR:-}" ] && cp "$work/shot.png" "$SCREENSHOT_DIR/window.png"
click 196 136
[ "$(pixel 172 136)" = "$face" ] || fail "Relais-3 not back to the button face"
ok "a second click turns it off"
click 436 236 # "Beenden"
wait_for bash -c "! kill -0 $app_pid 2>/dev/null" || fail "Beenden did not end the program"
ok "Beenden ends the program"
