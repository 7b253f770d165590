#!/usr/bin/env python3
"""Local stand-in for the game's repository service: the GitHub REST API paths
and the raw-content paths the launcher requests, answered from a local git
repository, plus the analytics collection path. Every request is recorded.

Usage: repository_service.py --repo PATH [--port N] [--host H] [--record FILE]
                             [--port-file FILE]

Port 0 picks a free port; the chosen one is printed ("listening on http://...")
and written to --port-file. Behaviours for tests are switched by POSTing JSON to
/_stand-in/behaviour (see README.md) or, in process, through
RepositoryService.behaviour.
"""
import argparse
import base64
import json
import re
import select
import socket
import struct
import sys
import threading
import time
from http import HTTPStatus
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from pathlib import Path
from urllib.parse import parse_qs, unquote_to_bytes, urlsplit

sys.path.insert(0, str(Path(__file__).resolve().parent))
from gitrepo import GitRepo  # noqa: E402

REPOSITORY = "ORMUND42/veldra_public"
JSON_TYPE = "application/json; charset=utf-8"
SHA_TYPE = "application/vnd.github.sha; charset=utf-8"
TEXT_TYPE = "text/plain; charset=utf-8"
DOCS = "https://docs.github.com/rest"
# The public API stops inlining file content above one mebibyte.
CONTENT_INLINE_LIMIT = 1024 * 1024
RAW_TYPES = {".png": "image/png", ".jpg": "image/jpeg", ".jpeg": "image/jpeg", ".bmp": "image/bmp"}
RANGE = re.compile(r"bytes=(\d+)-(\d*)")
# Long bodies leave in pieces of this size.
CHUNK = 64 * 1024
FLAKY_RAW_FAULTS = ("drop", "reset", "cut", "wrong_bytes", "stall", "trickle")
FLAKY_API_FAULTS = ("drop", "reset")


def default_behaviour() -> dict:
    return {
        # Status of the head-commit request instead of the real answer (403 and
        # 404 get the public service's bodies), or None.
        "head_status": None,
        # Append a line break to the head-commit text.
        "head_trailing_newline": False,
        # x-ratelimit-remaining: None counts down from the limit with every API
        # request, a number is sent as is, "absent" leaves both headers out.
        "ratelimit_remaining": None,
        "ratelimit_limit": 5000,
        # x-ratelimit-reset in seconds since 1970; None: an hour after start.
        "ratelimit_reset": None,
        # "sha" of a tree reply: "tree" (the tree object, as the public API
        # answers) or "commit" (the commit the request named, when it named one).
        "tree_sha": "tree",
        # Analytics collection: "ok" answers 204, "drop" closes the connection
        # without an answer, "hang" records the post and then holds the
        # connection without answering until the service stops, a number
        # answers with that status.
        "analytics": "ok",
        # Raw files answered with a status instead of their content, by
        # repository path ("/data/config.ini": 500); the body is the public
        # service's text for that status.
        "raw_status": {},
        # Raw files answered wrongly, by repository path: "cut" closes the
        # connection after half the body, "long_length" announces more bytes
        # than it sends, "wrong_bytes" sends other bytes of the right length,
        # "drop" closes the connection without an answer.
        "raw_fault": {},
        # Raw files held open, by repository path, until the test releases
        # them (RepositoryService.release, POST /_stand-in/release) or the
        # service stops: a number sends the status line, the headers with the
        # whole length and that many body bytes first, "silent" sends nothing.
        "raw_hold": {},
        # Raw files that fail their first requests, by repository path:
        # {"fault": F, "times": N, ...}; the first N requests of the path get
        # the fault, later ones are served normally. The count starts again
        # when the path's entry changes. F is a status (500, 502, 503, 504,
        # 429, ...; "retry_after": seconds sends Retry-After), "drop" (closed
        # without an answer), "reset" (TCP reset), "cut" (the whole length
        # announced, half the body sent, closed), "wrong_bytes" (every byte
        # changed, length right), "stall" (the whole length announced, "after"
        # body bytes sent, then silence until the test releases the path or
        # the service stops) or "trickle" (one byte every "interval" seconds).
        # Cut, stall and trickle honour a Range request like a normal reply.
        "raw_flaky": {},
        # The same for API requests, by kind: "head" (head commit), "commits"
        # (commit list of a change list), "tree", "blob", "launcher" (file
        # metadata, the launcher's); faults: statuses, "drop", "reset".
        "api_flaky": {},
        # Raw files sent one byte every so many seconds, by repository path
        # (headers with the whole length first; a Range is honoured).
        "raw_trickle": {},
        # Raw files followed by that many extra bytes, by repository path; the
        # announced length counts them. Sent in pieces, never held whole.
        "raw_oversize": {},
        # Raw files announced with this Content-Length instead of their own, by
        # repository path; the body is the file, then the connection closes.
        "raw_content_length": {},
        # API replies of a kind (as in api_flaky) replaced by a text body of
        # that many bytes: JSON of the reply's shape, padded, sent in pieces.
        "api_oversize": {},
    }


