#!/usr/bin/env python3
"""A package server for the driver download tests: serves a folder over HTTP on 127.0.0.1,
writes its port to a file, logs "METHOD PATH" lines, and sends the files named with --slow in
small pieces with pauses, so that a test can stop a download half way.
Usage: driver_server.py ROOT PORT_FILE LOG_FILE [--slow NAME]..."""
import http.server
import os
import sys
import time


def main():
    root, port_file, log_file = sys.argv[1:4]
    slow = set(sys.argv[i + 1] for i, a in enumerate(sys.argv) if a == "--slow")

    class Handler(http.server.SimpleHTTPRequestHandler):
        def __init__(self, *args, **kwargs):
            super().__init__(*args, directory=root, **kwargs)

        def log_message(self, *args):
            pass

        def note(self):
            with open(log_file, "a") as log:
                log.write(f"{self.command} {self.path}\n")

        def do_HEAD(self):
            self.note()
            super().do_HEAD()

        def do_GET(self):
            self.note()
            if os.path.basename(self.path) not in slow:
                return super().do_GET()
            path = self.translate_path(self.path)
            data = open(path, "rb").read()
            self.send_response(200)
            self.send_header("Content-Length", str(len(data)))
            self.end_headers()
            try:
                for at in range(0, len(data), 16384):
                    self.wfile.write(data[at:at + 16384])
                    self.wfile.flush()
                    time.sleep(0.02)
            except (BrokenPipeError, ConnectionResetError):
                pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    with open(port_file + ".tmp", "w") as f:
        f.write(str(server.server_address[1]))
    os.rename(port_file + ".tmp", port_file)
    server.serve_forever()


if __name__ == "__main__":
    main()
