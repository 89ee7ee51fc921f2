#!/usr/bin/env python3
"""The web panel under attack, against the real program (--hold --web), in a
network namespace of the test's own (the panel also listens on all
addresses there): floods of request line, header lines and bodies read from
/proc/PID/status, slow clients, ranges, ambiguous framing, guessing, a new
or lost password, and frames beside an idle instance while the panel is
polled. Every flood is bounded in bytes and time. Exit 77: skipped.
Usage: web_attack_test.py RELAISKARTE"""

import http.client, json, os, select, shutil, signal, socket, ssl, subprocess, sys, threading, time

if os.environ.get("RELAIS_OWN_NETNS") != "1":
    if os.geteuid() != 0 or not shutil.which("unshare") or not shutil.which("ip"):
        print("SKIP: web_attack needs root, unshare and ip for a network namespace of its own")
        sys.exit(77)
    os.environ["RELAIS_OWN_NETNS"] = "1"
    os.execvp("unshare", ["unshare", "--net", "--", sys.executable, *sys.argv])
subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
# An address beyond loopback (documentation ranges, on lo: nothing leaves the
# namespace), so that "all addresses" can be listened on here.
subprocess.run(["ip", "addr", "add", "192.0.2.1/32", "dev", "lo"], check=True)
subprocess.run(["ip", "addr", "add", "2001:db8::1/128", "dev", "lo"], check=True)

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import Session, own_home, Unit as SessionUnit, free_port, run

app = os.path.abspath(sys.argv[1])
session = Session("web-attack-")
work = session.work
fail, wait_for = session.fail, session.wait_for
env, store = own_home(session)
PASSWORD = "Pumpe-im-Keller-7"
MiB = 1 << 20


def rss_kib(pid, field="VmRSS"):
    """Resident memory now, or at its peak so far (VmHWM)."""
    with open(f"/proc/{pid}/status") as f:
        return next(int(l.split()[1]) for l in f if l.startswith(field + ":"))


def start(*args):
    process = session.start("relaiskarte", [app, *args], env=env)
    return process, session.children[-1][2]


def said(log):
    with open(log) as f:
        return f.read()


def connect(port, source="127.0.0.1", tls=None, timeout=10):
    s = socket.create_connection(("127.0.0.1", port), timeout, source_address=(source, 0))
    return tls.wrap_socket(s) if tls else s


def answer_of(s, seconds=10):
    """The status of what the server answered, None if it closed without one."""
    s.settimeout(seconds)
    data = b""
    try:
        while b"\r\n" not in data:
            chunk = s.recv(4096)
            if not chunk:
                break
            data += chunk
    except (ConnectionResetError, socket.timeout, ssl.SSLError):
        pass
    return int(data.split()[1]) if data.startswith(b"HTTP/1.1 ") else None


def flood(port, head, filler, total, source):
    """Sends `head`, then `filler` until `total` bytes or the server stops
    taking them; what it answered and how much it took."""
    s = connect(port, source)
    s.settimeout(5)
    sent = 0
    try:
        s.sendall(head)
        while sent < total:
            s.sendall(filler)
            sent += len(filler)
    except (BrokenPipeError, ConnectionResetError, socket.timeout):
        pass
    status = answer_of(s, 5)
    s.close()
    return status, sent


def ask(port, method, path, body=None, headers=None, tls=None, host="127.0.0.1"):
    c = (http.client.HTTPSConnection(host, port, timeout=10, context=tls) if tls
         else http.client.HTTPConnection(host, port, timeout=10))
    c.request(method, path, body=body, headers=headers or {})
    r = c.getresponse()
    data = r.read()
    c.close()
    return r.status, data, r


unit, idle_unit = SessionUnit(session), SessionUnit(session)
port = free_port()
program, log = start("--port", unit.device, "--hold", "--web", f"127.0.0.1:{port}")
idle, _ = start("--port", idle_unit.device, "--mask", "0", "--hold")
wait_for(lambda: f"http://127.0.0.1:{port}/" in said(log), "the panel never listened")
sources = [f"127.0.0.{n}" for n in range(2, 10)]  # eight clients, eight connections each