class Recorder:
    """Keeps every request in memory and, when given a file, as JSON lines."""

    def __init__(self, record_file=None):
        self._lock = threading.Lock()
        self._items = []
        self._file = Path(record_file) if record_file else None
        if self._file:
            self._file.parent.mkdir(parents=True, exist_ok=True)
            self._file.write_text("")

    def add(self, item: dict) -> None:
        with self._lock:
            self._items.append(item)
            if self._file:
                with self._file.open("a", encoding="utf-8") as out:
                    out.write(json.dumps(item, ensure_ascii=False) + "\n")

    def items(self) -> list:
        with self._lock:
            return list(self._items)

    def clear(self) -> None:
        with self._lock:
            self._items.clear()


class RepositoryService:
    """The server; start() runs it on a background thread, stop() ends it."""

    def __init__(self, repo, port=0, host="127.0.0.1", record_file=None):
        self.repo = GitRepo(repo)
        self.behaviour = default_behaviour()
        self.recorder = Recorder(record_file)
        self.api_requests = 0
        self.started = int(time.time())
        self.release_hung = threading.Event()
        self._lock = threading.Lock()
        # Held raw requests and the outcomes released paths get.
        self._holds = []
        self._released = {}
        self._stopping = False
        self._hold_changed = threading.Condition()
        # Requests counted against a flaky entry: {(area, key): (entry, count)}.
        self._fault_counts = {}
        handler = type("Handler", (_Handler,), {"service": self})
        self.server = ThreadingHTTPServer((host, port), handler)
        self.server.daemon_threads = True
        self._thread = None

    @property
    def url(self) -> str:
        host, port = self.server.server_address[:2]
        return f"http://{host}:{port}"

    def start(self) -> "RepositoryService":
        self._thread = threading.Thread(target=self.server.serve_forever, name="repository-service",
                                        daemon=True)
        self._thread.start()
        return self

    def stop(self) -> None:
        self.release_hung.set()
        with self._hold_changed:
            self._stopping = True
            self._hold_changed.notify_all()
        self.server.shutdown()
        self.server.server_close()
        if self._thread:
            self._thread.join()

    def release(self, path: str, outcome="rest") -> None:
        """Ends the holds of a repository path, now and later: "rest" sends what was held back, "close"
        closes the connection, a status number answers with it (holds that sent headers are closed)."""
        if outcome not in ("rest", "close") and not isinstance(outcome, int):
            raise ValueError(f"unknown hold outcome {outcome!r}")
        with self._hold_changed:
            self._released[path] = outcome
            self._hold_changed.notify_all()

    def holds(self) -> list:
        """Every held request: {"path", "state"}, state "held", "released", "closed by client" or "stopped"."""
        with self._hold_changed:
            return [dict(h) for h in self._holds]

    def _hold(self, path, connection):
        """Waits until the path is released, the client closes the connection or the service stops."""
        entry = {"path": path, "state": "held"}
        with self._hold_changed:
            self._holds.append(entry)
        while True:
            with self._hold_changed:
                if self._stopping:
                    entry["state"] = "stopped"
                    return "close"
                if path in self._released:
                    entry["state"] = "released"
                    return self._released[path]
                self._hold_changed.wait(0.1)
            if _closed_by_peer(connection):
                with self._hold_changed:
                    entry["state"] = "closed by client"
                return "close"

    def take_fault(self, area, key):
        """The flaky entry of a raw path or API kind when this request is one of its first "times", else None."""
        entry = self.behaviour["raw_flaky" if area == "raw" else "api_flaky"].get(key)
        if not entry:
            return None
        with self._lock:
            counted, count = self._fault_counts.get((area, key), (None, 0))
            if counted != entry:
                count = 0
            self._fault_counts[(area, key)] = (json.loads(json.dumps(entry)), count + 1)
        return entry if count < int(entry.get("times", 1)) else None

    def forget_faults(self):
        with self._lock:
            self._fault_counts.clear()

    def stopping(self, wait=0.0) -> bool:
        """True once the service stops; waits up to `wait` seconds for it."""
        with self._hold_changed:
            if not self._stopping and wait > 0:
                self._hold_changed.wait(wait)
            return self._stopping

    def requests(self, path_prefix: str = "") -> list:
        return [r for r in self.recorder.items() if r["path"].startswith(path_prefix)]

    def next_remaining(self):
        with self._lock:
            self.api_requests += 1
            value = self.behaviour["ratelimit_remaining"]
            if value is None:
                value = max(0, self.behaviour["ratelimit_limit"] - self.api_requests)
            return value


