#!/usr/bin/env python3
"""Thread wake-ups and CPU per radio command: velalog-cat beside rigctld.

Two simulated radios of the same kind at the same baud rate run side by side
in one run: velalog-cat polls the first, Hamlib's rigctld (its cache off)
holds the second and a client here asks it "f" every 50 ms, as a program
sharing the radio through rigctld would. Over a window at rest the script
counts, for every thread of both processes, its context switches (voluntary
and not: each is a wake-up, or a preemption of a thread that was awake) and
its CPU time (the scheduler's running time), and the commands each simulator
received. Prints one line per figure:

    commands PROGRAM PER_S                      radio commands a second
    wakeups PROGRAM PER_COMMAND                 all threads, per radio command
    thread PROGRAM NAME PER_COMMAND             one thread (velalog-cat's are named)
    cpu PROGRAM MILLI_PERCENT_PER_COMMAND       CPU % of one core per command a second, x 1000
    ratio CPU_RATIO                             velalog-cat's CPU per command / rigctld's

Several windows are measured, alternating which process's window comes
first is of no matter (both run through every window); each figure is the
median over the windows. Every process started here is ended by its own
process id before the script returns.
"""

import argparse
import os
import shutil
import socket
import statistics
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tests", "virtualcat"))
import vcat_rig as v  # noqa: E402

ASK_S = 0.050  # the client's pace: one "f" every 50 ms


def threads(pid):
    """{tid: (name, context switches, cpu ns)} of the process's live threads."""
    out = {}
    try:
        tasks = os.listdir("/proc/%d/task" % pid)
    except OSError:
        return out
    for tid in tasks:
        base = "/proc/%d/task/%s/" % (pid, tid)
        try:
            with open(base + "comm") as f:
                name = f.read().strip()
            switches = 0
            with open(base + "status") as f:
                for line in f:
                    if line.startswith(("voluntary_ctxt_switches", "nonvoluntary_ctxt_switches")):
                        switches += int(line.split()[1])
            with open(base + "schedstat") as f:
                cpu = int(f.read().split()[0])
        except OSError:
            continue
        out[int(tid)] = (name, switches, cpu)
    return out


def thread_label(pid, tid, name):
    return "main" if tid == pid else name


def delta(before, after, pid):
    """(per-thread switches {label: n}, total switches, cpu seconds) between two samples."""
    per, total, cpu = {}, 0, 0
    for tid, (name, sw, ns) in after.items():
        s0, c0 = (before[tid][1], before[tid][2]) if tid in before else (0, 0)
        label = thread_label(pid, tid, name)
        per[label] = per.get(label, 0) + sw - s0
        total += sw - s0
        cpu += ns - c0
    return per, total, cpu / 1e9


class Asker(threading.Thread):
    """Asks rigctld "f" every ASK_S seconds, as a client program would."""

    def __init__(self, daemon):
        super().__init__(daemon=True)
        self.rigctld = daemon
        self.stop = threading.Event()
        self.answers = 0

    def run(self):
        next_ask = time.monotonic()
        while not self.stop.is_set():
            got, _ = self.rigctld.query("f")
            if got is not None:
                self.answers += 1
            next_ask += ASK_S
            self.stop.wait(max(0.0, next_ask - time.monotonic()))


def count_commands(sim):
    return sum(1 for line in list(sim.lines) if line.startswith("cmd "))


def measure(bindir, radio, baud, windows, seconds):
    folder = tempfile.mkdtemp(prefix="vela-wake-")
    procs = []
    asker = None
    try:
        sims = {}
        for who in ("velalog-cat", "rigctld"):
            link = os.path.join(folder, "radio-" + who)
            sim = v.Proc([os.path.join(bindir, "velalog-radiosim"), "--radio", radio, "--link",
                          link, "--freq", "14074000", "--mode", "usb", "--baud", str(baud)],
                         name="radiosim-" + who)
            procs.append(sim)
            if not sim.wait_line(lambda l, link=link: l == "ready " + link):
                raise v.RigError("simulator did not start")
            sims[who] = (sim, link)
        cat = v.Proc([os.path.join(bindir, "velalog-cat"), "--radio", radio, "--device",
                      sims["velalog-cat"][1], "--baud", str(baud)])
        procs.append(cat)
        if not cat.wait_line(lambda l: v.Rig.rx_frequency(l) == v.frequency_text(14074000)):
            raise v.RigError("velalog-cat reported nothing")
        daemon = v.Rigctld(radio, sims["rigctld"][1], baud, ["--set-conf=cache_timeout=0"])
        asker = Asker(daemon)
        asker.start()
        pids = {"velalog-cat": cat.proc.pid, "rigctld": daemon.proc.proc.pid}
        time.sleep(2.0)  # both at their pace
        rows = []
        for _ in range(windows):
            before = {who: threads(pid) for who, pid in pids.items()}
            cmds0 = {who: count_commands(s) for who, (s, _) in sims.items()}
            t0 = time.monotonic()
            time.sleep(seconds)
            t1 = time.monotonic()
            after = {who: threads(pid) for who, pid in pids.items()}
            cmds1 = {who: count_commands(s) for who, (s, _) in sims.items()}
            row = {}
            for who, pid in pids.items():
                per, total, cpu = delta(before[who], after[who], pid)
                n = max(cmds1[who] - cmds0[who], 1)
                rate = n / (t1 - t0)
                cpu_pct = 100.0 * cpu / (t1 - t0)
                row[who] = {"rate": rate, "wakeups": total / n,
                            "threads": {k: x / n for k, x in per.items()},
                            "cpu": 1000.0 * cpu_pct / rate}
            rows.append(row)
        asker.stop.set()
        asker.join(timeout=5)
        daemon.close()
        return rows
    finally:
        if asker:
            asker.stop.set()
        for p in reversed(procs):
            p.stop(quit_line="quit" if p.name.startswith(("radiosim", "velalog-cat")) else None)
        shutil.rmtree(folder, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--bin", default="build/bin",
                        help="folder with velalog-cat and velalog-radiosim (default build/bin)")
    parser.add_argument("--radio", default="ft950", choices=v.RADIOS)
    parser.add_argument("--baud", type=int, default=4800)
    parser.add_argument("--windows", type=int, default=3, help="measuring windows (default 3)")
    parser.add_argument("--seconds", type=float, default=10.0,
                        help="length of one window (default 10)")
    args = parser.parse_args()
    if not shutil.which("rigctld"):
        print("bench_wakeups: rigctld is needed", file=sys.stderr)
        return 2
    rows = measure(args.bin, args.radio, args.baud, max(1, args.windows), args.seconds)
    med = lambda who, key: statistics.median(r[who][key] for r in rows)  # noqa: E731
    for who in ("velalog-cat", "rigctld"):
        print("commands %s %.1f" % (who, med(who, "rate")))
        print("wakeups %s %.2f" % (who, med(who, "wakeups")))
        names = sorted({k for r in rows for k in r[who]["threads"]})
        for name in names:
            print("thread %s %s %.2f" % (who, name.replace(" ", "_"),
                                         statistics.median(r[who]["threads"].get(name, 0.0)
                                                           for r in rows)))
        print("cpu %s %.1f" % (who, med(who, "cpu")))
    ratios = [r["velalog-cat"]["cpu"] / r["rigctld"]["cpu"] for r in rows if r["rigctld"]["cpu"] > 0]
    print("ratio %.2f" % (statistics.median(ratios) if ratios else float("nan")))
    return 0


if __name__ == "__main__":
    sys.exit(main())
