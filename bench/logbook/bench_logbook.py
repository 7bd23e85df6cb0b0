#!/usr/bin/env python3
"""Serving a web logbook's API: post latency, click-to-tune latency, idle CPU.

velalog-cat polls the simulated FT-950 and posts to a small logbook server
on 127.0.0.1 (this script), with click-to-tune on a free port.

  post: the simulator's VFO is turned (changes 1.5 s apart, beyond the
        one-post-a-second pacing); the time until the server receives a post
        carrying the new frequency
  tune: a GET /{hz} to the listener; the time until the simulator reports
        its VFO on that frequency
  queue: with --logbook-kind cloudlog, a SET_FREQ command added to the
        logbook's command queue; the time until the simulator reports its
        VFO on that frequency (polled about once a second)
  cpu:  velalog-cat's CPU share of one core over quiet windows, with the API
        (posting and listening) and without it
  exit: with the API on and a network client connected to its rigctld
        server (nothing keyed), the time from SIGTERM until velalog-cat ends
  drain: 600 contacts waiting in the queue file at the start; the time until
        the logbook took them all, and what velalog-cat wrote meanwhile
        (/proc/PID/io wchar, less what the logbook received over HTTP)

Prints:
    post  <p50 ms>  <p95 ms>  <samples>
    tune  <p50 ms>  <p95 ms>  <samples>
    queue <p50 ms>  <p95 ms>  <samples>
    cpu   <with %>  <without %>
    exit  <p50 ms>  <p95 ms>  <samples>
    drain <contacts>  <seconds>  <bytes written>
Every process started here is ended by its own process id.
"""

import argparse
import http.client
import http.server
import json
import os
import signal
import socket
import statistics
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, ".."))
import run_bench as rb  # noqa: E402


class Logbook:
    """Answers every post 200 and notes when each frequency first arrived;
    tells it is Wavelog by api/version, and serves a command queue."""

    def __init__(self):
        self.seen = {}
        self.commands = []
        self.qsos = 0
        self.received = 0
        self.lock = threading.Lock()
        outer = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def log_message(self, *args):
                pass

            def do_GET(self):
                if "/api/radio_commands_pending_by_name/" in self.path:
                    with outer.lock:
                        pending = [c for c in outer.commands if c["status"] == "PENDING"]
                    body = json.dumps({"status": "success", "commands": pending}).encode()
                elif "/api/version" in self.path:
                    body = b'{"status":"ok","version":"2.0.5"}'
                else:
                    body = b"[]"
                self.send_response(200)
                self.send_header("Content-Type", "application/json")
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

            def do_POST(self):
                body = self.rfile.read(int(self.headers.get("Content-Length", 0)))
                at = time.monotonic()
                with outer.lock:
                    outer.received += len(body) + len(str(self.headers)) + len(self.requestline) + 2
                if "/api/qso" in self.path:
                    with outer.lock:
                        outer.qsos += 1
                    reply = b'{"status":"created","adif_count":1}'
                    self.send_response(201)
                    self.send_header("Content-Type", "application/json")
                    self.send_header("Content-Length", str(len(reply)))
                    self.end_headers()
                    self.wfile.write(reply)
                    return
                try:
                    hz = int(json.loads(body).get("frequency", 0))
                except (ValueError, AttributeError):
                    hz = 0
                with outer.lock:
                    outer.seen.setdefault(hz, at)
                    if "/api/radio_commands_update_status/" in self.path:
                        done = json.loads(body).get("command_id")
                        for c in outer.commands:
                            if int(c["id"]) == done:
                                c["status"] = "COMPLETED"
                self.send_response(200)
                self.send_header("Content-Type", "application/json")
                self.end_headers()
                self.wfile.write(b'{"status":"success"}')

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()

    @property
    def url(self):
        return "http://127.0.0.1:%d/" % self.server.server_address[1]

    def arrived(self, hz):
        with self.lock:
            return self.seen.get(hz)

    def close(self):
        self.server.shutdown()
        self.server.server_close()


class Rig:
    def __init__(self, bindir, baud, logbook, extra=(), prepare=None):
        self.dir = tempfile.mkdtemp(prefix="vela-bench-logbook-")
        os.mkdir(os.path.join(self.dir, "ports"))
        if prepare:
            prepare(self.dir)
        self.sim = rb.Proc([os.path.join(bindir, "velalog-radiosim"), "--radio", "ft950", "--link",
                            os.path.join(self.dir, "ports", "com1"), "--baud", str(baud),
                            "--freq", "14074000", "--mode", "usb"])
        self.cat = None
        if not self.sim.wait_for(lambda l: l.startswith("ready")):
            self.close()
            raise RuntimeError("radio simulator did not start")
        argv = [os.path.join(bindir, "velalog-cat"), "--radio", "ft950", "--port", "1",
                "--ports-dir", os.path.join(self.dir, "ports"), "--baud", str(baud),
                "--ini", os.path.join(self.dir, "VelaLog.ini")]
        if logbook:
            argv += ["--logbook-api", logbook.url, "--api-key", "bench123", "--tune-listen", "0"]
        self.cat = rb.Proc(argv + list(extra))
        self.tune_port = None
        self.rigctld_port = None

        def note(line):
            if line.startswith("rigctld\t"):
                self.rigctld_port = int(line.split("\t")[2])
            return line.startswith("tune\t")
        if logbook:
            line = self.cat.wait_for(note)
            if not line:
                self.close()
                raise RuntimeError("velalog-cat did not listen for click-to-tune")
            self.tune_port = int(line.split("\t")[2])
        if not self.cat.wait_for(lambda l: l.startswith("rx")):
            self.close()
            raise RuntimeError("velalog-cat reported nothing")

    def close(self):
        for p in (self.cat, self.sim):
            if p:
                p.close()
        import shutil
        shutil.rmtree(self.dir, ignore_errors=True)


