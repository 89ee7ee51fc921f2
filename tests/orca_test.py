#!/usr/bin/env python3
"""The window as a blind user hears it: the Orca screen reader itself, in a
German session of its own (private session bus, Xvfb, a window manager,
speech-dispatcher whose "synthesizer" writes what it gets to a file). Orca is
started after the program, while accessibility is switched off, as when a
user turns the screen reader on for the first time; then the program is
started again with Orca running. What Orca said is read from its own log.
The link runs on a pseudo-terminal. Exit 77: skipped.
Usage: orca_test.py RELAISKARTE"""

import os, re, shutil, signal, subprocess, sys, time
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import Session, Unit, need, run

app = os.path.abspath(sys.argv[1])
need("Xvfb", "xdotool", "xwininfo", "import", "convert", "openbox", "orca", "speech-dispatcher", "dbus-run-session", "busctl",
     "localedef")
if not os.path.exists("/usr/lib/speech-dispatcher-modules/sd_generic"):
    print("SKIP: speech-dispatcher's generic module is not installed"); sys.exit(77)

# Everything the session writes (dconf, Orca's settings, the locale) stays in
# a folder of its own: the user's real settings are never touched.
if "--inside" not in sys.argv:
    session = Session("orca-test-")
    work = session.work
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
session = Session(work=work)
fail, wait_for = session.fail, session.wait_for
session.before_exit.append(lambda: run("pkill", "-f", f"{work}/"))  # speech-dispatcher's module, if left

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

session.start_display(window_manager=True)
session.start("speech-dispatcher", ["speech-dispatcher", "-s", "-t", "0"])

# The accessibility bus runs, switched off, as in a desktop session before a
# screen reader is turned on.
a11y = ["busctl", "--user", "set-property", "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Status"]
run("busctl", "--user", "call", "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress")
if run(*a11y, "IsEnabled", "b", "false").returncode != 0:
    fail("the accessibility bus did not start")

unit = Unit(session)
device = unit.device
wire = unit.read

def start_program():
    p = session.start("relaiskarte", [app])
    session.window("Relaiskarte 16", 60, p)
    return p
def heard():
    with open(said) as f:
        return f.read()
def key(name, expect):
    before = len(heard())
    run("xdotool", "key", name)
    wait_for(lambda: expect in heard()[before:], lambda: f"after {name}, never heard {expect!r}: {heard()[before:]!r}")
    time.sleep(0.4)  # let Orca finish the utterance before the next step
bus = ["busctl", "--user", "call", "de.korvander.Relaiskarte", "/Relaiskarte", "de.korvander.Relaiskarte1"]
def call(*args, expect):
    before = len(heard())
    if run(*bus, *args).returncode != 0:
        fail(f"D-Bus {args} failed")
    wait_for(lambda: expect in heard()[before:], lambda: f"after {args}, never heard {expect!r}: {heard()[before:]!r}")
    time.sleep(0.4)

log = f"{work}/orca.log"
try:
    # 0. A hung accessibility registry: the window paints and ticks at once.
    a11y_bus = run("busctl", "--user", "call", "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus",
                   "GetAddress").stdout.split('"')[1]
    registry = ["busctl", f"--address={a11y_bus}", "call"]
    run(*registry, "org.a11y.atspi.Registry", "/org/a11y/atspi/registry", "org.freedesktop.DBus.Peer", "Ping")
    registry_pid = int(run(*registry, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                           "GetConnectionUnixProcessID", "s", "org.a11y.atspi.Registry").stdout.split()[1])
    os.kill(registry_pid, signal.SIGSTOP)
    session.before_exit.append(lambda: os.kill(registry_pid, signal.SIGCONT))
    program = start_program()
    if run("busctl", "--user", "--timeout=5", *bus[2:], "Start", "s", device).returncode != 0:
        fail("with the registry hung, the window did not answer D-Bus")
    unit.wait_frame("00000", "with the registry hung", 5)
    shot = f"{work}/hung.png"
    run("import", "-window", session.window("Relaiskarte 16"), shot)
    if int(run("convert", shot, "-format", "%k", "info:").stdout or 0) < 8:
        fail("with the registry hung, the window is blank")
    program.send_signal(signal.SIGTERM)
    program.wait(10)
    os.kill(registry_pid, signal.SIGCONT)
    print("ok: with the accessibility registry hung, the window paints, answers and ticks at once")

    # 1. The program first, then Orca: it must be heard all the same.
    program = start_program()
    time.sleep(1)
    session.start("orca", ["orca", "--debug-file", log], log=False)
    wait_for(lambda: "Beenden" in heard(), lambda: f"Orca started after the program heard nothing: {heard()!r}", 60)
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
    session.stop()

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
warnings = [l for _, _, path in session.children if path and "relaiskarte" in path
            for l in open(path) if "QAccessible" in l or "Fix my children" in l]
if warnings:
    fail(f"Qt accessibility warnings: {warnings[:2]}")
print("ok: no Qt accessibility warning")
