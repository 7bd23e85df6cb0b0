#!/usr/bin/env python3
"""velalog-cat --radio rigctld against a rig-control daemon.

--daemon real: Hamlib's rigctld with its dummy rig. Changes made through a
second client (rigctl -m 2) show up as rx lines, "tune" on velalog-cat's
standard input reaches the daemon, and after the daemon is killed and started
again the reports resume without a reset.

--daemon garbage|huge|refuse-mode|one-shot: a small fake daemon that answers
between garbage lines and in pieces, after a 1 MiB line without end, with
"RPRT -11" to every mode request, or that closes the connection after every
command. The right values are reported all the same.

Exit codes: 0 passed, 1 failed, 77 skipped (a tool is missing)."""

import argparse
import os
import shutil
import signal
import socket
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "virtualcat"))
import vcat_rig as v  # noqa: E402


class FakeDaemon:
    """Answers the extended commands +f, +m, +F, +M the way the mode says."""

    def __init__(self, mode, hz=7074000, rig_mode="USB"):
        self.mode, self.hz, self.rig_mode = mode, hz, rig_mode
        self.commands = []
        self.server = socket.create_server(("127.0.0.1", 0))
        self.port = self.server.getsockname()[1]
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self):
        while True:
            try:
                conn, _ = self.server.accept()
            except OSError:
                return
            threading.Thread(target=self._serve, args=(conn,), daemon=True).start()

    def _answer(self, line):
        self.commands.append(line)
        words = line.split()
        if line == "+f":
            return "get_freq:\nFrequency: %d\nRPRT 0\n" % self.hz
        if line == "+m":
            if self.mode == "refuse-mode":
                return "get_mode:\nRPRT -11\n"
            return "get_mode:\nMode: %s\nPassband: 2400\nRPRT 0\n" % self.rig_mode
        if len(words) == 2 and words[0] == "+F":
            self.hz = int(words[1])
            return "set_freq: %s\nRPRT 0\n" % words[1]
        if len(words) == 3 and words[0] == "+M":
            self.rig_mode = words[1]
            return "set_mode: %s %s\nRPRT 0\n" % (words[1], words[2])
        return "RPRT -1\n"

    def _serve(self, conn):
        data = b""
        with conn:
            if self.mode == "huge":
                conn.sendall(b"x" * (1 << 20))
            while True:
                try:
                    chunk = conn.recv(4096)
                except OSError:
                    return
                if not chunk:
                    return
                data += chunk
                while b"\n" in data:
                    line, data = data.split(b"\n", 1)
                    answer = self._answer(line.decode()).encode()
                    if self.mode == "garbage":
                        # Noise between answers, and each answer in pieces.
                        conn.sendall(b"\x00\xff noise\nFrequency: 1\nRPRT 0\n")
                        for i in range(0, len(answer), 5):
                            conn.sendall(answer[i:i + 5])
                            time.sleep(0.002)
                    else:
                        conn.sendall(answer)
                    if self.mode == "one-shot":
                        return  # whatever else came in this connection is lost

    def close(self):
        self.server.close()


def rigctl(port, *commands):
    done = subprocess.run(["rigctl", "-m", "2", "-r", "127.0.0.1:%d" % port] + list(commands),
                          stdin=subprocess.DEVNULL, capture_output=True, timeout=v.GENEROUS)
    return done.stdout.decode("utf-8", "replace").split()


