#!/usr/bin/env python3
"""The real program in a real X server (Xvfb), as a user, a script and a
screen reader meet it: clicked with xdotool and checked from screenshots,
driven over D-Bus and the command line, read and heard through AT-SPI. The
link runs on a pseudo-terminal. Runs under its own session bus
(dbus-run-session). Exit 77: skipped. Usage: real_window_test.py RELAISKARTE"""

import os, shutil, signal, subprocess, sys, time
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import Session, Unit, need, run

app = sys.argv[1]
need("Xvfb", "xdotool", "xwininfo", "import", "convert", "xprop", "busctl")
if not os.environ.get("DBUS_SESSION_BUS_ADDRESS"):
    print("SKIP: no session bus of our own (dbus-run-session)"); sys.exit(77)
try:
    import pyatspi
    from gi.repository import GLib
except ImportError as e:
    print(f"SKIP: no AT-SPI client for Python ({e})"); sys.exit(77)

session = Session("real-window-")
work, fail = session.work, session.fail
def wait_for(check, what, seconds=10):
    def delivered():
        GLib.MainContext.default().iteration(False)  # deliver AT-SPI events
        return check()
    session.wait_for(delivered, what, seconds)
def start(*args, **env):
    return session.start("relaiskarte", [app, *args], env={**os.environ, **env})
def ended_cleanly(p, how):
    try:
        code = p.wait(10)
    except subprocess.TimeoutExpired:
        fail(f"the program did not end on {how}")
    if code != 0:
        fail(f"the program ended with {code} on {how}")

