"""What the tests that start real programs share: a refusal to run where a
real serial port is visible, bounded waits, an X server with an optional
window manager that is ready before anything maps a window, the relay unit
as a pseudo-terminal, a real MQTT broker on 127.0.0.1, and a failure that
explains itself: the window tree, the programs' stderr, the broker's log and
the stacks of every program still running."""

import atexit, json, glob, os, select, shutil, socket, subprocess, sys, tempfile, termios, threading, time, tty

SERIAL = ("ttyS*", "ttyUSB*", "ttyACM*")


def real_serial_devices():
    return sorted(d for pattern in SERIAL for d in glob.glob(f"/dev/{pattern}"))


# A program under test that resolves "COM 1" must never find a real port:
# tests run where /dev holds none (tools/without-serial-devices).
if real_serial_devices():
    print(f"FAIL: real serial devices are visible ({', '.join(real_serial_devices()[:3])} ...); "
          "run this through tools/without-serial-devices (ctest and tools/test do)")
    sys.exit(1)

run = lambda *cmd, **kw: subprocess.run(cmd, capture_output=True, text=True, **kw)


class Session:
    """Every process a test starts, and what to print when it fails."""

    def __init__(self, prefix="test-", work=None):
        self.own_work = work is None
        self.work = work or tempfile.mkdtemp(prefix=prefix)
        self.children = []  # (name, process, log path or None)
        self.display = None
        self.logs = []  # (title, path): tails printed on failure
        self.before_exit = []
        # An error the test did not expect ends its processes too: a broker
        # or a program left running would disturb the tests after it.
        atexit.register(self.stop)
        # ... and explains itself as a failure does: what ran, what it said,
        # and where each program still running stands.
        earlier = sys.excepthook
        def explain_then(kind, value, trace):
            earlier(kind, value, trace)
            if not getattr(self, "stopped", False):
                self.explain()
        sys.excepthook = explain_then

    def start(self, name, argv, env=None, log=True, **kw):
        path = f"{self.work}/{name}-{len(self.children)}.log" if log else None
        out = open(path, "w") if path else subprocess.DEVNULL
        p = subprocess.Popen(argv, env=env, stderr=out, stdout=kw.pop("stdout", subprocess.DEVNULL), **kw)
        self.children.append((name, p, path))
        return p

    def wait_for(self, check, what, seconds=10, step=0.05):
        """A bounded wait; on time-out the test fails with what it saw."""
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            if check():
                return
            time.sleep(step)
        if not check():
            self.fail(what() if callable(what) else what)

    def fail(self, why):
        print("FAIL:", why, flush=True)
        self.explain()
        self.stop()
        sys.exit(1)

    def explain(self):
        if self.display:
            tree = run("xwininfo", "-root", "-tree", env=dict(os.environ, DISPLAY=self.display)).stdout
            named = [l for l in tree.splitlines() if '(has no name)' not in l]
            print(f"--- window tree of {self.display} (named windows):\n" + "\n".join(named[:80]))
        for name, p, path in self.children:
            state = "running" if p.poll() is None else f"exited {p.returncode}"
            print(f"--- {name} (pid {p.pid}, {state})")
            if path and os.path.exists(path):
                with open(path, errors="replace") as f:
                    print(f"    its output, last lines:\n{f.read()[-1500:]}")
            if p.poll() is None and name.startswith("relaiskarte") and shutil.which("gdb"):
                stacks = run("gdb", "-batch", "-p", str(p.pid), "-ex", "thread apply all bt 25", timeout=60)
                print("    its threads:\n" + "\n".join(l for l in stacks.stdout.splitlines()
                                                     if l.startswith(("Thread", "#"))))
        for title, path in self.logs:
            if os.path.exists(path):
                with open(path, errors="replace") as f:
                    print(f"--- {title}, last lines:\n{''.join(f.readlines()[-30:])}")
        sys.stdout.flush()

    def stop(self):
        if getattr(self, "stopped", False):
            return  # (once: at the test's end or at exit)
        self.stopped = True
        for hook in self.before_exit:
            hook()
        for _, p, _ in reversed(self.children):
            if p.poll() is None:
                p.terminate()
                try:
                    p.wait(10)
                except subprocess.TimeoutExpired:
                    p.kill()
                    p.wait()
        if self.own_work:
            shutil.rmtree(self.work, ignore_errors=True)

    def start_display(self, window_manager=False):
        """Xvfb on a display it picks itself. With a window manager: openbox,
        waited for until its start-up is done; a window mapped before that
        can stay unmapped, its request left in openbox's queue. -noreset: an
        X server resets when its last client leaves, and a client that
        connects during the reset is turned away ("could not connect to
        display"); a poll with xdotool before the program has connected is
        such a last client."""
        read, write = os.pipe()
        self.start("Xvfb", ["Xvfb", "-displayfd", str(write), "-noreset", "-screen", "0", "1024x768x24",
                            "-nolisten", "tcp"],
                   pass_fds=(write,))
        os.close(write)
        number = b""
        while select.select([read], [], [], 20)[0]:
            chunk = os.read(read, 16)
            number += chunk
            if not chunk or number.endswith(b"\n"):
                break
        os.close(read)
        if not number.strip().isdigit():
            self.fail("Xvfb did not start")
        self.display = f":{number.decode().strip()}"
        os.environ["DISPLAY"] = self.display
        os.environ.pop("WAYLAND_DISPLAY", None)
        if window_manager:
            ready = f"{self.work}/wm-ready"
            self.start("openbox", ["openbox", "--startup", f"touch {ready}"])
            self.wait_for(lambda: os.path.exists(ready), "openbox did not finish starting", 30)
        return self.display

    def window(self, title, seconds=20, program=None):
        """The id of a visible window whose name holds title."""
        found = []
        def visible():
            if program is not None and program.poll() is not None:
                self.fail(f"the program ended with {program.returncode} before its window appeared")
            found[:] = run("xdotool", "search", "--onlyvisible", "--name", title).stdout.split()
            return bool(found)
        self.wait_for(visible, f"the window {title!r} did not appear", seconds)
        return found[0]


