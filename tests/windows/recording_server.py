#!/usr/bin/env python3
"""A loopback HTTP server for the tests under Wine that records every request and answers as
the request's query asks.

Each request whose path starts with /rec/TAG is stored as RECORDS/TAG.request: the request
line, the headers as received, a blank line and the body bytes. The file is complete before
the answer is sent, so a client that holds the answer can read it. The query decides the answer:

  status=N          status code (200)
  body=TEXT         the body, percent-decoded byte for byte (may hold %00)
  size=N            a body of N bytes of a repeating pattern instead
  disposition=TEXT  a Content-Disposition header with that value
  length=none       no Content-Length; the body ends when the connection closes
  announce=N        announce N bytes as Content-Length whatever is sent, then close
  trickle=MS        send the body in 1024-byte pieces with MS milliseconds between them

Prints "listening on http://127.0.0.1:PORT" once it accepts connections.
"""
import argparse
import http.server
import os
import socketserver
import sys
import time
import urllib.parse

PATTERN = bytes(range(32, 127))


def pattern_bytes(size):
    whole = PATTERN * (size // len(PATTERN) + 1)
    return whole[:size]


class RecordingHandler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"
    records = "."

    def log_message(self, format, *args):  # quiet: the test output is the record
        pass

    def do_GET(self):
        self.handle_any()

    def do_POST(self):
        self.handle_any()

    def handle_any(self):
        length = int(self.headers.get("Content-Length", "0") or "0")
        body = self.rfile.read(length) if length > 0 else b""
        url = urllib.parse.urlsplit(self.path)
        parts = url.path.split("/")
        if len(parts) >= 3 and parts[1] == "rec" and parts[2]:
            self.record(parts[2], body)
        # Latin-1 keeps every percent-escaped byte as the one character of that code.
        self.answer(urllib.parse.parse_qs(url.query, keep_blank_values=True, encoding="latin-1"))

    def record(self, tag, body):
        head = self.requestline + "\r\n"
        head += "".join("%s: %s\r\n" % (k, v) for k, v in self.headers.items())
        final = os.path.join(self.records, os.path.basename(tag) + ".request")
        partial = final + ".partial"
        with open(partial, "wb") as out:
            out.write(head.encode("latin-1") + b"\r\n" + body)
        os.replace(partial, final)

    def answer(self, query):
        def one(name, default=None):
            values = query.get(name)
            return values[0] if values else default

        status = int(one("status", "200"))
        if one("size") is not None:
            body = pattern_bytes(int(one("size")))
        else:
            body = one("body", "").encode("latin-1")
        self.send_response_only(status)
        self.send_header("Content-Type", "application/octet-stream")
        if one("disposition") is not None:
            self.send_header("Content-Disposition", one("disposition"))
        if one("announce") is not None:
            self.send_header("Content-Length", one("announce"))
        elif one("length") != "none":
            self.send_header("Content-Length", str(len(body)))
        self.send_header("Connection", "close")
        self.end_headers()
        pause = int(one("trickle", "0")) / 1000.0
        try:
            if pause <= 0:
                self.wfile.write(body)
                return
            for start in range(0, len(body), 1024):
                self.wfile.write(body[start:start + 1024])
                self.wfile.flush()
                time.sleep(pause)
        except (BrokenPipeError, ConnectionResetError):
            pass  # the client went away, as a cancelled transfer does
        self.close_connection = True


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--records", required=True, help="folder for the recorded requests")
    parser.add_argument("--port", type=int, default=0)
    options = parser.parse_args()
    RecordingHandler.records = options.records
    server = Server(("127.0.0.1", options.port), RecordingHandler)
    print("listening on http://127.0.0.1:%d" % server.server_address[1], flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
