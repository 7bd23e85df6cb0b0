#!/usr/bin/env python3
"""The station options through velalog-cat against the radio simulator on a
pty: "Digi" meaning data on the FT-950 (PKT-U) and the IC-7300 (USB with its
data flag, read back as Digi), an IC-7300 that answers NG to the data flag
(the mode stays as the mode poll said and the flag read is not repeated
faster than the polls), an Icom on another CI-V address, and the exact
columns and commands (hertz, Hamlib mode).

Exit codes: 0 passed, 1 failed, 77 skipped (a tool is missing)."""

import argparse
import os
import shutil
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "virtualcat"))
import vcat_rig as v  # noqa: E402

FAILURES = []


def expect(ok, what):
    if not ok:
        FAILURES.append(what)
        print("FAIL %s" % what, flush=True)


class Pair:
    """The simulator and velalog-cat --exact on one pty."""

    def __init__(self, bindir, folder, radio, sim_args=(), cat_args=(), mode="usb"):
        self.link = os.path.join(folder, radio)
        self.sim = v.Proc([os.path.join(bindir, "velalog-radiosim"), "--radio", radio, "--link",
                           self.link, "--freq", "14074000", "--mode", mode, "--baud", "0"]
                          + list(sim_args))
        self.cat = None
        if not self.sim.wait_line(lambda l: l == "ready " + self.link):
            raise RuntimeError("simulator did not start: %s" % self.sim.stderr[-3:])
        self.cat = v.Proc([os.path.join(bindir, "velalog-cat"), "--radio", radio, "--device",
                           self.link, "--baud", "9600", "--exact"] + list(cat_args))

    def rx(self, mode, native, hz=14074000):
        """Waits for a report with the page mode, the Hamlib mode and the hertz."""
        want = "rx\t%s\t%s\t%s\t%d\t%s" % ("20m" if hz // 1000000 == 14 else "40m",
                                           v.frequency_text(hz), mode, hz, native)
        return self.cat.wait_line(lambda l: l == want) is not None

    def close(self):
        if self.cat:
            self.cat.stop(quit_line="quit")
        self.sim.stop(quit_line="quit")


def ft950_data(bindir, folder):
    p = Pair(bindir, folder, "ft950", cat_args=["--digi", "data"])
    try:
        expect(p.rx("usb", "USB"), "ft950: no exact report of the start values")
        p.cat.send("tune 14.0740 Digi")
        expect(p.sim.wait_line(lambda l: l == "cmd MD0C;") is not None, "ft950: Digi did not send MD0C;")
        expect(p.rx("Digi", "PKTUSB"), "ft950: PKT-U not reported as Digi/PKTUSB")
        p.cat.send("tune-hz 7074250")
        expect(p.sim.wait_line(lambda l: l == "freq 7074250") is not None, "ft950: tune-hz not taken")
        expect(p.rx("Digi", "PKTUSB", 7074250), "ft950: no exact report after tune-hz")
    finally:
        p.close()


def ic7300_data(bindir, folder):
    p = Pair(bindir, folder, "ic7300", cat_args=["--digi", "data"])
    try:
        expect(p.rx("usb", "USB"), "ic7300: no exact report of the start values")
        p.cat.send("tune 14.0740 Digi")
        expect(p.sim.wait_line(lambda l: l == "mode data-usb") is not None,
               "ic7300: Digi did not set USB with data on")
        expect(p.rx("Digi", "PKTUSB"), "ic7300: USB-D not reported as Digi/PKTUSB")
        p.cat.send("tune 14.0740 usb")
        expect(p.sim.wait_line(lambda l: l.endswith(" 1A 06 00 00 FD")) is not None,
               "ic7300: usb did not turn data off")
        expect(p.rx("usb", "USB"), "ic7300: no report after data off")
        # A radio that refuses the flag: the mode as the mode poll says it.
        p.sim.send("dataflag ng")
        p.sim.send("mode data-lsb")
        expect(p.rx("lsb", "LSB"), "ic7300: NG to the flag did not leave the mode poll's mode")
        p.sim.drain()
        start = len(p.sim.lines)
        p.sim.send("freq 7074000")
        expect(p.rx("lsb", "LSB", 7074000), "ic7300: no report after NG")
        cmds = [l for l in p.sim.lines[start:] if l.startswith("cmd ")]
        flags = sum(1 for l in cmds if l.endswith(" 1A 06 FD"))
        modes = sum(1 for l in cmds if l.endswith(" 04 FD"))
        expect(flags <= modes + 1, "ic7300: the flag was asked again and again: %r" % cmds)
    finally:
        p.close()


def ic7000_other_address(bindir, folder):
    p = Pair(bindir, folder, "ic7000", sim_args=["--civ", "5E"], cat_args=["--civ", "5e"])
    try:
        expect(p.rx("usb", "USB"), "ic7000 at 5Eh: no report")
        expect(p.sim.wait_line(lambda l: l.startswith("cmd FE FE 5E CC")) is not None
               or any(l.startswith("cmd FE FE 5E CC") for l in p.sim.lines),
               "ic7000 at 5Eh: polls not sent to 5Eh")
        p.cat.send("tune-mode RTTYR")
        expect(p.sim.wait_line(lambda l: l == "mode rtty-r") is not None, "ic7000: tune-mode not taken")
        expect(p.rx("Digi", "RTTYR"), "ic7000: RTTY-R not reported")
    finally:
        p.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--bin", required=True)
    args = parser.parse_args()
    for tool in ("velalog-cat", "velalog-radiosim"):
        if not os.access(os.path.join(args.bin, tool), os.X_OK):
            print("skipped: %s not built" % tool)
            return 77
    folder = tempfile.mkdtemp(prefix="vela-options-")
    try:
        for case in (ft950_data, ic7300_data, ic7000_other_address):
            case(args.bin, folder)
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    print("station options: %s" % ("passed" if not FAILURES else "%d failed" % len(FAILURES)))
    return 1 if FAILURES else 0


if __name__ == "__main__":
    sys.exit(main())
