#!/usr/bin/env python3
"""page_server.py FOLDER RESULT_FILE: serves FOLDER on 127.0.0.1 and prints the port, plus
/probe.html, which calls the connector once, then goes to /result?TEXT, written to RESULT_FILE
(for browsers whose document cannot be dumped)."""
import functools, http.server, sys, urllib.parse

PROBE = b"""<!doctype html><meta charset="utf-8"><title>probe</title><script>
const q = new URLSearchParams(location.hash.slice(1));
fetch(q.get("address") + "/getStatus", {headers: {"Authorization": "Bearer " + q.get("key")}})
  .then((r) => r.json()).then((a) => "reached " + a.data, (e) => "failed " + e.message)
  .then((t) => { location.href = "/result?" + encodeURIComponent(t); });
</script>"""


class Handler(http.server.SimpleHTTPRequestHandler):
    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        if url.path == "/result":
            with open(sys.argv[2], "a") as f:
                f.write(urllib.parse.unquote(url.query) + "\n")
        if url.path not in ("/probe.html", "/result"):
            return super().do_GET()
        body = PROBE if url.path == "/probe.html" else b"recorded"
        self.send_response(200)
        self.send_header("Content-Type", "text/html; charset=utf-8")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), functools.partial(Handler, directory=sys.argv[1]))
print(server.server_address[1], flush=True)
server.serve_forever()