def post_times(rig, logbook, samples):
    times = []
    time.sleep(1.5)  # past the pacing of the first post
    for i in range(samples):
        hz = 14075000 + 1000 * i
        start = time.monotonic()
        rig.sim.send("freq %d" % hz)
        deadline = start + rb.GENEROUS
        while logbook.arrived(hz) is None and time.monotonic() < deadline:
            time.sleep(0.002)
        if logbook.arrived(hz) is not None:
            times.append(1000.0 * (logbook.arrived(hz) - start))
        time.sleep(1.5)
    return times


def tune_times(rig, samples):
    times = []
    for i in range(samples):
        hz = 7040000 + 1000 * i
        start = time.monotonic()
        conn = http.client.HTTPConnection("127.0.0.1", rig.tune_port, timeout=rb.GENEROUS)
        conn.request("GET", "/%d" % hz)
        status = conn.getresponse().status
        conn.close()
        if status == 200 and rig.sim.wait_for(lambda l: l == "freq %d" % hz):
            times.append(1000.0 * (time.monotonic() - start))
        time.sleep(0.5)
    return times


def queue_times(rig, logbook, samples):
    times = []
    for i in range(samples):
        hz = 10110000 + 1000 * i
        start = time.monotonic()
        with logbook.lock:
            logbook.commands.append({"id": str(i + 1), "command_type": "SET_FREQ",
                                     "frequency": str(hz), "mode": "", "status": "PENDING"})
        if rig.sim.wait_for(lambda l: l == "freq %d" % hz):
            times.append(1000.0 * (time.monotonic() - start))
        time.sleep(0.3)
    return times


def exit_times(bindir, baud, logbook, samples):
    times = []
    for _ in range(samples):
        rig = Rig(bindir, baud, logbook, ["--rigctld", "0"])
        try:
            if rig.rigctld_port is None:
                continue
            with socket.create_connection(("127.0.0.1", rig.rigctld_port),
                                          timeout=rb.GENEROUS) as client:
                client.sendall(b"f\n")
                client.recv(100)
                time.sleep(1.0)
                start = time.monotonic()
                rig.cat.p.send_signal(signal.SIGTERM)
                rig.cat.p.wait(timeout=rb.GENEROUS)
                times.append(1000.0 * (time.monotonic() - start))
        finally:
            rig.close()
    return times


def wchar(pid):
    with open("/proc/%d/io" % pid) as f:
        for line in f:
            if line.startswith("wchar:"):
                return int(line.split()[1])
    return 0


def drain(bindir, baud, logbook, count):
    """A queue of count contacts drained: seconds, and bytes written to files."""
    def prepare(folder):
        with open(os.path.join(folder, "LogbookOutbox.jsonl"), "w") as f:
            for i in range(count):
                record = ("<call:6>K%05d <band:3>20m <mode:3>FT8 <qso_date:8>20261208 "
                          "<time_on:6>120000 <rst_sent:3>-10 <rst_rcvd:3>-12 <eor>" % i)
                f.write(json.dumps({"adif": record}) + "\n")
    with logbook.lock:
        logbook.qsos = 0
        logbook.received = 0
    start = time.monotonic()
    rig = Rig(bindir, baud, logbook, ["--station-id", "1"], prepare)
    try:
        before = wchar(rig.cat.pid)
        with logbook.lock:
            received_before = logbook.received
        deadline = time.monotonic() + 600
        while time.monotonic() < deadline:
            with logbook.lock:
                if logbook.qsos >= count:
                    break
            time.sleep(0.05)
        seconds = time.monotonic() - start
        time.sleep(0.5)  # the last answer's record written
        written = wchar(rig.cat.pid) - before
        with logbook.lock:
            written -= logbook.received - received_before
            taken = logbook.qsos
    finally:
        rig.close()
    return taken, seconds, written


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin", required=True)
    ap.add_argument("--baud", type=int, default=4800)
    ap.add_argument("--samples", type=int, default=20)
    ap.add_argument("--cpu-window", type=float, default=10.0)
    ap.add_argument("--cpu-runs", type=int, default=3)
    args = ap.parse_args()
    bindir = os.path.abspath(args.bin)

    logbook = Logbook()
    try:
        rig = Rig(bindir, args.baud, logbook)
        try:
            post = post_times(rig, logbook, args.samples)
            tune = tune_times(rig, args.samples)
            time.sleep(2.0)
            with_api = [rb.sample_footprint(lambda: [rig.cat.pid], args.cpu_window, rb.rss_kb)[0]
                        for _ in range(args.cpu_runs)]
        finally:
            rig.close()
        rig = Rig(bindir, args.baud, logbook, ["--logbook-kind", "cloudlog"])
        try:
            queue = queue_times(rig, logbook, args.samples)
        finally:
            rig.close()
        ended = exit_times(bindir, args.baud, logbook, 5)
        drained = drain(bindir, args.baud, logbook, 600)
        rig = Rig(bindir, args.baud, None)
        try:
            time.sleep(2.0)
            without = [rb.sample_footprint(lambda: [rig.cat.pid], args.cpu_window, rb.rss_kb)[0]
                       for _ in range(args.cpu_runs)]
        finally:
            rig.close()
    finally:
        logbook.close()
    for name, values in (("post", post), ("tune", tune), ("queue", queue), ("exit", ended)):
        if values:
            print("%s %.1f %.1f %d" % (name, rb.percentile(values, 50), rb.percentile(values, 95),
                                       len(values)))
    print("cpu %.3f %.3f" % (statistics.median(with_api), statistics.median(without)))
    print("drain %d %.1f %d" % drained)
    return 0


if __name__ == "__main__":
    sys.exit(main())
