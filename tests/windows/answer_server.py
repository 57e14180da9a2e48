#!/usr/bin/env python3
"""Loopback HTTP and HTTPS server for the tests under Wine (argv: RECORDS CERT KEY). Answers as
the query asks: body=TEXT (percent-decoded bytes), size=N (pattern bytes), disposition=,
trickle=MS (1024-byte pieces MS apart). Stores the head of a request to /rec/TAG in
RECORDS/TAG.request before it answers."""
import http.server, os, socketserver, ssl, sys, threading, time, urllib.parse

class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"
    log_message = lambda *args: None

    def do_GET(self):
        self.rfile.read(int(self.headers.get("Content-Length") or 0))  # no reset on closing
        url = urllib.parse.urlsplit(self.path)
        query = dict(urllib.parse.parse_qsl(url.query, encoding="latin-1"))
        if url.path.startswith("/rec/"):
            head = [self.requestline] + ["%s: %s" % h for h in self.headers.items()]
            with open(os.path.join(sys.argv[1], url.path[5:] + ".request"), "wb") as out:
                out.write("".join(line + "\r\n" for line in head).encode("latin-1"))
        reply = query.get("body", "").encode("latin-1")
        if "size" in query:
            reply = (bytes(range(32, 127)) * (int(query["size"]) // 95 + 1))[: int(query["size"])]
        self.send_response_only(200)
        if "disposition" in query:
            self.send_header("Content-Disposition", query["disposition"])
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        pause = int(query.get("trickle", 0)) / 1000.0
        step = 1024 if pause else len(reply) or 1
        try:
            for start in range(0, len(reply), step):
                self.wfile.write(reply[start : start + step])
                time.sleep(pause)
        except OSError:
            pass  # the client went away, as a cancelled transfer does

    do_POST = do_GET

Server = socketserver.ThreadingTCPServer  # HTTPServer would look its own name up in the DNS
Server.daemon_threads = True
plain, secure = Server(("127.0.0.1", 0), Handler), Server(("127.0.0.1", 0), Handler)
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(sys.argv[2], sys.argv[3])
secure.socket = context.wrap_socket(secure.socket, server_side=True)
threading.Thread(target=secure.serve_forever, daemon=True).start()
print("listening on http://127.0.0.1:%d https://127.0.0.1:%d"
      % (plain.server_address[1], secure.server_address[1]), flush=True)
plain.serve_forever()
