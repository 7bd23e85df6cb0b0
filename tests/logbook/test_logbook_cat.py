#!/usr/bin/env python3
"""velalog-cat serving a web logbook, end to end:

    velalog-radiosim (pty) <-> velalog-cat --logbook-api URL --tune-listen 0
                                   -> POST api/radio to a logbook on 127.0.0.1
                                   <- GET /{hz}/{mode} from a "browser"

The key is read from a private file (one others may read is refused, and so
is a key in the environment that no key can be); the radio's state reaches
the logbook under the radio name given; a click
tunes the radio (and the new state is posted); a bad path is refused; once the
radio is gone, clicks are answered 503. Only the logbook's own pages may
tune: a stranger's origin is refused. Against a logbook in Cloudlog's shape
(no api/version, notices before its JSON, a queue of radio commands) a
queued command tunes the radio and is reported COMPLETED once. Exit codes: 0 passed, 1 failed, 77
skipped (a tool is missing)."""

import argparse
import http.client
import http.server
import json
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "virtualcat"))
import vcat_rig as v  # noqa: E402


NOTICES = (b'<div style="border:1px solid #990000"><h4>A PHP Error was encountered</h4>'
           b'<p>Message:  Creation of dynamic property CI_Cache::$file is deprecated</p></div>\n')


class Cloudlog:
    """Answers as Cloudlog does: api/version 404, notices before the JSON, and
    a queue of radio commands that the program polls and reports."""

    def __init__(self):
        self.commands = []  # dicts as listed
        self.reports = []   # (id, status)
        self.polled = []    # paths of the polls
        self.radio = []     # radio posts
        outer = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def log_message(self, *args):
                pass

            def answer(self, status, body, content_type="text/html"):
                self.send_response(status)
                self.send_header("Content-Type", content_type)
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

            def do_GET(self):
                if "/api/radio_commands_pending_by_name/" in self.path:
                    outer.polled.append(self.path)
                    pending = [c for c in outer.commands if c["status"] == "PENDING"]
                    body = json.dumps({"status": "success", "commands": pending,
                                       "count": len(pending)}).encode()
                    self.answer(200, NOTICES + body)
                elif "/api/station_info/" in self.path:
                    self.answer(200, b'[{"station_id":"1","station_profile_name":"Boston",'
                                b'"station_active":"1"}]', "application/json")
                else:
                    self.answer(404, b"<html>404 Page Not Found</html>")

            def do_POST(self):
                body = self.rfile.read(int(self.headers.get("Content-Length", 0)))
                data = json.loads(body or b"{}")
                if "/api/radio_commands_update_status/" in self.path:
                    outer.reports.append((data.get("command_id"), data.get("status")))
                    for c in outer.commands:
                        if int(c["id"]) == data.get("command_id"):
                            c["status"] = data.get("status")
                elif self.path.endswith("/api/radio"):
                    outer.radio.append(data)
                self.answer(200, NOTICES + b'{"status":"success"}')

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        threading.Thread(target=self.server.serve_forever, daemon=True).start()
        self.url = "http://127.0.0.1:%d/cloudlog/" % self.server.server_address[1]

    def close(self):
        self.server.shutdown()
        self.server.server_close()


def cloudlog_queue(args, checks, folder):
    """A command queued in the logbook tunes the radio, reported once."""
    link = os.path.join(folder, "radio2")
    book = Cloudlog()
    sim = v.Proc([os.path.join(args.bin, "velalog-radiosim"), "--radio", "ft950", "--link", link,
                  "--freq", "14074000", "--mode", "usb", "--baud", "4800"])
    cat = None
    try:
        if not checks.expect(sim.wait_line(lambda l: l == "ready " + link), "simulator ready"):
            return
        cat = v.Proc([os.path.join(args.bin, "velalog-cat"), "--radio", "ft950", "--device", link,
                      "--baud", "4800", "--ini", os.path.join(folder, "Cloudlog.ini"),
                      "--logbook-api", book.url, "--api-key", "cl123abc",
                      "--radio-name", "Shack FT-950"])
        end = time.monotonic() + v.GENEROUS
        while time.monotonic() < end and not book.polled:
            time.sleep(0.05)
        checks.expect(book.polled and book.polled[0].endswith(
            "/api/radio_commands_pending_by_name/cl123abc/Shack%20FT-950"),
            "the queue polled for the radio's name: %s" % book.polled[:1])
        book.commands.append({"id": "1", "radio_name": "Shack FT-950", "command_type": "SET_FREQ",
                              "frequency": "7074000", "mode": "CW", "status": "PENDING"})
        checks.expect(sim.wait_line(lambda l: l == "freq 7074000"), "radio tuned by the queue")
        checks.expect(sim.wait_line(lambda l: l.lower() == "mode cw"), "its mode set")
        checks.expect(wait_stderr(cat, "# logbook command 1 COMPLETED"), "report line")
        polls = len(book.polled)
        end = time.monotonic() + v.GENEROUS
        while time.monotonic() < end and len(book.polled) < polls + 3:
            time.sleep(0.05)
        checks.expect(book.reports == [(1, "COMPLETED")], "reported once: %s" % book.reports)
        checks.expect(any(p.get("mode") == "CW" and p.get("frequency") == 7074000
                          for p in book.radio), "the new state posted")
    finally:
        if cat:
            cat.stop(quit_line="quit")
        sim.stop(quit_line="quit")
        book.close()


