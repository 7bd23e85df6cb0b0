#!/usr/bin/env python3
"""A radio that sends its replies in pieces with pauses (a slow interface, a
radio that pauses inside a reply), shorter than the line's quiet time:
velalog-cat reports every dial change with the right value, never a value
made of two replies, and once it knows the reply's length (after its first
reports) its replies reach the driver whole, in one block (the --trace
lines of what was read). A loaded machine may wake the worker late, and a
reply late past its quiet time is handed on in pieces (the driver puts
them together): most replies, not every one, must come in one block.

Exit codes: 0 passed, 1 failed, 77 skipped (a tool is missing)."""

import argparse
import os
import shutil
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "virtualcat"))
import vcat_rig as v  # noqa: E402

# Radio -> (reply length in bytes, whether the trace shows it in hex).
REPLIES = {"ft950": (27, False), "ft100d": (32, True), "flex": (41, False)}
FREQUENCIES = (7074000, 21074000, 3573000, 14080000, 28074000)


def read_blocks(stderr_lines):
    """The blocks read from the radio, as --trace printed them, in order."""
    blocks = []
    for line in stderr_lines:
        if line.startswith("# trace ") and " < " in line:
            blocks.append(line.split(" < ", 1)[1])
    return blocks


def whole(block, length, hexed):
    """The block is one or more whole replies."""
    if hexed:
        count = len(block.split())
        return count > 0 and count % length == 0
    return len(block) > 0 and len(block) % length == 0 and block.endswith(";")


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--bin", required=True)
    parser.add_argument("--radio", required=True, choices=sorted(REPLIES))
    parser.add_argument("--baud", type=int, default=4800)
    parser.add_argument("--pieces", default="4:8", help="BYTES:MS, as velalog-radiosim takes it")
    args = parser.parse_args()
    for tool in ("velalog-cat", "velalog-radiosim"):
        if not os.access(os.path.join(args.bin, tool), os.X_OK):
            print("skipped: %s not built" % tool)
            return 77
    length, hexed = REPLIES[args.radio]
    checks = v.Checks("%s in pieces %s" % (args.radio, args.pieces))
    expect = checks.expect

    folder = tempfile.mkdtemp(prefix="vela-pieces-")
    link = os.path.join(folder, "radio")
    sim = v.Proc([os.path.join(args.bin, "velalog-radiosim"), "--radio", args.radio, "--link", link,
                  "--freq", "14074000", "--mode", "usb", "--baud", str(args.baud),
                  "--pieces", args.pieces])
    cat = None
    had = {v.frequency_text(14074000)}
    learnt_at = None
    try:
        if not sim.wait_line(lambda l: l == "ready " + link):
            print("simulator did not start: %s" % sim.stderr[-3:])
            return 1
        cat = v.Proc([os.path.join(args.bin, "velalog-cat"), "--radio", args.radio,
                      "--device", link, "--baud", str(args.baud), "--trace"])

        def reported(hz):
            text = v.frequency_text(hz)
            return cat.wait_line(lambda l: v.Rig.rx_frequency(l) == text) is not None

        expect(reported(14074000), "no report of the start values")
        for i, hz in enumerate(FREQUENCIES):
            sim.send("freq %d" % hz)
            had.add(v.frequency_text(hz))
            expect(reported(hz), "no report after the dial moved to %d" % hz)
            if i == 1:
                # By now the reply's length is known.
                learnt_at = len(read_blocks(cat.stderr))
        # A few more replies at rest.
        v.wait_for(lambda: len(read_blocks(cat.stderr)) >= (learnt_at or 0) + 2 * len(FREQUENCIES))
    finally:
        if cat:
            cat.stop(quit_line="quit")
        sim.stop(quit_line="quit")
        shutil.rmtree(folder, ignore_errors=True)

    for line in cat.lines if cat else []:
        if line.startswith("rx\t"):
            expect(v.Rig.rx_frequency(line) in had, "a value the radio never had: %r" % line)
    blocks = read_blocks(cat.stderr if cat else [])[learnt_at or 0:]
    expect(len(blocks) >= len(FREQUENCIES), "too few replies traced: %d" % len(blocks))
    cut = [b for b in blocks if not whole(b, length, hexed)]
    expect(2 * len(cut) <= len(blocks), "%d of %d replies reached the driver in pieces, first %r"
           % (len(cut), len(blocks), cut[:1]))
    if cut:
        print("note: %d of %d replies came in pieces (a late wake-up)" % (len(cut), len(blocks)))
    return checks.finish()


if __name__ == "__main__":
    sys.exit(main())
