#!/usr/bin/env python3
"""Sends one contact to VELA Log as WSJT-X does when the operator logs it: a
"contact logged" message (type 5) and the same contact as ADIF (type 12), in
UDP datagrams to 127.0.0.1:2237 unless told otherwise.

  send_contact.py CALL [--freq HZ] [--mode FT8] [--to HOST:PORT]
"""

import argparse
import datetime
import socket
import struct

MAGIC = 0xADBCCBDA


def text(value):
    data = value.encode("utf-8")
    return struct.pack(">I", len(data)) + data


def date_time(moment):
    # Julian day number, milliseconds since midnight, time basis 1 (UTC).
    julian_day = moment.date().toordinal() + 1721425
    ms = ((moment.hour * 60 + moment.minute) * 60 + moment.second) * 1000
    return struct.pack(">qIB", julian_day, ms, 1)


def head(kind):
    return struct.pack(">III", MAGIC, 2, kind) + text("WSJT-X")


def contact_logged(call, hz, mode, on, off):
    return (head(5) + date_time(off) + text(call) + text("JO62") + struct.pack(">Q", hz)
            + text(mode) + text("-10") + text("-12") + text("5") + text("demo contact")
            + text("") + date_time(on) + text("") + text("N0CALL") + text("FN42")
            + text("") + text("") + text(""))


def logged_adif(call, hz, mode, on, off):
    fields = [("call", call), ("gridsquare", "JO62"), ("mode", mode), ("rst_sent", "-10"),
              ("rst_rcvd", "-12"), ("qso_date", on.strftime("%Y%m%d")),
              ("time_on", on.strftime("%H%M%S")), ("qso_date_off", off.strftime("%Y%m%d")),
              ("time_off", off.strftime("%H%M%S")), ("freq", "%.6f" % (hz / 1e6)),
              ("comment", "demo contact")]
    record = " ".join("<%s:%d>%s" % (n, len(v.encode("utf-8")), v) for n, v in fields)
    return head(12) + text("<adif_ver:5>3.1.0 <programid:6>WSJT-X <EOH> " + record + " <EOR>")


def main():
    ap = argparse.ArgumentParser(description=__doc__,
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("call")
    ap.add_argument("--freq", type=int, default=14075500, help="TX frequency in Hz")
    ap.add_argument("--mode", default="FT8")
    ap.add_argument("--to", default="127.0.0.1:2237", help="HOST:PORT")
    args = ap.parse_args()
    host, _, port = args.to.rpartition(":")
    off = datetime.datetime.now(datetime.timezone.utc).replace(microsecond=0)
    on = off - datetime.timedelta(minutes=1)
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        for datagram in (contact_logged(args.call, args.freq, args.mode, on, off),
                         logged_adif(args.call, args.freq, args.mode, on, off)):
            s.sendto(datagram, (host or "127.0.0.1", int(port)))


if __name__ == "__main__":
    main()
