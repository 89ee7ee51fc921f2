#!/usr/bin/env python3
"""The web panel measured against the real program, on 127.0.0.1 with the
relay unit a pseudo-terminal: GET /api/state latency, PUT to the wire,
change to the event stream, 32 streams plus 200 requests a second against
an idle run, what the panel costs when on and idle (and that it costs
nothing when off: the window's memory against an empty Qt window), and the
page's weight and Chromium's time to its first drawn page.
Usage: web_bench.py RELAISKARTE STARTUP_MINIMAL [--quick]"""

from procstats import cpu_seconds
import os, sys
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
import harness  # refuses to run where a real serial port is visible
from harness import Session, Unit, free_port, run
import http.client, json, shutil, socket, statistics, subprocess, threading, time

app, minimal = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
quick = "--quick" in sys.argv
span = 3 if quick else 60
session = Session("web-bench-")
home = f"{session.work}/home"
os.makedirs(home)
env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=f"{home}/.config", QT_QPA_PLATFORM="offscreen",
           RELAIS_PROBE_STAY="1")


def row(what, value):
    print(f"| {what} | {value} |", flush=True)


def rss(pid):
    with open(f"/proc/{pid}/status") as f:
        return next(int(l.split()[1]) for l in f if l.startswith("VmRSS")) / 1024


def percentile(values, p):
    values = sorted(values)
    return values[min(len(values) - 1, int(round(p / 100 * (len(values) - 1))))]


def connect(port):
    c = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
    c.connect()
    c.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    return c


def ask(c, method, path, body=None):
    c.request(method, path, body=None if body is None else json.dumps(body),
              headers={"Content-Type": "application/json"} if body is not None else {})
    r = c.getresponse()
    return r.status, r.read()


def up(port):
    def ready():
        try:
            socket.create_connection(("127.0.0.1", port), 0.2).close()
            return True
        except OSError:
            return False
    session.wait_for(ready, "the panel did not come up")


