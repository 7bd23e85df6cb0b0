#!/usr/bin/env python3
"""velalog-cat --contacts over real UDP on 127.0.0.1: a contact sent as WSJT-X
sends it (type 5 and type 12, by demo/send_contact.py) prints one contact line
in the page's texts with its further fields; a plain ADIF record prints one too;
a call that is no call is refused in words, and --trace counts what was read.
velalog-cat --contacts-file alone (no --contacts, no --radio) prints each
record appended to a log file once, and nothing again after a restart.
With a radio, velalog-cat prints the station's contacts: one held for its
ADIF when velalog-cat is told to quit is printed and journalled before it
ends.

Exit codes: 0 passed, 1 failed, 77 skipped (velalog-cat not built)."""

import argparse
import datetime
import os
import select
import signal
import socket
import subprocess
import sys
import tempfile
import time

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
sys.path.insert(0, os.path.join(ROOT, "demo"))
import send_contact  # noqa: E402  (the demo's WSJT-X datagrams)


def read_fields(stream, deadline):
    line = b""
    while not line.endswith(b"\n") and time.monotonic() < deadline:
        if select.select([stream], [], [], 0.2)[0]:
            byte = os.read(stream.fileno(), 1)
            if not byte:
                break
            line += byte
    return line.decode("utf-8", "replace").rstrip("\n").split("\t")


RECORD = ("<call:6>{call} <qso_date:8>20261207 <time_on:6>225750 <band:3>40m "
          "<freq:8>7.075500 <mode:3>FT8 <eor>\n")


