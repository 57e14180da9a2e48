#!/usr/bin/env python3
"""Loopback HTTP and HTTPS server for the tests under Wine (argv: RECORDS CERT KEY). Answers as
the query asks: status=N, body=TEXT (percent-decoded bytes), size=N (pattern bytes), disposition=,
length=none (no Content-Length), trickle=MS (1024-byte pieces MS apart). Stores each request to
/rec/TAG in RECORDS/TAG.request before it answers.
"""
import http.server, os, socketserver, ssl, sys, threading, time, urllib.parse

class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"
    log_message = lambda *args: None

    def do_POST(self):
        body = self.rfile.read(int(self.headers.get("Content-Length") or 0))
        url = urllib.parse.urlsplit(self.path)
        query = dict(urllib.parse.parse_qsl(url.query, keep_blank_values=True, encoding="latin-1"))
        head = self.requestline + "\r\n" + "".join("%s: %s\r\n" % h for h in self.headers.items())
        if url.path.startswith("/rec/"):  # whole before the answer starts
            with open(os.path.join(sys.argv[1], url.path[5:] + ".request"), "wb") as out:
                out.write(head.encode("latin-1") + b"\r\n" + body)
        reply = query.get("body", "").encode("latin-1")
        if "size" in query:
            reply = (bytes(range(32, 127)) * (int(query["size"]) // 95 + 1))[: int(query["size"])]
        self.send_response_only(int(query.get("status", 200)))
        if "disposition" in query:
            self.send_header("Content-Disposition", query["disposition"])
        if query.get("length") != "none":
            self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        pause = int(query.get("trickle", 0)) / 1000.0
        pieces = [reply[i : i + 1024] for i in range(0, len(reply), 1024)] if pause else [reply]
        for piece in pieces:
            try:
                self.wfile.write(piece)
                self.wfile.flush()
                time.sleep(pause)
            except OSError:
                break  # the client went away, as a cancelled transfer does

    do_GET = do_POST

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
