"""A time-stamping authority on loopback for the signing test (RFC 3161).

usage: tsa.py WORK-DIR
Answers each POSTed time-stamp query with `openssl ts -reply`, signed by
WORK-DIR/tsa.pem and tsa.key under WORK-DIR/tsa.cnf. Listens on 127.0.0.1 at
a port of the system's choosing and writes that port to WORK-DIR/tsa.port.
"""

import http.server
import pathlib
import subprocess
import sys
import tempfile

work = pathlib.Path(sys.argv[1])


class Authority(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        query = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        with tempfile.TemporaryDirectory(dir=work) as scratch:
            request = pathlib.Path(scratch) / "query.tsq"
            reply = pathlib.Path(scratch) / "reply.tsr"
            request.write_bytes(query)
            result = subprocess.run(
                ["openssl", "ts", "-reply", "-config", str(work / "tsa.cnf"),
                 "-queryfile", str(request), "-signer", str(work / "tsa.pem"),
                 "-inkey", str(work / "tsa.key"), "-out", str(reply)],
                capture_output=True)
            body = reply.read_bytes() if result.returncode == 0 else b""
        self.send_response(200 if body else 500)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, format, *args):
        with open(work / "tsa.log", "a") as log:
            log.write(format % args + "\n")


server = http.server.HTTPServer(("127.0.0.1", 0), Authority)
(work / "tsa.port").write_text(str(server.server_address[1]))
server.serve_forever()
