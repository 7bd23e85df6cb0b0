#!/usr/bin/env python3
"""The radio shared over Hamlib's network protocol, end to end:

    velalog-radiosim (pty)  <->  velalog-cat --rigctld 0  <->  rigctl -m 2 (TCP)

"read": f, F (read back at once), m, M PKTUSB -1, the extended +f, three
clients at once, and polling clients add no commands on the radio's line.
"ptt": T 1 / t / T 0 through one long-lived "rigctl -" session; refused
without permission; released when the keying client is killed and when the
program quits.
"order": F, M, T 1 reach the radio in that order, one by one and in one
write; a frequency outside the radio's range is refused with nothing sent.
"burst": a hundred F a second keep neither the polls off the line nor make
the link silent.
"restart": a program killed while a client held PTT; the next start
releases the transmitter and says so; a start with it not keyed sends no
release.

Exit codes: 0 passed, 1 failed, 77 skipped (a tool is missing)."""

import argparse
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "virtualcat"))
import vcat_rig as v  # noqa: E402


class Setup:
    """The simulator and velalog-cat sharing it; closed by close()."""

    def __init__(self, bin_dir, radio, baud, allow_ptt):
        self.folder = tempfile.mkdtemp(prefix="vela-share-")
        link = os.path.join(self.folder, "radio")
        self.sim = v.Proc([os.path.join(bin_dir, "velalog-radiosim"), "--radio", radio, "--link",
                           link, "--freq", "14074000", "--mode", "usb", "--baud", str(baud)])
        self.cat = None
        self.port = None
        if not self.sim.wait_line(lambda l: l == "ready " + link):
            raise v.RigError("simulator did not start: %s" % self.sim.stderr[-3:])
        self.argv = [os.path.join(bin_dir, "velalog-cat"), "--radio", radio, "--device", link,
                     "--baud", str(baud), "--rigctld", "0"] + (["--allow-ptt"] if allow_ptt else [])
        self.start_cat()

    def start_cat(self):
        self.cat = v.Proc(self.argv)
        line = self.cat.wait_line(lambda l: l.startswith("rigctld\t"))
        if not line:
            raise v.RigError("velalog-cat did not listen: %s" % self.cat.stderr[-3:])
        self.port = int(line.split("\t")[2])
        if not self.cat.wait_line(lambda l: l.startswith("rx\t") and "14.0740" in l):
            raise v.RigError("velalog-cat did not report the radio")

    def rigctl(self, *args, errors=False):
        """(exit code, output lines[, standard error]); rigctl exits 0 after a refusal."""
        p = subprocess.run(["rigctl", "-m", "2", "-r", "127.0.0.1:%d" % self.port] + list(args),
                           capture_output=True, text=True, timeout=v.GENEROUS)
        out = p.stdout.strip().splitlines()
        return (p.returncode, out, p.stderr) if errors else (p.returncode, out)

    def session(self):
        """A long-lived rigctl reading commands from its standard input."""
        return v.Proc(["rigctl", "-m", "2", "-r", "127.0.0.1:%d" % self.port, "-"])

    def close(self):
        if self.cat:
            self.cat.stop(quit_line="quit")
        self.sim.stop(quit_line="quit")
        shutil.rmtree(self.folder, ignore_errors=True)


def raw_query(port, line, lines):
    with socket.create_connection(("127.0.0.1", port), timeout=v.GENEROUS) as s:
        s.sendall((line + "\n").encode())
        data = b""
        while data.count(b"\n") < lines:
            chunk = s.recv(4096)
            if not chunk:
                break
            data += chunk
        return data.decode()


def eventually(check, timeout=v.GENEROUS):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        if check():
            return True
        time.sleep(0.1)
    return False


def commands(sim):
    return sum(1 for l in sim.lines if l.startswith("cmd "))


