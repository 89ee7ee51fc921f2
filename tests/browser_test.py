#!/usr/bin/env python3
"""The web panel's page in Debian's Chromium (headless, driven by Selenium)
beside the real window under Xvfb, on a private session bus, with a real
broker on 127.0.0.1: log in, switch, see changes made by D-Bus, MQTT and
the window arrive, the layout on a phone and a desktop, in light and dark,
axe-core, a foreign page that tries to switch through the browser, and the
page finding the program again after a restart. Screenshots go to
$SCREENSHOT_DIR when set. Exit 77: skipped. Usage: browser_test.py RELAISKARTE"""

import http.server, json, os, re, signal, subprocess, sys, threading, time, urllib.request
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import Broker, Session, Unit, free_port, need, run

app = os.path.abspath(sys.argv[1])
need("chromium", "chromedriver", "Xvfb", "xdotool", "busctl", "mosquitto", "mosquitto_pub")
try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
except ImportError:
    print("SKIP: python3-selenium is not installed")
    sys.exit(77)
AXE = os.path.join(os.environ.get("XDG_CACHE_HOME") or os.path.expanduser("~/.cache"),
                   "relaiskarte-test-npm/node_modules/axe-core/axe.min.js")
if not os.path.exists(AXE):
    print(f"SKIP: axe-core is not installed ({AXE}; tools/setup --for-tests installs it)")
    sys.exit(77)

session = Session("browser-test-")
work = session.work
fail, wait_for = session.fail, session.wait_for
shots = os.environ.get("SCREENSHOT_DIR") or work
os.chmod(work, 0o755)  # mosquitto started as root writes its log as the user "mosquitto"
home = f"{work}/home"
os.makedirs(home)
PASSWORD = "Heizung-aus-2026"
TITLE = "Relaiskarte 16 von Korvander"

session.start_display()
env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=f"{home}/.config")
broker = Broker(session)
unit = Unit(session)
port = free_port()
base = f"http://127.0.0.1:{port}"
if subprocess.run([app, "--set-web-password"], input=PASSWORD + "\n", text=True, env=env,
                  capture_output=True).returncode:
    fail("--set-web-password failed")
token = run(app, "--new-web-token", "test", env=env).stdout.split()[-1]
bus = ["busctl", "--user", "call", "de.korvander.Relaiskarte", "/Relaiskarte", "de.korvander.Relaiskarte1"]


def start_window():
    p = session.start("relaiskarte", [app, "--web", f"127.0.0.1:{port}", "--mqtt",
                                      f"mqtt://127.0.0.1:{broker.port}", "--mqtt-name", "web"], env=env)
    wid = session.window(TITLE, program=p)
    def up():
        try:
            urllib.request.urlopen(base + "/", timeout=1)
            return True
        except OSError:
            return False
    wait_for(up, "the panel did not come up with the window")
    return p, wid


def api_state():
    r = urllib.request.Request(base + "/api/state", headers={"Authorization": f"Bearer {token}"})
    return json.load(urllib.request.urlopen(r, timeout=5))


# A schedule the window runs: an event half a day ahead (nothing switches
# during the test), shown on the page with the coming times.
os.makedirs(f"{home}/.config", exist_ok=True)
ahead = time.strftime("%H:%M", time.gmtime(time.time() + 12 * 3600))
with open(f"{home}/.config/relaiskarte.conf", "w") as f:
    f.write(f"[relay.15]\nname = Brunnen\n[schedule.Brunnen]\nrelays = 15\nzone = UTC\nat = {ahead}\n"
            "action = pulse 5s\n")
window, wid = start_window()
if run(*bus, "Start", "s", unit.device).returncode:
    fail("Start over D-Bus failed")
unit.wait_frame("00000", "the link started over D-Bus")

options = webdriver.ChromeOptions()
options.binary_location = "/usr/bin/chromium"
for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--window-size=390,844",
                 f"--user-data-dir={work}/chromium", "--lang=de", "--no-first-run"):
    options.add_argument(argument)
driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver", log_output=f"{work}/chromedriver.log"),
                          options=options)
