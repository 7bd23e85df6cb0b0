#!/usr/bin/env python3
"""A small sample web logbook for trying VELA Log without a log server.

Serves on 127.0.0.1 only:
  /             a frameset: the entry form in frame "left_frame", the list of
                logged contacts in frame "right_frame"
  /log_add      the entry form "log_add"; GET shows an empty form (query
                parameters date, time, call, band, freq, mode pre-fill it),
                POST stores the contact and shows an empty form again, so only
                the left frame reloads, and tells the right frame to reload
  /contacts     the logged contacts, newest first
  /form_defaults  POST freq=...&mode=... sets what every empty form shows
  /static/...   files from the --static folder (test pages)

With --port 0 a free port is picked; the first line printed is "PORT <n>".
"""

import argparse
import html
import json
import os
import sys
import threading
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

TITLE = "VELA Log demo logbook"
MAX_BODY = 16 * 1024
MAX_FIELD = 200
MAX_CONTACTS = 10000

# (form field, query parameter, label, input width)
FIELDS = [
    ("log_date", "date", "Date (UTC)", 10),
    ("log_time", "time", "Time (UTC)", 5),
    ("call_rx", "call", "Call", 12),
    ("log_band", "band", "Band", 5),
    ("log_freq", "freq", "Frequency (MHz)", 9),
    ("log_mode", "mode", "Mode", 5),
]
EXTRA_FIELDS = [
    ("rst_sent", "RST sent", 4),
    ("rst_rcvd", "RST rcvd", 4),
    ("grid", "Grid", 6),
    ("comment", "Comment", 24),
]

STYLE = """
body { font-family: "DejaVu Sans", Arial, sans-serif; font-size: 14px;
       background: #f4f6f8; color: #1d2733; margin: 12px; }
h1 { font-size: 18px; color: #134074; margin: 0 0 10px 0; }
form { background: #ffffff; border: 1px solid #c9d3dd; border-radius: 6px;
       padding: 10px 14px; }
label { display: block; margin: 6px 0 2px 0; font-weight: bold; font-size: 12px;
        color: #3c4a5a; }
input[type=text] { font-family: "DejaVu Sans Mono", monospace; font-size: 14px;
                   padding: 3px 5px; border: 1px solid #9aa8b6; border-radius: 3px; }
input[type=submit] { margin-top: 12px; padding: 6px 18px; font-size: 14px;
                     background: #134074; color: #ffffff; border: none;
                     border-radius: 4px; cursor: pointer; }
table { border-collapse: collapse; width: 100%; background: #ffffff; }
th, td { border: 1px solid #c9d3dd; padding: 3px 6px; text-align: left;
         font-size: 13px; }
th { background: #134074; color: #ffffff; }
tr:nth-child(even) td { background: #eef2f6; }
p.empty { color: #6b7885; }
"""


class Logbook:
    """The contacts, in memory and optionally in a JSON file."""

    def __init__(self, store_path):
        self.lock = threading.Lock()
        self.store_path = store_path
        self.contacts = []
        self.defaults = {"freq": "", "mode": ""}
        if store_path and os.path.exists(store_path):
            try:
                with open(store_path, encoding="utf-8") as f:
                    loaded = json.load(f)
                if isinstance(loaded, list):
                    self.contacts = [c for c in loaded if isinstance(c, dict)][-MAX_CONTACTS:]
            except (OSError, ValueError):
                self.contacts = []

    def add(self, contact):
        with self.lock:
            self.contacts.append(contact)
            del self.contacts[:-MAX_CONTACTS]
            if self.store_path:
                tmp = self.store_path + ".tmp"
                with open(tmp, "w", encoding="utf-8") as f:
                    json.dump(self.contacts, f, ensure_ascii=False, indent=1)
                os.replace(tmp, self.store_path)

    def snapshot(self):
        with self.lock:
            return list(self.contacts)


def clip(value):
    return value[:MAX_FIELD]


def page(body, head_extra=""):
    return (
        "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">"
        f"<title>{TITLE}</title><style>{STYLE}</style>{head_extra}</head>"
        f"<body>{body}</body></html>"
    )


def form_page(values, logged=None):
    rows = []
    for name, _param, label, width in FIELDS:
        value = html.escape(values.get(name, ""), quote=True)
        rows.append(
            f'<label for="{name}">{label}</label>'
            f'<input type="text" id="{name}" name="{name}" size="{width}" value="{value}">'
        )
    for name, label, width in EXTRA_FIELDS:
        rows.append(
            f'<label for="{name}">{label}</label>'
            f'<input type="text" id="{name}" name="{name}" size="{width}" value="">'
        )
    note = ""
    script = ""
    if logged is not None:
        note = f'<p>Logged {html.escape(logged)}.</p>'
        # Only this frame reloaded; the list beside it shows the new contact.
        script = (
            "<script>try { parent.frames['right_frame'].location.reload(); }"
            " catch (e) {}</script>"
        )
    body = (
        f"<h1>New contact</h1>{note}"
        '<form name="log_add" method="post" action="/log_add">'
        + "".join(rows)
        + '<br><input type="submit" name="log_submit" value="Log contact"></form>'
        + script
    )
    return page(body)


