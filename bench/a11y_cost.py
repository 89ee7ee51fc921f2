#!/usr/bin/env python3
"""What being ready for a screen reader costs the real window on a real X
server (Xvfb), in three sessions of its own:
  no accessibility bus  - no assistive technology in the session at all;
  bus, nobody listening - the accessibility bus runs switched off and no
                          screen reader runs (the window connects anyway);
  bus, a listener       - an AT-SPI client listens to every object event,
                          as a screen reader does.
For each: start to window shown, memory, and CPU while the link runs on a
pseudo-terminal. Usage: a11y_cost.py RELAISKARTE [--quick]"""

from procstats import cpu_seconds, peak_rss
import os, sys
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
import harness  # refuses to run where a real serial port is visible
import os, pty, select, shutil, statistics, subprocess, sys, tempfile, time

app = os.path.abspath(sys.argv[1])
quick = "--quick" in sys.argv
MODES = ("no accessibility bus", "bus, nobody listening", "bus, a listener")

if "--mode" not in sys.argv:
    for tool in ("Xvfb", "xdotool", "dbus-run-session", "busctl"):
        if not shutil.which(tool):
            print(f"SKIP: a11y_cost: {tool} is not installed; nothing measured"); sys.exit(77 if quick else 0)
    print("\n### Readiness for a screen reader (real window under Xvfb)\n")
    print(f"| {'session':<24} | {'start to window, median':>24} | {'peak RSS':>9} "
          f"| {'CPU per minute running':>22} |")
    print(f"|{'-' * 26}|{'-' * 26}:|{'-' * 10}:|{'-' * 23}:|")
    for mode in MODES:
        work = tempfile.mkdtemp(prefix="a11y-cost-")
        env = dict(os.environ, HOME=work, XDG_CONFIG_HOME=f"{work}/config",
                   XDG_RUNTIME_DIR=f"{work}/run", XDG_CACHE_HOME=f"{work}/cache")
        for gone in ("DBUS_SESSION_BUS_ADDRESS", "QT_QPA_PLATFORM", "DISPLAY", "AT_SPI_BUS_ADDRESS",
                     "QT_LINUX_ACCESSIBILITY_ALWAYS_ON"):
            env.pop(gone, None)
        os.makedirs(f"{work}/run", mode=0o700)
        out = f"{work}/row.txt"
        args = [sys.executable, __file__, app, "--mode", mode, "--out", out] + (["--quick"] if quick else [])
        # The row comes through a file: services the session started may
        # outlive it, and they would hold a pipe open.
        try:
            subprocess.run(["dbus-run-session", "--"] + args, env=env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=120 if quick else 900)
        except subprocess.TimeoutExpired:
            print(f"| {mode:<24} | did not finish in time |")
        if os.path.exists(out):
            with open(out) as f:
                print(f.read(), end="", flush=True)
        shutil.rmtree(work, ignore_errors=True)
    sys.exit(0)

mode = sys.argv[sys.argv.index("--mode") + 1]
row_file = sys.argv[sys.argv.index("--out") + 1]
def report(line):
    with open(row_file, "w") as f:
        f.write(line + "\n")
run = lambda *cmd: subprocess.run(cmd, capture_output=True, text=True)
children = []
display = next(f":{n}" for n in range(150, 199) if not os.path.exists(f"/tmp/.X11-unix/X{n}"))
children.append(subprocess.Popen(["Xvfb", display, "-noreset", "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                                 stderr=subprocess.DEVNULL))
os.environ["DISPLAY"] = display
for _ in range(100):
    if run("xdotool", "getmouselocation").returncode == 0:
        break
    time.sleep(0.05)

if mode != MODES[0]:
    run("busctl", "--user", "call", "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress")
    run("busctl", "--user", "set-property", "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Status",
        "IsEnabled", "b", "false")
if mode == MODES[2]:
    listener = ("import pyatspi\n"
                "pyatspi.Registry.registerEventListener(lambda e: None, 'object:', 'focus:', 'window:')\n"
                "pyatspi.Registry.start()\n")
    children.append(subprocess.Popen(["/usr/bin/python3", "-c", listener], stderr=subprocess.DEVNULL))
    time.sleep(2)

def window_shown():
    return run("xdotool", "search", "--onlyvisible", "--name", "Relaiskarte 16 von").stdout.strip()

starts = []
errors = tempfile.mktemp(prefix="a11y-cost-", suffix=".err")
runs = 1 if quick else 7
for i in range(runs):
    begin = time.monotonic()
    program = subprocess.Popen([app], stderr=open(errors, "w"))
    while not window_shown() and time.monotonic() - begin < 20:
        time.sleep(0.002)
    starts.append((time.monotonic() - begin) * 1000)
    if i < runs - 1:  # the last one stays for the rest
        program.terminate()
        program.wait(10)
        while window_shown():
            time.sleep(0.01)
def owns_name():
    return run("busctl", "--user", "call", "org.freedesktop.DBus", "/org/freedesktop/DBus",
               "org.freedesktop.DBus", "NameHasOwner", "s", "de.korvander.Relaiskarte").stdout.strip() == "b true"
waited = time.monotonic()
while not owns_name():
    if program.poll() is not None or time.monotonic() - waited > 20:
        with open(errors) as f:
            report(f"| {mode:<24} | the window did not come up (exit {program.poll()}): {f.read()[-300:]!r}")
        sys.exit(0)
    time.sleep(0.05)

master, slave = pty.openpty()
device = os.ttyname(slave)
os.close(slave)
run("busctl", "--user", "call", "de.korvander.Relaiskarte", "/Relaiskarte", "de.korvander.Relaiskarte1",
    "Start", "s", device)
seconds = 3 if quick else 60
cpu_before, end, frames = cpu_seconds(program.pid), time.monotonic() + seconds, b""
while time.monotonic() < end:
    if select.select([master], [], [], 0.2)[0]:
        frames += os.read(master, 4096)
cpu = (cpu_seconds(program.pid) - cpu_before) * 60 / seconds
rss = peak_rss(program.pid)
program.terminate()
program.wait(10)
for c in children:
    c.terminate()
report(f"| {mode:<24} | {statistics.median(starts):>21.0f} ms | {rss:>5.1f} MiB | {cpu * 1000:>19.0f} ms |"
       + ("" if len(frames) >= 5 * seconds * 9 else f" (only {len(frames) // 5} frames)"))