class Unit:
    """The relay unit: a pseudo-terminal whose far end a thread reads, each
    chunk stamped with the time it arrived."""

    def __init__(self, session=None):
        self.session = session
        self.master, self.slave = os.openpty()
        tty.setraw(self.slave)
        self.device = self.path = os.ttyname(self.slave)
        self.chunks, self.taken = [], 0  # (monotonic time, bytes); how many read() took
        self.lock = threading.Lock()
        self.closed = False
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        while not self.closed:
            try:
                if select.select([self.master], [], [], 0.1)[0]:
                    data = os.read(self.master, 65536)
                    with self.lock:
                        self.chunks.append((time.monotonic(), data))
            except OSError:
                time.sleep(0.05)

    def data(self):
        with self.lock:
            return b"".join(d for _, d in self.chunks)

    def chunks_since(self, t):
        with self.lock:
            return [(at, d) for at, d in self.chunks if at >= t]

    def clear(self):
        with self.lock:
            self.chunks.clear()
            self.taken = 0

    def read(self, wait=0.35):
        """What arrived since the last read, after waiting `wait` seconds more."""
        time.sleep(wait)
        with self.lock:
            new, self.taken = self.chunks[self.taken:], len(self.chunks)
        return b"".join(d for _, d in new)

    def last(self):
        frames = self.read()
        if not frames:
            return None
        if len(frames) % 5 or not frames.isdigit():
            self.session.fail(f"frames not whole: {frames[-40:]!r}")
        return frames[-5:].decode()

    def wait_frame(self, frame, what, seconds=10):
        seen = []
        def current():
            seen.append(self.last())
            return seen[-1] == frame
        self.session.wait_for(current, lambda: f"{what}: never {frame} on the wire (last {seen[-3:]})", seconds)

    def settings(self):
        """9600 8N1, as the open port has the pty now."""
        attrs = termios.tcgetattr(self.slave)
        cflag = attrs[2]
        return (attrs[4] == termios.B9600 and attrs[5] == termios.B9600
                and cflag & termios.CSIZE == termios.CS8
                and not cflag & termios.PARENB and not cflag & termios.CSTOPB)

    def hang_up(self):
        """The cable pulled: the far end goes away."""
        self.closed = True
        self.reader.join(2)
        os.close(self.master)

    def close(self):
        if not self.closed:
            self.hang_up()
        os.close(self.slave)


