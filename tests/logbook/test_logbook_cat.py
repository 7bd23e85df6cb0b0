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
tune: a stranger's origin is refused. Exit codes: 0 passed, 1 failed, 77
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


class Logbook:
    """Records each post (path, content type, JSON body) and answers 200."""

    def __init__(self):
        self.posts = []
        outer = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def log_message(self, *args):
                pass

            def do_POST(self):
                body = self.rfile.read(int(self.headers.get("Content-Length", 0)))
                try:
                    data = json.loads(body)
                except ValueError:
                    data = {}
                outer.posts.append((self.path, self.headers.get("Content-Type"), data))
                self.send_response(200)
                self.send_header("Content-Type", "application/json")
                self.end_headers()
                self.wfile.write(b'{"status":"success"}')

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        threading.Thread(target=self.server.serve_forever, daemon=True).start()
        self.origin = "http://127.0.0.1:%d" % self.server.server_address[1]
        self.url = self.origin + "/wavelog/"

    def wait_post(self, hz, timeout=v.GENEROUS):
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            for post in list(self.posts):
                if post[2].get("frequency") == hz:
                    return post
            time.sleep(0.02)
        return None

    def close(self):
        self.server.shutdown()
        self.server.server_close()


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
    book = Logbook()
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
    finally:
        if cat:
            cat.stop(quit_line="quit")
        sim.stop(quit_line="quit")
        book.close()
        shutil.rmtree(folder, ignore_errors=True)
    return checks.finish()


if __name__ == "__main__":
    sys.exit(main())
