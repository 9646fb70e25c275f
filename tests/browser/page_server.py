#!/usr/bin/env python3
"""Serves a folder on 127.0.0.1, plus /probe.html, a page that calls the connector once and
then goes to /result?TEXT, which this server writes to RESULT_FILE (for browsers whose
document cannot be dumped). Prints the port it listens on.

Usage: page_server.py FOLDER RESULT_FILE
"""
import functools
import http.server
import sys
import urllib.parse

PROBE = b"""<!doctype html><meta charset="utf-8"><title>probe</title><script>
const q = new URLSearchParams(location.hash.slice(1));
fetch(q.get("address") + "/getStatus", {headers: {"Authorization": "Bearer " + q.get("key")}})
  .then((r) => r.json()).then((a) => "reached " + a.data, (e) => "failed " + e.message)
  .then((t) => { location.href = "/result?" + encodeURIComponent(t); });
</script>"""


class Handler(http.server.SimpleHTTPRequestHandler):
    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        if url.path == "/probe.html":
            self.answer(PROBE)
        elif url.path == "/result":
            with open(sys.argv[2], "a") as f:
                f.write(urllib.parse.unquote(url.query) + "\n")
            self.answer(b"recorded")
        else:
            super().do_GET()

    def answer(self, body):
        self.send_response(200)
        self.send_header("Content-Type", "text/html; charset=utf-8")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


server = http.server.ThreadingHTTPServer(
    ("127.0.0.1", 0), functools.partial(Handler, directory=sys.argv[1]))
print(server.server_address[1], flush=True)
server.serve_forever()
