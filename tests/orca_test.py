#!/usr/bin/env python3
"""The window as a blind user hears it: the Orca screen reader itself, in a
German session of its own (private session bus, Xvfb, a window manager,
speech-dispatcher whose "synthesizer" writes what it gets to a file). Orca is
started after the program, while accessibility is switched off, as when a
user turns the screen reader on for the first time; then the program is
started again with Orca running. What Orca said is read from its own log.
The link runs on a pseudo-terminal. Exit 77: skipped.
Usage: orca_test.py RELAISKARTE"""

import os, pty, re, select, shutil, signal, subprocess, sys, tempfile, time

app = os.path.abspath(sys.argv[1])
tools = ("Xvfb", "xdotool", "openbox", "orca", "speech-dispatcher", "dbus-run-session", "busctl",
         "localedef")
for tool in tools:
    if not shutil.which(tool):
        print(f"SKIP: {tool} is not installed"); sys.exit(77)
if not os.path.exists("/usr/lib/speech-dispatcher-modules/sd_generic"):
    print("SKIP: speech-dispatcher's generic module is not installed"); sys.exit(77)

# Everything the session writes (dconf, Orca's settings, the locale) stays in
# a folder of its own: the user's real settings are never touched.
if "--inside" not in sys.argv:
    work = tempfile.mkdtemp(prefix="orca-test-")
    env = dict(os.environ, HOME=work, XDG_CONFIG_HOME=f"{work}/config", XDG_DATA_HOME=f"{work}/data",
               XDG_CACHE_HOME=f"{work}/cache", XDG_RUNTIME_DIR=f"{work}/run", ORCA_TEST_WORK=work)
    for gone in ("DBUS_SESSION_BUS_ADDRESS", "QT_QPA_PLATFORM", "QT_LINUX_ACCESSIBILITY_ALWAYS_ON",
                 "AT_SPI_BUS_ADDRESS", "DISPLAY", "WAYLAND_DISPLAY"):
        env.pop(gone, None)
    os.makedirs(f"{work}/run", mode=0o700)
    code = subprocess.run(["dbus-run-session", "--", sys.executable, __file__, app, "--inside"],
                          env=env).returncode
    shutil.rmtree(work, ignore_errors=True)
    sys.exit(code)

work = os.environ["ORCA_TEST_WORK"]
children = []
run = lambda *cmd: subprocess.run(cmd, capture_output=True, text=True)
def fail(why):
    print("FAIL:", why)
    shutdown()
    sys.exit(1)
def shutdown():
    for p in reversed(children):
        if p.poll() is None:
            p.terminate()
            try: p.wait(10)
            except subprocess.TimeoutExpired: p.kill()
    run("pkill", "-f", f"{work}/")  # speech-dispatcher's module, if left

# A German locale of our own: no root needed, whatever the system has.
locales = f"{work}/locale"
os.makedirs(locales)
if run("localedef", "-i", "de_DE", "-f", "UTF-8", f"{locales}/de_DE.UTF-8").returncode not in (0, 1):
    print("SKIP: the German locale cannot be made (package locales)"); sys.exit(77)
os.environ.update(LOCPATH=locales, LANG="de_DE.UTF-8", LANGUAGE="de", LC_ALL="de_DE.UTF-8")

# speech-dispatcher on ALSA's null device, its synthesizer a line in a file.
said = f"{work}/said.txt"
open(said, "w").close()
conf = f"{work}/config/speech-dispatcher"
os.makedirs(f"{conf}/modules")
with open(f"{conf}/speechd.conf", "w") as f:
    f.write(f'AudioOutputMethod "alsa"\nAudioALSADevice "null"\nAddModule "capture" "sd_generic" '
            f'"capture.conf"\nDefaultModule capture\nDefaultLanguage "de"\nLogDir "{work}"\n'
            'SymbolsPreproc "char"\nSymbolsPreprocFile "symbols.dic"\nSymbolsPreprocFile "orca.dic"\n')
with open(f"{conf}/modules/capture.conf", "w") as f:
    f.write(f'GenericExecuteSynth "printf \'%s\\\\n\' \\\'$DATA\\\' >> {said}"\n'
            'GenericLanguage "de" "de" "utf-8"\nAddVoice "de" "MALE1" "de"\n')

