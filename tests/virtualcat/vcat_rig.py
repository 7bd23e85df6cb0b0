"""A radio shared through Virtual CAT, built from real processes.

    velalog-radiosim (pty)  <->  velalog-cat --virtual  <->  socat pair  <->  rigctl / rigctld

Used by the integration tests in this folder, by those of velalog-cat elsewhere
and by bench/virtualcat. Every process started here is ended by Rig.close() (or
the with-block), by its own process id; Logbook is a web logbook on 127.0.0.1
for the programs to post to.
"""

import http.server
import json
import os
import queue
import shutil
import signal
import socket
import subprocess
import tempfile
import threading
import time

# Radio name (as the tools take it) -> Hamlib model number.
HAMLIB_MODELS = {
    "flex": 2048,
    "ft950": 1028,
    "ft100d": 1021,
    "ft897d": 1043,
    "ic7000": 3060,
    "ic7300": 3073,
}
RADIOS = list(HAMLIB_MODELS)

# VFO positions a test or benchmark moves through: whole kHz, inside the
# amateur bands every radio covers, each with its own frequency text.
FREQUENCIES = [
    7074000, 14074000, 3573000, 21074000, 10136000, 18100000, 28074000, 14080000,
    7030000, 24915000, 1840000, 50313000,
]

GENEROUS = 30.0  # seconds: bound of every wait for an event


class Checks:
    """A test's expectations: each failure is printed at once and counted;
    finish() prints the summary and gives the exit status."""

    def __init__(self, title):
        self.title = title
        self.passed = 0
        self.failed = []

    def expect(self, ok, what):
        if ok:
            self.passed += 1
        else:
            self.failed.append(what)
            print("FAIL %s: %s" % (self.title, what), flush=True)
        return ok

    def finish(self):
        print("%s: %d passed, %d failed" % (self.title, self.passed, len(self.failed)), flush=True)
        return 0 if not self.failed else 1


class RigError(Exception):
    pass


def frequency_text(hz):
    """The program's frequency text: MHz, four decimals, no leading zero."""
    units = hz // 100  # 100 Hz units; finer digits are not shown
    whole, frac = divmod(units, 10000)
    return ("%d" % whole if whole else "") + ".%04d" % frac


def have_tools():
    return all(shutil.which(t) for t in ("socat", "rigctl", "rigctld"))


class Proc:
    """A child process whose standard output lines are collected as they come."""

    def __init__(self, argv, stdin=True, name=None):
        self.name = name or os.path.basename(argv[0])
        self.argv = argv
        self.proc = subprocess.Popen(
            argv,
            stdin=subprocess.PIPE if stdin else subprocess.DEVNULL,
            stdout=subprocess.PIPE,
            stderr=subprocess.PIPE,
            start_new_session=True,
        )
        self.lines = []  # every line so far
        self._new = queue.Queue()
        self.stderr = []
        threading.Thread(target=self._pump, args=(self.proc.stdout, True), daemon=True).start()
        threading.Thread(target=self._pump, args=(self.proc.stderr, False), daemon=True).start()

    def _pump(self, stream, out):
        for raw in stream:
            line = raw.decode("utf-8", "replace").rstrip("\r\n")
            if out:
                self.lines.append(line)
                self._new.put(line)
            else:
                self.stderr.append(line)
        if out:
            self._new.put(None)

    def send(self, line):
        try:
            self.proc.stdin.write((line + "\n").encode())
            self.proc.stdin.flush()
        except (BrokenPipeError, OSError, AttributeError):
            pass

    def wait_line(self, predicate, timeout=GENEROUS):
        """Waits for a new line for which predicate(line) holds; returns it or None."""
        end = time.monotonic() + timeout
        while True:
            left = end - time.monotonic()
            if left <= 0:
                return None
            try:
                line = self._new.get(timeout=left)
            except queue.Empty:
                return None
            if line is None:
                self._new.put(None)  # ended: later waits end at once too
                return None
            if predicate(line):
                return line

    def drain(self):
        """Forgets lines not yet waited for."""
        while True:
            try:
                line = self._new.get_nowait()
            except queue.Empty:
                return
            if line is None:
                self._new.put(None)
                return

    def stop(self, quit_line=None, grace=5.0):
        if self.proc.poll() is None and quit_line:
            self.send(quit_line)
            try:
                self.proc.wait(timeout=grace)
            except subprocess.TimeoutExpired:
                pass
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(timeout=grace)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        for s in (self.proc.stdin, self.proc.stdout, self.proc.stderr):
            try:
                if s:
                    s.close()
            except OSError:
                pass


