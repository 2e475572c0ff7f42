# SPDX-FileCopyrightText: 2022 the Zandrel authors
# SPDX-License-Identifier: BSD-2-Clause
"""An RFC 3161 time-stamp authority on 127.0.0.1 for the signing tests:
each request posted to it is answered by `openssl ts -reply` with the
authority's certificate and key. Prints the port it took, then serves until
it is stopped.
    timestamp_authority.py CONFIG CERTIFICATE KEY CHAIN"""
import http.server
import subprocess
import sys

config, certificate, key, chain = sys.argv[1:]


class TimeStampAuthority(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        query = self.rfile.read(int(self.headers["Content-Length"]))
        reply = subprocess.run(
            ["openssl", "ts", "-reply", "-config", config, "-queryfile", "/dev/stdin", "-signer", certificate,
             "-inkey", key, "-chain", chain, "-out", "/dev/stdout"],
            input=query, capture_output=True, check=True).stdout
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def log_message(self, *args):
        pass


server = http.server.HTTPServer(("127.0.0.1", 0), TimeStampAuthority)
print(server.server_address[1], flush=True)
server.serve_forever()
