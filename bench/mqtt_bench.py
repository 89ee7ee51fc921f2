#!/usr/bin/env python3
"""The program on an MQTT broker (Debian's mosquitto on 127.0.0.1), measured:
command to the wire, click to the published state, reconnection after a
broker restart, CPU and memory of the headless run with and without the
bridge, side by side with a plain C program that writes the same frame
every 100 ms (the floor). Usage: mqtt_bench.py RELAISKARTE FLOOR [--quick]"""

from procstats import cpu_seconds, peak_rss
import os, sys
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
import harness  # refuses to run where a real serial port is visible
import os, pty, random, select, shutil, signal, socket, statistics, subprocess, sys, tempfile, time

app, floor = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
quick = "--quick" in sys.argv
for tool in ("mosquitto", "mosquitto_sub", "mosquitto_pub", "Xvfb", "xdotool"):
    if not shutil.which(tool):
        print(f"SKIP: mqtt_bench: {tool} is not installed; nothing measured"); sys.exit(77 if quick else 0)
work = tempfile.mkdtemp(prefix="mqtt-bench-")
os.chmod(work, 0o755)
children = []

def row(what, value):
    print(f"| {what:<52} | {value:>18} |")

def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]

port = free_port()

def start_broker():
    conf = f"{work}/broker.conf"
    with open(conf, "w") as f:
        f.write(f"listener {port} 127.0.0.1\nallow_anonymous true\n")
    p = subprocess.Popen(["mosquitto", "-c", conf], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    children.append(p)
    for _ in range(200):
        try:
            socket.create_connection(("127.0.0.1", port), 0.1).close()
            return p
        except OSError:
            time.sleep(0.01)
    sys.exit("mosquitto did not start")
broker = start_broker()
url = f"mqtt://127.0.0.1:{port}"

class Subscriber:
    """mosquitto_sub kept running; each line stamped as it arrives."""
    def __init__(self, topic):
        self.p = subprocess.Popen(["stdbuf", "-oL", "mosquitto_sub", "-p", str(port), "-t", topic, "-v"],
                                  stdout=subprocess.PIPE)
        children.append(self.p)
        os.set_blocking(self.p.stdout.fileno(), False)
        self.buf = b""
    def wait_for(self, text, seconds=5):
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            if select.select([self.p.stdout], [], [], 0.005)[0]:
                self.buf += self.p.stdout.read() or b""
                lines = self.buf.split(b"\n")
                self.buf = lines[-1]
                for line in lines[:-1]:
                    if line.decode() == text:
                        return time.monotonic()
        return None

def unit():
    master, slave = pty.openpty()
    name = os.ttyname(slave)
    os.close(slave)
    return master, name

def drain(master):
    while select.select([master], [], [], 0)[0]:
        os.read(master, 65536)

print("\n### MQTT (mosquitto on 127.0.0.1; the relay unit a pseudo-terminal)\n")
print(f"| {'figure':<52} | {'value':>18} |\n|{'-' * 54}|{'-' * 19}:|")

# Command to the wire, headless.
master, device = unit()
headless = subprocess.Popen([app, "--port", device, "--hold", "--mqtt", url, "--mqtt-name", "bench"],
                            stderr=subprocess.DEVNULL)
children.append(headless)
status = Subscriber("relaiskarte/bench/status")
status.wait_for("relaiskarte/bench/status online", 10)
publisher = subprocess.Popen(["mosquitto_pub", "-p", str(port), "-t", "relaiskarte/bench/relays/set",
                              "-q", "1", "-l"], stdin=subprocess.PIPE)
children.append(publisher)
latencies = []
for i in range(10 if quick else 200):
    time.sleep(random.uniform(0.05, 0.15))  # commands fall anywhere in the tick
    drain(master)
    value = f"{(i % 2) * 4 + 1:05d}"
    sent = time.monotonic()
    publisher.stdin.write(f"{int(value)}\n".encode()); publisher.stdin.flush()
    data, end = b"", sent + 1
    while time.monotonic() < end:
        if select.select([master], [], [], 0.002)[0]:
            data += os.read(master, 65536)
            if value.encode() in data:
                latencies.append((time.monotonic() - sent) * 1000)
                break
latencies.sort()
row("command to its frame on the wire, median (ms)", f"{statistics.median(latencies):.1f}")
row("command to its frame on the wire, max (ms)", f"{latencies[-1]:.1f}")
row("commands that reached the wire", f"{len(latencies)} / {10 if quick else 200}")

# Reconnection after a broker restart.
broker.terminate(); broker.wait()
time.sleep(3)
back = time.monotonic()
broker = start_broker()
while time.monotonic() - back < 40:
    r = subprocess.run(["mosquitto_sub", "-p", str(port), "-t", "relaiskarte/bench/status", "-C", "1",
                        "-W", "1"], capture_output=True, text=True)
    if r.stdout.strip() == "online":
        break
row("broker back to states republished (s)", f"{time.monotonic() - back:.2f}")

# CPU and memory, headless: with the bridge connected, without, and the floor.
seconds = 5 if quick else 60
def measure(argv, master):
    p = subprocess.Popen(argv, stderr=subprocess.DEVNULL)
    children.append(p)
    time.sleep(1)
    before, end = cpu_seconds(p.pid), time.monotonic() + seconds
    while time.monotonic() < end:
        if select.select([master], [], [], 0.2)[0]:
            os.read(master, 65536)
    cpu = (cpu_seconds(p.pid) - before) * 60 / seconds * 1000
    rss = peak_rss(p.pid)
    p.terminate(); p.wait()
    return cpu, rss
headless.terminate(); headless.wait()
master, device = unit()
results = [("headless --hold, bridge connected", measure(
               [app, "--port", device, "--hold", "--mqtt", url, "--mqtt-name", "bench"], master)),
           ("headless --hold, no bridge", measure([app, "--port", device, "--hold", "--mask", "4"], master)),
           ("plain C program, same frames (the floor)", measure([floor, device], master))]
for what, (cpu, rss) in results:
    row(f"{what}: CPU (ms per minute)", f"{cpu:.1f}")
    row(f"{what}: peak RSS (MiB)", f"{rss:.1f}")

# Click to the published state, in the window under Xvfb.
display = next(f":{n}" for n in range(250, 299) if not os.path.exists(f"/tmp/.X11-unix/X{n}"))
children.append(subprocess.Popen(["Xvfb", display, "-noreset", "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                                 stderr=subprocess.DEVNULL))
env = {**os.environ, "DISPLAY": display, "XDG_CONFIG_HOME": work}
env.pop("QT_QPA_PLATFORM", None)
time.sleep(1)
window = subprocess.Popen([app, "--mqtt", url, "--mqtt-name", "fenster"], env=env, stderr=subprocess.DEVNULL)
children.append(window)
relay3 = Subscriber("relaiskarte/fenster/relay/3")
relay3.wait_for("relaiskarte/fenster/relay/3 OFF", 10)
wid = ""
for _ in range(100):
    wid = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "Relaiskarte 16"], env=env,
                         capture_output=True, text=True).stdout.split()
    if wid:
        break
    time.sleep(0.1)
clicks = []
for i in range(4 if quick else 30):
    state = "ON" if i % 2 == 0 else "OFF"
    subprocess.run(["xdotool", "mousemove", "--window", wid[0], "196", "136"], env=env)
    sent = time.monotonic()
    clicker = subprocess.Popen(["xdotool", "click", "1"], env=env)  # its own run time is not ours
    seen = relay3.wait_for(f"relaiskarte/fenster/relay/3 {state}")
    if seen:
        clicks.append((seen - sent) * 1000)
    clicker.wait()
    time.sleep(0.1)
clicks.sort()
row("click to its state on the broker, median (ms)", f"{statistics.median(clicks):.1f}")
row("click to its state on the broker, max (ms)", f"{clicks[-1]:.1f}")

for p in children:
    if p.poll() is None:
        p.terminate()
shutil.rmtree(work, ignore_errors=True)
