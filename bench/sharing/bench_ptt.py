#!/usr/bin/env python3
"""Keying through the sharing server: from a client's "T 1" / "T 0" to the
radio seeing the command, with the radio shared through Virtual CAT, once
with the other program silent and once while it asks "FA;" every 100 ms.

    velalog-radiosim (pty) <-> velalog-cat --virtual --rigctld <-> socat pair <-> poller

Prints one line per case:  ptt <idle|busy> <p50 ms> <p95 ms>
"""

import argparse
import os
import socket
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tests", "virtualcat"))
import test_driver_turn as turn  # noqa: E402
import vcat_rig as v  # noqa: E402

sys.path.insert(0, os.path.join(HERE, ".."))
from run_bench import percentile  # noqa: E402


def key_times(rig, port, samples):
    times = []
    with socket.create_connection(("127.0.0.1", port), timeout=v.GENEROUS) as s:
        for i in range(samples * 2):
            on = i % 2 == 0
            rig.sim.drain()
            start = time.monotonic()
            s.sendall(b"T 1\n" if on else b"T 0\n")
            if rig.sim.wait_line(lambda l: l == ("ptt 1" if on else "ptt 0")) is None:
                raise v.RigError("PTT command did not reach the radio")
            times.append((time.monotonic() - start) * 1000)
            v.read_line(s)
            time.sleep(0.3)
    return times


def main():
    ap = argparse.ArgumentParser(description=__doc__,
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--bin", default="build/bin")
    ap.add_argument("--baud", type=int, default=4800)
    ap.add_argument("--samples", type=int, default=10)
    args = ap.parse_args()
    with v.Rig(args.bin, "ft950", baud=args.baud,
               cat_args=["--rigctld", "0", "--allow-ptt"]) as rig:
        port = next(int(l.split("\t")[2]) for l in rig.cat.lines if l.startswith("rigctld\t"))
        idle = key_times(rig, port, args.samples)
        poller = turn.Poller(rig.client_port, 0.1)
        try:
            busy = key_times(rig, port, args.samples)
        finally:
            poller.close()
    for name, times in (("idle", idle), ("busy", busy)):
        print("ptt %s %.0f %.0f" % (name, percentile(times, 50), percentile(times, 95)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