class _Handler(BaseHTTPRequestHandler):
    service: RepositoryService
    protocol_version = "HTTP/1.1"
    server_version = "veldra-stand-in"

    def log_message(self, fmt, *args):
        pass

    # --- plumbing -----------------------------------------------------------

    def _record(self, status, body=b""):
        self._recorded = True
        item = {"time": time.time(), "method": self.command, "path": self.path,
                "headers": {k.lower(): v for k, v in self.headers.items()}, "status": status}
        item.update(self._extra)
        if self.command == "POST":
            item["body_base64"] = base64.b64encode(body).decode("ascii")
            try:
                item["body"] = body.decode("utf-8")
            except UnicodeDecodeError:
                pass
        self.service.recorder.add(item)
        return item

    def _reply(self, status, body: bytes, content_type, headers=None):
        # Recorded before the answer leaves: a client that reads the record
        # right after its reply must find its request there.
        if not self.path.startswith("/_stand-in/") and not self._recorded:
            self._record(status, self._request_body)
        self.send_response(status)
        if status != 204:
            self.send_header("Content-Type", content_type)
            self.send_header("Content-Length", str(len(body)))
        for name, value in (headers or {}).items():
            self.send_header(name, str(value))
        self.send_header("Connection", "close")
        self.end_headers()
        if self.command != "HEAD" and status != 204:
            self.wfile.write(body)
        self.close_connection = True

    def _api_headers(self):
        b = self.service.behaviour
        remaining = self.service.next_remaining()
        if remaining == "absent":
            return {}
        reset = b["ratelimit_reset"] or self.service.started + 3600
        return {"x-ratelimit-limit": b["ratelimit_limit"], "x-ratelimit-remaining": remaining,
                "x-ratelimit-reset": reset, "x-ratelimit-used": max(0, b["ratelimit_limit"] - int(remaining)),
                "x-ratelimit-resource": "core", "x-github-api-version-selected": "2022-11-28"}

    def _api_json(self, status, value):
        body = json.dumps(value, ensure_ascii=False, indent=2).encode("utf-8")
        self._reply(status, body, JSON_TYPE, self._api_headers())
        return status

    def _api_error(self, status, message, docs=DOCS):
        return self._api_json(status, {"message": message, "documentation_url": docs, "status": str(status)})

    def _raw_not_found(self):
        self._reply(404, b"404: Not Found", TEXT_TYPE)
        return 404

    def _base(self, kind):
        return f"http://{self.headers.get('Host', '127.0.0.1')}"

    # --- dispatch -----------------------------------------------------------

    def do_GET(self):
        self._dispatch(b"")

    def do_HEAD(self):
        self._dispatch(b"")

    def do_POST(self):
        length = int(self.headers.get("Content-Length") or 0)
        self._dispatch(self.rfile.read(length) if length else b"")

    def _dispatch(self, body):
        self._recorded = False
        self._request_body = body
        # Fields the request record gets beside the common ones (a fault, a range).
        self._extra = {}
        status = None
        try:
            status = self._route(body)
        except Exception as error:  # the stand-in reports its own faults as 500
            self._reply(500, f"stand-in failure: {error!r}".encode(), TEXT_TYPE)
            status = 500
        finally:
            if not self.path.startswith("/_stand-in/") and not self._recorded:
                self._record(status, body)

    def _route(self, body):
        parts = urlsplit(self.path)
        query = parse_qs(parts.query, keep_blank_values=True)
        # The request line arrives decoded as Latin-1; undo that before reading UTF-8.
        path = unquote_to_bytes(parts.path.encode("latin-1", "replace")).decode("utf-8", "replace")
        if path.startswith("/_stand-in/"):
            return self._control(path, body)
        if path == "/mp/collect" and self.command == "POST":
            return self._collect(body)
        if path.startswith("/repos/"):
            return self._api(path[len("/repos/"):], query)
        return self._raw(path)

    # --- test control ---------------------------------------------------------

    def _control(self, path, body):
        service = self.service
        if path == "/_stand-in/behaviour" and self.command == "POST":
            update = json.loads(body or b"{}")
            unknown = set(update) - set(default_behaviour())
            if unknown:
                self._reply(400, f"unknown behaviours {sorted(unknown)}".encode(), TEXT_TYPE)
                return 400
            service.behaviour.update(update)
        elif path == "/_stand-in/reset" and self.command == "POST":
            service.behaviour = default_behaviour()
            service.recorder.clear()
            service.forget_faults()
        elif path == "/_stand-in/release" and self.command == "POST":
            release = json.loads(body or b"{}")
            service.release(release["path"], release.get("outcome", "rest"))
        elif path != "/_stand-in/requests":
            self._reply(404, b"unknown control path", TEXT_TYPE)
            return 404
        reply = {"behaviour": service.behaviour, "requests": service.recorder.items(), "holds": service.holds()}
        self._reply(200, json.dumps(reply, ensure_ascii=False).encode("utf-8"), JSON_TYPE)
        return 200

    # --- analytics ------------------------------------------------------------

    def _collect(self, body):
        mode = self.service.behaviour["analytics"]
        if mode in ("drop", "hang"):
            if mode == "hang":
                self._record("hung", body)
                self.service.release_hung.wait(600)
            self.close_connection = True
            return "dropped"
        status = 204 if mode == "ok" else int(mode)
        self._reply(status, b"", TEXT_TYPE)
        return status

    # --- raw content ----------------------------------------------------------

    def _raw(self, path):
        owner_repo = REPOSITORY + "/"
        if not path.startswith("/" + owner_repo):
            return self._raw_not_found()
        ref, _, file_path = path[len(owner_repo) + 1:].partition("/")
        forced = self.service.behaviour["raw_status"].get("/" + file_path)
        if forced:
            return self._raw_status(forced)
        data = self.service.repo.blob_at(ref, file_path) if file_path else None
        if data is None:
            return self._raw_not_found()
        hold = self.service.behaviour["raw_hold"].get("/" + file_path)
        if hold is not None:
            return self._raw_hold("/" + file_path, hold, ref, data)
        fault = self.service.behaviour["raw_fault"].get("/" + file_path)
        if fault:
            return self._raw_fault(fault, data)
        b = self.service.behaviour
        flaky = self.service.take_fault("raw", "/" + file_path)
        if flaky:
            return self._raw_flaky("/" + file_path, flaky, data)
        if b["raw_trickle"].get("/" + file_path) is not None:
            return self._raw_slowly(data, float(b["raw_trickle"]["/" + file_path]))
        if b["raw_oversize"].get("/" + file_path) is not None:
            return self._raw_oversize(data, int(b["raw_oversize"]["/" + file_path]))
        if b["raw_content_length"].get("/" + file_path) is not None:
            return self._raw_announcing(data, int(b["raw_content_length"]["/" + file_path]))
        return self._raw_content(ref, file_path, data)

    def _requested_range(self, size):
        """(first, end) of a `Range: bytes=N-[M]` request, None without one; "unsatisfiable" past the end.
        Other forms (several ranges, suffixes) are ignored, as servers may."""
        match = RANGE.fullmatch(self.headers.get("Range", "").strip())
        if not match:
            return None
        first = int(match.group(1))
        end = min(size, int(match.group(2)) + 1) if match.group(2) else size
        if first >= size or end <= first:
            return "unsatisfiable"
        self._extra["range_start"] = first
        return first, end

    def _raw_content(self, ref, file_path, data):
        suffix = Path(file_path).suffix.lower()
        content_type = RAW_TYPES.get(suffix)
        if content_type is None:
            content_type = TEXT_TYPE if b"\x00" not in data[:8000] else "application/octet-stream"
        sha = self.service.repo.resolve(f"{ref}:{file_path}", "blob")
        headers = {"ETag": f'"{sha}"', "Cache-Control": "max-age=300"}
        requested = self._requested_range(len(data))
        if requested == "unsatisfiable":
            self._reply(416, b"", TEXT_TYPE, {"Content-Range": f"bytes */{len(data)}"})
            return 416
        if requested:
            first, end = requested
            headers["Content-Range"] = f"bytes {first}-{end - 1}/{len(data)}"
            self._reply(206, data[first:end], content_type, headers)
            return 206
        self._reply(200, data, content_type, headers)
        return 200

    def _send_head(self, status, length, headers=None):
        self.send_response(status)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(length))
        for name, value in (headers or {}).items():
            self.send_header(name, str(value))
        self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.flush()

    def _send_ranged_head(self, data, fault):
        """Records the request and sends the status line and headers a normal reply would have (a 206 for a
        satisfiable range); returns the body bytes that reply would carry, None when it was a 416."""
        self._extra["fault"] = fault
        requested = self._requested_range(len(data))
        if requested == "unsatisfiable":
            self._reply(416, b"", TEXT_TYPE, {"Content-Range": f"bytes */{len(data)}"})
            return None
        self.close_connection = True
        if requested:
            first, end = requested
            self._record(206)
            self._send_head(206, end - first, {"Content-Range": f"bytes {first}-{end - 1}/{len(data)}"})
            return data[first:end]
        self._record(200)
        self._send_head(200, len(data))
        return data

    def _reset(self):
        """Ends the connection with a TCP reset: no linger, closed at once."""
        self.close_connection = True
        self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        # The socket closes for real only once its reading file lets go of it.
        self.rfile.close()
        self.connection.close()

    def _raw_flaky(self, path, entry, data):
        fault = entry["fault"]
        if isinstance(fault, int):
            self._extra["fault"] = fault
            headers = {"Retry-After": entry["retry_after"]} if "retry_after" in entry else {}
            self._reply(fault, f"{fault}: {HTTPStatus(fault).phrase}".encode(), TEXT_TYPE, headers)
            return fault
        if fault not in FLAKY_RAW_FAULTS:
            raise ValueError(f"unknown raw_flaky fault {fault!r}")
        if fault in ("drop", "reset"):
            self._extra["fault"] = fault
            self._record("dropped" if fault == "drop" else "reset")
            if fault == "reset":
                self._reset()
            self.close_connection = True
            return "fault"
        if fault == "wrong_bytes":
            self._extra["fault"] = fault
            return self._raw_fault("wrong_bytes", data)
        if fault == "trickle":
            return self._raw_slowly(data, float(entry.get("interval", 1)), fault)
        body = self._send_ranged_head(data, fault)
        if body is None:
            return 416
        if fault == "cut":
            self.wfile.write(body[:len(body) // 2])
            return "fault"
        after = int(entry.get("after", 0))
        self.wfile.write(body[:after])
        self.wfile.flush()
        if self.service._hold(path, self.connection) == "rest":
            self._send_quietly(body[after:])
        return "fault"

    def _send_quietly(self, data):
        """Sends what it can; a client that left ends the sending. Returns the bytes sent."""
        sent = 0
        try:
            for offset in range(0, len(data), CHUNK):
                self.wfile.write(data[offset:offset + CHUNK])
                sent += len(data[offset:offset + CHUNK])
            self.wfile.flush()
        except OSError:
            pass
        return sent

    def _raw_slowly(self, data, interval, fault="trickle"):
        body = self._send_ranged_head(data, fault)
        if body is None:
            return 416
        for i in range(len(body)):
            if self.service.stopping(interval) or _closed_by_peer(self.connection):
                break
            try:
                self.wfile.write(body[i:i + 1])
                self.wfile.flush()
            except OSError:
                break
        return "fault"

    def _raw_oversize(self, data, extra):
        self._extra["fault"] = "oversize"
        item = self._record(200)
        self.close_connection = True
        # A client that stops reading without closing must not hold the sender for ever.
        self.connection.settimeout(30)
        self._send_head(200, len(data) + extra)
        sent = self._send_quietly(data)
        filler = bytes(range(256)) * (CHUNK // 256)
        try:
            while sent < len(data) + extra and not self.service.stopping():
                piece = filler[:len(data) + extra - sent]
                self.wfile.write(piece)
                sent += len(piece)
        except OSError:
            pass
        # Once the sending has ended: how far the client let it go.
        item["sent"] = sent
        return "fault"

    def _raw_announcing(self, data, length):
        self._extra["fault"] = "content_length"
        self._record(200)
        self.close_connection = True
        self._send_head(200, length)
        self._send_quietly(data)
        return "fault"

    def _raw_hold(self, path, hold, ref, data):
        if hold != "silent" and not (isinstance(hold, int) and 0 <= hold <= len(data)):
            raise ValueError(f"unknown raw hold {hold!r}")
        self._record("held")
        self.close_connection = True
        if hold != "silent":
            self.send_response(200)
            self.send_header("Content-Type", "application/octet-stream")
            self.send_header("Content-Length", str(len(data)))
            self.send_header("Connection", "close")
            self.end_headers()
            self.wfile.write(data[:hold])
            self.wfile.flush()
        outcome = self.service._hold(path, self.connection)
        if outcome == "rest" and hold == "silent":
            return self._raw_content(ref, path.lstrip("/"), data)
        if isinstance(outcome, int) and hold == "silent":
            return self._raw_status(outcome)
        if outcome == "rest":
            try:
                self.wfile.write(data[hold:])
                self.wfile.flush()
            except OSError:  # the client left at the moment of release
                pass
        return "held"

    def _raw_fault(self, fault, data):
        self._record(200)
        self.close_connection = True
        if fault == "drop":
            return "dropped"
        announced = len(data)
        if fault == "cut":
            data = data[:len(data) // 2]
        elif fault == "long_length":
            announced += 1000
        elif fault == "wrong_bytes":
            data = bytes(b ^ 0x20 for b in data) if data else data
        else:
            raise ValueError(f"unknown raw fault {fault!r}")
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(announced))
        self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.write(data)
        self.wfile.flush()
        return 200

    def _raw_status(self, status):
        body = b"404: Not Found" if status == 404 else f"{status}: Error".encode()
        self._reply(status, body, TEXT_TYPE)
        return status

    # --- REST API -------------------------------------------------------------

    def _api(self, rest, query):
        if not (rest == REPOSITORY or rest.startswith(REPOSITORY + "/")):
            return self._api_error(404, "Not Found")
        rest = rest[len(REPOSITORY) + 1:]
        kind = _api_kind(rest)
        if kind and self.service.behaviour["api_oversize"].get(kind) is not None:
            return self._api_oversize(kind, int(self.service.behaviour["api_oversize"][kind]))
        flaky = self.service.take_fault("api", kind) if kind else None
        if flaky:
            return self._api_flaky(flaky)
        if rest.startswith("commits/"):
            return self._head_commit(rest[len("commits/"):])
        if rest == "commits":
            return self._commit_list(query)
        if rest.startswith("git/trees/"):
            return self._tree(rest[len("git/trees/"):], query)
        if rest.startswith("git/blobs/"):
            return self._blob(rest[len("git/blobs/"):])
        if rest.startswith("contents/") or rest == "contents":
            return self._contents(rest[len("contents/"):], query)
        return self._api_error(404, "Not Found")

    def _api_flaky(self, entry):
        fault = entry["fault"]
        self._extra["fault"] = fault
        if fault in FLAKY_API_FAULTS:
            self._record("dropped" if fault == "drop" else "reset")
            if fault == "reset":
                self._reset()
            self.close_connection = True
            return "fault"
        if not isinstance(fault, int):
            raise ValueError(f"unknown api_flaky fault {fault!r}")
        body = json.dumps({"message": HTTPStatus(fault).phrase, "documentation_url": DOCS, "status": str(fault)})
        headers = self._api_headers()
        if "retry_after" in entry:
            headers["Retry-After"] = entry["retry_after"]
        self._reply(fault, body.encode(), JSON_TYPE, headers)
        return fault

    def _api_oversize(self, kind, size):
        """A well-formed reply of the kind's shape, padded with blanks to `size` bytes."""
        self._extra["fault"] = "oversize"
        if kind == "head":
            opening, closing, content_type = "0" * 40, "", SHA_TYPE
        elif kind == "commits":
            opening, closing, content_type = "[", "]", JSON_TYPE
        else:
            opening, closing, content_type = '{"sha": "' + "0" * 40 + '", "tree": [', '], "truncated": false}', JSON_TYPE
        opening, closing = opening.encode(), closing.encode()
        if size < len(opening) + len(closing):
            raise ValueError(f"api_oversize of {size} bytes is shorter than a reply")
        item = self._record(200)
        self.close_connection = True
        self.connection.settimeout(30)
        self.send_response(200)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(size))
        for name, value in self._api_headers().items():
            self.send_header(name, str(value))
        self.send_header("Connection", "close")
        self.end_headers()
        blanks = b" " * CHUNK
        sent = 0
        try:
            self.wfile.write(opening)
            sent = len(opening)
            while sent < size - len(closing) and not self.service.stopping():
                piece = blanks[:size - len(closing) - sent]
                self.wfile.write(piece)
                sent += len(piece)
            self.wfile.write(closing)
            sent += len(closing)
        except OSError:
            pass
        item["sent"] = sent
        return "fault"

    def _api_url(self, tail):
        return f"{self._base('api')}/repos/{REPOSITORY}/{tail}"

    def _commit_json(self, sha):
        info = self.service.repo.commit(sha)
        person = {"name": info.author_name, "email": info.author_email, "date": info.date}
        return {
            "sha": info.sha,
            "node_id": "C_" + info.sha[:20],
            "commit": {"author": person, "committer": person, "message": info.message,
                       "tree": {"sha": info.tree, "url": self._api_url(f"git/trees/{info.tree}")},
                       "url": self._api_url(f"git/commits/{info.sha}"), "comment_count": 0},
            "url": self._api_url(f"commits/{info.sha}"),
            "html_url": f"https://github.com/{REPOSITORY}/commit/{info.sha}",
            "parents": [{"sha": p, "url": self._api_url(f"commits/{p}")} for p in info.parents],
        }

    def _head_commit(self, ref):
        b = self.service.behaviour
        if b["head_status"] == 403:
            return self._api_error(403, "API rate limit exceeded for 127.0.0.1. (But here's the good news: "
                                        "Authenticated requests get a higher rate limit.)",
                                   "https://docs.github.com/rest/overview/rate-limits-for-the-rest-api")
        if b["head_status"] is not None:
            return self._api_error(int(b["head_status"]), "Not Found" if b["head_status"] == 404 else "Error")
        sha = self.service.repo.resolve(ref)
        if sha is None:
            return self._api_error(422, f"No commit found for SHA: {ref}",
                                   "https://docs.github.com/rest/commits/commits#get-a-commit")
        if "application/vnd.github.sha" in self.headers.get("Accept", ""):
            text = sha + ("\n" if b["head_trailing_newline"] else "")
            self._reply(200, text.encode("ascii"), SHA_TYPE, self._api_headers())
            return 200
        return self._api_json(200, self._commit_json(sha))

    def _commit_list(self, query):
        ref = query.get("sha", ["main"])[0]
        path = query.get("path", [None])[0]
        per_page = min(100, int(query.get("per_page", ["30"])[0]))
        page = max(1, int(query.get("page", ["1"])[0]))
        sha = self.service.repo.resolve(ref)
        if sha is None:
            return self._api_error(404, f"No commit found for SHA: {ref}")
        shas = self.service.repo.log(sha, path)[(page - 1) * per_page:page * per_page]
        return self._api_json(200, [self._commit_json(s) for s in shas])

    def _tree(self, ref, query):
        repo = self.service.repo
        tree = repo.resolve(ref, "tree")
        if tree is None:
            return self._api_error(404, "Not Found")
        recursive = "recursive" in query
        entries = []
        for e in repo.ls_tree(tree, recursive):
            item = {"path": e.path, "mode": e.mode, "type": e.type, "sha": e.sha}
            if e.type == "blob":
                item["size"] = e.size
                item["url"] = self._api_url(f"git/blobs/{e.sha}")
            elif e.type == "tree":
                item["url"] = self._api_url(f"git/trees/{e.sha}")
            entries.append(item)
        sha = tree
        if self.service.behaviour["tree_sha"] == "commit" and repo.object_type(ref) != "tree":
            sha = repo.resolve(ref) or tree
        return self._api_json(200, {"sha": sha, "url": self._api_url(f"git/trees/{tree}"),
                                    "tree": entries, "truncated": False})

    def _blob(self, sha):
        repo = self.service.repo
        if repo.object_type(sha) != "blob":
            return self._api_error(404, "Not Found")
        data = repo.blob(sha)
        return self._api_json(200, {"sha": sha, "node_id": "B_" + sha[:20], "size": len(data),
                                    "url": self._api_url(f"git/blobs/{sha}"),
                                    "content": _base64_lines(data), "encoding": "base64"})

    def _contents(self, path, query):
        repo = self.service.repo
        ref = (query.get("ref", [""])[0]) or "main"
        if repo.resolve(ref) is None:
            return self._api_error(404, f"No commit found for the ref {ref}")
        path = path.strip("/")
        kind = "tree"
        if path:
            kind = "blob" if repo.resolve(f"{ref}:{path}", "blob") else \
                "tree" if repo.resolve(f"{ref}:{path}", "tree") else None
        if kind == "blob":
            return self._api_json(200, self._content_entry(ref, path, with_content=True))
        if kind != "tree":
            return self._api_error(404, "Not Found")
        tree = repo.resolve(f"{ref}:{path}" if path else ref, "tree")
        listing = [self._content_entry(ref, f"{path}/{e.path}".lstrip("/"), entry=e)
                   for e in repo.ls_tree(tree, False)]
        return self._api_json(200, listing)

    def _content_entry(self, ref, path, with_content=False, entry=None):
        repo = self.service.repo
        if entry is None:
            sha = repo.resolve(f"{ref}:{path}", "blob")
            data = repo.blob(sha)
            size, kind = len(data), "file"
        else:
            sha, size, kind = entry.sha, entry.size or 0, "file" if entry.type == "blob" else "dir"
        item = {"name": path.rsplit("/", 1)[-1], "path": path, "sha": sha, "size": size,
                "url": self._api_url(f"contents/{path}?ref={ref}"),
                "html_url": f"https://github.com/{REPOSITORY}/{'blob' if kind == 'file' else 'tree'}/{ref}/{path}",
                "git_url": self._api_url(f"git/{'blobs' if kind == 'file' else 'trees'}/{sha}"),
                "download_url": f"{self._base('raw')}/{REPOSITORY}/{ref}/{path}" if kind == "file" else None,
                "type": kind}
        if with_content:
            inline = size <= CONTENT_INLINE_LIMIT
            item["content"] = _base64_lines(data) if inline else ""
            item["encoding"] = "base64" if inline else "none"
        item["_links"] = {"self": item["url"], "git": item["git_url"], "html": item["html_url"]}
        return item


def _api_kind(rest):
    """The kind of an API request below the repository, as api_flaky and api_oversize name it."""
    if rest.startswith("commits/"):
        return "head"
    if rest == "commits":
        return "commits"
    for prefix, kind in (("git/trees/", "tree"), ("git/blobs/", "blob"), ("contents", "launcher")):
        if rest.startswith(prefix):
            return kind
    return None


def _closed_by_peer(connection) -> bool:
    """True once the client has closed its end: readable with nothing left to read."""
    try:
        readable, _, _ = select.select([connection], [], [], 0)
        return bool(readable) and connection.recv(1, socket.MSG_PEEK) == b""
    except (OSError, ValueError):
        return True


def _base64_lines(data: bytes) -> str:
    text = base64.b64encode(data).decode("ascii")
    return "".join(text[i:i + 60] + "\n" for i in range(0, len(text), 60))


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--repo", required=True, type=Path, help="local git repository to serve")
    parser.add_argument("--port", type=int, default=0, help="0 picks a free port")
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--record", type=Path, help="JSON-lines file receiving every request")
    parser.add_argument("--port-file", type=Path, help="file receiving the chosen port")
    args = parser.parse_args()
    service = RepositoryService(args.repo, args.port, args.host, args.record)
    if args.port_file:
        args.port_file.write_text(str(service.server.server_address[1]))
    print(f"listening on {service.url}", flush=True)
    try:
        service.server.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        service.server.server_close()


if __name__ == "__main__":
    main()
