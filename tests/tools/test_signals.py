#!/usr/bin/env python3
"""Every polite way out releases a keyed transmitter on the line: SIGTERM,
SIGINT and SIGHUP to velalog-cat and to velalog (under the display), each while
a network client holds the radio keyed. The release must reach the radio (the
simulator prints "ptt 0") and the program must end. With nothing keyed,
velalog-cat also ends on SIGTERM while a network client is connected and the
logbook API is on (posting to a logbook on 127.0.0.1, click-to-tune listening);
the time it took is printed, not judged (bench/ measures speed).

    velalog-radiosim (pty) <-> velalog-cat --rigctld | velalog [NetworkSharing] <-> T 1

Exit codes: 0 passed, 1 failed, 77 skipped (nothing to run it with)."""

import argparse
import os
import shutil
import signal
import socket
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "virtualcat"))
import vcat_rig as v  # noqa: E402

SIGNALS = {"TERM": signal.SIGTERM, "INT": signal.SIGINT, "HUP": signal.SIGHUP}


def ask(port, line, timeout=v.GENEROUS):
    """One line to the sharing server, its first answer line (None: no server)."""
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
            s.sendall((line + "\n").encode())
            return v.read_line(s)
    except OSError:
        return None


def start_program(program, bin_dir, folder, link, extra=()):
    """velalog-cat or velalog sharing the radio at link; (process, port)."""
    if program == "velalog-cat":
        proc = v.Proc([os.path.join(bin_dir, "velalog-cat"), "--radio", "ft950", "--device", link,
                       "--baud", "4800", "--rigctld", "0", "--allow-ptt"] + list(extra))
        line = proc.wait_line(lambda l: l.startswith("rigctld\t"))
        if not line:
            raise v.RigError("velalog-cat did not listen: %s" % proc.stderr[-3:])
        return proc, int(line.split("\t")[2])
    port = v.free_tcp_port()
    os.makedirs(os.path.join(folder, "ports"))
    os.symlink(link, os.path.join(folder, "ports", "com7"))
    ini = os.path.join(folder, "VelaLog.ini")
    with open(ini, "w") as f:
        f.write("[ServerSettings]\nServerAddress=about:blank\n"
                "[CommSettings]\nCommPort=7\nRadio=3\nBaudRate=6\n"
                "[NetworkSharing]\nEnabled=1\nPort=%d\nAllowPTT=1\n" % port)
    proc = v.Proc([os.path.join(bin_dir, "velalog"), "--settings", ini], stdin=False)
    return proc, port


def run(program, name, args, expect, book=None):
    """The signal while a network client holds the transmitter keyed; with a
    logbook (velalog-cat only), nothing keyed and the logbook API on."""
    folder = tempfile.mkdtemp(prefix="vela-signal-")
    link = os.path.join(folder, "radio")
    sim = v.Proc([os.path.join(args.bin, "velalog-radiosim"), "--radio", "ft950", "--link", link,
                  "--freq", "14074000", "--mode", "usb", "--baud", "4800"])
    proc = None
    what = "%s SIG%s%s" % (program, name, ", nothing keyed, logbook API on" if book else "")
    extra = ["--logbook-api", book.url, "--api-key", "wl123abc", "--tune-listen", "0"] \
        if book else []
    try:
        if not sim.wait_line(lambda l: l == "ready " + link):
            raise v.RigError("simulator did not start")
        proc, port = start_program(program, args.bin, folder, link, extra)
        # Live once the radio's frequency is answered.
        end = time.monotonic() + v.GENEROUS
        while ask(port, "f", 5) != "14074000" and time.monotonic() < end:
            time.sleep(0.2)
        with socket.create_connection(("127.0.0.1", port), timeout=v.GENEROUS) as client:
            if book:
                while not any("# logbook radio 200" in l for l in proc.stderr) and \
                        time.monotonic() < end:
                    time.sleep(0.05)
                expect(any("# logbook radio 200" in l for l in proc.stderr),
                       what + ": the logbook was not posted to")
            else:
                client.sendall(b"T 1\n")
                if not expect(sim.wait_line(lambda l: l == "ptt 1") is not None,
                              what + ": not keyed"):
                    return
            start = time.monotonic()
            proc.proc.send_signal(SIGNALS[name])
            try:
                proc.proc.wait(timeout=v.GENEROUS)
                ended = True
            except Exception:
                ended = False
            expect(ended, what + ": the program did not end")
            if ended and book:
                print("%s: ended %.3f s after the signal" % (what, time.monotonic() - start))
            if not book:
                expect(sim.wait_line(lambda l: l == "ptt 0", timeout=5) is not None,
                       what + ": the transmitter was left keyed")
    except v.RigError as e:
        expect(False, "%s: %s" % (what, e))
    finally:
        if proc:
            proc.stop()
        sim.stop(quit_line="quit")
        shutil.rmtree(folder, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--bin", required=True)
    parser.add_argument("--program", choices=["velalog-cat", "velalog"], action="append")
    args = parser.parse_args()
    programs = args.program or ["velalog-cat", "velalog"]
    if "velalog" in programs and (not os.environ.get("DISPLAY") or
                                  not os.access(os.path.join(args.bin, "velalog"), os.X_OK)):
        programs.remove("velalog")
    if not programs:
        print("skipped: no display for velalog")
        return 77
    checks = v.Checks("signals while keyed")
    if "velalog-cat" in programs:
        book = v.Logbook()
        run("velalog-cat", "TERM", args, checks.expect, book)
        book.close()
    for program in programs:
        for name in SIGNALS:
            run(program, name, args, checks.expect)
    return checks.finish()


if __name__ == "__main__":
    sys.exit(main())
