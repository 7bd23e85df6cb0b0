#!/usr/bin/env python3
"""Sharing the radio through Virtual CAT: right reads and round trips.

For each radio, the simulator's VFO is moved before every read and Hamlib's
client reads the frequency, once through the program (velalog-cat polling the
simulator, the client on the far end of a socat pair) and once straight on the
simulator. Prints one table row per radio:

    radio  right/total  median through program (ms)  median straight (ms)  ratio

With --client rigctl each read is one "rigctl f" run (its start-up included);
with --client rigctld one rigctld holds the port and each read is one "f"
query over TCP on 127.0.0.1. With --transceive the Icom radios report their
own changes (CI-V transceive), which the program follows, reading the radio
only to keep alive. The reads are made in --rounds rounds, each one through
the program and then straight, so that the machine's load (other builds, other
benchmarks) weighs on both sides alike.
"""

import argparse
import os
import statistics
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tests", "virtualcat"))
import vcat_rig as v  # noqa: E402


def measure(bin_dir, radio, baud, reads, client, direct, transceive=False, first=0):
    """Returns (right reads, [seconds per read]); the VFO moves through the
    positions from number first on."""
    right, times = 0, []
    sim_args = ["--transceive"] if transceive else []
    with v.Rig(bin_dir, radio, baud=baud, freq=v.FREQUENCIES[-1], direct=direct,
               sim_args=sim_args) as rig:
        daemon = None
        try:
            if client == "rigctld":
                daemon = v.Rigctld(radio, rig.client_port, baud, ["--set-conf=cache_timeout=0"])
            for i in range(first, first + reads):
                hz = v.FREQUENCIES[i % (len(v.FREQUENCIES) - 1)]
                rig.move_vfo(hz)
                rig.wait_program(hz)
                if daemon:
                    got, seconds = daemon.query("f")
                else:
                    out, seconds = v.rigctl(radio, rig.client_port, baud, "f")
                    got = out[0] if out else None
                times.append(seconds)
                right += got == str(hz)
        finally:
            if daemon:
                daemon.close()
    return right, times


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--bin", default="build/bin",
                        help="folder with velalog-cat and velalog-radiosim (default build/bin)")
    parser.add_argument("--reads", type=int, default=8, help="reads per radio (default 8)")
    parser.add_argument("--baud", type=int, default=38400, help="line speed (default 38400)")
    parser.add_argument("--client", choices=["rigctl", "rigctld"], default="rigctl")
    parser.add_argument("--radio", action="append", choices=v.RADIOS,
                        help="radio to measure (repeatable; default all six)")
    parser.add_argument("--transceive", action="store_true",
                        help="the Icom radios report their own changes (others are skipped)")
    parser.add_argument("--rounds", type=int, default=4,
                        help="alternations of through and straight per radio (default 4)")
    args = parser.parse_args()
    if not v.have_tools():
        print("bench_virtualcat: socat, rigctl and rigctld are needed", file=sys.stderr)
        return 2
    for tool in ("velalog-cat", "velalog-radiosim"):
        if not os.access(os.path.join(args.bin, tool), os.X_OK):
            print("bench_virtualcat: %s is not built in %s" % (tool, args.bin), file=sys.stderr)
            return 2
    radios = args.radio or v.RADIOS
    if args.transceive:
        radios = [r for r in radios if r.startswith("ic")]
    reads = max(1, args.reads)
    print("Virtual CAT sharing, %s, %d baud, %d reads per radio" % (args.client, args.baud, reads))
    print("%-8s %12s %14s %14s %7s" % ("radio", "right/total", "through (ms)", "straight (ms)",
                                        "ratio"))
    status = 0
    rounds = max(1, min(args.rounds, reads))
    for radio in radios:
        right, through, straight = 0, [], []
        try:
            for r in range(rounds):
                first = r * reads // rounds
                count = (r + 1) * reads // rounds - first
                good, times = measure(args.bin, radio, args.baud, count, args.client, False,
                                      args.transceive, first)
                right += good
                through += times
                straight += measure(args.bin, radio, args.baud, count, args.client, True,
                                    args.transceive, first)[1]
        except v.RigError as e:
            print("%-8s failed: %s" % (radio, e))
            status = 1
            continue
        t = statistics.median(through) * 1000
        s = statistics.median(straight) * 1000
        print("%-8s %12s %14.0f %14.0f %7.1f" % (radio, "%d/%d" % (right, reads), t, s,
                                                   t / s if s > 0 else float("nan")), flush=True)
    return status


if __name__ == "__main__":
    sys.exit(main())
