#!/usr/bin/env python3
"""Sharing the radio over Hamlib's network protocol: round trip and line load.

Round trip: one "rigctl -m 2 f" run (its start-up included) against
velalog-cat --rigctld polling the simulated radio, next to one
"rigctl -m <model> f" run straight on the simulator. Line load: the
commands per second the simulator receives while 0, 1 and 5 clients each ask
"f" and "m" every 100 ms over TCP. Prints:

    roundtrip  <median through program ms>  <median straight ms>
    rate  <clients>  <commands per second>
"""

import argparse
import os
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tests", "net"))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tests", "virtualcat"))
import test_sharing as share  # noqa: E402
import vcat_rig as v  # noqa: E402


def timed(argv):
    start = time.monotonic()
    out = subprocess.run(argv, capture_output=True, text=True, timeout=v.GENEROUS).stdout
    return time.monotonic() - start, out.strip()


def straight_times(bin_dir, radio, baud, reads):
    link = os.path.join(tempfile.mkdtemp(prefix="vela-bench-share-"), "radio")
    sim = v.Proc([os.path.join(bin_dir, "velalog-radiosim"), "--radio", radio, "--link", link,
                  "--freq", "14074000", "--baud", str(baud)])
    try:
        if not sim.wait_line(lambda l: l == "ready " + link):
            raise v.RigError("simulator did not start")
        argv = ["rigctl", "-m", str(v.HAMLIB_MODELS[radio]), "-r", link, "-s", str(baud), "f"]
        return [timed(argv)[0] for _ in range(reads)]
    finally:
        sim.stop(quit_line="quit")


def poller(port, stop):
    with socket.create_connection(("127.0.0.1", port), timeout=v.GENEROUS) as s:
        f = s.makefile("rb")
        while not stop.is_set():
            s.sendall(b"f\nm\n")
            for _ in range(3):
                f.readline()
            time.sleep(0.1)
        s.sendall(b"q\n")


def line_rate(setup, clients, window):
    stop = threading.Event()
    threads = [threading.Thread(target=poller, args=(setup.port, stop)) for _ in range(clients)]
    for t in threads:
        t.start()
    time.sleep(1.0)  # settle
    before = share.commands(setup.sim)
    start = time.monotonic()
    time.sleep(window)
    count = share.commands(setup.sim) - before
    elapsed = time.monotonic() - start
    stop.set()
    for t in threads:
        t.join()
    return count / elapsed


def main():
    ap = argparse.ArgumentParser(description=__doc__,
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--bin", default="build/bin")
    ap.add_argument("--radio", default="ft950")
    ap.add_argument("--baud", type=int, default=4800)
    ap.add_argument("--reads", type=int, default=8)
    ap.add_argument("--window", type=float, default=5.0)
    args = ap.parse_args()
    setup = share.Setup(args.bin, args.radio, args.baud, allow_ptt=False)
    try:
        argv = ["rigctl", "-m", "2", "-r", "127.0.0.1:%d" % setup.port, "f"]
        through = [timed(argv)[0] for _ in range(args.reads)]
        rates = [(n, line_rate(setup, n, args.window)) for n in (0, 1, 5)]
    finally:
        setup.close()
    straight = straight_times(args.bin, args.radio, args.baud, args.reads)
    print("roundtrip %.0f %.0f" % (statistics.median(through) * 1000,
                                   statistics.median(straight) * 1000))
    for n, rate in rates:
        print("rate %d %.1f" % (n, rate))
    return 0


if __name__ == "__main__":
    sys.exit(main())