def click(port, path, origin):
    conn = http.client.HTTPConnection("127.0.0.1", port, timeout=v.GENEROUS)
    try:
        conn.request("GET", path, headers={"Origin": origin})
        answer = conn.getresponse()
        answer.read()
        return answer.status, answer.getheader("Access-Control-Allow-Origin")
    finally:
        conn.close()


def wait_stderr(proc, text, timeout=v.GENEROUS):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        if any(text in line for line in proc.stderr):
            return True
        time.sleep(0.02)
    return False


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin", required=True)
    args = ap.parse_args()
    checks = v.Checks("logbook_cat")
    folder = tempfile.mkdtemp(prefix="vela-logbook-")
    link = os.path.join(folder, "radio")
    book = v.Logbook()
    sim = v.Proc([os.path.join(args.bin, "velalog-radiosim"), "--radio", "ft950", "--link", link,
                  "--freq", "14074000", "--mode", "usb", "--baud", "4800"])
    cat = None
    key_file = os.path.join(folder, "api-key")
    with open(key_file, "w") as f:
        f.write("wl123abc\n")
    try:
        base = [os.path.join(args.bin, "velalog-cat"), "--radio", "ft950", "--device", link,
                "--baud", "4800", "--ini", os.path.join(folder, "VelaLog.ini"),
                "--logbook-api", book.url]
        os.chmod(key_file, 0o644)
        refused = subprocess.run(base + ["--api-key-file", key_file], capture_output=True,
                                 text=True, timeout=v.GENEROUS)
        checks.expect(refused.returncode == 2 and "chmod 600" in refused.stderr,
                      "a key file others may read is refused: %s" % refused.stderr[:200])
        env = dict(os.environ, VELALOG_API_KEY="not a key")
        refused = subprocess.run(base, capture_output=True, text=True, timeout=v.GENEROUS,
                                 env=env)
        checks.expect(refused.returncode == 2 and "VELALOG_API_KEY" in refused.stderr,
                      "the key in the environment is read: %s" % refused.stderr[:200])
        os.chmod(key_file, 0o600)
        if not checks.expect(sim.wait_line(lambda l: l == "ready " + link), "simulator ready"):
            return checks.finish()
        cat = v.Proc(base + ["--api-key-file", key_file,
                      "--radio-name", "Shack FT-950", "--tune-listen", "0"])
        line = cat.wait_line(lambda l: l.startswith("tune\t"))
        if not checks.expect(line, "listening for click-to-tune"):
            return checks.finish()
        port = int(line.split("\t")[2])

        post = book.wait_post(14074000)
        checks.expect(post and post[0] == "/wavelog/index.php/api/radio", "posted to api/radio")
        checks.expect(post and post[1] == "application/json", "as JSON")
        checks.expect(post and post[2].get("radio") == "Shack FT-950"
                      and post[2].get("mode") == "USB" and post[2].get("key") == "wl123abc",
                      "radio name, mode and key: %s" % (post and post[2]))
        checks.expect(wait_stderr(cat, "# logbook radio 200"), "outcome line on standard error")

        checks.expect(click(port, "/7350000/am", "http://evil.example") == (403, None),
                      "a stranger's page refused")
        checks.expect(click(port, "/7074000/cw", book.origin) == (200, book.origin),
                      "click answered 200 with CORS for the logbook")
        checks.expect(sim.wait_line(lambda l: l == "freq 7074000"), "radio tuned")
        checks.expect(sim.wait_line(lambda l: l.lower() == "mode cw"), "mode set")
        post = book.wait_post(7074000)
        checks.expect(post and post[2].get("mode") == "CW", "new state posted: %s" %
                      (post and post[2]))
        checks.expect(wait_stderr(cat, "# logbook tune 200 7074000 cw"), "tune line")
        checks.expect(click(port, "/abc", book.origin)[0] == 400, "bad path refused")
        # A data mode named outright is the data mode, not "Digi means" RTTY.
        checks.expect(click(port, "/7074000/pktusb", book.origin)[0] == 200, "pktusb click")
        checks.expect(sim.wait_line(lambda l: l.lower() == "mode digi"), "data mode (MD0C) set")
        checks.expect(not any(l.startswith("freq 7350000") for l in sim.lines),
                      "the stranger's click reached nothing")

        sim.stop(quit_line="quit")
        end = time.monotonic() + v.GENEROUS
        status = None
        while time.monotonic() < end and status != 503:
            status = click(port, "/7000000", book.origin)[0]
            time.sleep(0.2)
        checks.expect(status == 503, "503 once the radio is gone (last %s)" % status)
        cat.stop(quit_line="quit")
        cat = None
        cloudlog_queue(args, checks, folder)
    finally:
        if cat:
            cat.stop(quit_line="quit")
        sim.stop(quit_line="quit")
        book.close()
        shutil.rmtree(folder, ignore_errors=True)
    return checks.finish()


if __name__ == "__main__":
    sys.exit(main())
