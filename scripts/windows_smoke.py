#!/usr/bin/env python3
"""Windows smoke test: trimora.exe under Wine against the Linux trimora-sim on loopback.

Usage: windows_smoke.py TRIMORA_EXE TRIMORA_SIM

Starts the simulator on free loopback ports, makes a fresh Wine prefix and working folder in a
temporary folder, and runs the program three times, each time with a freshly written settings file
that points both instruments at 127.0.0.1:

  1. interactive, keys typed on a pseudo-terminal, so that they reach the program through Wine's
     console and _getch, and standard output on a pipe: banner, both instruments identified, the menu, an unknown key,
     the voltage assessment of CH3, the DMM address dialog with an edit and Esc, then X and the
     settings file;
  2. standard input from /dev/null (and the DMM's port refusing connections): no console to read
     keys from, so the program ends as with X;
  3. the terminal hung up while the program waits for a key: the same.

Every wait is bounded. On failure the program's output is printed. Wine, its server and the
simulator are always stopped at the end, and the temporary folder removed.
"""

import os
import pty
import re
import select
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import termios
import time

STARTUP_TIMEOUT_S = 90        # first start of the program in a new prefix, connects included
KEY_TIMEOUT_S = 30            # answer to one key
PROCEDURE_TIMEOUT_S = 180     # the voltage assessment of CH3 (about 25 s)
EXIT_TIMEOUT_S = 30
WINEBOOT_TIMEOUT_S = 240
TOTAL_TIMEOUT_S = 900         # last resort for the whole script

EQUALS_LINE = "=" * 52 + "\n"
MENU = ("A. Assess Channel Voltage Accuracy\n"
        "I. Assess Channel Current Accuracy\n"
        "C. Factory Current Calibration\n"
        "V. Factory Voltage Calibration\n"
        "F. Do FULL Voltage Calibration with Corrections\n\n"
        "D. Set DP832 IP Address and Port\n"
        "M. Set DMM IP Address and Port\n"
        "S. Set Session Details\n\n"
        "X. Exit\n\nCommand >")
STAMP = r"\d\d/\d\d/\d{4} \d\d:\d\d:\d\d"
ESC_ESC = b"\x1b\x1b"  # Wine's console swallows a lone Esc; two in one write deliver one 27
BACKSPACE = b"\x7f"    # the terminal's erase key; Wine's console gives it as 8


class SmokeFailure(Exception):
    pass


def log(text):
    print("windows smoke: " + text, flush=True)


def find_wine():
    """The 64-bit Wine loader and its server, preferring Debian's private paths."""
    loader = os.environ.get("WINE")
    server = os.environ.get("WINESERVER")
    if not loader:
        for candidate in ("/usr/lib/wine/wine64", shutil.which("wine64"), shutil.which("wine")):
            if candidate and os.access(candidate, os.X_OK):
                loader = candidate
                break
    if not server:
        for candidate in ("/usr/lib/wine/wineserver64", "/usr/lib/wine/wineserver",
                          shutil.which("wineserver")):
            if candidate and os.access(candidate, os.X_OK):
                server = candidate
                break
    if not loader or not server:
        raise SmokeFailure("Wine is not installed (no wine64/wine loader or wineserver found)")
    return loader, server


def wine_environment(prefix, loader, server):
    env = dict(os.environ)
    for name in ("DISPLAY", "WAYLAND_DISPLAY"):
        env.pop(name, None)  # headless: nothing may try to open a window
    env["WINEPREFIX"] = prefix
    env["WINEDEBUG"] = "-all"
    env["WINELOADER"] = loader
    env["WINESERVER"] = server
    # No Mono or Gecko installers and no menu entries: no dialogs, no downloads.
    env["WINEDLLOVERRIDES"] = "mscoree,mshtml,winemenubuilder.exe="
    env["LC_ALL"] = "C"
    return env


# The settings file that the simulator wrote (--write-settings) for the ports it serves.
SETTINGS_TEMPLATE = []


def write_settings(folder, dmm_port, psu_port):
    """The settings file: both instruments on loopback. Always written before the program starts,
    as a fresh copy of the simulator's own, with a port of its own where a run wants one (a port where
    nothing listens)."""
    with open(SETTINGS_TEMPLATE[0]) as f:
        text = f.read()
    for key, port in (("DMM_Port", dmm_port), ("DP832_Port", psu_port)):
        text, count = re.subn(r"^%s    \d+$" % key, "%s    %d" % (key, port), text, flags=re.M)
        if count != 1:
            raise SmokeFailure("the simulator's settings file has no single %s line:\n%s" % (key, text))
    path = os.path.join(folder, "QUELT_Trimora.cfg")
    with open(path, "w") as f:
        f.write(text)
    return path