def test_read(args, expect):
    s = Setup(args.bin, args.radio, args.baud, allow_ptt=False)
    try:
        expect(s.rigctl("f") == (0, ["14074000"]), "f: %r" % (s.rigctl("f"),))
        rc, out = s.rigctl("m")
        expect(rc == 0 and out[:1] == ["USB"] and len(out) == 2, "m: %r" % out)
        # A set read back at once gives the requested value, then the radio's.
        rc, out = s.rigctl("F", "7074000", "f")
        expect(rc == 0 and out == ["7074000"], "F then f: %r" % out)
        expect(s.sim.wait_line(lambda l: l == "freq 7074000") is not None, "F did not tune")
        expect(eventually(lambda: s.rigctl("f") == (0, ["7074000"])), "f after F")
        rc, out, err = s.rigctl("M", "PKTUSB", "-1", errors=True)
        if args.data_mode:
            expect(rc == 0, "M PKTUSB -1 failed: %r" % out)
            expect(s.sim.wait_line(lambda l: l.startswith("mode ") and l != "mode usb")
                   is not None, "M PKTUSB did not reach the radio")
        else:
            said = "\n".join(out) + err  # rigctl prints its refusals on either stream
            expect("Feature not available" in said, "M PKTUSB accepted without a data mode")
        # A resolution probe as WSJT-X makes one: the value read back at once
        # is the one the radio then reports.
        rc, probe = s.rigctl("F", "14074055", "f")
        expect(rc == 0 and eventually(lambda: s.rigctl("f") == (0, probe)),
               "F 14074055 read back %r, the radio then %r" % (probe, s.rigctl("f")))
        s.sim.drain()
        s.rigctl("F", "7074000")
        expect(s.sim.wait_line(lambda l: l == "freq 7074000") is not None, "F 7074000 lost")
        expect(eventually(lambda: s.rigctl("f") == (0, ["7074000"])), "back to 7074000")
        ext = raw_query(s.port, "+f", 3)
        expect(ext == "get_freq:\nFrequency: 7074000\nRPRT 0\n", "+f: %r" % ext)

        # Three clients at once, each answered right.
        results = []

        def one():
            results.append(s.rigctl("f", "m"))
        threads = [threading.Thread(target=one) for _ in range(3)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        expect(len(results) == 3 and all(r[0] == 0 and r[1][:1] == ["7074000"] for r in results),
               "three clients: %r" % results)

        # Polling clients are answered from the driver's values: the radio's
        # line carries the driver's polls and nothing else.
        # The driver's polls, learnt over several whole rotations (a radio
        # may poll some values only every few cycles).
        mark = len(s.sim.lines)

        def seen():
            return [l for l in s.sim.lines[mark:] if l.startswith("cmd ")]
        expect(eventually(lambda: len(seen()) >= 12), "polling stalled")
        polls = set(seen())
        before = len(s.sim.lines)
        for _ in range(5):
            s.rigctl("f", "m", "s", "v")
        extra = set(l for l in s.sim.lines[before:] if l.startswith("cmd ")) - polls
        expect(not extra, "clients' reads reached the radio: %r" % sorted(extra))

        # A thousand connections opened and dropped, some mid-line: the
        # server still answers and the radio is still polled.
        for i in range(1000):
            with socket.create_connection(("127.0.0.1", s.port), timeout=v.GENEROUS) as c:
                if i % 3 == 0:
                    c.sendall(b"\\dump_st")
        polled = commands(s.sim)
        got = s.rigctl("f")
        expect(got == (0, ["7074000"]), "f after many connections: %r" % (got,))
        expect(eventually(lambda: commands(s.sim) > polled), "polling stalled")
    finally:
        s.close()


def test_ptt(args, expect):
    s = Setup(args.bin, args.radio, args.baud, allow_ptt=True)
    try:
        rig = s.session()
        rig.send("T 1")
        expect(s.sim.wait_line(lambda l: l == "ptt 1") is not None, "T 1 did not key")
        rig.send("t")
        expect(rig.wait_line(lambda l: l.strip().endswith("1")) is not None, "t did not read 1")
        rig.send("T 0")
        expect(s.sim.wait_line(lambda l: l == "ptt 0") is not None, "T 0 did not release")
        # The keying client killed: released.
        rig.send("T 1")
        expect(s.sim.wait_line(lambda l: l == "ptt 1") is not None, "second T 1 did not key")
        rig.proc.kill()
        expect(s.sim.wait_line(lambda l: l == "ptt 0") is not None,
               "a killed keyer left the transmitter keyed")
        rig.stop()
        # The program quitting: released.
        rig = s.session()
        rig.send("T 1")
        expect(s.sim.wait_line(lambda l: l == "ptt 1") is not None, "third T 1 did not key")
        s.cat.stop(quit_line="quit")
        expect(s.sim.wait_line(lambda l: l == "ptt 0") is not None,
               "quitting left the transmitter keyed")
        rig.stop()
    finally:
        s.close()

    s = Setup(args.bin, args.radio, args.baud, allow_ptt=False)
    try:
        rig = s.session()
        rig.send("T 1")
        rig.send("t")
        expect(rig.wait_line(lambda l: l.strip().endswith("0")) is not None,
               "t without permission did not read 0")
        expect(not any(l == "ptt 1" for l in s.sim.lines), "keyed without permission")
        rig.stop(quit_line="q")
    finally:
        s.close()


def radio_events(sim, mark):
    """The simulator's frequency, mode and PTT changes since mark, in order."""
    return [l for l in sim.lines[mark:] if l.split(" ")[0] in ("freq", "mode", "ptt")]


def test_order(args, expect):
    s = Setup(args.bin, args.radio, args.baud, allow_ptt=True)
    try:
        # One by one, each answered before the next (as WSJT-X does), and
        # then all three in one write: the key comes last both times.
        for hz, mode, together in ((14076000, "PKTUSB", False), (7074000, "USB", True)):
            mark = len(s.sim.lines)
            lines = ["F %d" % hz, "M %s 0" % mode, "T 1"]
            if together:
                raw_query(s.port, "\n".join(lines), 3)
            else:
                with socket.create_connection(("127.0.0.1", s.port), timeout=v.GENEROUS) as c:
                    for line in lines:
                        c.sendall((line + "\n").encode())
                        expect(v.read_line(c) == "RPRT 0", "%s not taken" % line)
            expect(s.sim.wait_line(lambda l: l == "ptt 1") is not None, "T 1 did not key")
            seen = radio_events(s.sim, mark)
            kinds = [l.split(" ")[0] for l in seen]
            expect("freq" in kinds and "mode" in kinds and kinds[-1] == "ptt"
                   and kinds.index("freq") < kinds.index("mode"),
                   "order on the radio (together=%s): %r" % (together, seen))
            raw_query(s.port, "T 0", 1)
            expect(s.sim.wait_line(lambda l: l == "ptt 0") is not None, "T 0 did not release")
        # Outside the radio's range: refused as an invalid argument, and the
        # radio hears nothing of it.
        mark = len(s.sim.lines)
        expect(raw_query(s.port, "F 99990000", 1) == "RPRT -1\n", "F 99990000 taken")
        s.rigctl("F", "7075000")
        expect(s.sim.wait_line(lambda l: l == "freq 7075000") is not None, "F 7075000 lost")
        expect(not any(l.startswith("freq 9999") for l in s.sim.lines[mark:]),
               "an out-of-range frequency reached the radio")
    finally:
        s.close()


def test_burst(args, expect):
    s = Setup(args.bin, args.radio, args.baud, allow_ptt=False)
    try:
        mark = len(s.sim.lines)
        answers = []
        with socket.create_connection(("127.0.0.1", s.port), timeout=v.GENEROUS) as c:
            def reader():
                with c.makefile("rb") as lines:
                    while len(answers) < 300:
                        line = lines.readline()
                        if not line:
                            return
                        answers.append(line.decode().strip())
            t = threading.Thread(target=reader, daemon=True)
            t.start()
            # Three seconds of a client tuning a hundred times a second.
            for i in range(300):
                c.sendall(b"F %d\n" % (14070000 + 10 * (i % 50)))
                time.sleep(0.01)
            t.join(v.GENEROUS)
        expect(len(answers) == 300 and all(a == "RPRT 0" for a in answers),
               "answers: %d, %r" % (len(answers), sorted(set(answers))))
        # The burst's last frequency reaches the radio, and the radio kept
        # being read throughout.
        expect(s.sim.wait_line(lambda l: l == "freq 14070490") is not None, "last F lost")
        sets = [l for l in s.sim.lines[mark:] if l.startswith("cmd ")]
        polls = [l for l in sets if "FA1407" not in l]
        expect(len(polls) >= 2, "no polls during the burst: %d commands" % len(sets))
        expect(not any("# link radio silent" in l for l in s.cat.stderr),
               "the link went silent: %r" % [l for l in s.cat.stderr if "silent" in l])
    finally:
        s.close()


def test_restart(args, expect):
    s = Setup(args.bin, args.radio, args.baud, allow_ptt=True)
    try:
        rig = s.session()
        rig.send("T 1")
        expect(s.sim.wait_line(lambda l: l == "ptt 1") is not None, "T 1 did not key")
        s.cat.proc.kill()  # no release: the way a crash leaves it
        s.cat.proc.wait()
        rig.stop()
        expect(not any(l == "ptt 0" for l in s.sim.lines), "released by a killed program")
        s.cat.stop()
        s.start_cat()
        expect(s.sim.wait_line(lambda l: l == "ptt 0") is not None,
               "the restarted program left the transmitter keyed")
        expect(v.wait_for(lambda: any(l == "# note released a transmitter left keyed"
                                      for l in s.cat.stderr)),
               "no note of the release: %r" % s.cat.stderr[-5:])
        expect(s.rigctl("t") == (0, ["0"]), "t after the restart: %r" % (s.rigctl("t"),))
        if args.radio == "ft950":
            # Started again with the transmitter not keyed: asked, not released.
            s.cat.stop(quit_line="quit")
            mark = len(s.sim.lines)
            s.start_cat()
            expect(v.wait_for(lambda: sum(1 for l in s.sim.lines[mark:]
                                          if l == "cmd IF;") >= 5), "polling stalled")
            cmds = [l for l in s.sim.lines[mark:] if l.startswith("cmd ")]
            expect("cmd TX;" in cmds and "cmd TX0;" not in cmds, "a second start sent %r" % cmds)
    finally:
        s.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("what", choices=["read", "ptt", "order", "burst", "restart"])
    parser.add_argument("--bin", required=True)
    parser.add_argument("--radio", required=True)
    parser.add_argument("--baud", type=int, default=9600)
    parser.add_argument("--data-mode", action="store_true")
    args = parser.parse_args()
    if not shutil.which("rigctl"):
        print("skipped: rigctl (libhamlib-utils) is not installed")
        return 77
    checks = v.Checks("%s %s" % (args.what, args.radio))
    expect = checks.expect

    try:
        {"read": test_read, "ptt": test_ptt, "order": test_order, "burst": test_burst,
         "restart": test_restart}[args.what](args, expect)
    except v.RigError as e:
        expect(False, str(e))
    return checks.finish()


if __name__ == "__main__":
    sys.exit(main())
