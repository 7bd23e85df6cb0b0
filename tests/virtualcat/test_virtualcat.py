#!/usr/bin/env python3
"""The radio shared through Virtual CAT with a Hamlib client, end to end.

    share       rigctl (one session per read) or a long-running rigctld reads
                the frequency while the simulator's VFO is moved between reads,
                then tunes the radio; the program's own reports must stay right
                throughout.
    transceive  an Icom radio broadcasting its VFO changes: every frame reaches
                both the program and the other program, also one that comes
                in the middle of the program's own exchange, and the other
                program never sees the program's own polls or replies.

Exit status 0 when every check held, 1 otherwise, 77 when socat or Hamlib's
tools are missing.
"""

import argparse
import os
import random
import select
import signal
import sys
import threading
import time
import tty

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import vcat_rig as v  # noqa: E402

SKIP = 77


def reports_consistent(rig, checks):
    """Every report of the program names a frequency the radio really had."""
    had = {v.frequency_text(int(l.split()[1])) for l in rig.sim.lines if l.startswith("freq ")}
    seen_any = False
    for line in rig.rx_lines():
        freq = v.Rig.rx_frequency(line)
        if freq == "" and not seen_any:
            continue  # a mode reply may come before the first frequency
        seen_any = True
        checks.expect(freq in had, "program reported %r; the radio only had %s"
                      % (line, sorted(had)))


class Stalls:
    """Freezes the program now and then for a few tens of milliseconds, as a
    busy main thread does (a page being laid out in the browser): bytes then
    reach the program late and in larger pieces."""

    def __init__(self, pid, stall_ms):
        self.pid = pid
        self.stall = stall_ms / 1000.0
        self.done = threading.Event()
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def _run(self):
        rnd = random.Random(7)
        while not self.done.wait(rnd.uniform(0.02, 0.12)):
            try:
                os.kill(self.pid, signal.SIGSTOP)
                time.sleep(self.stall)
            finally:
                os.kill(self.pid, signal.SIGCONT)

    def stop(self):
        self.done.set()
        self.thread.join()
        try:
            os.kill(self.pid, signal.SIGCONT)
        except OSError:
            pass


HAMLIB_OWN_CACHE_S = 0.3


def run_share(args):
    checks = v.Checks("%s %s %d baud" % (args.radio, args.client, args.baud))
    start = v.FREQUENCIES[-1]
    sim_args = ["--ack", args.ack] if args.ack is not None else []
    if args.answer_delay_ms:
        sim_args += ["--answer-delay", str(args.answer_delay_ms)]
    with v.Rig(args.bin, args.radio, baud=args.baud, freq=start, sim_args=sim_args) as rig:
        daemon = None
        stalls = Stalls(rig.cat.proc.pid, args.stall_ms) if args.stall_ms else None
        try:
            if args.client == "rigctld":
                # No answer from Hamlib's cache: every read must cross the line.
                conf = "cache_timeout=0"
                if args.hamlib_timeout_ms:
                    conf += ",timeout=%d" % args.hamlib_timeout_ms
                daemon = v.Rigctld(args.radio, rig.client_port, args.baud, ["--set-conf=" + conf])

            def read_frequency():
                if daemon:
                    line, _ = daemon.query("f")
                    return line
                out, _ = v.rigctl(args.radio, rig.client_port, args.baud, "f")
                return out[0] if out else None

            def set_frequency(hz):
                if daemon:
                    line, _ = daemon.query("F %d" % hz)
                    return line == "RPRT 0"
                out, _ = v.rigctl(args.radio, rig.client_port, args.baud, "F", hz)
                return out is not None

            for hz in v.FREQUENCIES[:args.reads]:
                rig.move_vfo(hz)
                checks.expect(rig.wait_program(hz), "program did not report %d" % hz)
                # Some Hamlib backends (the FT-897's) answer from a status
                # cache of their own for a moment after their last read,
                # whatever cache_timeout says; wait it out, as a user does.
                time.sleep(HAMLIB_OWN_CACHE_S)
                got = read_frequency()
                checks.expect(got == str(hz), "%s f read %r, radio at %d" % (args.client, got, hz))

            target = v.FREQUENCIES[args.reads] + 1000
            checks.expect(set_frequency(target), "%s F %d failed" % (args.client, target))
            checks.expect(rig.sim.wait_line(lambda l: l == "freq %d" % target) is not None,
                          "simulator was not tuned to %d" % target)
            checks.expect(rig.wait_program(target), "program did not report %d" % target)
            got = read_frequency()
            checks.expect(got == str(target), "read %r after tuning to %d" % (got, target))
            reports_consistent(rig, checks)
        finally:
            if stalls:
                stalls.stop()
            if daemon:
                daemon.close()
    return checks.finish()