def check_saved_settings(path, dmm_port, psu_port):
    """X (or a closed console) saves seven lines: the two loopback addresses and a fresh run time."""
    with open(path, "rb") as f:
        raw = f.read().decode("latin-1")
    lines = raw.replace("\r\n", "\n").split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    if len(lines) != 7:
        raise SmokeFailure("settings file has %d lines, expected 7:\n%s" % (len(lines), raw))
    values = {}
    for line in lines:
        m = re.match(r"^(\w+)\s+(.*)$", line)
        if not m:
            raise SmokeFailure("settings line not understood: %r" % line)
        values[m.group(1)] = m.group(2)
    expected = {"DMM_IP": "127.0.0.1", "DMM_Port": str(dmm_port), "DMM_Connect_Method": "TCP.SCPI",
                "DP832_IP": "127.0.0.1", "DP832_Port": str(psu_port),
                "DP832_Connect_Method": "TCP.SCPI"}
    for key, value in expected.items():
        if values.get(key) != value:
            raise SmokeFailure("settings file: %s is %r, expected %r" % (key, values.get(key), value))
    if not re.fullmatch('"' + STAMP + '"', values.get("Last_Run_Time", "")):
        raise SmokeFailure("settings file: Last_Run_Time %r is not a fresh date and time"
                           % values.get("Last_Run_Time"))


