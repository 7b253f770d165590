"""A local endpoint that answers the head-commit request and the analytics post,
and holds every other request open without answering until it is stopped.

An update run against it stays busy in its first step, which lets a test look at
the busy window (progress bar, disabled controls, refused close) for as long as
it needs.
"""
import re
import threading
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

HEAD_PATH = re.compile(r"^/repos/[^/]+/[^/]+/commits/([^/?]+)$")


class StallService:
    def __init__(self, heads):
        """heads: branch -> commit hash answered to the head-commit request."""
        self.heads = dict(heads)
        self.requests = []
        self._release = threading.Event()
        service = self

        class Handler(BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def log_message(self, *args):
                pass

            def _answer(self, status, body=b"", content_type="text/plain"):
                self.send_response(status)
                self.send_header("Content-Type", content_type)
                self.send_header("Content-Length", str(len(body)))
                self.send_header("Connection", "close")
                self.end_headers()
                self.wfile.write(body)

            def do_GET(self):
                service.requests.append(("GET", self.path))
                match = HEAD_PATH.match(self.path)
                if match and match.group(1) in service.heads:
                    self._answer(200, service.heads[match.group(1)].encode("ascii"), "application/vnd.github.sha")
                    return
                service._release.wait()

            def do_POST(self):
                service.requests.append(("POST", self.path))
                length = int(self.headers.get("Content-Length") or 0)
                self.rfile.read(length)
                self._answer(204)

        self.server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.server.daemon_threads = True
        self._thread = threading.Thread(target=self.server.serve_forever, name="stall-service", daemon=True)

    @property
    def url(self):
        return f"http://127.0.0.1:{self.server.server_address[1]}"

    def held(self):
        """Paths of the requests held open so far."""
        return [path for method, path in self.requests if method == "GET" and not HEAD_PATH.match(path)]

    def start(self):
        self._thread.start()
        return self

    def stop(self):
        self._release.set()
        self.server.shutdown()
        self.server.server_close()
        self._thread.join()