def ticks(unit, since):
    """Frame arrival intervals (ms) since `since`, and whether every frame was whole."""
    chunks = unit.chunks_since(since)
    data = b"".join(d for _, d in chunks)
    times = [t for t, d in chunks for _ in range(len(d) // 5)]
    gaps = [(b - a) * 1000 for a, b in zip(times, times[1:])]
    return gaps, len(data) % 5 == 0 and data.isdigit()


print(f"### 11. The web panel ({'quick pass, figures mean nothing' if quick else f'{span} s per run'})\n")
print("| figure | value |\n|---|--:|")

# 1. What the panel costs: the window and the headless run, each sending
#    for `span` seconds, with and without it; an empty Qt window beside.
costs = {}
def measure(name, argv, start_link=None):
    unit = Unit(session)
    p = session.start(name, [a.replace("{pty}", unit.device) for a in argv], env=env)
    time.sleep(1)
    if start_link:
        start_link(unit)
    begin = cpu_seconds(p.pid)
    time.sleep(span)
    cpu = (cpu_seconds(p.pid) - begin) / span * 60 * 1000
    with open(f"/proc/{p.pid}/maps") as f:
        libs = sorted({l.split("/")[-1].split(".so")[0] for l in f
                       if any(n in l for n in ("libmosquitto", "libssl", "libcrypto", "httplib"))})
    costs[name] = (rss(p.pid), cpu, libs, bool(unit.data()) if start_link or "--hold" in argv else None)
    p.terminate()
    p.wait(10)
    unit.close()

bus = ["busctl", "--user", "call", "de.korvander.Relaiskarte", "/Relaiskarte", "de.korvander.Relaiskarte1"]
by_bus = lambda unit: run(*bus, "Start", "s", unit.device)
web_port = free_port()
by_web = lambda unit: ask(connect(web_port), "POST", "/api/link", {"port": unit.device})
measure("empty Qt window", [minimal])
measure("window", [app], by_bus)
measure("window --web (idle)", [app, "--web", f"127.0.0.1:{web_port}"], by_web)
measure("--hold", [app, "--port", "{pty}", "--hold", "--mask", "5"])
web_port = free_port()
measure("--hold --web (idle)", [app, "--port", "{pty}", "--hold", "--mask", "5", "--web", f"127.0.0.1:{web_port}"])
for name, (memory, cpu, libs, sent) in costs.items():
    note = "" if sent in (None, True) else " (NOT SENDING)"
    row(f"{name}: RSS after {span} s (MiB), CPU (ms per minute){note}", f"{memory:.1f}, {cpu:.0f}")
row("window without --web and --mqtt: RSS against the empty Qt window",
    f"{costs['window'][0] / costs['empty Qt window'][0]:.2f}")
row("libraries of the broker, HTTP and TLS mapped: window / window --web",
    f"{', '.join(costs['window'][2]) or 'none'} / {', '.join(costs['window --web (idle)'][2])}")

# 2. Latency against --hold --web.
unit = Unit(session)
port = free_port()
program = session.start("relaiskarte", [app, "--port", unit.device, "--hold", "--mask", "0",
                                        "--web", f"127.0.0.1:{port}"], env=env)
up(port)
c = connect(port)
n = 100 if quick else 2000
spent = []
for _ in range(n):
    t = time.perf_counter()
    ask(c, "GET", "/api/state")
    spent.append((time.perf_counter() - t) * 1000)
row(f"GET /api/state on loopback, one connection, median / p99 ({n} requests, ms)",
    f"{statistics.median(spent):.2f} / {percentile(spent, 99):.2f}")

n = 20 if quick else 200
wire = []
for i in range(n):
    mask = 1 + i % 60000
    unit.read(0)
    t = time.monotonic()
    ask(c, "PUT", "/api/relays", {"mask": mask})
    want = f"{mask:05d}".encode()
    end = t + 2
    while time.monotonic() < end:
        found = next((at for at, d in unit.chunks_since(t) if want in d), None)
        if found:
            wire.append((found - t) * 1000)
            break
        time.sleep(0.001)
    time.sleep(0.05 + (i % 7) / 100)  # land anywhere in the tick
row(f"PUT to its frame on the wire, median / p99 / max ({n} changes, ms; one tick is 100)",
    f"{statistics.median(wire):.1f} / {percentile(wire, 99):.1f} / {max(wire):.1f}")
row("changes never seen on the wire", n - len(wire))

arrived = []  # (time, data) of each event
stream = connect(port)
stream.request("GET", "/api/events")
r = stream.getresponse()
def follow():
    while True:
        line = r.readline()
        if not line:
            return
        if line.startswith(b"data: "):
            arrived.append((time.perf_counter(), line))
reader = threading.Thread(target=follow, daemon=True)
reader.start()
session.wait_for(lambda: len(arrived) >= 1, "no first event")
sse = []
for i in range(n):
    mask = 30000 + i
    want = f'"mask":{mask},'.encode()
    t = time.perf_counter()
    ask(c, "PUT", "/api/relays", {"mask": mask})
    found = []
    def seen():
        found[:] = [at for at, data in arrived[-4:] if want in data]
        return bool(found)
    session.wait_for(seen, f"the event for mask {mask} did not arrive", 5, 0.0005)
    sse.append((found[0] - t) * 1000)
row(f"change (PUT) to its event on another connection's stream, median / p99 ({n}, ms)",
    f"{statistics.median(sse):.2f} / {percentile(sse, 99):.2f}")
stream.close()

# 3. Load: 32 event streams and 200 requests a second, against an idle run.
time.sleep(1)
t0 = time.monotonic()
time.sleep(span)
idle_gaps, idle_whole = ticks(unit, t0)
streams = []
for _ in range(32):
    s = connect(port)
    s.request("GET", "/api/events")
    streams.append((s, s.getresponse()))
counts = {"ok": 0, "failed": 0}
stop = threading.Event()
def drain(response):
    while not stop.is_set():
        if not response.readline():
            return
for _, response in streams:
    threading.Thread(target=drain, args=(response,), daemon=True).start()
def load():
    conn = connect(port)
    i, next_at = 0, time.monotonic()
    while not stop.is_set():
        try:
            status, _ = ask(conn, *(("GET", "/api/state", None) if i % 4 else ("PUT", "/api/relays", {"mask": i % 65536})))
            counts["ok" if status == 200 else "failed"] += 1
        except (OSError, http.client.HTTPException):
            counts["failed"] += 1
            conn = connect(port)
        i += 1
        next_at += 1 / 100  # two loaders: 200 a second
        time.sleep(max(0, next_at - time.monotonic()))
loaders = [threading.Thread(target=load, daemon=True) for _ in range(2)]
cpu0, t1 = cpu_seconds(program.pid), time.monotonic()
for l in loaders:
    l.start()
time.sleep(span)
stop.set()
for l in loaders:
    l.join(5)
cpu = (cpu_seconds(program.pid) - cpu0) / span * 60 * 1000
load_gaps, load_whole = ticks(unit, t1)
dev = lambda gaps: percentile([abs(g - 100) for g in gaps], 99)
row(f"requests served in {span} s (200 a second), failed", f"{counts['ok']}, {counts['failed']}")
row("tick period deviation p99, idle / 32 streams + 200 requests a second (ms)",
    f"{dev(idle_gaps):.2f} / {dev(load_gaps):.2f}")
row("frames whole, idle / under load", f"{idle_whole} / {load_whole}")
row("under load: CPU (ms per minute), RSS (MiB)", f"{cpu:.0f}, {rss(program.pid):.1f}")
for s, _ in streams:
    s.close()

# 4. The page: weight, and Chromium's time to its first drawn page.
c = connect(port)
weight = 0
for path in ("/", "/app.js", "/style.css", "/icon.svg"):
    c.request("GET", path)
    r = c.getresponse()
    body = r.read()
    weight += len(body) + sum(len(k) + len(v) + 4 for k, v in r.getheaders())
row("page weight, all four files with headers (KiB)", f"{weight / 1024:.1f}")
try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for a in ("--headless=new", "--no-sandbox", "--window-size=390,844", f"--user-data-dir={session.work}/chromium"):
        options.add_argument(a)
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    paints = []
    for _ in range(3 if quick else 10):
        driver.get(f"http://127.0.0.1:{port}/?{len(paints)}")
        session.wait_for(lambda: driver.execute_script(
            "return performance.getEntriesByType('paint').length > 1"), "no paint", 10)
        paints.append(driver.execute_script(
            "return performance.getEntriesByType('paint').find(e => e.name == 'first-contentful-paint').startTime"))
    driver.quit()
    row("Chromium, navigation to first contentful paint, median (ms)", f"{statistics.median(paints):.0f}")
except Exception as e:  # the browser is optional here; the tests need it
    row("Chromium, navigation to first contentful paint", f"not measured ({type(e).__name__})")
program.terminate()
program.wait(10)
session.stop()
