#!/usr/bin/env python3
"""An Icom that reports its own changes (CI-V transceive), followed and not.

velalog-cat polls the radio simulator (IC-7300 by default, 19200 baud), whose
transceive is on, once with the station's Transceive auto (the program follows
the radio's reports) and once off (it polls at the full pace). Prints one line
per figure:

    latency auto|off P50_MS P95_MS SAMPLES   knob turn to velalog-cat's rx line
    rate auto|off COMMANDS_PER_S             commands the radio gets at rest
    cpu auto|off PERCENT                     velalog-cat's CPU at rest, of one core
    wire FRAME_MS                            one transceive frame's wire time

Every process started here is ended by its own process id before the script
returns.
"""

import argparse
import os
import random
import statistics
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tests", "virtualcat"))
import vcat_rig as v  # noqa: E402

sys.path.insert(0, os.path.join(HERE, ".."))
from run_bench import percentile  # noqa: E402

BITS_PER_BYTE = 11
FRAME_BYTES = 11  # FE FE 00 94 00 d0 d1 d2 d3 d4 FD


def cpu_seconds(pid):
    total = 0
    for task in os.listdir("/proc/%d/task" % pid):
        try:
            with open("/proc/%d/task/%s/schedstat" % (pid, task)) as f:
                total += int(f.read().split()[0])
        except OSError:
            pass
    return total / 1e9


class Station:
    def __init__(self, bindir, folder, radio, baud, transceive):
        link = os.path.join(folder, "radio-" + transceive)
        self.sim = v.Proc([os.path.join(bindir, "velalog-radiosim"), "--radio", radio, "--link",
                           link, "--freq", "14074000", "--mode", "usb", "--baud", str(baud),
                           "--transceive"])
        self.cat = None
        if not self.sim.wait_line(lambda l: l == "ready " + link):
            self.close()
            raise v.RigError("simulator did not start")
        self.cat = v.Proc([os.path.join(bindir, "velalog-cat"), "--radio", radio, "--device",
                           link, "--baud", str(baud), "--transceive", transceive])
        if not self.reported(14074000):
            self.close()
            raise v.RigError("velalog-cat reported nothing")
        # One turn of the knob: from here on the program follows (auto).
        self.sim.send("freq 14075000")
        if not self.reported(14075000):
            self.close()
            raise v.RigError("velalog-cat did not report a knob turn")

    def reported(self, hz, timeout=v.GENEROUS):
        text = v.frequency_text(hz)
        return self.cat.wait_line(lambda l: v.Rig.rx_frequency(l) == text, timeout) is not None

    def close(self):
        for p in (self.cat, self.sim):
            if p:
                p.stop(quit_line="quit")


def latency(station, samples):
    times = []
    for i in range(samples):
        hz = 14100000 + 1000 * i
        # A random pause spreads the turns over the polling phase.
        time.sleep(random.uniform(0.0, 0.12))
        t0 = time.monotonic()
        station.sim.send("freq %d" % hz)
        if station.reported(hz, timeout=5):
            times.append(1000.0 * (time.monotonic() - t0))
    return times


def at_rest(station, window):
    """(commands the radio got per second, velalog-cat's CPU %) over window s."""
    time.sleep(1.0)
    start = len(station.sim.lines)
    c0, t0 = cpu_seconds(station.cat.proc.pid), time.monotonic()
    time.sleep(window)
    c1, t1 = cpu_seconds(station.cat.proc.pid), time.monotonic()
    commands = sum(1 for l in station.sim.lines[start:] if l.startswith("cmd "))
    return commands / (t1 - t0), 100.0 * (c1 - c0) / (t1 - t0)


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--bin", default="build/bin")
    parser.add_argument("--radio", default="ic7300", choices=["ic7000", "ic7300"])
    parser.add_argument("--baud", type=int, default=19200)
    parser.add_argument("--samples", type=int, default=20, help="knob turns per run")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--window", type=float, default=5.0, help="seconds at rest per sample")
    args = parser.parse_args()
    bindir = os.path.abspath(args.bin)
    print("wire %.1f" % (1000.0 * FRAME_BYTES * BITS_PER_BYTE / args.baud), flush=True)
    with tempfile.TemporaryDirectory(prefix="vela-bench-transceive-") as folder:
        for transceive in ("auto", "off"):
            p50s, p95s, rates, cpus, n = [], [], [], [], 0
            for _ in range(max(1, args.runs)):
                station = Station(bindir, folder, args.radio, args.baud, transceive)
                try:
                    times = latency(station, args.samples)
                    n += len(times)
                    p50s.append(percentile(times, 50))
                    p95s.append(percentile(times, 95))
                    rate, cpu = at_rest(station, args.window)
                    rates.append(rate)
                    cpus.append(cpu)
                finally:
                    station.close()
            print("latency %s %.1f %.1f %d" % (transceive, statistics.median(p50s),
                                               statistics.median(p95s), n), flush=True)
            print("rate %s %.2f" % (transceive, statistics.median(rates)), flush=True)
            print("cpu %s %.3f" % (transceive, statistics.median(cpus)), flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
