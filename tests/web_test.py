#!/usr/bin/env python3
"""The web panel's API against the real program (--hold), through plain HTTP
clients on 127.0.0.1: the wire, the event stream, the login with its cookie,
tokens and lock-out, TLS with a test CA and with the self-signed
certificate, and bad input of every kind. The relay unit is a
pseudo-terminal. Every loop is bounded. Exit 77: skipped.
Usage: web_test.py RELAISKARTE"""

import http.client, json, os, select, signal, socket, ssl, subprocess, sys, threading, time
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import Session, contract, own_home, Unit as SessionUnit, free_port, need, run, test_certificates

app = os.path.abspath(sys.argv[1])
need("openssl")

session = Session("web-test-")
work = session.work
fail, wait_for = session.fail, session.wait_for
env, store = own_home(session)
PASSWORD = "Pumpe-im-Keller-7"
HEADERS = {"Content-Security-Policy": "default-src 'self'; frame-ancestors 'none'",
           "X-Content-Type-Options": "nosniff", "Referrer-Policy": "no-referrer"}


class Program:
    def __init__(self, *args):
        self.process = session.start("relaiskarte", [app, *args], env=env)
        self.log = session.children[-1][2]

    def said(self):
        with open(self.log) as f:
            return f.read()

    def end(self):
        self.process.send_signal(signal.SIGTERM)
        return self.process.wait(10)


class Client:
    """One HTTP(S) connection's worth of asking, with the cookie kept."""

    def __init__(self, port, tls=None, token=None, source="127.0.0.1"):
        self.port, self.tls, self.token, self.cookie = port, tls, token, None
        self.origin = f"{'https' if tls else 'http'}://127.0.0.1:{port}"
        self.source = (source, 0)

    def connect(self, timeout=10):
        if self.tls:
            return http.client.HTTPSConnection("127.0.0.1", self.port, timeout=timeout, context=self.tls,
                                               source_address=self.source)
        return http.client.HTTPConnection("127.0.0.1", self.port, timeout=timeout, source_address=self.source)

    def ask(self, method, path, body=None, kind="application/json", origin=None, headers=None):
        h = dict(headers or {})
        if body is not None:
            h["Content-Type"] = kind
            body = body if isinstance(body, bytes) else json.dumps(body).encode()
        if self.token:
            h["Authorization"] = f"Bearer {self.token}"
        if self.cookie:
            h["Cookie"] = self.cookie
        if origin:
            h["Origin"] = origin
        c = self.connect()
        c.request(method, path, body=body, headers=h)
        r = c.getresponse()
        data = r.read()
        c.close()
        for name, value in HEADERS.items():
            if r.getheader(name) != value:
                fail(f"{method} {path} ({r.status}): {name} is {r.getheader(name)!r}")
        if any(k.lower().startswith("access-control-") for k, _ in r.getheaders()):
            fail(f"{method} {path}: CORS headers {r.getheaders()}")
        try:
            return r.status, json.loads(data) if data else None, r
        except ValueError:
            return r.status, data, r

    def expect(self, status, method, path, body=None, **kw):
        got, answer, r = self.ask(method, path, body, **kw)
        if got != status:
            fail(f"{method} {path} {body!r}: {got} {answer!r}, not {status}")
        if status >= 400 and status != 503 and not (isinstance(answer, dict) and answer.get("error")):
            fail(f"{method} {path}: {status} without a German error: {answer!r}")
        return answer

    def login(self, password=PASSWORD, origin=None):
        c = self.connect()
        h = {"Content-Type": "application/x-www-form-urlencoded"}
        if origin:
            h["Origin"] = origin
        c.request("POST", "/login", body=f"password={password}", headers=h)
        r = c.getresponse()
        data = r.read()
        c.close()
        if r.status == 204:
            self.cookie = r.getheader("Set-Cookie").split(";")[0]
        return r.status, r.getheader("Set-Cookie") or "", data


def panel_up(client):
    def up():
        try:
            client.connect(1).request("GET", "/")
            return True
        except OSError:
            return False
    wait_for(up, "the panel never listened")