class Simulator:
    def __init__(self, binary, folder):
        self.out_path = os.path.join(folder, "simulator.out")
        self.err_path = os.path.join(folder, "simulator.err")
        self.settings_path = os.path.join(folder, "simulator.cfg")
        self.proc = None
        self.binary = binary

    def start(self):
        with open(self.out_path, "w") as out, open(self.err_path, "w") as err:
            self.proc = subprocess.Popen(
                [self.binary, "--dmm-port", "0", "--psu-port", "0", "--bind", "127.0.0.1",
                 "--wire", "auto", "--measurement-ms", "50", "--write-settings", self.settings_path],
                stdin=subprocess.DEVNULL, stdout=out, stderr=err)
        deadline = time.monotonic() + 15
        while time.monotonic() < deadline:
            with open(self.out_path) as f:
                text = f.read()
            dmm = re.search(r"^DMM listening on 127\.0\.0\.1:(\d+)$", text, re.M)
            psu = re.search(r"^DP832 listening on 127\.0\.0\.1:(\d+)$", text, re.M)
            if dmm and psu:
                SETTINGS_TEMPLATE[:] = [self.settings_path]
                return int(dmm.group(1)), int(psu.group(1))
            if self.proc.poll() is not None:
                break
            time.sleep(0.1)
        with open(self.err_path) as f:
            raise SmokeFailure("the simulator did not start: " + f.read())

    def stop(self):
        if self.proc is None or self.proc.poll() is not None:
            return
        self.proc.terminate()
        try:
            self.proc.wait(10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait(10)


class Program:
    """trimora.exe under Wine: standard output and error on pipes, standard input on a terminal
    (or /dev/null)."""

    def __init__(self, loader, exe, folder, env, terminal=True):
        self.master = self.slave = None
        if terminal:
            self.master, self.slave = pty.openpty()
            stdin = self.slave
        else:
            stdin = subprocess.DEVNULL
        # Own session, so that the whole Wine process group can be stopped at the end.
        self.proc = subprocess.Popen([loader, exe], cwd=folder, env=env, stdin=stdin,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                     start_new_session=True)
        self.raw = b""
        self.err = b""
        self.pos = 0
        self.open_pipes = [self.proc.stdout, self.proc.stderr]

    def text(self):
        # Standard output is in text mode on Windows: lines end in CR LF.
        return self.raw.decode("latin-1").replace("\r\n", "\n")

    def pump(self, seconds):
        """Collects output for up to seconds; returns early once something arrived."""
        readers = list(self.open_pipes)
        if self.master is not None:
            readers.append(self.master)
        if not readers:
            time.sleep(seconds)
            return
        ready, _, _ = select.select(readers, [], [], seconds)
        for r in ready:
            if r is self.master:
                try:
                    os.read(self.master, 4096)  # whatever Wine's console writes to the terminal
                except OSError:
                    pass
                continue
            data = os.read(r.fileno(), 65536)
            if not data:
                self.open_pipes.remove(r)
            elif r is self.proc.stdout:
                self.raw += data
            else:
                self.err += data

    def expect(self, pattern, timeout, what, literal=True):
        """Waits until pattern appears after the previous match; returns the match."""
        regex = re.compile(re.escape(pattern) if literal else pattern)
        deadline = time.monotonic() + timeout
        while True:
            m = regex.search(self.text(), self.pos)
            if m:
                self.pos = m.end()
                return m
            if self.proc.poll() is not None and not self.open_pipes:
                raise SmokeFailure("%s: the program ended (exit code %s) first"
                                   % (what, self.proc.returncode))
            left = deadline - time.monotonic()
            if left <= 0:
                raise SmokeFailure("%s: not seen within %d s" % (what, timeout))
            self.pump(min(left, 0.2))

    def wait_for_raw_mode(self, timeout):
        """Wine puts the terminal into raw mode at the program's first console read only; keys typed
        before that would be taken as a line."""
        deadline = time.monotonic() + timeout
        while termios.tcgetattr(self.slave)[3] & termios.ICANON:
            if self.proc.poll() is not None:
                raise SmokeFailure("the program ended before reading a key")
            if time.monotonic() > deadline:
                raise SmokeFailure("the terminal did not switch to raw mode within %d s" % timeout)
            self.pump(0.05)

    def type(self, data):
        os.write(self.master, data)

    def hang_up(self):
        for fd in (self.master, self.slave):
            if fd is not None:
                os.close(fd)
        self.master = self.slave = None

    def wait_exit(self, timeout):
        deadline = time.monotonic() + timeout
        while self.proc.poll() is None:
            if time.monotonic() > deadline:
                raise SmokeFailure("the program did not end within %d s" % timeout)
            self.pump(0.1)
        # The rest of the output.
        end = time.monotonic() + 5
        while self.open_pipes and time.monotonic() < end:
            self.pump(0.1)
        return self.proc.returncode

    def kill(self):
        if self.proc.poll() is None:
            try:
                os.killpg(self.proc.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            self.proc.wait(10)
        self.hang_up()
        for pipe in (self.proc.stdout, self.proc.stderr):
            pipe.close()

    def report(self):
        out = self.text()
        print("---- program output (standard output, %d bytes; already checked up to byte %d) ----"
              % (len(out), self.pos))
        print(out[-6000:] if len(out) > 6000 else out)
        print("---- standard error ----")
        print(self.err.decode("latin-1")[-3000:])
        print("----")


def menu_after(program, what, dmm_port, psu_port, timeout=KEY_TIMEOUT_S):
    """The header with both instruments identified, then the menu."""
    program.expect(EQUALS_LINE + "Trimora\nVersion 1.1", timeout, what + ": header")
    program.expect(r"Instruments Detected: \( " + STAMP + r" \)\n"
                   r"[^\n]*DMM[^\n]* at 127\.0\.0\.1:%d\n"
                   r"[^\n]*DP832[^\n]* at 127\.0\.0\.1:%d\n" % (dmm_port, psu_port),
                   timeout, what + ": both instruments in the header", literal=False)
    program.expect(EQUALS_LINE + "\n" + MENU, timeout, what + ": menu")


def interactive_run(loader, exe, folder, env, dmm_port, psu_port, timings):
    settings = write_settings(folder, dmm_port, psu_port)
    program = Program(loader, exe, folder, env, terminal=True)
    try:
        started = time.monotonic()
        # Banner, connects and identification.
        program.expect("Trimora\n", STARTUP_TIMEOUT_S, "banner title")
        program.expect(r"Current Time and Date: " + STAMP + r"\nLast run: NONE\nVersion 1\.0",
                       KEY_TIMEOUT_S, "banner date and last run", literal=False)
        program.expect("\n I N S T R U M E N T    S E T U P\n\n", KEY_TIMEOUT_S, "banner end")
        program.expect("Connecting to DMM on IP 127.0.0.1, Port %d...OK!\n" % dmm_port,
                       STARTUP_TIMEOUT_S, "DMM connected")
        program.expect(r"Checking DMM read data\.*OK!\n\n", STARTUP_TIMEOUT_S, "DMM reading",
                       literal=False)
        program.expect("Connecting to DP832 on IP 127.0.0.1, Port %d...OK!\n\n" % psu_port,
                       STARTUP_TIMEOUT_S, "DP832 connected and identified")
        menu_after(program, "start-up", dmm_port, psu_port, STARTUP_TIMEOUT_S)
        program.wait_for_raw_mode(STARTUP_TIMEOUT_S)
        timings.append(("start-up to the first key", time.monotonic() - started))

        # An unknown key: the connection check passes, then the message.
        program.type(b"q")
        program.expect("Q\n\n\a?Unknown command.\n\n", KEY_TIMEOUT_S, "unknown key")
        menu_after(program, "after the unknown key", dmm_port, psu_port)

        # The voltage accuracy assessment of CH3: 22 points from 0 V in steps of 0.25 V.
        started = time.monotonic()
        program.type(b"a")
        program.expect("A\nWhat channel (1, 2, or 3) to do voltage accuracy assessment on?",
                       KEY_TIMEOUT_S, "assessment channel question")
        program.type(b"3")
        program.expect("3\n\nCH3 output ON...\n", KEY_TIMEOUT_S, "assessment start")
        for k in range(22):
            program.expect("Correction: Setpoint %7.4f V, Error: " % (k * 0.25), PROCEDURE_TIMEOUT_S,
                           "assessment point %d" % (k + 1))
            program.expect(r" *-?\d+\.\d{3} mV\n", KEY_TIMEOUT_S, "assessment point %d error" % (k + 1),
                           literal=False)
        program.expect(r"CH3 output OFF\.\.\.\n SS Error: +\d+\.\d{5} mV\^2\nRMS Error: +\d+\.\d{5} mV\nReadback: [A-Z ]+, largest error +\d+\.\d{5} mV\n\n",
                       KEY_TIMEOUT_S, "assessment summary", literal=False)
        menu_after(program, "after the assessment", dmm_port, psu_port)
        timings.append(("voltage assessment of CH3", time.monotonic() - started))

        # The DMM address dialog: edit the host, go on to the port, leave with Esc.
        program.type(b"m")
        program.expect("M\n", KEY_TIMEOUT_S, "DMM dialog key")
        program.expect("IP address or hostname: 127.0.0.1\nService Port: %d\n\n"
                       "New IP Address ([ESC] to quit): >127.0.0.1" % dmm_port,
                       KEY_TIMEOUT_S, "DMM dialog host prompt")
        program.type(BACKSPACE)
        program.expect("\b \b", KEY_TIMEOUT_S, "backspace in the host field")
        program.type(b"9")
        program.expect("9", KEY_TIMEOUT_S, "typed digit in the host field")
        program.type(b"\r")
        program.expect("New Service Port ([ESC] to quit): >%d" % dmm_port, KEY_TIMEOUT_S,
                       "DMM dialog port prompt")
        program.type(ESC_ESC)
        # Esc prints nothing: the header follows on the prompt's line, and nothing has changed.
        m = program.expect(EQUALS_LINE, KEY_TIMEOUT_S, "header right after Esc")
        between = program.text()[m.start() - 20:m.start()]
        if not between.endswith(">%d" % dmm_port):
            raise SmokeFailure("after Esc, expected the header right after the port prompt, got %r"
                               % between)
        program.pos = m.start()
        menu_after(program, "after Esc", dmm_port, psu_port)
        with open(settings) as f:
            if "DMM_IP    127.0.0.1\n" not in f.read():
                raise SmokeFailure("the settings file changed although the dialog was left with Esc")

        # Nothing stray came after Esc: the next key is still an unknown command.
        program.type(b"?")
        program.expect("?\n\n\a?Unknown command.\n\n", KEY_TIMEOUT_S, "unknown key after the dialog")
        menu_after(program, "after the second unknown key", dmm_port, psu_port)
        if "\x1b" in program.text():
            raise SmokeFailure("an Esc reached the menu as a command key")

        # X: exit code 0 and the settings saved.
        program.type(b"x")
        program.expect("X\n\n\nExiting...\n\n", KEY_TIMEOUT_S, "exit message")
        code = program.wait_exit(EXIT_TIMEOUT_S)
        if code != 0:
            raise SmokeFailure("exit code %s after X, expected 0" % code)
        check_saved_settings(settings, dmm_port, psu_port)
    except SmokeFailure:
        program.report()
        raise
    finally:
        program.kill()


def closed_console_run(loader, exe, folder, env, dmm_port, psu_port, how):
    """No keys can come: the program must end as with X, promptly, with the settings saved.
    With standard input from /dev/null the DMM's port is one where nothing listens, so that the
    refused connect is seen through the Windows socket layer too."""
    refusing = None
    if how != "hang-up":
        # Bound but not listening: connects are refused, and no other process can take the port.
        refusing = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        refusing.bind(("127.0.0.1", 0))
        dmm_port = refusing.getsockname()[1]
    settings = write_settings(folder, dmm_port, psu_port)
    program = Program(loader, exe, folder, env, terminal=(how == "hang-up"))
    try:
        if refusing is not None:
            program.expect("Connecting to DMM on IP 127.0.0.1, Port %d...\n\n\aERROR - Failed to connect "
                           "to DMM!\n\n" % dmm_port, STARTUP_TIMEOUT_S, how + ": refused DMM connect")
            program.expect("Connecting to DP832 on IP 127.0.0.1, Port %d...OK!\n\n" % psu_port,
                           STARTUP_TIMEOUT_S, how + ": DP832 connected")
            program.expect("No DMM detected.\n", STARTUP_TIMEOUT_S, how + ": DMM absent in the header")
        program.expect(EQUALS_LINE + "\n" + MENU, STARTUP_TIMEOUT_S, how + ": menu")
        if how == "hang-up":
            program.wait_for_raw_mode(STARTUP_TIMEOUT_S)
            program.hang_up()
        program.expect("\n\nExiting...\n\n", EXIT_TIMEOUT_S, how + ": exit message")
        code = program.wait_exit(EXIT_TIMEOUT_S)
        if code != 0:
            raise SmokeFailure("%s: exit code %s, expected 0" % (how, code))
        check_saved_settings(settings, dmm_port, psu_port)
    except SmokeFailure:
        program.report()
        raise
    finally:
        program.kill()
        if refusing is not None:
            refusing.close()


def on_signal(number, _frame):
    raise SmokeFailure("stopped by signal %d" % number)


def main(argv):
    if len(argv) != 3:
        print(__doc__.split("\n\n")[1], file=sys.stderr)
        return 2
    exe, sim_binary = os.path.abspath(argv[1]), os.path.abspath(argv[2])
    for path in (exe, sim_binary):
        if not os.path.isfile(path):
            print("windows smoke: %s is missing" % path, file=sys.stderr)
            return 2
    signal.signal(signal.SIGTERM, on_signal)
    signal.signal(signal.SIGALRM, on_signal)
    signal.alarm(TOTAL_TIMEOUT_S)

    began = time.monotonic()
    timings = []
    temporary = tempfile.mkdtemp(prefix="trimora-windows-smoke-")
    folder = os.path.join(temporary, "work")
    os.mkdir(folder)
    simulator = Simulator(sim_binary, temporary)
    env = None
    server = None
    try:
        loader, server = find_wine()
        env = wine_environment(os.path.join(temporary, "prefix"), loader, server)
        dmm_port, psu_port = simulator.start()
        log("simulated DMM on 127.0.0.1:%d, DP832 on 127.0.0.1:%d" % (dmm_port, psu_port))

        started = time.monotonic()
        boot = subprocess.run([loader, "wineboot", "--init"], env=env, cwd=temporary,
                              stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, timeout=WINEBOOT_TIMEOUT_S)
        if boot.returncode != 0:
            raise SmokeFailure("wineboot --init failed:\n" + boot.stdout.decode("latin-1"))
        # One server for all runs, kept up until the end and not holding the program's pipes.
        subprocess.run([server, "-p"], env=env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)
        timings.append(("wineboot --init", time.monotonic() - started))

        log("interactive run on a pseudo-terminal")
        interactive_run(loader, exe, folder, env, dmm_port, psu_port, timings)
        for how in ("standard input from /dev/null", "hang-up"):
            log("closed console: " + how)
            started = time.monotonic()
            closed_console_run(loader, exe, folder, env, dmm_port, psu_port, how)
            timings.append(("closed console, " + how, time.monotonic() - started))
    except (SmokeFailure, subprocess.TimeoutExpired) as failure:
        log("FAILED: %s" % failure)
        return 1
    finally:
        signal.alarm(0)
        if server is not None:
            subprocess.run([server, "-k"], env=env, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
        simulator.stop()
        shutil.rmtree(temporary, ignore_errors=True)
    for name, seconds in timings:
        log("%-45s %6.1f s" % (name, seconds))
    log("passed in %.1f s" % (time.monotonic() - began))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