session.before_exit.append(driver.quit)
try:
    js = driver.execute_script
    pressed = lambda n: js(f"return document.querySelectorAll('#relays button')[{n - 1}]"
                           ".getAttribute('aria-pressed')") == "true"
    visible = lambda element_id: js(f"return !document.getElementById('{element_id}').hidden")

    def axe(where):
        with open(AXE) as f:
            js(f.read())
        result = driver.execute_async_script(
            "const done = arguments[arguments.length - 1];"
            "axe.run(document).then(r => done(r.violations.map(v => v.id + ': ' + v.nodes.map(n => n.target.join(' ')).join(', '))));")
        if result:
            fail(f"axe-core, {where}: {result}")

    def shot(name):
        path = f"{shots}/web-{name}.png"
        driver.save_screenshot(path)
        return path

    def screen(width, height, phone):
        driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
            "width": width, "height": height, "deviceScaleFactor": 1, "mobile": phone})

    # 1. The login form, in German; axe-core finds nothing on it.
    screen(390, 844, True)
    driver.get(base + "/")
    wait_for(lambda: visible("login"), "no login form")
    timing = js("const p = performance.getEntriesByType('paint').find(e => e.name == 'first-contentful-paint');"
                "return p ? p.startTime : -1;")
    if js("return document.documentElement.lang") != "de" or "Passwort" not in driver.page_source:
        fail("the login form is not German")
    axe("the login form")
    shot("login-phone")
    driver.find_element(By.ID, "password").send_keys(PASSWORD + Keys.ENTER)
    wait_for(lambda: visible("panel"), "the panel did not appear after login")
    weight = js("return performance.getEntriesByType('navigation').concat(performance.getEntriesByType('resource'))"
                ".reduce((s, e) => s + (e.transferSize || 0), 0);")
    print(f"ok: login form in German, logged in; page weight {weight / 1024:.1f} KiB, "
          f"first contentful paint {timing:.0f} ms")
    if weight > 50 * 1024:
        fail(f"the page weighs {weight} bytes")

    # 2. The layout on a phone: sixteen toggles in a 4x4 grid, each at
    #    least 48x48, columns as in the window, no sideways scrolling.
    def layout(width):
        if js("return window.innerWidth") != width:
            fail(f"the page is {js('return window.innerWidth')} px wide, not {width}")
        boxes = js("return [...document.querySelectorAll('#relays button')].map(b => {"
                   "const r = b.getBoundingClientRect();"
                   "return [b.textContent, r.left, r.top, r.width, r.height, b.getAttribute('aria-pressed')]; })")
        # (A relay's caption, then its name where it has one.)
        if [re.match(r"Relais-\d+", b[0]).group(0) for b in boxes] != [f"Relais-{n}" for n in range(1, 17)]:
            fail(f"the relay buttons at {width}: {[b[0] for b in boxes]}")
        if any(b[3] < 48 or b[4] < 48 for b in boxes) or any(b[5] not in ("true", "false") for b in boxes):
            fail(f"a relay button under 48x48 px or not a toggle at {width}: {boxes}")
        columns = {round(b[1]) for b in boxes}
        rows = {round(b[2]) for b in boxes}
        column_of = [sorted(columns).index(round(b[1])) for b in boxes]
        if len(columns) != 4 or len(rows) != 4 or column_of != [n // 4 for n in range(16)]:
            fail(f"not a 4x4 grid with relays 1-4 in the first column at {width}: {boxes}")
        if js("return document.documentElement.scrollWidth > window.innerWidth"):
            fail(f"sideways scrolling at {width}")
        for control in ("port", "start-stop", "link-state"):
            if not js(f"const r = document.getElementById('{control}').getBoundingClientRect();"
                      "return r.width > 0 && r.right <= window.innerWidth"):
                fail(f"{control} not shown whole at {width}")
    layout(390)
    print("ok: at 390x844 sixteen toggles Relais-1 ... Relais-16 in a 4x4 grid, each at least 48x48, "
          "no sideways scrolling")

    # 3. A tap switches the relay on the wire; changes made by D-Bus, by
    #    MQTT and in the window arrive, and are announced politely.
    buttons = lambda: driver.find_elements(By.CSS_SELECTOR, "#relays button")
    buttons()[2].click()
    wait_for(lambda: pressed(3), "Relais-3 not pressed after a tap")
    unit.wait_frame("00004", "a tap on Relais-3")
    figures = {}
    def arrives(what, action, relay):
        t = time.monotonic()
        action()
        wait_for(lambda: pressed(relay), f"a change by {what} did not reach the page")
        figures[what] = (time.monotonic() - t) * 1000
    arrives("D-Bus", lambda: run(app, "--relays", "1,3"), 1)
    arrives("MQTT", lambda: broker.pub("relaiskarte/web/relay/5/set", "ON"), 5)
    arrives("the window", lambda: run("xdotool", "mousemove", "--window", wid, "268", "136", "click", "1"), 7)
    wait_for(lambda: "Relais-7 eingeschaltet" in js("return document.getElementById('announcer').textContent"),
             "the window's change was not announced")
    if js("return document.getElementById('announcer').getAttribute('aria-live')") != "polite":
        fail("the live region is not polite")
    unit.wait_frame("00085", "relays 1, 3, 5 and 7")
    print("ok: a tap sends 00004; changes by " + ", ".join(f"{k} ({v:.0f} ms)" for k, v in figures.items())
          + " arrive and are announced politely")

    # 4. The keyboard alone: tab to a relay and press space.
    js("document.querySelectorAll('#relays button')[8].focus()")
    driver.switch_to.active_element.send_keys(Keys.SPACE)
    wait_for(lambda: pressed(9), "space on the focused Relais-9 did not switch it")
    # One tap, one change: on a slow network a double tap switches once.
    # A slow network, for this page's own requests: each waits 600 ms.
    js("const send = window.fetch;"
       "window.fetch = (...a) => new Promise(r => setTimeout(r, 600)).then(() => send(...a));")
    button10 = buttons()[9]
    button10.click()
    busy = button10.get_attribute("aria-busy")
    button10.click()
    wait_for(lambda: pressed(10) and not button10.get_attribute("aria-busy"), "a double tap on a slow network")
    if busy != "true" or not api_state()["relays"][9]:
        fail(f"a double tap on a slow network: busy {busy!r}, relays {api_state()['relays']}")
    print("ok: space switches the focused relay; a double tap on a slow network shows it waits and switches once")

    # 4b. The schedules: the coming times listed, paused from the page.
    wait_for(lambda: visible("schedules") and "Relais-15 (Brunnen) Impuls 5 s" in
             js("return document.getElementById('schedule').textContent"),
             lambda: "no coming switching on the page: " + js("return document.getElementById('schedules').outerHTML"))
    driver.find_element(By.ID, "pause-schedules").click()
    wait_for(lambda: api_state()["schedules_paused"] is True and
             js("return document.getElementById('pause-schedules').getAttribute('aria-pressed')") == "true",
             "the page's button did not pause the schedules")
    driver.find_element(By.ID, "pause-schedules").click()
    wait_for(lambda: api_state()["schedules_paused"] is False, "the page's button did not resume them")
    history = lambda: js("return document.getElementById('log').textContent")
    wait_for(lambda: "Zeitpläne pausiert" in history() and "Zeitpläne laufen wieder" in history(),
             lambda: f"the pause not in the page's history: {history()!r}")
    print("ok: the page lists the coming switching times and pauses and resumes the schedules")

    # 5. How it looks: phone and desktop, light and dark; axe-core again.
    axe("the panel")
    shot("phone-light")
    driver.execute_cdp_cmd("Emulation.setEmulatedMedia",
                           {"features": [{"name": "prefers-color-scheme", "value": "dark"}]})
    if not js("return matchMedia('(prefers-color-scheme: dark)').matches"):
        fail("dark mode not emulated")
    background = js("return getComputedStyle(document.body).backgroundColor")
    on = js("return getComputedStyle(document.querySelectorAll('#relays button')[0]).backgroundColor")
    shot("phone-dark")
    axe("the panel in dark mode")
    if background in ("rgb(250, 250, 250)", "rgba(0, 0, 0, 0)") or "0, 2" not in on:
        fail(f"dark mode: page {background}, a relay on {on}")
    screen(1280, 800, False)
    layout(1280)
    shot("desktop-dark")
    driver.execute_cdp_cmd("Emulation.setEmulatedMedia", {"features": []})
    shot("desktop-light")
    print(f"ok: 4x4 at 1280x800 too; dark mode ({background}); axe-core finds no violation; screenshots in {shots}")

    # 6. A page from another origin (same machine, other port) tries to
    #    switch Relais-16 through the user's browser: nothing changes.
    evil_port = free_port()
    evil = f"""<!DOCTYPE html><html lang="en"><body>
<form id="f" method="post" action="{base}/api/relays/16/toggle" enctype="text/plain" target="sink">
<input name='{{"on":true,"x":"' value='"}}'></form><iframe name="sink"></iframe>
<script>
fetch("{base}/api/relays/16", {{method: "PUT", credentials: "include",
  headers: {{"Content-Type": "application/json"}}, body: '{{"on":true}}'}}).catch(() => null);
fetch("{base}/api/relays/16/toggle", {{method: "POST", mode: "no-cors", credentials: "include",
  body: '{{}}'}}).catch(() => null);
fetch("{base}/api/relays", {{method: "PUT", mode: "no-cors", credentials: "include",
  headers: {{"Content-Type": "text/plain"}}, body: '{{"mask":65535}}'}}).catch(() => null);
document.getElementById("f").submit();
setTimeout(() => document.title = "done", 1500);
</script></body></html>"""
    class Evil(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            self.send_response(200)
            self.send_header("Content-Type", "text/html")
            self.end_headers()
            self.wfile.write(evil.encode())
        def log_message(self, *args):
            pass
    # Threads of their own: a connection Chromium opens and leaves idle must
    # not hold up the next request, nor the server's end, for a minute.
    server = http.server.ThreadingHTTPServer(("127.0.0.1", evil_port), Evil)
    server.daemon_threads = True
    threading.Thread(target=server.serve_forever, daemon=True).start()
    before = api_state()["mask"]
    driver.get(f"http://127.0.0.1:{evil_port}/")
    wait_for(lambda: driver.title == "done", "the foreign page did not run")
    time.sleep(0.5)
    server.shutdown()
    if api_state()["mask"] != before or api_state()["relays"][15]:
        fail(f"the foreign page switched: {before} -> {api_state()['mask']}")
    print("ok: a foreign page's fetch, no-cors requests and form post through the logged-in browser change nothing")

    # A second window whose panel port is taken says so and runs on without it.
    second = session.start("relaiskarte", [app, "--web", f"127.0.0.1:{port}"], env=env)
    said = lambda: open(session.children[-1][2]).read()
    wait_for(lambda: "Web-Panel: Port" in said(), lambda: f"the taken port was not told: {said()!r}")
    time.sleep(1)
    if second.poll() is not None:
        fail(f"the window ended when its panel's port was taken: {second.returncode}")
    second.terminate()
    second.wait(10)
    print("ok: a window whose panel port is taken says so in one line and runs on without the panel")

    # 7. The program goes and comes back: the page says so, offers no stale
    #    buttons, and finds it again by itself, still logged in.
    driver.get(base + "/")
    screen(390, 844, True)
    wait_for(lambda: visible("panel"), "the panel after going back")
    window.send_signal(signal.SIGTERM)
    if window.wait(10) != 0:
        fail("the window did not end with 0")
    wait_for(lambda: visible("offline") and not visible("panel"), "the page did not notice the program gone")
    if "Verbindung zum Programm unterbrochen" not in js("return document.getElementById('offline').textContent"):
        fail("the offline text")
    shot("offline-phone")
    window, wid = start_window()
    wait_for(lambda: visible("panel") and not visible("offline"), "the page did not find the program again", 20)
    if visible("login"):
        fail("the restart lost the session")
    print("ok: with the program gone the page says \"Verbindung zum Programm unterbrochen\" without buttons, "
          "and finds it again after a restart, still logged in")
finally:
    session.stop()
