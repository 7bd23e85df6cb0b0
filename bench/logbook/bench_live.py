#!/usr/bin/env python3
"""The live radio channel: knob change to the WebSocket frame, against knob
change to velalog-cat's own report, in the same run.

velalog-cat polls the simulated FT-950 with the logbook API on (click-to-tune
and the live channel on free ports); a WebSocket client (a few lines below,
as a page would open it) follows the channel. Each sample turns the
simulator's VFO and notes when velalog-cat prints the new frequency (its
`rx` line) and when the channel's `radio_status` carries it.

Prints:
    rx    <p50 ms>  <p95 ms>  <samples>
    live  <p50 ms>  <p95 ms>  <samples>
Every process started here is ended by its own process id.
"""

import argparse
import base64
import json
import os
import shutil
import socket
import struct
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, ".."))
import run_bench as rb  # noqa: E402


class Page:
    """A WebSocket client that notes when each frequency first arrived."""

    def __init__(self, port):
        self.seen = {}
        self.lock = threading.Lock()
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=rb.GENEROUS)
        key = base64.b64encode(os.urandom(16)).decode()
        self.sock.sendall(("GET / HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nUpgrade: websocket\r\n"
                           "Connection: Upgrade\r\nSec-WebSocket-Key: %s\r\n"
                           "Sec-WebSocket-Version: 13\r\n\r\n" % (port, key)).encode())
        head = b""
        while b"\r\n\r\n" not in head:
            chunk = self.sock.recv(4096)
            if not chunk:
                raise RuntimeError("the live channel closed the handshake")
            head += chunk
        if not head.startswith(b"HTTP/1.1 101"):
            raise RuntimeError("the live channel answered " + head.split(b"\r\n")[0].decode())
        self.buf = head[head.index(b"\r\n\r\n") + 4:]
        self.sock.settimeout(None)
        self.thread = threading.Thread(target=self.read, daemon=True)
        self.thread.start()

    def take(self, n):
        while len(self.buf) < n:
            chunk = self.sock.recv(65536)
            if not chunk:
                raise EOFError
            self.buf += chunk
        data, self.buf = self.buf[:n], self.buf[n:]
        return data

    def read(self):
        try:
            while True:
                first, second = self.take(2)
                size = second & 0x7F
                if size == 126:
                    size = struct.unpack("!H", self.take(2))[0]
                elif size == 127:
                    size = struct.unpack("!Q", self.take(8))[0]
                payload = self.take(size)  # a server's frames are not masked
                at = time.monotonic()
                if first & 0x0F != 1:
                    continue
                message = json.loads(payload)
                if message.get("type") == "radio_status":
                    with self.lock:
                        self.seen.setdefault(int(message["frequency"]), at)
        except (EOFError, OSError, ValueError):
            pass

    def arrived(self, hz):
        with self.lock:
            return self.seen.get(hz)

    def close(self):
        try:
            self.sock.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        self.sock.close()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin", required=True)
    ap.add_argument("--baud", type=int, default=4800)
    ap.add_argument("--samples", type=int, default=20)
    args = ap.parse_args()
    bindir = os.path.abspath(args.bin)
    folder = tempfile.mkdtemp(prefix="vela-bench-live-")
    sim = cat = page = None
    rx, live = [], []
    try:
        os.mkdir(os.path.join(folder, "ports"))
        sim = rb.Proc([os.path.join(bindir, "velalog-radiosim"), "--radio", "ft950", "--link",
                       os.path.join(folder, "ports", "com1"), "--baud", str(args.baud),
                       "--freq", "14074000", "--mode", "usb"])
        if not sim.wait_for(lambda l: l.startswith("ready")):
            raise RuntimeError("radio simulator did not start")
        cat = rb.Proc([os.path.join(bindir, "velalog-cat"), "--radio", "ft950", "--port", "1",
                       "--ports-dir", os.path.join(folder, "ports"), "--baud", str(args.baud),
                       "--ini", os.path.join(folder, "VelaLog.ini"), "--exact",
                       "--tune-listen", "0", "--live-listen", "0"])
        line = cat.wait_for(lambda l: l.startswith("live\t"))
        if not line:
            raise RuntimeError("velalog-cat did not open the live channel")
        page = Page(int(line.split("\t")[2]))
        if not cat.wait_for(lambda l: l.startswith("rx")):
            raise RuntimeError("velalog-cat reported nothing")
        time.sleep(1.0)
        for i in range(args.samples):
            hz = 14075000 + 1000 * i
            start = time.monotonic()
            sim.send("freq %d" % hz)
            report = cat.wait_for(lambda l: l.startswith("rx") and l.split("\t")[4:5] == [str(hz)])
            if report is not None:
                rx.append(1000.0 * (time.monotonic() - start))
            deadline = start + rb.GENEROUS
            while page.arrived(hz) is None and time.monotonic() < deadline:
                time.sleep(0.001)
            if page.arrived(hz) is not None:
                live.append(1000.0 * (page.arrived(hz) - start))
            time.sleep(0.3)
    finally:
        for thing in (page, cat, sim):
            if thing:
                thing.close()
        shutil.rmtree(folder, ignore_errors=True)
    for name, values in (("rx", rx), ("live", live)):
        if values:
            print("%s %.1f %.1f %d" % (name, rb.percentile(values, 50), rb.percentile(values, 95),
                                       len(values)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
