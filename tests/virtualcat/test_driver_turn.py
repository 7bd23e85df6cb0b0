#!/usr/bin/env python3
"""The program's own commands while another program keeps the shared radio busy:

    velalog-radiosim (pty) <-> velalog-cat --virtual --rigctld <-> socat pair <-> a busy poller
                                                  ^
                                                  +-- a network client keying by T 1 / T 0

The other program asks "FA;" again and again (every --interval seconds, 0:
the moment its last answer is in). Meanwhile the radio's VFO moves and must
reach the program's report, and T 1 / T 0 from a network client must reach
the radio, while every answer of the other program stays right.

Exit codes: 0 passed, 1 failed, 77 skipped (a tool is missing)."""

import argparse
import os
import re
import shutil
import socket
import sys
import termios
import threading
import time
import tty

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import vcat_rig as v  # noqa: E402


class Poller:
    """The other program: asks FA; and collects the answers."""

    def __init__(self, path, interval):
        self.fd = os.open(path, os.O_RDWR | os.O_NOCTTY)
        tty.setraw(self.fd)
        termios.tcflush(self.fd, termios.TCIOFLUSH)
        self.interval = interval
        self.answers = []
        self.bad = []
        self.stop_flag = False
        self.thread = threading.Thread(target=self.run, daemon=True)
        self.thread.start()

    def run(self):
        pending = b""
        while not self.stop_flag:
            os.write(self.fd, b"FA;")
            end = time.monotonic() + 2.0
            while b";" not in pending and time.monotonic() < end and not self.stop_flag:
                try:
                    pending += os.read(self.fd, 64)
                except BlockingIOError:
                    time.sleep(0.005)
            while b";" in pending:
                answer, pending = pending.split(b";", 1)
                (self.answers if re.fullmatch(rb"FA\d{8,11}", answer) else self.bad).append(answer)
            if self.interval:
                time.sleep(self.interval)

    def count(self):
        return len(self.answers)

    def close(self):
        self.stop_flag = True
        self.thread.join(5)
        os.close(self.fd)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--bin", required=True)
    parser.add_argument("--radio", default="ft950")
    parser.add_argument("--baud", type=int, default=4800)
    parser.add_argument("--interval", type=float, default=0.1)
    args = parser.parse_args()
    if not v.have_tools():
        print("skipped: socat or Hamlib is not installed")
        return 77
    checks = v.Checks("driver turn %s every %.2f s" % (args.radio, args.interval))
    expect = checks.expect
    try:
        with v.Rig(args.bin, args.radio, baud=args.baud,
                   cat_args=["--rigctld", "0", "--allow-ptt"]) as rig:
            port = next(int(l.split("\t")[2]) for l in rig.cat.lines if l.startswith("rigctld\t"))
            poller = Poller(rig.client_port, args.interval)
            try:
                # The other program is busy before anything happens.
                expect(v.wait_for(lambda: poller.count() >= 10),
                       "the other program got no answers")
                for hz in (7074000, 21074000):
                    before = poller.count()
                    rig.move_vfo(hz)
                    expect(rig.wait_program(hz), "VFO %d not reported while shared" % hz)
                    expect(v.wait_for(lambda: poller.count() > before), "the other program stalled")
                with socket.create_connection(("127.0.0.1", port), timeout=v.GENEROUS) as s:
                    for line, sim_line in (("T 1", "ptt 1"), ("T 0", "ptt 0")):
                        before = poller.count()
                        s.sendall((line + "\n").encode())
                        expect(rig.sim.wait_line(lambda l: l == sim_line) is not None,
                               "%s did not reach the radio" % line)
                        expect(v.read_line(s) == "RPRT 0", "%s was not answered RPRT 0" % line)
                        expect(v.wait_for(lambda: poller.count() > before),
                               "the other program stalled")
            finally:
                poller.close()
            expect(not poller.bad, "wrong answers to the other program: %r" % poller.bad[:5])
            odd = [a for a in poller.answers if int(a[2:]) not in (14074000, 7074000, 21074000)]
            expect(not odd, "answers with a frequency the radio never had: %r" % odd[:5])
    except v.RigError as e:
        expect(False, str(e))
    return checks.finish()


if __name__ == "__main__":
    sys.exit(main())
