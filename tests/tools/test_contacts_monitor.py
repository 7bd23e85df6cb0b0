#!/usr/bin/env python3
"""velalog-cat --contacts over real UDP on 127.0.0.1: a contact sent as WSJT-X
sends it (type 5 and type 12, by demo/send_contact.py) prints one contact line
in the page's texts with its further fields, a plain ADIF record prints one
too, an unreadable datagram is reported on standard error, and a port another
program holds ends it with the hint.

Exit codes: 0 passed, 1 failed, 77 skipped (velalog-cat not built)."""

import argparse
import os
import select
import signal
import socket
import subprocess
import sys
import time

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
sys.path.insert(0, os.path.join(ROOT, "demo"))
import send_contact  # noqa: E402

GENEROUS = 30.0


def read_line(stream, deadline):
    line = b""
    while not line.endswith(b"\n") and time.monotonic() < deadline:
        ready, _, _ = select.select([stream], [], [], 0.2)
        if ready:
            byte = os.read(stream.fileno(), 1)
            if not byte:
                break
            line += byte
    return line.decode("utf-8", "replace").rstrip("\n")


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--bin", required=True)
    args = parser.parse_args()
    exe = os.path.join(args.bin, "velalog-cat")
    if not os.access(exe, os.X_OK):
        print("skipped: velalog-cat not built")
        return 77
    failures = []
    passes = []

    def expect(ok, what):
        print(("ok   " if ok else "FAIL ") + what)
        (passes if ok else failures).append(what)

    proc = subprocess.Popen([exe, "--contacts", "127.0.0.1:0"], stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE)
    try:
        deadline = time.monotonic() + GENEROUS
        first = read_line(proc.stdout, deadline).split("\t")
        expect(len(first) == 3 and first[0] == "contacts", "listening line: %r" % first)
        port = int(first[2])
        subprocess.run([sys.executable, os.path.join(ROOT, "demo", "send_contact.py"), "DL1ABC",
                        "--freq", "7075500", "--to", "127.0.0.1:%d" % port], check=True)
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
            s.sendto(b"not a contact", ("127.0.0.1", port))
            s.sendto(b"<call:5>G4XYZ <freq:6>3.5731 <mode:2>CW <qso_date:8>20261207 "
                     b"<time_on:4>2301 <rst_sent:3>599 <eor>", ("127.0.0.1", port))
        one = read_line(proc.stdout, deadline).split("\t")
        expect(one[:5] == ["contact", "DL1ABC", "40m", "7.0755", "Digi"]
               and len(one[5]) == 10 and len(one[6]) == 5, "type 5 and 12 once: %r" % one)
        expect("rst_sent=-10" in one and "gridsquare=JO62" in one and "mode=FT8" in one,
               "further fields of the contact")
        two = read_line(proc.stdout, deadline).split("\t")
        expect(two == ["contact", "G4XYZ", "80m", "3.5731", "CW", "2026-12-07", "23:01",
                       "mode=CW", "rst_sent=599"], "plain ADIF: %r" % two)
        problem = read_line(proc.stderr, deadline)
        expect(problem.startswith("# contacts unreadable: wrong magic"), "unreadable: %r" % problem)

        # The port is now held: a second listener on it ends with the hint.
        held = subprocess.run([exe, "--contacts", str(port)], capture_output=True, text=True,
                              timeout=GENEROUS)
        expect(held.returncode == 1 and "taken by another program" in held.stderr
               and "multicast" in held.stderr, "port taken: %r" % held.stderr)
    finally:
        proc.send_signal(signal.SIGTERM)
        try:
            code = proc.wait(timeout=GENEROUS)
        except subprocess.TimeoutExpired:
            proc.kill()
            code = None
    expect(code == 0, "ends on SIGTERM with status 0 (got %r)" % code)
    print("%d passed, %d failed" % (len(passes), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