def read_line(sock):
    """One answer line from a sharing server's socket, without its end (empty: closed)."""
    data = b""
    while not data.endswith(b"\n"):
        chunk = sock.recv(256)
        if not chunk:
            break
        data += chunk
    return data.decode().strip()


def wait_for(check, timeout=GENEROUS):
    """Polls check until it holds or timeout passes; True when it held."""
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        if check():
            return True
        time.sleep(0.05)
    return False


def wait_path(path, timeout=GENEROUS):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        if os.path.exists(path):
            return True
        time.sleep(0.02)
    return False


def free_tcp_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Logbook:
    """A web logbook on 127.0.0.1: records each post (path, content type, JSON
    body) and answers 200 with success."""

    def __init__(self):
        self.posts = []
        outer = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def log_message(self, *args):
                pass

            def do_POST(self):
                body = self.rfile.read(int(self.headers.get("Content-Length", 0)))
                try:
                    data = json.loads(body)
                except ValueError:
                    data = {}
                outer.posts.append((self.path, self.headers.get("Content-Type"), data))
                self.send_response(200)
                self.send_header("Content-Type", "application/json")
                self.end_headers()
                self.wfile.write(b'{"status":"success"}')

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        threading.Thread(target=self.server.serve_forever, daemon=True).start()
        self.origin = "http://127.0.0.1:%d" % self.server.server_address[1]
        self.url = self.origin + "/wavelog/"

    def wait_post(self, hz, timeout=GENEROUS):
        """The first post of the radio's state at hz (None: none came)."""
        def find():
            return next((p for p in list(self.posts) if p[2].get("frequency") == hz), None)

        wait_for(lambda: find() is not None, timeout)
        return find()

    def close(self):
        self.server.shutdown()
        self.server.server_close()


class Rigctld:
    """A long-running rigctld on 127.0.0.1 holding a port, queried over TCP."""

    def __init__(self, radio, port_path, baud, extra=()):
        self.tcp_port = free_tcp_port()
        self.proc = Proc(
            ["rigctld", "-m", str(HAMLIB_MODELS[radio]), "-r", port_path, "-s", str(baud),
             "-T", "127.0.0.1", "-t", str(self.tcp_port)] + list(extra),
            stdin=False,
        )
        self.sock = None
        end = time.monotonic() + GENEROUS
        while time.monotonic() < end and self.proc.proc.poll() is None:
            try:
                self.sock = socket.create_connection(("127.0.0.1", self.tcp_port), timeout=2)
                break
            except OSError:
                time.sleep(0.1)
        if self.sock is None:
            self.close()
            raise RigError("rigctld did not listen: %s" % " | ".join(self.proc.stderr[-5:]))
        self.sock.settimeout(GENEROUS)
        self._buffer = b""

    def query(self, command):
        """Sends one command; returns (first reply line, seconds) or (None, seconds)."""
        start = time.monotonic()
        try:
            self.sock.sendall((command + "\n").encode())
            while b"\n" not in self._buffer:
                chunk = self.sock.recv(4096)
                if not chunk:
                    return None, time.monotonic() - start
                self._buffer += chunk
        except OSError:
            return None, time.monotonic() - start
        line, self._buffer = self._buffer.split(b"\n", 1)
        return line.decode("utf-8", "replace").strip(), time.monotonic() - start

    def close(self):
        if self.sock:
            try:
                self.sock.sendall(b"q\n")
            except OSError:
                pass
            self.sock.close()
            self.sock = None
        self.proc.stop()