def events(client, count, seconds=10):
    """The first `count` state events of a fresh stream."""
    c = client.connect(seconds)
    h = {"Authorization": f"Bearer {client.token}"} if client.token else {}
    if client.cookie:
        h["Cookie"] = client.cookie
    c.request("GET", "/api/events", headers=h)
    r = c.getresponse()
    if r.status != 200 or not r.getheader("Content-Type", "").startswith("text/event-stream"):
        fail(f"/api/events: {r.status} {r.getheader('Content-Type')}")
    found, block = [], []
    while len(found) < count:
        line = r.readline().decode()
        if not line:
            break
        if line.strip():
            block.append(line.strip())
            continue
        fields = dict(l.split(": ", 1) for l in block if not l.startswith(":"))
        if fields.get("event") == "state":
            found.append((int(fields["id"]), json.loads(fields["data"])))
        block = []
    c.close()
    return found


unit = SessionUnit(session)
try:
    # 1. Without a password: loopback only, the address named, no login.
    r = run(app, "--port", unit.device, "--hold", "--web", "8443", env=env)
    if r.returncode != 2 or len(r.stderr.strip().splitlines()) != 1 or "--set-web-password" not in r.stderr:
        fail(f"--web beyond loopback without a password: {r.returncode} {r.stderr!r}")
    print("ok: beyond loopback without a password: one line, exit 2")

    port = free_port()
    program = Program("--port", unit.device, "--hold", "--web", f"127.0.0.1:{port}")
    local = Client(port)
    panel_up(local)
    # (The port takes connections from the moment it is bound; the line follows.)
    wait_for(lambda: f"http://127.0.0.1:{port}/" in program.said(),
             lambda: f"the address is not on standard error: {program.said()!r}")
    with open(f"/proc/{program.process.pid}/maps") as f:
        maps = f.read()
    if "libcpp-httplib" not in maps or "libmosquitto" in maps:
        fail("with --web alone the panel's module should be loaded, and the broker's not")
    state = local.expect(200, "GET", "/api/state")
    if state != {"relays": [False] * 16, "mask": 0, "link": "running", "port": unit.device,
                 "revision": state["revision"], "names": [None] * 16, "pulses": [None] * 16, "off_at": [None] * 16,
                 "schedules_paused": None, "next_switch": [None] * 16, "held_until": [None] * 16}:
        fail(f"state: {state}")
    first = state["revision"]
    unit.wait_frame("00000", "before any change")

    # 2. Every change acts as a click: the answer is the new state, the
    #    next tick sends it.
    steps = [("PUT", "/api/relays/3", {"on": True}, 4), ("POST", "/api/relays/16/toggle", {}, 32772),
             ("PUT", "/api/relays", {"mask": 65535}, 65535), ("PUT", "/api/relays/1", {"on": False}, 65534),
             ("PUT", "/api/relays", {"mask": 5}, 5)]
    for method, path, body, mask in steps:
        answer = local.expect(200, method, path, body)
        # One command is one change, however many relays it switched.
        if answer["mask"] != mask or answer["relays"][0] != bool(mask & 1) or answer["revision"] != first + 1:
            fail(f"{method} {path}: {answer} after revision {first}")
        first = answer["revision"]
        unit.wait_frame(f"{mask:05d}", f"{method} {path}")
    if local.expect(200, "PUT", "/api/relays", {"mask": 5})["revision"] != first:
        fail("a command that changed nothing moved the revision")
    print(f"ok: {len(steps)} changes answered with the new state, each one revision, and sent on the next tick")

    # The contract every way in keeps, as the web API says it: 400 (404 for
    # a relay that does not exist), 409 for a conflict, and a port's error
    # with its detail line.
    before, rows = contract()
    not_a_line = f"{work}/not-a-line"
    open(not_a_line, "w").close()
    names = {"A": unit.device, "OTHER": "COM 3", "MISSING": "COM 5", "FILE": not_a_line, "BAD": "COM 9"}
    for row in rows:
        local.expect(200, "DELETE", "/api/link", {})
        local.expect(200, "PUT", "/api/relays", {"mask": before})
        if row["running"]:
            local.expect(200, "POST", "/api/link", {"port": unit.device})
        verb, *args = row["command"]
        status, answer, _ = (
            local.ask("PUT", f"/api/relays/{args[0]}", {"on": args[1]}) if verb == "set" else
            local.ask("POST", f"/api/relays/{args[0]}/toggle", {}) if verb == "toggle" else
            local.ask("POST", f"/api/relays/{args[0]}/pulse", {"ms": args[1]} if args[1] else {})
            if verb == "pulse" else
            local.ask("PUT", "/api/relays", {"mask": args[0]}) if verb == "all" else
            local.ask("POST", "/api/link", {"port": names[args[0]]} if args[0] else {}) if verb == "start" else
            local.ask("DELETE", "/api/link", {}))
        outcome = ("done" if status == 200 else "bad" if status in (400, 404) else
                   "port" if isinstance(answer, dict) and "detail" in answer else
                   "conflict" if status == 409 else str(status))
        state = local.expect(200, "GET", "/api/state")
        after = (state["mask"], state["link"], state["port"])
        want = (row["mask"], "running" if row["link"] else "stopped", unit.device if row["link"] else None)
        if outcome != row["network"] or after != want:
            fail(f"contract, {row['name']}: {status} {answer} and {after}, not {row['network']} and {want}")
    local.expect(200, "PUT", "/api/relays", {"mask": 5})
    local.expect(200, "POST", "/api/link", {"port": unit.device})
    print(f"ok: the {len(rows)} rows of the contract over the web API")
    pulse = local.expect(200, "POST", "/api/relays/4/pulse", {"ms": 449})
    if pulse["pulse_ms"] != 400 or not pulse["off_at"][3] or pulse["mask"] != 13:
        fail(f"a pulse's answer: {pulse}")
    unit.wait_frame("00013", "a pulse over the web API: on")
    unit.wait_frame("00005", "a pulse over the web API: off after its length")
    print("ok: a pulse over the web API, its length rounded to ticks and said, on and off on the wire")
    # Who switched what: the last change and the last refusal, with their sources.
    log = local.expect(200, "GET", "/api/log")["entries"]
    if not any(e.get("refused") and e["source"].startswith("Web (") for e in log) or \
            not any(e.get("relay") == 1 and e.get("new") is False and e["source"].startswith("Web (") for e in log) \
            or len(log) > 200:
        fail(f"/api/log: {log[-5:]}")

    # 3. The event stream: the state at once, then after every change,
    #    whatever made it.
    got = []
    reader = threading.Thread(target=lambda: got.extend(events(local, 3)))
    reader.start()
    wait_for(lambda: got or reader.is_alive(), "no stream")
    time.sleep(0.5)
    local.expect(200, "PUT", "/api/relays/2", {"on": True})
    time.sleep(0.3)
    local.expect(200, "DELETE", "/api/link", {})
    reader.join(10)
    if [s["mask"] for _, s in got] != [5, 7, 7] or [s["link"] for _, s in got] != ["running", "running", "stopped"] \
            or not got[0][0] < got[1][0] < got[2][0] or got[2][1]["port"] is not None:
        fail(f"events: {got}")
    unit.read(0.3)
    if unit.read(0.3):
        fail("frames after DELETE /api/link")
    print("ok: the stream sends the state at once and after each change; stopped, nothing is sent")

    # 4. Starting: by path, a failure as 409 with the message's own text.
    answer = local.expect(200, "POST", "/api/link", {"port": unit.device})
    if answer["link"] != "running":
        fail(f"start: {answer}")
    local.expect(200, "DELETE", "/api/link", {})
    missing = "/dev/serial/by-id/usb-nicht-da-if00-port0"
    answer = local.expect(409, "POST", "/api/link", {"port": missing})
    if answer["error"] != "Ausgewählte COM Schnittstelle nicht vorhanden" or missing not in answer["detail"]:
        fail(f"a missing port: {answer}")
    answer = local.expect(409, "POST", "/api/link", {"port": "COM 2"})
    ports = local.expect(200, "GET", "/api/ports")
    if [p["name"] for p in ports] != [f"COM {n}" for n in range(1, 9)] or \
            any(p["present"] != (p["device"] is not None) for p in ports):
        fail(f"ports: {ports}")
    local.expect(200, "POST", "/api/link", {"port": unit.device})
    print("ok: start by device, 409 with the message for a missing port, eight ports listed")

    # 4b. Schedules: none here, so nothing to pause (409) and an empty list;
    #     with a settings file that has some, the coming times, each
    #     relay's next one, and a pause that the state, the log and the next
    #     start all know.
    none = local.expect(200, "GET", "/api/schedule")
    local.expect(409, "PUT", "/api/schedules", {"paused": True})
    if none != {"paused": None, "entries": []}:
        fail(f"/api/schedule without schedules: {none}")
    config = f"{session.work}/schedules.conf"
    with open(config, "w") as f:
        f.write("[relay.6]\nname = Garten\n[schedule.Abendlicht]\nrelays = Garten\nzone = UTC\n"
                "window = 03:00-03:01\n")
    sched_port = free_port()
    card = SessionUnit(session)  # a second card: the first is in use
    planned = Program("--config", config, "--port", card.device, "--hold", "--mask", "0",
                      "--web", f"127.0.0.1:{sched_port}")
    sched = Client(sched_port)
    panel_up(sched)
    coming = sched.expect(200, "GET", "/api/schedule")
    first = coming["entries"][0] if coming["entries"] else {}
    if coming["paused"] is not False or len(coming["entries"]) != 14 or first.get("relay") != 6 \
            or first.get("name") != "Garten" or first.get("schedule") != "Abendlicht" \
            or first.get("action") not in ("an", "aus") or not first.get("at", "").endswith("+00:00"):
        fail(f"/api/schedule: {coming}")
    state = sched.expect(200, "GET", "/api/state")
    if state["schedules_paused"] is not False or state["next_switch"][5] is None or state["next_switch"][0]:
        fail(f"the state's schedules: {state}")
    sched.expect(400, "PUT", "/api/schedules", {"paused": "ja"})
    paused = sched.expect(200, "PUT", "/api/schedules", {"paused": True})
    log = sched.expect(200, "GET", "/api/log")["entries"]
    if paused["schedules_paused"] is not True or paused["next_switch"][5] is not None or \
            not any(e.get("schedules") == "paused" and e["source"].startswith("Web (") for e in log):
        fail(f"paused: {paused} {log[-3:]}")
    if planned.end() != 0 or "Zeitpläne pausiert (Web (" not in planned.said():
        fail(f"the pause in the service's record: {planned.said()[-300:]!r}")
    again = Program("--config", config, "--port", card.device, "--hold", "--mask", "0",
                    "--web", f"127.0.0.1:{sched_port}")
    panel_up(sched)
    if sched.expect(200, "GET", "/api/state")["schedules_paused"] is not True:
        fail("the pause did not outlive a restart")
    sched.expect(200, "PUT", "/api/schedules", {"paused": False})
    again.end()
    print("ok: /api/schedule lists the coming week from the plan; a pause through the API is in the state, "
          "the log and the record, and outlives a restart; without schedules 409")

    # 5. Bad input of every kind changes nothing and is answered in German.
    bad = [(400, "PUT", "/api/relays", b"{mask: 3}"), (400, "PUT", "/api/relays", b'{"mask": 70000}'),
           (400, "PUT", "/api/relays/3", b'{"on": "ja"}'), (400, "PUT", "/api/relays/3", b'{"on": "\xff"}'),
           (400, "PUT", "/api/relays", b'{"mask": 1e400}'),
           (413, "PUT", "/api/relays", b'{"mask": 1, "x": "' + b"a" * 5000 + b'"}'),
           (404, "GET", "/api/relais", None), (404, "GET", "/api/../../etc/passwd", None),
           (404, "GET", "/%2e%2e/%2e%2e/etc/passwd", None), (404, "PUT", "/api/relays/17", b'{"on":true}'),
           (405, "POST", "/api/state", b"{}"), (405, "GET", "/api/relays", None)]
    for status, method, path, body in bad:
        local.expect(status, method, path, body)
    local.expect(415, "PUT", "/api/relays", b"mask=3", kind="application/x-www-form-urlencoded")
    local.expect(415, "PUT", "/api/relays", b'{"mask":3}', kind="text/plain")
    if local.expect(200, "GET", "/api/state")["mask"] != 7:
        fail("bad input changed the relays")
    unit.wait_frame("00007", "after bad input")
    openapi = local.expect(200, "GET", "/api/openapi.json")
    if not openapi["openapi"].startswith("3.") or "/api/events" not in openapi["paths"]:
        fail("no OpenAPI document")
    print(f"ok: {len(bad) + 2} bad requests answered 400/404/405/413/415 in German, nothing changed")

    # 6. Limits: 8 KiB of headers (431, one long line too); 64 connections at once, from eight
    #    clients of their own (so that only the server's whole limit counts), the 65th, from a
    #    ninth, refused 503 unread; a client that sends nothing (dropped within 10 s).
    answer = local.expect(431, "GET", "/api/state", headers={f"X-Flut-{i}": "x" * 100 for i in range(100)})
    answer = local.expect(431, "GET", "/api/state", headers={"X-Lang": "x" * 9000})

    def sixty_fifth():
        """The 65th connection's answer, and how many of the 64 before it were refused: the
        accepting thread sends each refusal before it takes the next connection."""
        held = []
        for i in range(64):
            s = socket.create_connection(("127.0.0.1", port), 5, source_address=(f"127.0.0.{30 + i // 8}", 0))
            s.sendall(b"GET /api/state HTTP/1.1\r\nHost: 127.0.0.1\r\n")  # never finished
            held.append(s)
        status, answer, _ = Client(port, source="127.0.0.40").ask("GET", "/api/state")
        refused = len(select.select(held, [], [], 0)[0])
        for s in held:  # a place is free before its connection ends: once all have ended, all are
            try:
                s.shutdown(socket.SHUT_WR)
                while s.recv(4096):
                    pass
            except OSError:  # a refused one may have been reset
                pass
            s.close()
        return status, answer, refused

    # A connection of an earlier request that the server is still closing holds a place of its
    # own: then one of the 64 is refused instead, and the count is taken again.
    for attempt in range(3):
        status, answer, refused = sixty_fifth()
        if not refused:
            break
    if status != 503 or refused:
        fail(f"the 65th connection: {status} {answer}, {refused} of the 64 before it refused")
    local.expect(200, "GET", "/api/state")
    idle = socket.create_connection(("127.0.0.1", port), 20)
    started = time.monotonic()
    idle.settimeout(20)
    closed = idle.recv(100) == b""
    quiet_for = time.monotonic() - started
    if not closed or quiet_for > 11:
        fail(f"a silent client was kept {quiet_for:.1f} s")
    unit.wait_frame("00007", "during the limits")
    print(f"ok: headers over 8 KiB refused, the 65th connection 503, a silent client dropped after {quiet_for:.0f} s")

    # At most 32 event streams (from four clients: one client has at most 8
    # connections); a client that vanishes frees its stream.
    streams = []
    for i in range(32):
        c = http.client.HTTPConnection("127.0.0.1", port, timeout=10,
                                       source_address=(f"127.0.0.{2 + i // 8}", 0))
        c.request("GET", "/api/events")
        r = c.getresponse()
        if r.status != 200:
            fail(f"stream {i + 1}: {r.status}")
        streams.append(c)
    status, answer, _ = local.ask("GET", "/api/events")
    if status != 503:
        fail(f"the 33rd stream: {status}")
    for c in streams:
        c.sock.shutdown(socket.SHUT_RDWR)
        c.close()
    # The first write after a close still lands in the socket; the second
    # finds the client gone.
    local.expect(200, "PUT", "/api/relays/4", {"on": True})
    time.sleep(0.2)
    local.expect(200, "PUT", "/api/relays/4", {"on": False})
    time.sleep(0.2)
    local.expect(200, "PUT", "/api/relays/4", {"on": True})
    def stream_again():
        c = local.connect()
        c.request("GET", "/api/events")
        ok = c.getresponse().status == 200
        c.close()
        return ok
    wait_for(stream_again, "vanished clients kept their streams")
    unit.wait_frame("00015", "with 32 streams")
    print("ok: 32 event streams, the 33rd refused with 503; vanished clients free theirs")

    # 7. The panel's port taken: one line, exit 2.
    other = SessionUnit(session)
    r = run(app, "--port", other.device, "--hold", "--web", f"127.0.0.1:{port}", env=env, timeout=20)
    if r.returncode != 2 or len(r.stderr.strip().splitlines()) != 1 or "Port" not in r.stderr:
        fail(f"the panel's port taken: {r.returncode} {r.stderr!r}")
    # Shutdown ends an open event stream cleanly: its last chunk, then EOF.
    ended = []
    def follow_to_end():
        c = local.connect(20)
        c.request("GET", "/api/events")
        r = c.getresponse()
        try:
            r.read()
            ended.append("clean")
        except http.client.IncompleteRead:
            ended.append("cut off")
    follower = threading.Thread(target=follow_to_end)
    follower.start()
    time.sleep(0.5)
    if program.end() != 0:
        fail("SIGTERM did not end the program with 0")
    follower.join(10)
    if ended != ["clean"]:
        fail(f"the event stream at shutdown: {ended}")
    print("ok: the port taken is refused; SIGTERM ends the panel's program with 0 and its streams cleanly")

    # 8. The password: under 8 characters refused, the file not written;
    #    then stored as a slow hash, readable by its owner only.
    r = subprocess.run([app, "--set-web-password"], input="kurz\n", capture_output=True, text=True, env=env)
    if r.returncode != 2 or os.path.exists(store) or "8" not in r.stderr:
        fail(f"a short password: {r.returncode} {r.stderr!r}")
    r = subprocess.run([app, "--set-web-password"], input=PASSWORD + "\n", capture_output=True, text=True, env=env)
    mode = os.stat(store).st_mode & 0o777
    with open(store) as f:
        stored = f.read()
    if r.returncode != 0 or mode != 0o600 or PASSWORD in stored or not stored.startswith("scrypt$"):
        fail(f"the password file: {r.returncode} {oct(mode)} {stored!r}")
    print("ok: a short password refused; the hash stored with mode 600")

    # 9. TLS with a test CA: cookie sessions, the Origin, tokens, lock-out.
    ca = f"{work}/ca"
    os.makedirs(ca)
    test_certificates(ca)
    trust = ssl.create_default_context(cafile=f"{ca}/ca.pem")
    port = free_port()
    program = Program("--port", unit.device, "--hold", "--web", f"127.0.0.1:{port}",
                      "--web-cert", f"{ca}/server.pem", "--web-key", f"{ca}/server.key")
    user = Client(port, tls=trust)
    panel_up(user)
    user.expect(401, "GET", "/api/state")
    user.expect(401, "GET", "/api/events")
    status, cookie, _ = user.login()
    attributes = [a.strip() for a in cookie.split(";")]
    if status != 204 or not {"HttpOnly", "SameSite=Strict", "Secure"} <= set(attributes) \
            or len(attributes[0].split("=", 1)[1]) < 22:
        fail(f"login: {status} {cookie!r}")
    user.expect(200, "GET", "/api/state")
    # A change under a cookie needs the panel's own Origin.
    user.expect(403, "PUT", "/api/relays", {"mask": 9})
    user.expect(403, "PUT", "/api/relays", {"mask": 9}, origin="https://evil.example")
    user.expect(403, "PUT", "/api/relays", {"mask": 9}, origin=f"https://127.0.0.1:{port + 1}")
    user.expect(200, "PUT", "/api/relays", {"mask": 9}, origin=user.origin)
    unit.wait_frame("00009", "a change over TLS")
    print("ok: TLS with --web-cert; login sets an HttpOnly, SameSite=Strict, Secure cookie; "
          "a change needs the panel's own Origin")

    # Tokens: made while running, good at once; revoked, refused at once.
    r = run(app, "--new-web-token", "skript", env=env)
    token = r.stdout.strip().splitlines()[-1] if r.stdout.strip() else ""
    if r.returncode != 0 or len(token) < 43:
        fail(f"--new-web-token: {r.returncode} {r.stdout!r} {r.stderr!r}")
    script = Client(port, tls=trust, token=token)
    script.expect(200, "PUT", "/api/relays/2", {"on": True})
    if run(app, "--list-web-tokens", env=env).stdout.split() != ["skript"]:
        fail("--list-web-tokens does not list the token")
    if run(app, "--revoke-web-token", "skript", env=env).returncode != 0:
        fail("--revoke-web-token failed")
    script.expect(401, "GET", "/api/state")
    print("ok: a new token works at once without a restart, a revoked one is refused at once")

    # Sessions outlive a restart of the program; logout ends them.
    if program.end() != 0:
        fail("SIGTERM with a session")
    program = Program("--port", unit.device, "--hold", "--web", f"127.0.0.1:{port}",
                      "--web-cert", f"{ca}/server.pem", "--web-key", f"{ca}/server.key")
    panel_up(user)
    user.expect(200, "GET", "/api/state")
    c = user.connect()
    c.request("POST", "/logout", headers={"Cookie": user.cookie, "Origin": user.origin})
    c.getresponse().read()
    user.expect(401, "GET", "/api/state")
    print("ok: the session outlives a restart; logout ends it")

    # The lock-out: five wrong passwords, then 429 even for the right one;
    # logged once, with the address. A wrong password costs what a right one does.
    timings = {}
    for attempt in range(5):
        started = time.monotonic()
        status, _, _ = Client(port, tls=trust).login("falsch-falsch")
        timings.setdefault("wrong", []).append(time.monotonic() - started)
        if status != 401:
            fail(f"wrong password {attempt + 1}: {status}")
    for attempt in range(2):
        status, _, body = Client(port, tls=trust).login()
        if status != 429 or "10 Minuten" not in json.loads(body)["error"]:
            fail(f"locked out, the right password: {status} {body!r}")
    wait_for(lambda: program.said().count("gesperrt") == 1, lambda: f"lock-out not logged once: {program.said()!r}")
    if "127.0.0.1" not in program.said() or PASSWORD in program.said() or "falsch-falsch" in program.said():
        fail(f"the lock-out's line: {program.said()!r}")
    Client(port, tls=trust, token="geraten").expect(429, "GET", "/api/state")
    print(f"ok: locked out after 5 wrong passwords (429, logged once with the address); "
          f"a wrong password took {min(timings['wrong']) * 1000:.0f}-{max(timings['wrong']) * 1000:.0f} ms")
    program.end()

    # 10. The self-signed certificate beyond loopback, its fingerprint on
    #     standard error and from --web-fingerprint.
    port = free_port()
    program = Program("--port", unit.device, "--hold", "--web", f"0.0.0.0:{port}")
    wait_for(lambda: "SHA-256" in program.said(), lambda: f"no fingerprint: {program.said()!r}")
    printed = run(app, "--web-fingerprint", env=env).stdout.strip()
    insecure = ssl.create_default_context()
    insecure.check_hostname, insecure.verify_mode = False, ssl.CERT_NONE
    with socket.create_connection(("127.0.0.1", port), 5) as raw, insecure.wrap_socket(raw) as tls:
        der = tls.getpeercert(binary_form=True)
    import hashlib
    served = ":".join(f"{b:02X}" for b in hashlib.sha256(der).digest())
    if printed != served or served not in program.said():
        fail(f"fingerprints: printed {printed}, served {served}, said {program.said()!r}")
    text = subprocess.run(["openssl", "x509", "-inform", "DER", "-noout", "-text"], input=der,
                          capture_output=True).stdout.decode()
    if "prime256v1" not in text or "IP Address:127.0.0.1" not in text or "DNS:localhost" not in text:
        fail(f"the self-signed certificate: {text}")
    # The README's curl examples, as printed (on this test's port).
    with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "README.md")) as f:
        readme = f.read()
    block = readme.split("With the panel running on `--web 8443`", 1)[1].split("```sh\n", 1)[1].split("```", 1)[0]
    shell_env = dict(env, PATH=os.path.dirname(app) + ":" + os.environ["PATH"])
    outputs = []
    for line in block.replace("8443", str(port)).splitlines():
        if line.startswith("export"):
            r = subprocess.run(["bash", "-c", line + "\nenv -0"], capture_output=True, text=True, env=shell_env)
            shell_env = dict(v.split("=", 1) for v in r.stdout.split("\0") if "=" in v)
            continue
        r = subprocess.run(["bash", "-c", line], capture_output=True, text=True, env=shell_env, timeout=20)
        if r.returncode not in ((0, 28) if "/api/events" in line else (0,)):
            fail(f"README example {line!r}: {r.returncode} {r.stderr!r}")
        outputs.append(r.stdout)
    if '"mask":5' not in outputs[3] or '"link":"stopped"' not in outputs[4] or "event: state" not in outputs[6] \
            or len(json.loads(outputs[5])) != 8:
        fail(f"README examples printed {outputs}")
    print(f"ok: the README's {len(outputs)} curl examples run as printed against the self-signed certificate")
    plain = http.client.HTTPConnection("127.0.0.1", port, timeout=5)
    try:
        plain.request("GET", "/api/state")
        plain_status = plain.getresponse().status
    except (OSError, http.client.HTTPException):
        plain_status = None
    if plain_status == 200:
        fail("plain HTTP answered beyond loopback")
    program.end()
    print("ok: beyond loopback HTTPS by default with a self-signed P-256 certificate; "
          "its fingerprint on standard error and from --web-fingerprint")
finally:
    session.stop()
