#!/usr/bin/env python3
"""A small HTTP/1.0 server on 127.0.0.1 for trying the C examples on this machine.

    example_server.py FOLDER

Prints "listening on http://127.0.0.1:PORT" once it listens, then serves:
  GET  /NAME        the file FOLDER/NAME
  POST /files/NAME  the same file, announced as Content-Disposition: attachment; filename="NAME"
                    (the form sent with the request is read and ignored)
  POST /endless     a body that never ends, for trying a cancel; prints "endless body started"
                    once its first bytes are out
A missing file is answered 404. Stops on SIGINT or SIGTERM.
"""
import http.server
import os
import signal
import sys
import time


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"

    def do_GET(self):
        self.send_file(self.path.lstrip("/"), announce=False)

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        self.rfile.read(length)
        if self.path == "/endless":
            self.send_endless()
        elif self.path.startswith("/files/"):
            self.send_file(self.path[len("/files/"):], announce=True)
        else:
            self.send_error(404)

    def send_file(self, name, announce):
        # Only plain names of files in the folder.
        path = os.path.join(self.server.folder, name)
        if "/" in name or name.startswith(".") or not os.path.isfile(path):
            self.send_error(404)
            return
        with open(path, "rb") as source:
            body = source.read()
        self.send_response(200)
        self.send_header("Content-Length", str(len(body)))
        if announce:
            self.send_header("Content-Disposition", f'attachment; filename="{name}"')
        self.end_headers()
        self.wfile.write(body)

    def send_endless(self):
        self.send_response(200)
        self.send_header("Content-Length", str(1 << 40))
        self.send_header("Content-Disposition", 'attachment; filename="endless.bin"')
        self.end_headers()
        piece = b"x" * 65536
        try:
            self.wfile.write(piece)
            self.wfile.flush()
            print("endless body started", flush=True)
            while True:
                self.wfile.write(piece)
                time.sleep(0.005)  # a pace that keeps the disk of a forgotten client safe
        except (BrokenPipeError, ConnectionResetError):
            pass


def main():
    if len(sys.argv) != 2 or not os.path.isdir(sys.argv[1]):
        sys.exit("usage: example_server.py FOLDER")
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    server.folder = sys.argv[1]
    for stop in (signal.SIGINT, signal.SIGTERM):
        signal.signal(stop, lambda *_: sys.exit(0))
    print(f"listening on http://127.0.0.1:{server.server_address[1]}", flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