def rigctl(radio, port_path, baud, *commands, timeout=GENEROUS):
    """Runs one rigctl session; returns (output lines, seconds). Lines are
    empty when rigctl failed or timed out."""
    argv = ["rigctl", "-m", str(HAMLIB_MODELS[radio]), "-r", port_path, "-s", str(baud)]
    argv += [str(c) for c in commands]
    start = time.monotonic()
    try:
        done = subprocess.run(argv, stdin=subprocess.DEVNULL, capture_output=True,
                              timeout=timeout)
    except subprocess.TimeoutExpired:
        return [], time.monotonic() - start
    seconds = time.monotonic() - start
    if done.returncode != 0:
        return [], seconds
    return done.stdout.decode("utf-8", "replace").splitlines(), seconds


class Rig:
    """The simulator and, unless direct=True, velalog-cat sharing it through a
    socat pair. client_port is where rigctl/rigctld connect."""

    def __init__(self, bin_dir, radio, baud=38400, freq=14074000, mode="usb", direct=False,
                 sim_args=(), cat_args=()):
        self.radio = radio
        self.baud = baud
        self.dir = tempfile.mkdtemp(prefix="vcat-%s-" % radio)
        self.procs = []
        self.sim = None
        self.cat = None
        try:
            sim_link = os.path.join(self.dir, "radio")
            self.sim = self._start(Proc(
                [os.path.join(bin_dir, "velalog-radiosim"), "--radio", radio, "--link", sim_link,
                 "--freq", str(freq), "--mode", mode, "--baud", str(baud)] + list(sim_args),
                name="radiosim"))
            if not self.sim.wait_line(lambda l: l == "ready " + sim_link):
                raise RigError("simulator did not start: %s" % self.sim.stderr[-3:])
            if direct:
                self.client_port = sim_link
                return
            program_end = os.path.join(self.dir, "vcat-program")
            self.client_port = os.path.join(self.dir, "vcat-client")
            self._start(Proc(["socat", "pty,raw,echo=0,link=" + program_end,
                              "pty,raw,echo=0,link=" + self.client_port], stdin=False))
            if not (wait_path(program_end) and wait_path(self.client_port)):
                raise RigError("socat pair did not appear")
            self.cat = self._start(Proc(
                [os.path.join(bin_dir, "velalog-cat"), "--radio", radio, "--device", sim_link,
                 "--virtual-device", program_end, "--baud", str(baud)] + list(cat_args),
                name="velalog-cat"))
            # The program is polling once it reports the radio's start values.
            if not self.cat.wait_line(lambda l: self.rx_frequency(l) == frequency_text(freq)):
                raise RigError("program reported nothing: %s" % self.cat.stderr[-3:])
        except BaseException:
            self.close()
            raise

    def _start(self, proc):
        self.procs.append(proc)
        return proc

    @staticmethod
    def rx_frequency(line):
        parts = line.split("\t")
        return parts[2] if len(parts) == 4 and parts[0] == "rx" else None

    def rx_lines(self):
        return [l for l in self.cat.lines if l.startswith("rx\t")] if self.cat else []

    def move_vfo(self, hz):
        """Turns the simulator's dial and waits until it took the value."""
        self.sim.send("freq %d" % hz)
        if not self.sim.wait_line(lambda l: l == "freq %d" % hz):
            raise RigError("simulator did not take freq %d" % hz)

    def wait_program(self, hz, timeout=GENEROUS):
        """Waits for the program's own report of hz; True when it came."""
        if not self.cat:
            return True
        text = frequency_text(hz)
        return self.cat.wait_line(lambda l: self.rx_frequency(l) == text, timeout) is not None

    def close(self):
        for p in reversed(self.procs):
            p.stop(quit_line="quit" if p in (self.sim, self.cat) else None)
        self.procs = []
        shutil.rmtree(self.dir, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
