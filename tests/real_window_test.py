#!/usr/bin/env python3
"""The real program in a real X server (Xvfb), as a user and as a screen
reader meet it: clicked with xdotool and checked from screenshots, read and
heard through AT-SPI. The link runs on a pseudo-terminal, started over D-Bus.
Runs under its own session bus (dbus-run-session). Exit 77: skipped.
Usage: real_window_test.py RELAISKARTE"""

import os, pty, select, shutil, signal, subprocess, sys, tempfile, time

app = sys.argv[1]
for tool in ("Xvfb", "xdotool", "import", "convert", "xprop", "busctl"):
    if not shutil.which(tool):
        print(f"SKIP: {tool} is not installed"); sys.exit(77)
if not os.environ.get("DBUS_SESSION_BUS_ADDRESS"):
    print("SKIP: no session bus of our own (dbus-run-session)"); sys.exit(77)
try:
    import pyatspi
    from gi.repository import GLib
except ImportError as e:
    print(f"SKIP: no AT-SPI client for Python ({e})"); sys.exit(77)

work = tempfile.mkdtemp()
children = []
def fail(why):
    print("FAIL:", why); sys.exit(1)
def ok(what):
    print("ok:", what)
def wait_for(check, what, seconds=10):
    end = time.time() + seconds
    while time.time() < end:
        GLib.MainContext.default().iteration(False)  # deliver AT-SPI events
        if check():
            return
        time.sleep(0.05)
    fail(what)

display = next(f":{n}" for n in range(90, 140) if not os.path.exists(f"/tmp/.X11-unix/X{n}"))
children.append(subprocess.Popen(["Xvfb", display, "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                                 stderr=subprocess.DEVNULL))
os.environ["DISPLAY"] = display
os.environ.pop("QT_QPA_PLATFORM", None)
os.environ["QT_LINUX_ACCESSIBILITY_ALWAYS_ON"] = "1"
run = lambda *cmd: subprocess.run(cmd, capture_output=True, text=True)
wait_for(lambda: run("xdotool", "getmouselocation").returncode == 0, "Xvfb did not start")

master, slave = pty.openpty()
device = os.ttyname(slave)
os.close(slave)
os.set_blocking(master, False)
def wire(wait=0.3):
    data, end = b"", time.time() + wait
    while time.time() < end:
        if select.select([master], [], [], 0.05)[0]:
            try: data += os.read(master, 4096)
            except OSError: break
    return data

program = subprocess.Popen([app], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
children.append(program)
try:
    title = "Relaiskarte 16 von Korvander"
    wid = ""
    def find_window():
        global wid
        wid = run("xdotool", "search", "--onlyvisible", "--name", title).stdout.split("\n")[0]
        return bool(wid)
    wait_for(find_window, "the window did not appear")
    time.sleep(0.5)

    def pixel(x, y):
        geo = dict(l.split("=") for l in run("xdotool", "getwindowgeometry", "--shell", wid).stdout.split())
        run("import", "-window", "root", f"{work}/shot.png")
        out = run("convert", f"{work}/shot.png", "-format", f"%[hex:p{{{int(geo['X']) + x},{int(geo['Y']) + y}}}]", "info:").stdout
        return out[-6:]
    def click(x, y):
        run("xdotool", "mousemove", "--window", wid, str(x), str(y), "click", "1", "mousemove", "--window", wid, "500", "450")
        time.sleep(0.3)

    # No maximize function or button offered to the window manager.
    hints = run("xprop", "-id", wid, "_MOTIF_WM_HINTS").stdout.split("=")[-1].split(",")
    flags, functions, decorations = (int(v, 0) for v in hints[:3])
    if not (flags & 1 and not functions & 0x10) or (flags & 2 and decorations & 0x40):
        fail(f"the window offers to maximize: _MOTIF_WM_HINTS {hints}")
    ok("no maximize function or button")

    # The accessible tree.
    def find_app():
        desktop = pyatspi.Registry.getDesktop(0)
        return next((a for a in desktop if a and a.name == "relaiskarte"), None)
    wait_for(lambda: find_app() is not None, "the program is not on the accessibility bus")
    tree = find_app()
    def find(name):
        return pyatspi.findDescendant(tree, lambda o: o.name == name)
    relay3, start_stop = find("Relais-3"), find("Start/Stop")
    if relay3.getRole() not in (pyatspi.ROLE_TOGGLE_BUTTON, pyatspi.ROLE_CHECK_BOX):
        fail(f"Relais-3 is a {relay3.getRoleName()}, not a toggle")
    logo = find("Logo Korvander")
    if logo is None or logo.getRole() != pyatspi.ROLE_IMAGE:
        fail("the logo has no name or is no image")
    if find("Testen") is not None or find("Label1") is not None:
        fail("hidden controls are reachable")
    ok(f"relays are {relay3.getRoleName()}es, the logo an image named so, hidden controls out of reach")

    heard = []
    pyatspi.Registry.registerEventListener(
        lambda e: heard.append((e.source.name, e.detail1)), "object:state-changed:checked")
    checked = lambda o: o.getState().contains(pyatspi.STATE_CHECKED)

    face = pixel(172, 56)
    click(196, 136)
    if pixel(172, 136) != "00FF00":
        fail(f"Relais-3 not green after a click: {pixel(172, 136)}")
    if pixel(172, 56) != face:
        fail("Relais-1 changed")
    wait_for(lambda: ("Relais-3", 1) in heard, f"no checked event for Relais-3: {heard}")
    if not checked(relay3):
        fail("Relais-3 is green but not checked")
    ok(f"a click turns Relais-3 green ({face} the others) and is heard as checked")

    relay1 = find("Relais-1")
    relay1.queryComponent().grabFocus()
    time.sleep(0.2)
    run("xdotool", "key", "Return")
    wait_for(lambda: checked(relay1), "Return on the focused Relais-1 did not switch it")
    ok("Return switches the focused relay")

    busctl = ["busctl", "--user", "call", "de.korvander.Relaiskarte", "/Relaiskarte", "de.korvander.Relaiskarte1"]
    if run(*busctl, "Start", "s", device).returncode != 0:
        fail("Start over D-Bus failed")
    wait_for(lambda: ("Start/Stop", 1) in heard and checked(start_stop), "Start/Stop not heard as running")
    frames = wire(0.5)
    if not frames.endswith(b"00005") or len(frames) % 5:
        fail(f"frames on the wire: {frames[:40]}")
    if pixel(252, 236) != "FF0000":
        fail("Start/Stop not red while running")
    ok("the link runs: Start/Stop red and checked, frames 00005 on the wire")
    click(284, 236)
    wait_for(lambda: ("Start/Stop", 0) in heard and not checked(start_stop), "the stop was not heard")
    wire()
    if wire(0.5):
        fail("frames after the stop")
    ok("a click stops it: heard, no frames after")

    click(436, 236)  # "Beenden"
    try:
        code = program.wait(10)
    except subprocess.TimeoutExpired:
        fail("Beenden did not end the program")
    if code != 0:
        fail(f"the program ended with {code}")
    ok("Beenden ends the program")
    if os.environ.get("SCREENSHOT_DIR"):
        shutil.copy(f"{work}/shot.png", os.environ["SCREENSHOT_DIR"])
finally:
    for c in children:
        if c.poll() is None:
            c.send_signal(signal.SIGTERM)
            c.wait()
    shutil.rmtree(work, ignore_errors=True)
