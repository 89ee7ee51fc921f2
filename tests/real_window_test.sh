#!/usr/bin/env bash
# The real program in a real X server (Xvfb), clicked as a user would with
# xdotool, checked from screenshots. With root and unshare, also the whole
# flow on the wire: in a private mount namespace a pseudo-terminal is
# bind-mounted over /dev/ttyS0 (COM 1 there), so the real device is never
# touched. Usage: real_window_test.sh RELAISKARTE PTY_FAR_END COM_PORTS
set -uo pipefail

app=$1 far_end=$2 com_ports=$3
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

for tool in Xvfb xdotool convert; do
  command -v $tool >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

# A display of our own.
for n in $(seq 90 140); do
  [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ] || { display=:$n; break; }
done
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
export DISPLAY=$display
for _ in $(seq 300); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.1; done
xdotool getmouselocation >/dev/null 2>&1 || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
unset QT_QPA_PLATFORM

title='Relaiskarte 16 von Korvander'
wid=

# Waits up to 10 s for a command to succeed.
wait_for() {
  for _ in $(seq 100); do "$@" && return 0; sleep 0.1; done
  return 1
}
find_window() { wid=$(xdotool search --onlyvisible --name "$title" 2>/dev/null | head -n1); [ -n "$wid" ]; }
window_gone() { ! xdotool search --onlyvisible --name "$title" >/dev/null 2>&1; } 2>/dev/null

# Colour (RRGGBB) at a point of the window's client area.
pixel() {
  local x y
  eval "$(xdotool getwindowgeometry --shell "$wid")"
  x=$((X + $1)); y=$((Y + $2))
  import -window root "$work/shot.png" 2>/dev/null
  convert "$work/shot.png" -format "%[hex:p{$x,$y}]" info: | tail -c 6
}
# Clicks, then moves away so that no hover highlight is measured.
click() { xdotool mousemove --window "$wid" "$1" "$2" click 1 mousemove --window "$wid" 500 450 2>/dev/null; sleep 0.3; }

# Points in the client area, in pixels (see the window's layout).
relay3_face="172 136" relay3="196 136"
relay16_face="388 176" relay16="412 176"
relay1_face="172 56"
startstop_face="252 236" startstop="284 236"
combo_text="170 234"
beenden="436 236"

# --- The window, clicked; no port is opened here. ---------------------------
"$app" >"$work/app.log" 2>&1 &
app_pid=$!
pids+=($app_pid)
wait_for find_window || fail "the window did not appear"
sleep 0.5
[ "$(pixel $relay3_face)" = "00FF00" ] && fail "Relais-3 green before any click"
face=$(pixel $relay1_face)
click $relay3
[ "$(pixel $relay3_face)" = "00FF00" ] || fail "Relais-3 not green after a click: $(pixel $relay3_face)"
[ "$(pixel $relay1_face)" = "$face" ] || fail "Relais-1 changed"
ok "a click turns Relais-3 green, the others keep the button face ($face)"
import -window root "$work/window.png"
cp "$work/window.png" "${SCREENSHOT_DIR:-$work}/window.png" 2>/dev/null || true
click $relay3
[ "$(pixel $relay3_face)" = "$face" ] || { cp $work/shot.png /tmp/fail.png; fail "Relais-3 not back to the button face: $(pixel $relay3_face)"; }
ok "a second click turns it off"
click $beenden
wait_for window_gone || fail "Beenden did not close the window"
wait_for bash -c "! kill -0 $app_pid 2>/dev/null" || fail "the program did not end"
ok "Beenden ends the program"

# --- The whole flow on the wire, in a private mount namespace. ---------------
if [ "$(id -u)" -ne 0 ]; then echo "SKIP wire part: needs root for a private mount namespace"; exit 0; fi
if ! unshare -m --propagation private true 2>/dev/null; then echo "SKIP wire part: unshare -m is refused here"; exit 0; fi
if [ "$("$com_ports" | head -n1)" != "COM 1 /dev/ttyS0" ]; then
  echo "SKIP wire part: COM 1 is not /dev/ttyS0 on this machine"; exit 0
fi

"$far_end" "$work/wire" >"$work/pty" &
pids+=($!)
wait_for test -s "$work/pty" || fail "no pseudo-terminal"
pts=$(cat "$work/pty")

# The program sees the pty as /dev/ttyS0; the mount is checked before it starts.
unshare -m --propagation private bash -c '
  mount --bind "$1" /dev/ttyS0 || exit 90
  [ "$(stat -c %t:%T /dev/ttyS0)" = "$(stat -c %t:%T "$1")" ] || exit 91
  exec "$2"' _ "$pts" "$app" >"$work/app2.log" 2>&1 &
app_pid=$!
pids+=($app_pid)
wait_for find_window || fail "the window did not appear in the namespace ($(cat "$work/app2.log"))"
sleep 0.5

click $combo_text
xdotool key Down # from no choice to the first entry, "COM 1"
sleep 0.3
click $relay3
click $startstop
[ "$(pixel $startstop_face)" = "FF0000" ] || { cp $work/shot.png /tmp/fail.png; fail "Start/Stop not red while running: $(pixel $startstop_face)"; }
wait_for grep -q 00004 "$work/wire" || fail "no frame 00004 on the wire: $(head -c 60 "$work/wire")"
ok "COM 1 started: Start/Stop red, frames 00004 on the wire"
click $relay16
wait_for grep -q 32772 "$work/wire" || fail "no frame 32772 after Relais-16"
ok "Relais-16 added: frames 32772"
grep -qvE '^([0-9]{5})*$' <(tr -d '\n' <"$work/wire"; echo) && fail "the wire carries something other than whole frames"
click $startstop
[ "$(pixel $startstop_face)" = "$face" ] || fail "Start/Stop not back to the button face"
size=$(stat -c %s "$work/wire")
sleep 0.5
[ "$(stat -c %s "$work/wire")" = "$size" ] || fail "frames after the stop"
ok "stopped: no more frames"
click $startstop
wait_for bash -c "[ \$(stat -c %s '$work/wire') -gt $size ]" || fail "no frames after starting again"
tail -c 5 "$work/wire" | grep -qx 32772 || fail "the first frames after the restart do not carry the pattern"
click $beenden
wait_for window_gone || fail "Beenden did not close the running window"
wait_for bash -c "! kill -0 $app_pid 2>/dev/null" || fail "the program did not end"
size=$(stat -c %s "$work/wire")
sleep 0.5
[ "$(stat -c %s "$work/wire")" = "$size" ] || fail "frames after Beenden"
ok "Beenden while running: port closed, program ended, no frame after"
frames=$(($(stat -c %s "$work/wire") / 5))
echo "frames received: $frames"