def follow_file(exe, folder, log, append, marker):
    """Runs velalog-cat on the log file, appends to it once the file is
    followed, and gives the contact lines printed until one more comes or the
    time is up."""
    proc = subprocess.Popen([exe, "--ini", os.path.join(folder, "VelaLog.ini"),
                             "--contacts-file", log],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    deadline = time.monotonic() + 30
    lines = []
    try:
        first = read_fields(proc.stdout, deadline)
        lines.append(first)
        with open(log, "a") as f:
            f.write(append)
        # A marker record after the appended ones: everything before it has
        # been printed once it shows.
        with open(log, "a") as f:
            f.write(RECORD.format(call=marker))
        while time.monotonic() < deadline:
            fields = read_fields(proc.stdout, deadline)
            lines.append(fields)
            if fields[:2] == ["contact", marker]:
                break
    finally:
        proc.send_signal(signal.SIGTERM)
        proc.wait(timeout=30)
    return first, lines


def check_files(exe):
    with tempfile.TemporaryDirectory() as folder:
        log = os.path.join(folder, "wsjtx_log.adi")
        with open(log, "w") as f:
            f.write("ADIF export <eoh>\n" + RECORD.format(call="OLD1AB"))
        first, lines = follow_file(exe, folder, log, RECORD.format(call="DL1ABC"), "MARK1X")
        calls = [l[1] for l in lines if l[:1] == ["contact"]]
        # Appended while velalog-cat was not running: a contact at the restart.
        with open(log, "a") as f:
            f.write(RECORD.format(call="K2XYZ").replace("225750", "230500"))
        _, again = follow_file(exe, folder, log, "", "MARK2X")
        again_calls = [l[1] for l in again if l[:1] == ["contact"]]
    return [
        (first == ["contacts-file", log], "the file followed is named: %r" % first),
        (calls == ["DL1ABC", "MARK1X"], "each appended record once, none older: %r" % calls),
        (again_calls == ["K2XYZ", "MARK2X"],
         "a restart hands on only what was appended since: %r" % again_calls),
    ]


def check_quit_with_held(exe):
    """A pair from one program, then a "contact logged" alone, and quit while
    that one waits for its ADIF: it is printed and journalled all the same."""
    with tempfile.TemporaryDirectory() as folder, socket.socket() as nobody:
        nobody.bind(("127.0.0.1", 0))  # a rigctld radio that never answers
        ini = os.path.join(folder, "VelaLog.ini")
        held = os.path.join(folder, "VelaLog-contacts-held.adi")
        proc = subprocess.Popen([exe, "--radio", "rigctld", "--rigctld-host",
                                 "127.0.0.1:%d" % nobody.getsockname()[1], "--ini", ini,
                                 "--contacts", "127.0.0.1:0"],
                                stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 30
        lines = []
        try:
            fields = read_fields(proc.stdout, deadline)
            while fields[0] != "contacts" and time.monotonic() < deadline:
                fields = read_fields(proc.stdout, deadline)
            to = ("127.0.0.1", int(fields[-1]))
            off = datetime.datetime.now(datetime.timezone.utc).replace(microsecond=0)
            on = off - datetime.timedelta(minutes=1)
            with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
                s.sendto(send_contact.contact_logged("DL1AAA", 7075500, "FT8", on, off), to)
                s.sendto(send_contact.logged_adif("DL1AAA", 7075500, "FT8", on, off), to)
                lines.append(read_fields(proc.stdout, deadline))
                s.sendto(send_contact.contact_logged("G4BBB", 7075500, "FT8", on, off), to)
            while not os.path.exists(held) and time.monotonic() < deadline:
                time.sleep(0.05)
            proc.stdin.write(b"quit\n")
            proc.stdin.flush()
            code = proc.wait(timeout=30)
            while True:
                fields = read_fields(proc.stdout, deadline)
                if fields == [""]:
                    break
                lines.append(fields)
        finally:
            if proc.poll() is None:
                proc.kill()
                proc.wait()
        calls = [l[1] for l in lines if l[:1] == ["contact"]]
        journal_path = os.path.join(folder, "VelaLog-contacts.adi")
        journal = open(journal_path, "rb").read() if os.path.exists(journal_path) else b""
        held_left = os.path.exists(held)
    return [
        (calls == ["DL1AAA", "G4BBB"], "the held contact is printed at quit: %r" % calls),
        (b"<call:5>G4BBB" in journal, "the held contact is journalled at quit"),
        (not held_left, "nothing is left held"),
        (code == 0, "quit ends with status 0 (got %r)" % code),
    ]


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--bin", required=True)
    exe = os.path.join(parser.parse_args().bin, "velalog-cat")
    if not os.access(exe, os.X_OK):
        print("skipped: velalog-cat not built")
        return 77
    proc = subprocess.Popen([exe, "--contacts", "127.0.0.1:0", "--trace"],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    deadline = time.monotonic() + 30
    try:
        port = int(read_fields(proc.stdout, deadline)[-1])
        subprocess.run([sys.executable, os.path.join(ROOT, "demo", "send_contact.py"), "DL1ABC",
                        "--freq", "7075500", "--to", "127.0.0.1:%d" % port], check=True)
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
            s.sendto(b"<call:5>G4XYZ <freq:6>3.5731 <mode:2>CW <qso_date:8>20261207 "
                     b"<time_on:4>2301 <eor>", ("127.0.0.1", port))
        lines = [read_fields(proc.stdout, deadline), read_fields(proc.stdout, deadline)]
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
            s.sendto(b"<call:6>K1 ABC <eor>", ("127.0.0.1", port))
        notes = []
        while time.monotonic() < deadline and not any("refused 1" in n for n in notes):
            notes.append("\t".join(read_fields(proc.stderr, deadline)))
    finally:
        proc.send_signal(signal.SIGTERM)
        code = proc.wait(timeout=30)
    one, two = lines
    checks = [
        (one[:5] == ["contact", "DL1ABC", "40m", "7.0755", "Digi"] and len(one[5]) == 10
         and len(one[6]) == 5, "type 5 and 12 print once: %r" % one),
        ("rst_sent=-10" in one and "gridsquare=JO62" in one, "with the further fields"),
        (two == ["contact", "G4XYZ", "80m", "3.5731", "CW", "2026-12-07", "23:01", "mode=CW"],
         "plain ADIF: %r" % two),
        (any(n.startswith("# contacts refused: a call that is no call") for n in notes),
         "a call that is no call is refused: %r" % notes),
        ("# contacts read 4 ignored 0 unreadable 0 refused 1 dropped 0" in notes,
         "--trace counts: %r" % notes),
        (code == 0, "ends on SIGTERM with status 0 (got %r)" % code),
    ] + check_files(exe) + check_quit_with_held(exe)
    for ok, what in checks:
        print(("ok   " if ok else "FAIL ") + what)
    failed = sum(1 for ok, _ in checks if not ok)
    print("%d passed, %d failed" % (len(checks) - failed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
