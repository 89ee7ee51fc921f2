#!/usr/bin/env python3
"""The rules' cost and their dead time on the wire, against the real
program (--hold) on a pseudo-terminal:
 - CPU (the scheduler's count) and wake-ups (voluntary context switches) a
   minute while sending, with no rule set and with a maximum on-time pending
   (the program wakes for its end, not by polling), and peak memory;
 - an interlock switch-over through the web API on 127.0.0.1: the time from
   the last byte of the all-off frame to the first byte of the next member's
   "on", against the dead time set.
Usage: rules_bench.py RELAISKARTE [--quick]"""

import json, os, pty, subprocess, sys, tempfile, threading, time, urllib.request
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from procstats import cpu_seconds, peak_rss
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
from harness import free_port

app = os.path.abspath(sys.argv[1])
quick = "--quick" in sys.argv
seconds = 5 if quick else 30
work = tempfile.mkdtemp(prefix="rules-bench-")


class Line:
    """The far end: every byte with the monotonic time it arrived."""

    def __init__(self):
        self.master, slave = pty.openpty()
        self.device = os.ttyname(slave)
        self.bytes = []
        threading.Thread(target=self.read, daemon=True).start()

    def read(self):
        while True:
            try:
                data = os.read(self.master, 64)
            except OSError:
                return
            now = time.monotonic()
            self.bytes.extend((now, b) for b in data)

    def frames(self):
        """(first byte's time, last byte's time, text) of each whole frame."""
        got = list(self.bytes)
        return [(got[i][0], got[i + 4][0], bytes(b for _, b in got[i:i + 5]).decode())
                for i in range(0, len(got) - 4, 5)]


def voluntary_switches(pid):
    with open(f"/proc/{pid}/status") as f:
        return next(int(l.split()[1]) for l in f if l.startswith("voluntary_ctxt_switches"))


def sending(settings, label):
    line = Line()
    config = f"{work}/{label}.conf"
    with open(config, "w") as f:
        f.write(settings)
    p = subprocess.Popen([app, "--config", config, "--port", line.device, "--hold", "--mask", "4"],
                         stderr=subprocess.DEVNULL, env=dict(os.environ, STATE_DIRECTORY=work))
    time.sleep(1)
    c0, w0 = cpu_seconds(p.pid), voluntary_switches(p.pid)
    time.sleep(seconds)
    c1, w1 = cpu_seconds(p.pid), voluntary_switches(p.pid)
    rss = peak_rss(p.pid)
    p.terminate()
    p.wait(10)
    per_minute = 60 / seconds
    print(f"| {label}: CPU (ms per minute), wake-ups per minute, peak RSS (MiB) | "
          f"{(c1 - c0) * 1000 * per_minute:.0f}, {(w1 - w0) * per_minute:.0f}, {rss:.1f} |")


def ask(port, method, path, body):
    request = urllib.request.Request(f"http://127.0.0.1:{port}{path}", method=method,
                                     data=json.dumps(body).encode(),
                                     headers={"Content-Type": "application/json"})
    return json.load(urllib.request.urlopen(request, timeout=10))


def dead_time(ms):
    line = Line()
    config = f"{work}/dead{ms}.conf"
    with open(config, "w") as f:
        f.write(f"[interlock.tor]\nrelays = 1, 2\nmode = wechseln\ndead_time = {ms}ms\n")
    port = free_port()
    p = subprocess.Popen([app, "--config", config, "--port", line.device, "--hold",
                          "--web", f"127.0.0.1:{port}"], stderr=subprocess.DEVNULL,
                         env=dict(os.environ, STATE_DIRECTORY=work, HOME=work))
    measured = []
    try:
        for _ in range(20):
            try:
                urllib.request.urlopen(f"http://127.0.0.1:{port}/api/state", timeout=1)
                break
            except OSError:
                time.sleep(0.25)
        for turn in range(2 if quick else 5):
            ask(port, "PUT", "/api/relays/1", {"on": True})
            time.sleep(0.5)
            line.bytes.clear()
            ask(port, "PUT", "/api/relays/2", {"on": True})
            time.sleep(ms / 1000 + 0.6)
            frames = line.frames()
            off = next(last for first, last, text in frames if text == "00000")
            on = next(first for first, last, text in frames if text == "00002")
            measured.append((on - off) * 1000)
            ask(port, "PUT", "/api/relays", {"mask": 0})
            time.sleep(ms / 1000 + 0.3)
    finally:
        p.terminate()
        p.wait(10)
    print(f"| dead time {ms} ms: last byte of all-off to first byte of the next \"on\" (ms), "
          f"min / max | {min(measured):.1f} / {max(measured):.1f} |")
    return min(measured) >= ms


print("### The rules (rules_bench.py)")
sending("", "no rule set")
sending("[relay.3]\nmax_on = 2h\n", "a maximum on-time pending")
ok = all(dead_time(ms) for ms in (0, 300))
print("dead times kept" if ok else "A DEAD TIME WAS CUT SHORT")
sys.exit(0 if ok else 1)