def start_rigctld(port):
    daemon = v.Proc(["rigctld", "-m", "1", "-T", "127.0.0.1", "-t", str(port)], stdin=False)
    end = time.monotonic() + v.GENEROUS
    while time.monotonic() < end and daemon.proc.poll() is None:
        try:
            socket.create_connection(("127.0.0.1", port), timeout=2).close()
            return daemon
        except OSError:
            time.sleep(0.1)
    daemon.stop()
    return None


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--bin", required=True)
    parser.add_argument("--daemon", required=True,
                        choices=["real", "garbage", "huge", "refuse-mode", "one-shot"])
    args = parser.parse_args()
    if not os.access(os.path.join(args.bin, "velalog-cat"), os.X_OK):
        print("skipped: velalog-cat not built")
        return 77
    if args.daemon == "real" and not (shutil.which("rigctld") and shutil.which("rigctl")):
        print("skipped: rigctld/rigctl not installed (libhamlib-utils)")
        return 77

    checks = v.Checks(args.daemon)
    expect = checks.expect

    port = v.free_tcp_port()
    fake = daemon = cat = None
    try:
        if args.daemon == "real":
            daemon = start_rigctld(port)
            if daemon is None:
                print("rigctld did not start")
                return 1
        else:
            fake = FakeDaemon(args.daemon)
            port = fake.port
        # Sharing on the port the radio is polled on is refused at once.
        refused = subprocess.run([os.path.join(args.bin, "velalog-cat"), "--radio", "rigctld",
                                  "--rigctld-host", "localhost:%d" % port, "--rigctld", str(port)],
                                 stdin=subprocess.DEVNULL, capture_output=True, text=True,
                                 timeout=v.GENEROUS)
        expect(refused.returncode == 2 and "sharing port %d is the rigctld radio's own port" % port
               in refused.stderr, "sharing on the radio's own port was not refused: %d %r"
               % (refused.returncode, refused.stderr[:200]))
        cat = v.Proc([os.path.join(args.bin, "velalog-cat"), "--radio", "rigctld",
                      "--rigctld-host", "127.0.0.1:%d" % port])

        def rx(band, freq, mode):
            want = "rx\t%s\t%s\t%s" % (band, freq, mode)
            return cat.wait_line(lambda l: l == want) is not None

        if args.daemon == "real":
            # The dummy rig starts at 145 MHz FM.
            expect(rx("2m", "145.0000", "FM"), "no report of the daemon's start values")
            rigctl(port, "F", "7074000")
            expect(rx("40m", "7.0740", "FM"), "no report of a change made by another client")
            rigctl(port, "M", "USB", "0")
            expect(rx("40m", "7.0740", "usb"), "no report of a mode change by another client")
            cat.send("tune 14.0740 CW")
            end = time.monotonic() + v.GENEROUS
            while time.monotonic() < end and rigctl(port, "f", "m")[:2] != ["14074000", "CW"]:
                time.sleep(0.1)
            expect(rigctl(port, "f", "m")[:2] == ["14074000", "CW"], "tune did not reach the daemon")
            expect(rx("20m", "14.0740", "CW"), "no report after tuning")
            daemon.proc.send_signal(signal.SIGKILL)
            daemon.stop()
            daemon = start_rigctld(port)
            expect(daemon is not None, "rigctld did not start again")
            # A fresh dummy rig is at 145 MHz FM again.
            expect(rx("2m", "145.0000", "FM"), "no report after the daemon came back")
            rigctl(port, "F", "3573000")
            expect(rx("80m", "3.5730", "FM"), "no polling after the daemon came back")
        else:
            mode_text = "" if args.daemon == "refuse-mode" else "usb"
            expect(rx("40m", "7.0740", mode_text), "no report of the start values")
            fake.hz = 14074000
            expect(rx("20m", "14.0740", mode_text), "no report of a change")
            cat.send("tune 10.1360 CW")
            expect(rx("30m", "10.1360", mode_text and "CW"), "no report after tuning")
            expect("+F 10136000" in fake.commands, "tune did not set the frequency")
            # A mode the daemon never told is not set either: the page's tune
            # compares with the radio's mode.
            expect(("+M CW 0" in fake.commands) == bool(mode_text), "tune set the mode wrongly")
    finally:
        if cat:
            cat.stop(quit_line="quit")
        if daemon:
            daemon.stop()
        if fake:
            fake.close()

    # Noise ("Frequency: 1" outside an answer) never passes for a value.
    had = {"145.0000", "7.0740", "14.0740", "3.5730", "10.1360"}
    for line in cat.lines if cat else []:
        parts = line.split("\t")
        expect(parts[0] != "rx" or parts[2] in had, "reported a value never set: %r" % line)
    return checks.finish()


if __name__ == "__main__":
    sys.exit(main())