session.start_display()
os.environ.update(QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
os.environ.pop("QT_QPA_PLATFORM", None)
unit = Unit(session)
device, wire = unit.device, unit.read
bus = ["busctl", "--user", "call", "de.korvander.Relaiskarte", "/Relaiskarte", "de.korvander.Relaiskarte1"]

try:
    if run(app, "--relays", "1").returncode != 2:
        fail("--relays without a window did not exit 2")
    first = start()
    wid = session.window("Relaiskarte 16 von Korvander", program=first)
    # Pay only for what is used: without --mqtt and --web, no broker, HTTP
    # or TLS library in the process.
    with open(f"/proc/{first.pid}/maps") as f:
        extra = {l.split("/")[-1].strip() for l in f if any(n in l for n in ("libmosquitto", "libssl", "libcrypto", "httplib"))}
    if extra:
        fail(f"the plain window maps {sorted(extra)}")
    print("ok: the plain window maps no libmosquitto, libssl, libcrypto or HTTP server")
    # (NameHasOwner, not "busctl status": that one also asks for the owner's
    # credentials, which a chroot cannot give.)
    has_owner = ["busctl", "--user", "call", "org.freedesktop.DBus", "/org/freedesktop/DBus",
                 "org.freedesktop.DBus", "NameHasOwner", "s", bus[3]]
    wait_for(lambda: run(*has_owner).stdout.strip() == "b true", "the window took no bus name")
    second = start(QT_QPA_PLATFORM="offscreen")
    time.sleep(1)
    owner = run("busctl", "--user", "call", "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                "GetConnectionUnixProcessID", "s", "de.korvander.Relaiskarte").stdout.split()
    if second.poll() is not None or owner != ["u", str(first.pid)]:
        fail(f"a second window must run without the name (owner {owner})")
    print("ok: the first window owns the bus name, a second one runs without it")

    def pixel(x, y):
        geo = dict(l.split("=") for l in run("xdotool", "getwindowgeometry", "--shell", wid).stdout.split())
        run("import", "-window", "root", f"{work}/shot.png")
        at = f"%[hex:p{{{int(geo['X']) + x},{int(geo['Y']) + y}}}]"
        return run("convert", f"{work}/shot.png", "-format", at, "info:").stdout[-6:]
    def click(x, y):
        run("xdotool", "mousemove", "--window", wid, str(x), str(y), "click", "1", "mousemove", "--window", wid, "500", "450")
        time.sleep(0.3)

    hints = run("xprop", "-id", wid, "_MOTIF_WM_HINTS").stdout.split("=")[-1].split(",")
    flags, functions, decorations = (int(v, 0) for v in hints[:3])
    if not (flags & 1 and not functions & 0x10) or (flags & 2 and decorations & 0x40):
        fail(f"the window offers to maximize: _MOTIF_WM_HINTS {hints}")
    print("ok: no maximize function or button")

    def find_app():
        return next((a for a in pyatspi.Registry.getDesktop(0) if a and a.name == "relaiskarte"), None)
    wait_for(lambda: find_app() is not None, "the program is not on the accessibility bus")
    find = lambda name: pyatspi.findDescendant(find_app(), lambda o: o.name == name)
    relay1, relay3, relay16, start_stop = find("Relais-1"), find("Relais-3"), find("Relais-16"), find("Start/Stop")
    if relay3.getRole() not in (pyatspi.ROLE_TOGGLE_BUTTON, pyatspi.ROLE_CHECK_BOX):
        fail(f"Relais-3 is a {relay3.getRoleName()}, not a toggle")
    logo = find("Logo Korvander")
    if logo is None or logo.getRole() != pyatspi.ROLE_IMAGE:
        fail("the logo has no name or is no image")
    if find("Testen") is not None or find("Label1") is not None:
        fail("hidden controls are reachable")
    print(f"ok: relays are {relay3.getRoleName()}es, the logo an image named so, hidden controls out of reach")

    heard = []
    pyatspi.Registry.registerEventListener(
        lambda e: heard.append((e.source.name, e.detail1)), "object:state-changed:checked")
    checked = lambda o: o.getState().contains(pyatspi.STATE_CHECKED)
    face = pixel(172, 56)
    click(196, 136)
    if pixel(172, 136) != "00FF00" or pixel(172, 56) != face:
        fail(f"a click on Relais-3 did not turn it alone green: {pixel(172, 136)}")
    wait_for(lambda: ("Relais-3", 1) in heard and checked(relay3), f"Relais-3 not heard as checked: {heard}")
    print(f"ok: a click turns Relais-3 green ({face} the others) and is heard as checked")
    relay1.queryComponent().grabFocus()
    time.sleep(0.2)
    run("xdotool", "key", "Return")
    wait_for(lambda: checked(relay1), "Return on the focused Relais-1 did not switch it")
    print("ok: Return switches the focused relay")
    if run(app, "--relays", "1,3,16").returncode != 0:
        fail("--relays to the window failed")
    wait_for(lambda: ("Relais-16", 1) in heard, "a pattern from the command line was not heard")
    print("ok: the command line sets the window's pattern, heard as such")

    if run(*bus, "Start", "s", device).returncode != 0:
        fail("Start over D-Bus failed")
    wait_for(lambda: ("Start/Stop", 1) in heard and checked(start_stop), "Start/Stop not heard as running")
    frames = wire()
    if not frames.endswith(b"32773") or len(frames) % 5 or pixel(252, 236) != "FF0000":
        fail(f"not running in red with frames 32773: {frames[:40]}")
    print("ok: started over D-Bus: Start/Stop red and checked, frames 32773 on the wire")
    # A pulse on relay 2 over D-Bus, then from the command line: "on" frames,
    # then the window's pattern again.
    for how, ask in (("D-Bus", lambda: run(*bus, "Pulse", "uu", "2", "1000")),
                     ("the command line", lambda: run(app, "--pulse", "2:1s"))):
        wire(0)
        answer = ask()
        frames = wire(1.6)
        seq = [frames[i:i + 5] for i in range(0, len(frames), 5)]
        if answer.returncode != 0 or (how == "D-Bus" and answer.stdout.split() != ["u", "1000"]):
            fail(f"Pulse over {how} refused: {answer.stdout!r} {answer.stderr!r}")
        if b"32775" not in seq or seq.index(b"32775") > 2 or seq[-1] != b"32773" or seq.count(b"32775") < 2:
            fail(f"a pulse over {how} did not reach the wire as on, then off: {seq}")
    print("ok: a pulse over D-Bus and from the command line: relay 2 on for a second on the wire, then off")
    for p in (first, second):
        p.send_signal(signal.SIGTERM)
        ended_cleanly(p, "SIGTERM")
    wire(0.2)
    if wire():
        fail("frames after SIGTERM")
    print("ok: SIGTERM while running ends the program with 0, the port closed, nothing sent after")
    if os.environ.get("SCREENSHOT_DIR"):
        shutil.copy(f"{work}/shot.png", os.environ["SCREENSHOT_DIR"])
finally:
    session.stop()
