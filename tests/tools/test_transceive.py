#!/usr/bin/env python3
"""An Icom that reports its own changes (CI-V transceive), through velalog-cat
against the radio simulator on a pty at 19200 baud: a knob turn is reported
from the radio's frame and the reads fall to a keep-alive; a change whose
frame is lost (the radio's transceive switched off) is caught by a keep-alive
read and brings back the full cycle until the next frame; with the station's
Transceive off the radio is polled at the full pace whatever it sends.

Exit codes: 0 passed, 1 failed."""

import argparse
import os
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "virtualcat"))
import vcat_rig as v  # noqa: E402

BAUD = 19200
# Reads the radio gets in a window of this many seconds: a keep-alive reads
# about once a second, the full cycle about twenty times.
WINDOW_S = 3.0
MOST_KEEP_ALIVE_READS = 10


class Station:
    """The simulator with transceive on, and velalog-cat polling it."""

    def __init__(self, bindir, folder, radio, cat_args=()):
        self.link = os.path.join(folder, radio)
        self.sim = v.Proc([os.path.join(bindir, "velalog-radiosim"), "--radio", radio, "--link",
                           self.link, "--freq", "14074000", "--mode", "usb", "--baud", str(BAUD),
                           "--transceive"])
        self.cat = None
        if not self.sim.wait_line(lambda l: l == "ready " + self.link):
            raise v.RigError("simulator did not start: %s" % self.sim.stderr[-3:])
        self.cat = v.Proc([os.path.join(bindir, "velalog-cat"), "--radio", radio, "--device",
                           self.link, "--baud", str(BAUD)] + list(cat_args))
        if not self.reported(14074000):
            raise v.RigError("velalog-cat reported nothing: %s" % self.cat.stderr[-3:])

    def reported(self, hz):
        text = v.frequency_text(hz)
        return self.cat.wait_line(lambda l: v.Rig.rx_frequency(l) == text) is not None

    def turn(self, hz):
        self.sim.send("freq %d" % hz)
        return self.reported(hz)

    def said(self, line):
        """Waits until velalog-cat has said line on standard error."""
        return v.wait_for(lambda: line in self.cat.stderr)

    def reads_in_window(self):
        start = len(self.sim.lines)
        time.sleep(WINDOW_S)
        return sum(1 for l in self.sim.lines[start:] if l.startswith("cmd "))

    def close(self):
        if self.cat:
            self.cat.stop(quit_line="quit")
        self.sim.stop(quit_line="quit")


def follow(bindir, folder, radio, checks):
    s = Station(bindir, folder, radio)
    try:
        full = s.reads_in_window()
        checks.expect(s.turn(7074000), "%s: knob turn not reported" % radio)
        checks.expect(s.said("# radio reports followed"), "%s: reports not followed" % radio)
        slow = s.reads_in_window()
        print("%s: reads in %.0f s: %d polled, %d following" % (radio, WINDOW_S, full, slow))
        checks.expect(slow <= MOST_KEEP_ALIVE_READS < full,
                      "%s: %d reads following against %d polled" % (radio, slow, full))
        # Reports come one per change, also in a run of them.
        for hz in (7075000, 7076000, 7077000):
            checks.expect(s.turn(hz), "%s: knob turn to %d not reported" % (radio, hz))
        # A change without its frame: a keep-alive read finds it, and every
        # cycle reads again...
        s.cat.stderr.clear()
        s.sim.send("transceive 0")
        checks.expect(s.turn(3573000), "%s: unreported change not caught" % radio)
        checks.expect(s.said("# radio polled"), "%s: still following after a lost frame" % radio)
        again = s.reads_in_window()
        checks.expect(again > MOST_KEEP_ALIVE_READS,
                      "%s: %d reads after the frames stopped" % (radio, again))
        # ...until the next frame.
        s.sim.send("transceive 1")
        checks.expect(s.turn(3574000), "%s: knob turn not reported" % radio)
        checks.expect(s.said("# radio reports followed"), "%s: reports not followed" % radio)
    finally:
        s.close()


def off(bindir, folder, radio, checks):
    s = Station(bindir, folder, radio, cat_args=["--transceive", "off"])
    try:
        checks.expect(s.turn(7074000), "%s off: knob turn not reported" % radio)
        reads = s.reads_in_window()
        checks.expect(reads > MOST_KEEP_ALIVE_READS and "# radio reports followed" not in
                      s.cat.stderr, "%s off: %d reads, following" % (radio, reads))
    finally:
        s.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--bin", required=True)
    parser.add_argument("--radio", default="ic7300", choices=["ic7000", "ic7300"])
    args = parser.parse_args()
    checks = v.Checks("transceive %s" % args.radio)
    with tempfile.TemporaryDirectory(prefix="vela-transceive-") as folder:
        try:
            follow(args.bin, folder, args.radio, checks)
            off(args.bin, folder, args.radio, checks)
        except v.RigError as e:
            checks.expect(False, str(e))
    return checks.finish()


if __name__ == "__main__":
    sys.exit(main())