def contract():
    """The contract every way in keeps (relay_contract.json): the pattern
    before each row, and the rows, each with what a caller from the network
    and a local one should see."""
    with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "relay_contract.json")) as f:
        table = json.load(f)
    for row in table["rows"]:
        e = row["expect"]
        row["network"], row["local"] = (e, e) if isinstance(e, str) else (e["network"], e["local"])
    return table["before"], table["rows"]


def own_home(session):
    """A home of the session's own, for the program's settings and the web
    panel's files: the environment to run it in, and its password file."""
    home = f"{session.work}/home"
    os.makedirs(home)
    env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=f"{home}/.config")
    return env, f"{home}/.config/relaiskarte/web-password"


def free_port():
    """A port free on every address: a test's clients come from several 127.0.0.x, and a port
    one of them still holds (even closing) cannot be bound on 0.0.0.0."""
    with socket.socket() as s:
        s.bind(("0.0.0.0", 0))
        return s.getsockname()[1]


class Broker:
    """Debian's mosquitto on a free port of 127.0.0.1, logging to a file the
    failure report shows. Its queue per client is unbounded: a test's flood
    must not be cut by the broker's default of 1,000 queued messages."""

    def __init__(self, session, extra="", tls=False):
        self.session, self.extra, self.tls = session, extra, tls
        self.port = free_port()
        self.log = f"{session.work}/broker-{self.port}.log"
        session.logs.append((f"the broker on port {self.port}", self.log))
        self.start()

    def start(self):
        conf = f"{self.session.work}/broker-{self.port}.conf"
        open(self.log, "a").close()
        os.chmod(self.log, 0o666)  # mosquitto started as root writes as the user "mosquitto"
        with open(conf, "w") as f:
            f.write(f"listener {self.port} 127.0.0.1\n{self.extra}\nmax_queued_messages 0\n"
                    f"log_dest file {self.log}\nlog_type all\n")
            if "password_file" not in self.extra:
                f.write("allow_anonymous true\n")
        self.process = self.session.start("mosquitto", ["mosquitto", "-c", conf])
        def up():
            try:
                socket.create_connection(("127.0.0.1", self.port), 0.2).close()
                return True
            except OSError:
                return False
        self.session.wait_for(up, "mosquitto did not start")

    def stop(self):
        self.process.terminate()
        self.process.wait(10)

    def client(self, *args):
        base = ["-h", "127.0.0.1", "-p", str(self.port)]
        if self.tls:
            base += ["--cafile", f"{self.session.work}/ca.pem"]
        return base + list(args)

    def sub(self, topic, count=1, seconds=5):
        r = run("mosquitto_sub", *self.client("-t", topic, "-v", "-C", str(count), "-W", str(seconds)))
        return dict(line.split(" ", 1) for line in r.stdout.splitlines() if " " in line)

    def pub(self, topic, payload, retain=False):
        subprocess.run(["mosquitto_pub", *self.client("-t", topic, "-m", payload, "-q", "1",
                                                      *(["-r"] if retain else []))], check=True)


def test_certificates(work):
    """A CA of the test's own (work/ca.pem) and a server certificate it signed
    for 127.0.0.1 (work/server.pem, work/server.key, readable by the broker)."""
    make = lambda *cmd: subprocess.run(["openssl", *cmd], check=True, capture_output=True)
    new_key = ["-newkey", "rsa:2048", "-nodes"]
    make("req", "-x509", *new_key, "-days", "2", "-subj", "/CN=Test-CA",
         "-keyout", f"{work}/ca.key", "-out", f"{work}/ca.pem")
    make("req", *new_key, "-subj", "/CN=127.0.0.1", "-keyout", f"{work}/server.key", "-out", f"{work}/server.csr")
    with open(f"{work}/san.ext", "w") as f:
        f.write("subjectAltName=IP:127.0.0.1\n")
    make("x509", "-req", "-in", f"{work}/server.csr", "-CA", f"{work}/ca.pem", "-CAkey", f"{work}/ca.key",
         "-CAcreateserial", "-days", "2", "-extfile", f"{work}/san.ext", "-out", f"{work}/server.pem")
    os.chmod(f"{work}/server.key", 0o644)  # a key made for this test alone


def need(*tools):
    for tool in tools:
        if not shutil.which(tool):
            print(f"SKIP: {tool} is not installed")
            sys.exit(77)