def contacts_page(contacts):
    if not contacts:
        table = '<p class="empty">No contacts logged yet.</p>'
    else:
        head = "".join(f"<th>{html.escape(label)}</th>" for _n, _p, label, _w in FIELDS)
        head += "".join(f"<th>{html.escape(label)}</th>" for _n, label, _w in EXTRA_FIELDS)
        rows = []
        names = [f[0] for f in FIELDS] + [f[0] for f in EXTRA_FIELDS]
        for contact in reversed(contacts):
            cells = "".join(f"<td>{html.escape(str(contact.get(n, '')))}</td>" for n in names)
            rows.append(f"<tr>{cells}</tr>")
        table = f"<table><tr>{head}</tr>{''.join(rows)}</table>"
    count = f"{len(contacts)} contact" + ("" if len(contacts) == 1 else "s")
    return page(f"<h1>{TITLE} &ndash; {count}</h1>{table}")


def frameset_page(query):
    src = "/log_add"
    if query:
        src += "?" + urllib.parse.urlencode(query)
    return (
        "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">"
        f"<title>{TITLE}</title></head>"
        '<frameset cols="360,*">'
        f'<frame name="left_frame" src="{html.escape(src, quote=True)}">'
        '<frame name="right_frame" src="/contacts">'
        "</frameset></html>"
    )


class Handler(BaseHTTPRequestHandler):
    server_version = "VelaLogDemo/1.0"
    timeout = 30  # a client that stalls mid-request does not hold a thread for ever

    def log_message(self, fmt, *args):
        if self.server.verbose:
            super().log_message(fmt, *args)

    def send_text(self, status, text, content_type="text/html; charset=utf-8"):
        data = text.encode("utf-8")
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(data)))
        self.send_header("Cache-Control", "no-store")
        self.end_headers()
        self.wfile.write(data)

    def query(self):
        parsed = urllib.parse.urlsplit(self.path)
        pairs = urllib.parse.parse_qsl(parsed.query, keep_blank_values=True)
        return parsed.path, {k: clip(v) for k, v in pairs}

    def read_form(self):
        try:
            length = int(self.headers.get("Content-Length", "0"))
        except ValueError:
            length = -1
        if length < 0 or length > MAX_BODY:
            return None
        body = self.rfile.read(length).decode("utf-8", errors="replace")
        return {k: clip(v) for k, v in urllib.parse.parse_qsl(body, keep_blank_values=True)}

    def empty_form_values(self, query):
        defaults = self.server.logbook.defaults
        values = {"log_freq": defaults["freq"], "log_mode": defaults["mode"]}
        for name, param, _label, _width in FIELDS:
            if param in query:
                values[name] = query[param]
        return values

    def do_GET(self):
        path, query = self.query()
        if path == "/":
            self.send_text(200, frameset_page(query))
        elif path == "/log_add":
            self.send_text(200, form_page(self.empty_form_values(query)))
        elif path == "/contacts":
            self.send_text(200, contacts_page(self.server.logbook.snapshot()))
        elif path.startswith("/static/") and self.server.static_dir:
            self.send_static(path[len("/static/"):])
        else:
            self.send_text(404, page("<h1>Not found</h1>"))

    def do_POST(self):
        path, _query = self.query()
        form = self.read_form()
        if form is None:
            self.send_text(413, page("<h1>Request too large</h1>"))
            return
        if path == "/log_add":
            names = [f[0] for f in FIELDS] + [f[0] for f in EXTRA_FIELDS]
            contact = {n: form.get(n, "") for n in names}
            self.server.logbook.add(contact)
            logged = contact["call_rx"] or "a contact"
            self.send_text(200, form_page(self.empty_form_values({}), logged=logged))
        elif path == "/form_defaults":
            defaults = self.server.logbook.defaults
            defaults["freq"] = form.get("freq", "")
            defaults["mode"] = form.get("mode", "")
            self.send_text(200, "ok\n", "text/plain; charset=utf-8")
        else:
            self.send_text(404, page("<h1>Not found</h1>"))

    def send_static(self, relative):
        root = os.path.realpath(self.server.static_dir)
        target = os.path.realpath(os.path.join(root, urllib.parse.unquote(relative)))
        if not target.startswith(root + os.sep) or not os.path.isfile(target):
            self.send_text(404, page("<h1>Not found</h1>"))
            return
        with open(target, "rb") as f:
            data = f.read()
        ctype = "text/html; charset=utf-8" if target.endswith((".html", ".htm")) else \
            "application/octet-stream"
        self.send_response(200)
        self.send_header("Content-Type", ctype)
        self.send_header("Content-Length", str(len(data)))
        self.send_header("Cache-Control", "no-store")
        self.end_headers()
        self.wfile.write(data)


def main(argv=None):
    parser = argparse.ArgumentParser(description="VELA Log demo logbook server (127.0.0.1)")
    parser.add_argument("--port", type=int, default=8080,
                        help="TCP port; 0 picks a free one (default 8080)")
    parser.add_argument("--store", help="JSON file that keeps the contacts")
    parser.add_argument("--static", help="folder served under /static/")
    parser.add_argument("--form-freq", default="", help="frequency every empty form shows")
    parser.add_argument("--form-mode", default="", help="mode every empty form shows")
    parser.add_argument("--verbose", action="store_true", help="log each request")
    args = parser.parse_args(argv)

    server = ThreadingHTTPServer(("127.0.0.1", args.port), Handler)
    server.daemon_threads = True
    server.logbook = Logbook(args.store)
    server.logbook.defaults = {"freq": clip(args.form_freq), "mode": clip(args.form_mode)}
    server.static_dir = args.static
    server.verbose = args.verbose
    print(f"PORT {server.server_address[1]}", flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        server.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