display = next(f":{n}" for n in range(90, 140) if not os.path.exists(f"/tmp/.X11-unix/X{n}"))
children.append(subprocess.Popen(["Xvfb", display, "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                                 stderr=subprocess.DEVNULL))
os.environ["DISPLAY"] = display
def wait_for(check, what, seconds=20):
    end = time.time() + seconds
    while time.time() < end:
        if check():
            return
        time.sleep(0.1)
    fail(what() if callable(what) else what)
wait_for(lambda: run("xdotool", "getmouselocation").returncode == 0, "Xvfb did not start")
children.append(subprocess.Popen(["openbox"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
children.append(subprocess.Popen(["speech-dispatcher", "-s", "-t", "0"], stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL))

# The accessibility bus runs, switched off, as in a desktop session before a
# screen reader is turned on.
a11y = ["busctl", "--user", "set-property", "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Status"]
run("busctl", "--user", "call", "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress")
if run(*a11y, "IsEnabled", "b", "false").returncode != 0:
    fail("the accessibility bus did not start")

master, slave = pty.openpty()
device = os.ttyname(slave)
os.close(slave)
def wire(wait=0.5):
    data, end = b"", time.time() + wait
    while time.time() < end:
        if select.select([master], [], [], 0.05)[0]:
            try: data += os.read(master, 4096)
            except OSError: break
    return data

errors = f"{work}/program.err"
def start_program():
    p = subprocess.Popen([app], stderr=open(errors, "a"))
    children.append(p)
    # A cold machine's first start activates the accessibility registry and
    # builds font caches: allow for it, and say what the program said.
    def why():
        state = "running" if p.poll() is None else f"exited {p.returncode}"
        return f"the window did not appear (program {state}, its stderr: {open(errors).read()[-600:]!r})"
    wait_for(lambda: run("xdotool", "search", "--onlyvisible", "--name", "Relaiskarte 16").stdout.strip(),
             why, 60)
    return p
def heard():
    with open(said) as f:
        return f.read()
def key(name, expect):
    before = len(heard())
    run("xdotool", "key", name)
    wait_for(lambda: expect in heard()[before:], f"after {name}, never heard {expect!r}: {heard()[before:]!r}")
    time.sleep(0.4)  # let Orca finish the utterance before the next step
bus = ["busctl", "--user", "call", "de.korvander.Relaiskarte", "/Relaiskarte", "de.korvander.Relaiskarte1"]
def call(*args, expect):
    before = len(heard())
    if run(*bus, *args).returncode != 0:
        fail(f"D-Bus {args} failed")
    wait_for(lambda: expect in heard()[before:], f"after {args}, never heard {expect!r}: {heard()[before:]!r}")
    time.sleep(0.4)

log = f"{work}/orca.log"
try:
    # 1. The program first, then Orca: it must be heard all the same.
    program = start_program()
    time.sleep(1)
    orca = subprocess.Popen(["orca", "--debug-file", log], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    children.append(orca)
    wait_for(lambda: "Beenden" in heard(), f"Orca started after the program heard nothing: {heard()!r}", 60)
    print("ok: Orca started after the program reads it (focus on Beenden)")

    key("Tab", "Relais-4")                      # into the relay group
    key("space", "Relais 4 eingeschaltet")      # what the toggle means
    key("shift+Tab", "Beenden")
    key("shift+Tab", "Start")
    key("shift+Tab", "Schnittstelle")           # the port list by its name
    key("Tab", "Start")
    call("SetRelay", "ub", "5", "true", expect="Relais 5 eingeschaltet")  # focus stays on Start/Stop
    call("Start", "s", device, expect="Verbindung läuft")
    key("space", "Verbindung gestoppt")         # Start/Stop still has the focus
    key("space", "Verbindung läuft")            # and starts again on the device shown
    frames = wire()
    if not frames.endswith(b"00024") or len(frames) % 5:
        fail(f"not 00024 on the wire after the restart: {frames[-20:]!r}")
    print("ok: relays and the link heard by what they mean, from keys and from D-Bus; frames 00024")
    program.send_signal(signal.SIGTERM)
    program.wait(10)

    # 2. Orca first, then the program.
    start_program()
    wait_for(lambda: heard().count("Relaiskarte 16 von Korvander") >= 2, "a program started under Orca was not read")
    key("Tab", "Relais-4")
    print("ok: a program started while Orca runs is read")
finally:
    shutdown()

# Orca's own log, written out as Orca ends: each utterance, continuation lines
# joined.
utterances = []
with open(log, errors="replace") as f:
    for line in f:
        m = re.match(r"\S+ - SPEECH OUTPUT: '(.*)", line)
        if m:
            utterances.append(m.group(1))
        elif utterances and line.startswith(" ") and not utterances[-1].endswith("}"):
            utterances[-1] += " " + line.strip()
utterances = [re.sub(r"'\s*[\[{].*$", "", u) for u in utterances]
print("Orca said:", " | ".join(utterances))
def said_in_order(expected):
    i = 0
    for u in utterances:
        if i < len(expected) and expected[i] in u:
            i += 1
    return i == len(expected)
expected = ["Beenden Druckknopf", "C-Control II, Relais 1 bis 16", "Relais-4 Kontrollkästchen",
            "Benachrichtigung Relais 4 eingeschaltet", "Schnittstelle Bearbeitbares Auswahlfeld",
            "Benachrichtigung Relais 5 eingeschaltet", "Benachrichtigung Verbindung läuft",
            "Benachrichtigung Verbindung gestoppt", "Benachrichtigung Verbindung läuft"]
if not said_in_order(expected):
    fail(f"Orca's log lacks, in this order, {expected}")
if any("-->" in u for u in utterances) or "größer als" in heard():
    fail("the relay group's title arrow is read out")
port_list = next(i for i, u in enumerate(utterances) if "Schnittstelle" in u)
if "ausgewählt" in " ".join(utterances[port_list:port_list + 2]):
    fail(f"the port list at start sounds chosen: {utterances[port_list:port_list + 2]}")
print("ok: Orca's log has every utterance in order; the group and the port list read well")
with open(errors) as f:
    warnings = [l for l in f if "QAccessible" in l or "Fix my children" in l]
if warnings:
    fail(f"Qt accessibility warnings: {warnings[:2]}")
print("ok: no Qt accessibility warning")
