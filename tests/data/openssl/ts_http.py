#!/usr/bin/env python3
"""OpenSSL's own time-stamp responder behind HTTP, for the tests: every POST body is answered by
`openssl ts -reply` with the TSA of make_tsa.sh (the folder given) in tsa.cnf's "full" section.
Prints the port it listens on (127.0.0.1), then serves until its standard input closes.

    ts_http.py TSA_DIR
"""
import http.server
import os
import subprocess
import sys
import tempfile
import threading

HERE = os.path.dirname(os.path.abspath(__file__))
TSA = sys.argv[1]


class Responder(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        query = self.rfile.read(length)
        with tempfile.TemporaryDirectory() as work:
            with open(os.path.join(work, "q.tsq"), "wb") as f:
                f.write(query)
            env = dict(os.environ, TSA_SERIAL=os.path.join(TSA, "serial"),
                       TSA_CHAIN=os.path.join(TSA, "chain.pem"))
            done = subprocess.run(
                ["openssl", "ts", "-reply", "-config", os.path.join(HERE, "tsa.cnf"),
                 "-section", "full", "-queryfile", os.path.join(work, "q.tsq"),
                 "-signer", os.path.join(TSA, "rsa.pem"), "-inkey", os.path.join(TSA, "rsa.key"),
                 "-out", os.path.join(work, "r.tsr")], env=env, capture_output=True)
            if done.returncode != 0:
                self.send_error(500)
                return
            with open(os.path.join(work, "r.tsr"), "rb") as f:
                reply = f.read()
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def log_message(self, *args):
        pass


server = http.server.HTTPServer(("127.0.0.1", 0), Responder)
print(server.server_address[1], flush=True)
threading.Thread(target=server.serve_forever, daemon=True).start()
sys.stdin.read()