ICOM_ADDRESS = {"ic7000": 0x70, "ic7300": 0x94}
DRIVER_ADDRESS = 0xCC  # the program's own controller address on the bus


def frames(data):
    """Whole CI-V frames (FE FE ... FD) in a byte string, and the bytes outside them."""
    found, stray, i = [], 0, 0
    while i < len(data):
        start = data.find(b"\xfe\xfe", i)
        if start < 0:
            stray += len(data) - i
            break
        stray += start - i
        end = data.find(b"\xfd", start)
        if end < 0:
            stray += len(data) - start
            break
        found.append(data[start:end + 1].lstrip(b"\xfe"))
        i = end + 1
    return found, stray


def run_transceive(args):
    checks = v.Checks("%s transceive %d baud" % (args.radio, args.baud))
    radio_address = ICOM_ADDRESS[args.radio]
    with v.Rig(args.bin, args.radio, baud=args.baud, freq=v.FREQUENCIES[-1],
               sim_args=["--transceive"],
               cat_args=["--transceive", args.program_transceive]) as rig:
        fd = os.open(rig.client_port, os.O_RDWR | os.O_NOCTTY)
        try:
            tty.setraw(fd)
            received = b""
            broadcasts = 0
            moves = v.FREQUENCIES[:args.reads]
            rnd = random.Random(11)
            for hz in moves:
                # An operator turns the dial at any moment of the polling
                # cycle, not just after the program's last report.
                time.sleep(rnd.uniform(0.0, 0.06))
                rig.move_vfo(hz)
                checks.expect(rig.wait_program(hz), "program did not report %d" % hz)
                # What reaches the other program within a generous second.
                end = time.monotonic() + 1.0
                chunk = b""
                while time.monotonic() < end:
                    ready, _, _ = select.select([fd], [], [], 0.05)
                    if ready:
                        chunk += os.read(fd, 4096)
                received += chunk
                want = bytes([0x00, radio_address, 0x00])
                if any(f.startswith(want) and len(f) == 9 for f in frames(chunk)[0]):
                    broadcasts += 1
            found, stray = frames(received)
            checks.expect(stray == 0, "%d bytes outside whole frames reached the other program"
                          % stray)
            for f in found:
                # Nothing addressed to the program, and nothing it sent.
                checks.expect(f[0] != DRIVER_ADDRESS and f[1] != DRIVER_ADDRESS,
                              "the other program got the program's traffic: %s" % f.hex(" "))
            print("%s: %d of %d broadcasts reached the other program"
                  % (args.radio, broadcasts, len(moves)), flush=True)
            if args.min_broadcasts is not None:
                checks.expect(broadcasts >= args.min_broadcasts,
                              "only %d of %d broadcasts reached the other program"
                              % (broadcasts, len(moves)))
            reports_consistent(rig, checks)
        finally:
            os.close(fd)
    return checks.finish()


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("scenario", choices=["share", "transceive"])
    parser.add_argument("--bin", required=True, help="folder with velalog-cat and velalog-radiosim")
    parser.add_argument("--radio", required=True, choices=v.RADIOS)
    parser.add_argument("--baud", type=int, default=38400)
    parser.add_argument("--reads", type=int, default=4)
    parser.add_argument("--client", choices=["rigctl", "rigctld"], default="rigctl")
    parser.add_argument("--ack", choices=["0", "1"], help="simulator acknowledges set commands")
    parser.add_argument("--hamlib-timeout-ms", type=int, default=0,
                        help="rigctld's reply time-out instead of the radio's default")
    parser.add_argument("--answer-delay-ms", type=int, default=0,
                        help="share: the radio answers this long after the command")
    parser.add_argument("--stall-ms", type=int, default=0,
                        help="share: freeze the program this long, now and then")
    parser.add_argument("--min-broadcasts", type=int,
                        help="transceive: broadcasts that must reach the other program")
    parser.add_argument("--program-transceive", choices=["auto", "off"], default="auto",
                        help="transceive: the program follows the radio's reports, or polls")
    args = parser.parse_args()
    args.reads = max(1, min(args.reads, len(v.FREQUENCIES) - 1))
    if not v.have_tools():
        print("socat, rigctl or rigctld is not installed: skipped")
        return SKIP
    for tool in ("velalog-cat", "velalog-radiosim"):
        if not os.access(os.path.join(args.bin, tool), os.X_OK):
            print("%s is not built in %s" % (tool, args.bin))
            return 1
    if args.scenario == "transceive" and args.radio not in ICOM_ADDRESS:
        parser.error("transceive needs an Icom radio")
    try:
        return run_share(args) if args.scenario == "share" else run_transceive(args)
    except v.RigError as e:
        print("FAIL: %s" % e, flush=True)
        return 1


if __name__ == "__main__":
    sys.exit(main())