# 1. Memory floods before any login: 64 connections at once, each cut short
#    at its first byte over a bound with 400, 413, 414 or 431.
big_headers = b"GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n"
floods = {
    "chunked body": (b"POST /api/relays HTTP/1.1\r\nHost: 127.0.0.1\r\nTransfer-Encoding: chunked\r\n"
                     b"Content-Type: application/json\r\n\r\n", b"4000\r\n" + b" " * 0x4000 + b"\r\n"),
    "body without a length": (b"PUT /api/relays HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n\r\n",
                              b" " * 65536),
    "header lines": (big_headers, b"X-A: b\r\n" * 8192),
    "request line": (b"GET /" , b"a" * 65536),
}
for name, (head, filler) in floods.items():
    before = rss_kib(program.pid)
    results = []
    threads = [threading.Thread(target=lambda s=s: results.append(flood(port, head, filler, 16 * MiB, s)))
               for s in sources for _ in range(8)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(60)
    grown = (rss_kib(program.pid, "VmHWM") - before) / 1024  # the peak during the flood
    statuses = sorted({r[0] for r in results}, key=str)
    taken = max(r[1] for r in results) / MiB
    print(f"  {name}: 64 connections, answers {statuses}, at most {taken:.1f} MiB sent, "
          f"peak RSS +{grown:.1f} MiB")
    if len(results) != 64 or any(s not in (400, 413, 414, 431) for s, _ in results):
        fail(f"{name}: not every flood cut short with an error: {results}")
    if taken > 8 or grown > 32:
        fail(f"{name}: {taken:.1f} MiB taken from one client, RSS grew by {grown:.1f} MiB")
print("ok: body, request line and header floods cut short at once; memory bounded")

# 2. Framing: a valid command behind 1 MB of whitespace is not obeyed;
#    ambiguous lengths and packed bodies are refused before the body.
body = b" " * MiB + b'{"mask":9}'
chunked = b"".join(b"%x\r\n%s\r\n" % (len(body[i:i + 4096]), body[i:i + 4096]) for i in range(0, len(body), 4096))
status, _ = flood(port, b"PUT /api/relays HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
                  b"Transfer-Encoding: chunked\r\n\r\n", chunked + b"0\r\n\r\n", 1, "127.0.0.1")
if status != 413 or json.loads(ask(port, "GET", "/api/state")[1])["mask"] != 0:
    fail(f"a command behind 1 MB of whitespace: {status}")
for name, headers, want in (
        ("two lengths", b"Content-Length: 2\r\nContent-Length: 3\r\n", 400),
        ("length and chunks", b"Content-Length: 2\r\nTransfer-Encoding: chunked\r\n", 400),
        ("unknown coding", b"Transfer-Encoding: gzip, chunked\r\n", 400),
        ("packed", b"Content-Length: 2\r\nContent-Encoding: gzip\r\n", 415),
        ("too long", b"Content-Length: 4097\r\n", 413)):
    s = connect(port)
    s.sendall(b"PUT /api/relays HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n" + headers + b"\r\n{}")
    if answer_of(s) != want:
        fail(f"{name}: not {want}")
    s.close()
print("ok: a command behind 1 MB is refused (413); ambiguous framing 400, packed bodies 415")

# 3. Slow clients: 66 trickling from one address; the ninth and later are
#    refused unread, another client is served at once, and the trickling
#    ones are cut off 10 s after their first byte.
def states_of(sockets, answered, since):
    """For each: 'open' while the server keeps it, else its answer's status or
    'closed'. Looked at once `answered` of them have an answer (a loaded
    machine takes its time to turn them away), and before the server ends a
    head that is not complete, 10 s after its first byte (`since`)."""
    readable = set()
    while len(readable) < answered and time.monotonic() - since < 8:
        time.sleep(0.05)
        readable = set(select.select(sockets, [], [], 0)[0])
    time.sleep(0.3)  # one answer more than due would show now
    readable = set(select.select(sockets, [], [], 0)[0])
    states = []
    for s in sockets:
        if s not in readable:
            states.append("open")
            continue
        try:
            data = s.recv(100)
        except ConnectionResetError:
            data = b""
        states.append(int(data.split()[1]) if data.startswith(b"HTTP/1.1 ") else "closed")
    return states


slow = []
first_byte = time.monotonic()
for _ in range(66):
    s = connect(port, "127.0.0.20")  # an address of its own: the floods' may still be closing
    s.sendall(b"G")
    slow.append(s)
last_byte = time.monotonic()
states = states_of(slow, 58, first_byte)
looked = time.monotonic() - first_byte
t = time.monotonic()
status = ask(port, "GET", "/api/state")[0]
served = time.monotonic() - t
print(f"  another client served in {served * 1000:.0f} ms beside 66 slow ones "
      f"(their states seen {looked:.1f} s after the first byte)")
kept = [s for s, state in zip(slow, states) if state == "open"]
# (One that the server took before its first byte came counts as idle and
# may have made room for a later one: closed unanswered.)
if len(kept) != 8 or states.count(503) < 50 or states.count(503) + states.count("closed") != 58 \
        or status != 200 or served > 2:
    fail(f"slow clients: {len(kept)} kept, {states.count(503)} refused, another client {status} "
         f"after {served:.1f} s")
while time.monotonic() < last_byte + 12:  # a byte a second, for longer than the 10 s allowed
    for s in kept:
        try:
            s.sendall(b"E")
        except OSError:
            pass
    time.sleep(1)


def cut_off(s):
    s.settimeout(1)
    try:
        data = s.recv(100)
        return data == b"" or data.startswith(b"HTTP/1.1 4")
    except ConnectionResetError:
        return True
    except socket.timeout:
        return False


cut = sum(cut_off(s) for s in kept)
for s in slow:
    s.close()
if cut != 8:
    fail(f"trickling clients not cut off after 10 s: {cut} of 8")
# A browser's idle connections make room for its next one.
idle_ones = [connect(port, "127.0.0.21") for _ in range(8)]
fresh = connect(port, "127.0.0.21")
fresh.sendall(b"GET /api/state HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
status = answer_of(fresh)
gone = sum(cut_off(s) for s in idle_ones)
for s in idle_ones + [fresh]:
    s.close()
if status != 200 or gone != 1:
    fail(f"a ninth connection beside eight idle ones: {status}, {gone} idle ones closed")
print("ok: 8 connections per client, the rest refused 503 unread; a trickling head ends after 10 s; "
      "an idle connection makes room for a new one")

# 4. Ranges: one at most; more get the whole file.
whole = ask(port, "GET", "/app.js")[1]
ranges = ",".join(["0-"] * 2600)  # 7.8 KB asking for the whole file 2,600 times
status, data, _ = ask(port, "GET", "/app.js", headers={"Range": f"bytes={ranges}"})
one = ask(port, "GET", "/app.js", headers={"Range": "bytes=0-9"})
if (status, data) != (200, whole) or one[0] != 206 or one[1] != whole[:10]:
    fail(f"ranges: {status} {len(data)} bytes, one range {one[0]}")
print(f"ok: 2,600 ranges answered with the whole file ({len(whole)} bytes), one range with 206")

# 5. Smaller: no password from the query string, no-store on API answers, an
#    event stream's place freed within 2 s of its client going away.
if ask(port, "GET", "/api/state")[2].getheader("Cache-Control") != "no-store":
    fail("an API answer without Cache-Control: no-store")
streams = []
for i in range(33):
    s = connect(port, sources[i % 8])
    s.sendall(b"GET /api/events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
    streams.append(s)
    if answer_of(s) != (200 if i < 32 else 503):
        fail(f"event stream {i + 1} of 32 allowed")
for s in streams:
    s.close()
time.sleep(2.5)
c = connect(port)
c.sendall(b"GET /api/events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
if answer_of(c) != 200:
    fail("an event stream's place still taken 2.5 s after its client left")
c.close()
print("ok: no-store on API answers; event-stream places freed when clients leave")

# 6. The panel never costs a frame: 12 clients polling the ports and 32
#    event streams, against the idle instance beside it.
streams = []
for _ in range(32):
    s = connect(port, sources[len(streams) // 8])
    s.sendall(b"GET /api/events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
    streams.append(s)
stop = time.monotonic() + 10
polls = [0]


def poll(source):
    while time.monotonic() < stop:
        c = http.client.HTTPConnection("127.0.0.1", port, timeout=10, source_address=(source, 0))
        c.request("GET", "/api/ports")
        c.getresponse().read()
        c.close()
        polls[0] += 1


t0 = time.monotonic()
pollers = [threading.Thread(target=poll, args=(sources[i % 4 + 4],)) for i in range(12)]
for p in pollers:
    p.start()
for p in pollers:
    p.join(30)
for s in streams:
    s.close()


def frames(u):
    return sum(len(d) for _, d in u.chunks_since(t0 + 1) if _ < stop) // 5


def longest_gap(u):
    times = [at for at, _ in u.chunks_since(t0 + 1) if at < stop]
    return max((b - a for a, b in zip(times, times[1:])), default=0) * 1000


busy_frames, idle_frames = frames(unit), frames(idle_unit)
print(f"  {polls[0]} port lists in 10 s: {busy_frames} frames, the idle instance {idle_frames}; "
      f"longest gap {longest_gap(unit):.0f} ms, idle {longest_gap(idle_unit):.0f} ms")
if busy_frames < idle_frames - 2:
    fail(f"frames lost while the panel was polled: {busy_frames} against {idle_frames}")
print("ok: polling the ports with 32 streams open costs no frame")
program.send_signal(signal.SIGTERM)
program.wait(10)

# 7. Beyond loopback, with a password: guessing, a new password, a lost one.
run(app, "--set-web-password", env=env, input=PASSWORD + "\n")
# Below the ephemeral range: the 20,000 connections just made leave their
# ports in TIME_WAIT, which a listener on all addresses may not take.
port = next(p for p in range(20000, 32000) if subprocess.run(
    [sys.executable, "-c", f"import socket; socket.socket(socket.AF_INET6).bind(('::', {p}))"]).returncode == 0)
program, log = start("--port", unit.device, "--hold", "--web", str(port))
wait_for(lambda: "Zertifikat SHA-256" in said(log), "the TLS panel never listened")
tls = ssl.create_default_context()
tls.check_hostname, tls.verify_mode = False, ssl.CERT_NONE
form = {"Content-Type": "application/x-www-form-urlencoded"}


def login(password, source="127.0.0.1", query=""):
    c = http.client.HTTPSConnection("127.0.0.1", port, timeout=30, context=tls, source_address=(source, 0))
    c.request("POST", "/login" + query, body=f"password={password}" if password is not None else "", headers=form)
    r = c.getresponse()
    r.read()
    c.close()
    return r.status, (r.getheader("Set-Cookie") or "").split(";")[0]


results = []


def guess():
    try:
        results.append(login("falsch-falsch", "127.0.0.3")[0])
    except (OSError, http.client.HTTPException):
        results.append("refused")  # beyond 8 connections from one client


guesses = [threading.Thread(target=guess) for _ in range(40)]
for g in guesses:
    g.start()
for g in guesses:
    g.join(60)
if results.count(401) > 5 or results.count(401) + results.count(429) + results.count("refused") != 40:
    fail(f"40 guesses at once: {sorted(results, key=str)}")
print(f"ok: 40 guesses at once from one address: {results.count(401)} checked, "
      f"{results.count(429)} answered 429, {results.count('refused')} connections refused")
if login(None, query=f"?password={PASSWORD}")[0] == 204:
    fail("a password in the query string logged in")
status, cookie = login(PASSWORD)
if status != 204 or ask(port, "GET", "/api/state", tls=tls, headers={"Cookie": cookie})[0] != 200:
    fail(f"login: {status}")
run(app, "--set-web-password", env=env, input="Neues-Passwort-8\n")
if ask(port, "GET", "/api/state", tls=tls, headers={"Cookie": cookie})[0] != 401:
    fail("a session of the old password still works in the running program")
status, cookie = login("Neues-Passwort-8")
token = run(app, "--new-web-token", "notfall", env=env).stdout.strip().splitlines()[-1]
os.rename(store, store + ".weg")
checks = {"a session": ask(port, "GET", "/api/state", tls=tls, headers={"Cookie": cookie})[0],
          "Host: localhost": ask(port, "PUT", "/api/relays", b'{"mask":5}', tls=tls,
                                 headers={"Host": "localhost", "Content-Type": "application/json"})[0],
          "a login": login("Neues-Passwort-8")[0],
          "a token": ask(port, "GET", "/api/state", tls=tls, headers={"Authorization": f"Bearer {token}"})[0]}
if checks != {"a session": 401, "Host: localhost": 401, "a login": 409, "a token": 200}:
    fail(f"the password file gone: {checks}")
if said(log).count("fehlt oder ist nicht lesbar") != 1:
    fail(f"the lost password file not said once: {said(log)}")
print("ok: a new password ends the sessions at once; a lost password file opens nothing")
os.rename(store + ".weg", store)
program.send_signal(signal.SIGTERM)
program.wait(10)
session.stop()
print("web_attack: all passed")
