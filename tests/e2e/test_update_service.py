"""The repository service stand-in and the sample repository it serves.

These run on Linux alone: they check that the stand-in answers in the public
service's shapes from real git data, so that scenarios against it mean something.
"""
import hashlib
import json
import socket
import subprocess
import sys
import time
import urllib.error
import urllib.request
from pathlib import Path

import pytest

TOOLS = Path(__file__).resolve().parents[2] / "tools"
sys.path.insert(0, str(TOOLS / "service"))
sys.path.insert(0, str(TOOLS / "samplerepo"))
from generate import generate  # noqa: E402
from repository_service import RepositoryService  # noqa: E402

API = "/repos/ORMUND42/veldra_public"
RAW = "/ORMUND42/veldra_public"


@pytest.fixture(scope="module")
def sample(tmp_path_factory):
    return generate(tmp_path_factory.mktemp("sample") / "repo")


@pytest.fixture
def service(sample, tmp_path):
    svc = RepositoryService(sample["path"], record_file=tmp_path / "requests.jsonl").start()
    yield svc
    svc.stop()


def fetch(service, path, accept=None, data=None):
    request = urllib.request.Request(service.url + path, data=data, headers={"Accept": accept} if accept else {})
    try:
        with urllib.request.urlopen(request, timeout=10) as reply:
            return reply.status, dict(reply.headers), reply.read()
    except urllib.error.HTTPError as error:
        return error.code, dict(error.headers), error.read()


def git(repo, *args):
    return subprocess.run(["git", "-C", repo, *args], check=True, capture_output=True).stdout


def blob_hash(data):
    return hashlib.sha1(b"blob %d\x00" % len(data) + data).hexdigest()


def test_head_commit_text_and_its_variants(service, sample):
    cases = [  # behaviour, branch, expected status, expected body (None: JSON error)
        ({}, "main", 200, sample["main"][-1].encode()),
        ({}, "qa", 200, sample["qa"][-1].encode()),
        ({"head_trailing_newline": True}, "main", 200, sample["main"][-1].encode() + b"\n"),
        ({"head_status": 404}, "main", 404, None),
        ({"head_status": 403}, "main", 403, None),
        ({}, "no-such-branch", 422, None),
    ]
    for behaviour, branch, status, body in cases:
        service.behaviour.update(behaviour)
        got_status, headers, got_body = fetch(service, f"{API}/commits/{branch}", "application/vnd.github.sha")
        assert got_status == status, (behaviour, branch)
        assert "x-ratelimit-remaining" in {k.lower() for k in headers}
        if body is None:
            assert json.loads(got_body)["message"]
        else:
            assert got_body == body
            assert headers["Content-Type"].startswith("application/vnd.github.sha")
        service.behaviour.update(head_status=None, head_trailing_newline=False)
    # Without the sha media type the public API answers with the commit object.
    _, _, body = fetch(service, f"{API}/commits/main", "application/vnd.github+json")
    assert json.loads(body)["sha"] == sample["main"][-1]


def test_trees_list_git_objects_with_sizes_and_blob_hashes(service, sample):
    status, headers, body = fetch(service, f"{API}/git/trees/main", "application/vnd.github+json")
    root = json.loads(body)
    assert status == 200 and headers["Content-Type"].startswith("application/json")
    assert root["sha"] == git(sample["path"], "rev-parse", "main^{tree}").decode().strip()
    entries = {e["path"]: e for e in root["tree"]}
    assert entries["data"]["type"] == "tree" and entries[".upgrade"]["type"] == "tree"
    launcher = entries["Launcher.exe"]
    content = git(sample["path"], "show", "main:Launcher.exe")
    assert (launcher["size"], launcher["sha"]) == (len(content), blob_hash(content))
    # A folder's url lists it; recursive=1 gives every path below, relative to it.
    _, _, body = fetch(service, entries["data"]["url"].removeprefix(service.url) + "?recursive=1")
    nested = {e["path"]: e for e in json.loads(body)["tree"]}
    assert "maps/north/.part_0_0.png" in nested and nested["maps"]["type"] == "tree"
    assert "text/кириллица.txt" in nested
    _, _, body = fetch(service, entries["bin"]["url"].removeprefix(service.url))
    assert [e["path"] for e in json.loads(body)["tree"]] == ["sub", "tool.dll"]
    # The commit named in the request: the tree of that commit.
    _, _, body = fetch(service, f"{API}/git/trees/{sample['main'][0]}")
    assert "data/text/obsolete.txt" not in body.decode() and "Launcher.exe" in body.decode()
    service.behaviour["tree_sha"] = "commit"
    _, _, body = fetch(service, f"{API}/git/trees/{sample['main'][0]}")
    assert json.loads(body)["sha"] == sample["main"][0]
    assert fetch(service, f"{API}/git/trees/{'0' * 40}")[0] == 404


def test_change_lists_lead_from_every_release_to_the_head(service, sample):
    for branch in ("main", "qa"):
        releases = sample[branch]
        processing = releases[0]
        visited = [processing]
        while processing != releases[-1]:
            status, _, change_list = fetch(service, f"{RAW}/{branch}/.upgrade/{processing}")
            assert status == 200
            expected = git(sample["path"], "diff", "--name-status", "-M", processing,
                           releases[len(visited)], "--", ".", ":(exclude).upgrade")
            assert change_list == expected
            _, _, body = fetch(service, f"{API}/commits?sha={branch}&path=.upgrade/{processing}")
            processing = json.loads(body)[0]["sha"]
            visited.append(processing)
        assert visited == releases
        # The head has no change list yet.
        status, _, body = fetch(service, f"{RAW}/{branch}/.upgrade/{releases[-1]}")
        assert (status, body) == (404, b"404: Not Found")


def test_sample_change_lists_hold_renames_quoted_paths_and_the_player_subtree(sample):
    text = git(sample["path"], "show", f"main:.upgrade/{sample['main'][0]}").decode()
    lines = text.splitlines()
    assert "R100\tdata/text/old_name.txt\tdata/text/new_name.txt" in lines
    assert "D\tdata/text/obsolete.txt" in lines
    assert "M\tdata/campanings/mods/example_mod.txt" in lines
    assert any(line.startswith('A\t"data/text/\\320\\272') and line.endswith('.txt"') for line in lines)
    files = git(sample["path"], "ls-tree", "-r", "--name-only", "qa").decode().split()
    for needed in ("Launcher.exe", "VELDRA.exe", "data/maps/north/settings.ini",
                   "data/maps/south/.part_1_0.png", "data/campanings/mods/example_mod.txt"):
        assert needed in files


def test_contents_metadata_points_at_the_raw_file(service, sample):
    status, _, body = fetch(service, f"{API}/contents/Launcher.exe?ref=qa", "application/vnd.github+json")
    meta = json.loads(body)
    assert status == 200 and meta["type"] == "file"
    status, _, data = fetch(service, meta["download_url"].removeprefix(service.url))
    assert status == 200 and (len(data), blob_hash(data)) == (meta["size"], meta["sha"])
    assert fetch(service, f"{API}/contents/Missing.exe?ref=main")[0] == 404
    assert fetch(service, f"{API}/contents/Launcher.exe?ref=nope")[0] == 404


def test_raw_files_and_missing_things(service, sample):
    cases = [  # path, status, body or None (compare with git)
        (f"{RAW}/main/data/config.ini", 200, None),
        (f"{RAW}/qa/data/config.ini", 200, None),
        (f"{RAW}/main/data/text/%D0%BA%D0%B8%D1%80%D0%B8%D0%BB%D0%BB%D0%B8%D1%86%D0%B0.txt", 200,
         "Привет\n".encode()),
        (f"{RAW}/main/data", 404, b"404: Not Found"),
        (f"{RAW}/main/no/such/file", 404, b"404: Not Found"),
        (f"{RAW}/no-branch/data/config.ini", 404, b"404: Not Found"),
        ("/someone/else/main/data/config.ini", 404, b"404: Not Found"),
    ]
    for path, status, body in cases:
        got_status, _, got_body = fetch(service, path)
        assert got_status == status, path
        if body is None:
            branch = path.split("/")[3]
            body = git(sample["path"], "show", f"{branch}:data/config.ini")
        assert got_body == body, path


def test_rate_limit_headers_follow_the_behaviour(service):
    def remaining():
        return {k.lower(): v for k, v in fetch(service, f"{API}/git/trees/main")[1].items()}.get("x-ratelimit-remaining")
    first = int(remaining())
    assert int(remaining()) == first - 1
    service.behaviour["ratelimit_remaining"] = 9
    assert remaining() == "9"
    service.behaviour["ratelimit_remaining"] = "absent"
    assert remaining() is None


def test_every_request_is_recorded_and_collect_bodies_are_kept_exactly(service, tmp_path):
    body = '{"client_id": "0011", "events": [{"name": "x", "params": {"version": "1"}}]}'.encode()
    path = "/mp/collect?measurement_id=G-1&api_secret=s"
    assert fetch(service, path, data=body)[0] == 204
    fetch(service, f"{RAW}/main/readme.txt")
    recorded = [json.loads(line) for line in (tmp_path / "requests.jsonl").read_text().splitlines()]
    assert [(r["method"], r["path"]) for r in recorded] == [("POST", path), ("GET", f"{RAW}/main/readme.txt")]
    assert recorded[0]["body"].encode() == body and recorded[0]["status"] == 204
    assert service.requests("/mp/collect")[0]["headers"]["content-length"] == str(len(body))


def test_collect_without_an_answer(service):
    host, port = service.server.server_address[:2]
    post = b"POST /mp/collect HTTP/1.1\r\nHost: x\r\nContent-Length: 2\r\n\r\n{}"
    service.behaviour["analytics"] = "drop"
    with socket.create_connection((host, port), timeout=10) as s:
        s.sendall(post)
        assert s.recv(100) == b""
    # A hung post is recorded at once and answered with nothing until the service stops.
    service.behaviour["analytics"] = "hang"
    with socket.create_connection((host, port), timeout=10) as s:
        s.sendall(post)
        for _ in range(100):
            if len(service.requests("/mp/collect")) == 2:
                break
            s.settimeout(0.1)
            try:
                assert s.recv(100) == b"", "a hung post was answered"
            except socket.timeout:
                pass
        assert [r["status"] for r in service.requests("/mp/collect")] == ["dropped", "hung"]
        service.release_hung.set()
        s.settimeout(10)
        assert s.recv(100) == b""


def test_control_path_switches_behaviour(service):
    status, _, body = fetch(service, "/_stand-in/behaviour", data=json.dumps({"head_status": 404}).encode())
    assert status == 200 and json.loads(body)["behaviour"]["head_status"] == 404
    assert fetch(service, f"{API}/commits/main", "application/vnd.github.sha")[0] == 404
    assert fetch(service, "/_stand-in/behaviour", data=b'{"no_such": 1}')[0] == 400
    fetch(service, "/_stand-in/reset", data=b"")
    assert fetch(service, f"{API}/commits/main", "application/vnd.github.sha")[0] == 200


def _read_until_closed(s):
    s.settimeout(10)
    data = b""
    while chunk := s.recv(65536):
        data += chunk
    return data


def _wait_for_holds(service, states):
    for _ in range(100):
        if [h["state"] for h in service.holds()] == states:
            return
        time.sleep(0.1)
    raise AssertionError(f"holds {service.holds()}, expected states {states}")


HOLDS = [  # hold, outcome, status the client gets, how much of the body
    ("silent", "rest", 200, "all"),
    ("silent", 500, 500, "none"),
    (5, "rest", 200, "all"),
    (5, "close", 200, "part"),
    (5, 500, 200, "part"),
]


@pytest.mark.parametrize("hold, outcome, status, body", HOLDS)
def test_held_raw_files_wait_for_their_release(service, sample, hold, outcome, status, body):
    data = git(sample["path"], "show", "main:readme.txt")
    service.behaviour["raw_hold"] = {"/readme.txt": hold}
    with socket.create_connection(service.server.server_address[:2], timeout=10) as s:
        s.sendall(f"GET {RAW}/main/readme.txt HTTP/1.1\r\nHost: x\r\n\r\n".encode())
        _wait_for_holds(service, ["held"])
        held = b""
        if hold != "silent":
            while not (b"\r\n\r\n" in held and len(held.split(b"\r\n\r\n", 1)[1]) >= hold):
                held += s.recv(65536)
        s.settimeout(0.3)
        with pytest.raises(socket.timeout):
            held += s.recv(65536)
        service.release("/readme.txt", outcome)
        reply = held + _read_until_closed(s)
    head, _, got = reply.partition(b"\r\n\r\n")
    assert head.split(b" ")[1] == str(status).encode(), head
    if status == 200:
        assert b"Content-Length: %d" % len(data) in head
        assert got == {"all": data, "part": data[:5]}[body]
    assert [h["state"] for h in service.holds()] == ["released"]
    assert service.requests(f"{RAW}/main/readme.txt")[0]["status"] == "held"


def test_a_hold_sees_the_client_leave_and_ends_with_the_service(sample, service):
    service.behaviour["raw_hold"] = {"/readme.txt": "silent", "/data/config.ini": 0}
    address = service.server.server_address[:2]
    request = "GET {}/main/{} HTTP/1.1\r\nHost: x\r\n\r\n"
    with socket.create_connection(address, timeout=10) as s:
        s.sendall(request.format(RAW, "readme.txt").encode())
        _wait_for_holds(service, ["held"])
    _wait_for_holds(service, ["closed by client"])
    other = socket.create_connection(address, timeout=10)
    other.sendall(request.format(RAW, "data/config.ini").encode())
    _wait_for_holds(service, ["closed by client", "held"])
    # Released through the control path, a later request of the path is not held.
    assert fetch(service, "/_stand-in/release", data=b'{"path": "/readme.txt"}')[0] == 200
    assert fetch(service, f"{RAW}/main/readme.txt")[2] == git(sample["path"], "show", "main:readme.txt")
    service.stop()
    assert _read_until_closed(other).startswith(b"HTTP/1.1 200")
    other.close()
    assert [h["state"] for h in service.holds()] == ["closed by client", "stopped", "released"]


def exchange(service, path, headers=(), read=None):
    """One raw request over a socket: (status, {header: value}, body, how it ended: "closed" or "reset").
    read: stop after that many body bytes and close."""
    lines = [f"GET {path} HTTP/1.1", "Host: x", *headers]
    with socket.create_connection(service.server.server_address[:2], timeout=10) as s:
        s.sendall(("\r\n".join(lines) + "\r\n\r\n").encode())
        data, ended = b"", "closed"
        try:
            while chunk := s.recv(65536):
                data += chunk
                if read is not None and b"\r\n\r\n" in data and len(data.split(b"\r\n\r\n", 1)[1]) >= read:
                    break
        except ConnectionResetError:
            ended = "reset"
    head, _, body = data.partition(b"\r\n\r\n")
    if not head:
        return None, {}, b"", ended
    status_line, *fields = head.decode("latin-1").split("\r\n")
    return int(status_line.split()[1]), {k.lower(): v.strip() for k, v in (f.split(":", 1) for f in fields)}, body, ended


def test_raw_files_honour_a_range_from_an_offset(service, sample):
    data = git(sample["path"], "show", "main:readme.txt")
    size = len(data)
    cases = [  # Range header, status, body, Content-Range
        (None, 200, data, None),
        ("bytes=5-", 206, data[5:], f"bytes 5-{size - 1}/{size}"),
        ("bytes=0-", 206, data, f"bytes 0-{size - 1}/{size}"),
        (f"bytes={size - 1}-", 206, data[-1:], f"bytes {size - 1}-{size - 1}/{size}"),
        ("bytes=2-4", 206, data[2:5], f"bytes 2-4/{size}"),
        (f"bytes={size}-", 416, b"", f"bytes */{size}"),
    ]
    for header, status, body, content_range in cases:
        got_status, headers, got_body, _ = exchange(service, f"{RAW}/main/readme.txt",
                                                    [f"Range: {header}"] if header else [])
        assert (got_status, got_body, headers.get("content-range")) == (status, body, content_range), header
        assert int(headers["content-length"]) == len(body), header
    starts = [(r["status"], r.get("range_start")) for r in service.requests(f"{RAW}/main/readme.txt")]
    assert starts == [(200, None), (206, 5), (206, 0), (206, size - 1), (206, 2), (416, None)]


FLAKY_RAW = [  # entry, what the faulted requests get: (status, body, ended) with "data"/"half" for the file
    ({"fault": 503}, (503, b"503: Service Unavailable", "closed")),
    ({"fault": 429, "retry_after": 7}, (429, b"429: Too Many Requests", "closed")),
    ({"fault": "drop"}, (None, b"", "closed")),
    ({"fault": "reset"}, (None, b"", "reset")),
    ({"fault": "cut"}, (200, "half", "closed")),
    ({"fault": "wrong_bytes"}, (200, "wrong", "closed")),
]


@pytest.mark.parametrize("entry, faulted", FLAKY_RAW, ids=lambda v: str(v.get("fault")) if isinstance(v, dict) else "")
def test_a_flaky_raw_file_fails_its_first_requests_then_is_served(service, sample, entry, faulted):
    data = git(sample["path"], "show", "main:data/config.ini")
    expected = {"half": data[:len(data) // 2], "wrong": bytes(b ^ 0x20 for b in data)}
    service.behaviour["raw_flaky"] = {"/data/config.ini": dict(entry, times=2)}
    path = f"{RAW}/main/data/config.ini"
    for _ in range(2):
        status, headers, body, ended = exchange(service, path)
        assert (status, body, ended) == (faulted[0], expected.get(faulted[1], faulted[1]), faulted[2])
        if status == 200:
            assert headers["content-length"] == str(len(data))
        if "retry_after" in entry:
            assert headers["retry-after"] == str(entry["retry_after"])
    assert exchange(service, path)[:3:2] == (200, data)
    recorded = service.requests(path)
    assert [r.get("fault") for r in recorded] == [entry["fault"]] * 2 + [None]
    # A changed entry counts from zero again; other paths are not touched.
    service.behaviour["raw_flaky"] = {"/data/config.ini": dict(entry, times=1)}
    assert exchange(service, path)[2] == expected.get(faulted[1], faulted[1])
    assert exchange(service, f"{RAW}/main/readme.txt")[0] == 200


def test_a_cut_or_stalled_reply_honours_the_range_of_a_resumed_request(service, sample):
    data = git(sample["path"], "show", "main:data/config.ini")
    path = f"{RAW}/main/data/config.ini"
    service.behaviour["raw_flaky"] = {"/data/config.ini": {"fault": "cut", "times": 1}}
    status, headers, body, _ = exchange(service, path, ["Range: bytes=4-"])
    rest = data[4:]
    assert (status, headers["content-range"], body) == (206, f"bytes 4-{len(data) - 1}/{len(data)}",
                                                        rest[:len(rest) // 2])
    # A stall sends "after" bytes and then nothing until the path is released.
    service.behaviour["raw_flaky"] = {"/data/config.ini": {"fault": "stall", "times": 1, "after": 3}}
    with socket.create_connection(service.server.server_address[:2], timeout=10) as s:
        s.sendall(f"GET {path} HTTP/1.1\r\nHost: x\r\nRange: bytes=2-\r\n\r\n".encode())
        _wait_for_holds(service, ["held"])
        held = b""
        while not (b"\r\n\r\n" in held and len(held.split(b"\r\n\r\n", 1)[1]) >= 3):
            held += s.recv(65536)
        s.settimeout(0.3)
        with pytest.raises(socket.timeout):
            held += s.recv(65536)
        service.release("/data/config.ini")
        reply = held + _read_until_closed(s)
    head, _, body = reply.partition(b"\r\n\r\n")
    assert head.startswith(b"HTTP/1.1 206") and body == data[2:]
    assert [(r["status"], r.get("range_start"), r.get("fault")) for r in service.requests(path)] == [
        (206, 4, "cut"), (206, 2, "stall")]


def test_a_flaky_api_kind_fails_its_first_requests_then_answers(service, sample):
    requests = {  # kind: (path, Accept)
        "head": (f"{API}/commits/main", "application/vnd.github.sha"),
        "commits": (f"{API}/commits?sha=main&path=.upgrade/{sample['main'][0]}", None),
        "tree": (f"{API}/git/trees/main", None),
        "launcher": (f"{API}/contents/Launcher.exe?ref=main", None),
    }
    faults = [({"fault": 502}, 502), ({"fault": 429, "retry_after": 3}, 429), ({"fault": "drop"}, None),
              ({"fault": "reset"}, "reset")]
    for kind, (path, accept) in requests.items():
        for entry, outcome in faults:
            service.behaviour["api_flaky"] = {kind: dict(entry, times=1)}
            status, headers, body, ended = exchange(service, path, [f"Accept: {accept}"] if accept else [])
            got = "reset" if ended == "reset" else status
            assert got == outcome, (kind, entry)
            if isinstance(outcome, int):
                assert json.loads(body)["status"] == str(outcome) and "x-ratelimit-remaining" in headers
                assert headers.get("retry-after") == (str(entry["retry_after"]) if "retry_after" in entry else None)
            assert exchange(service, path, [f"Accept: {accept}"] if accept else [])[0] == 200, (kind, entry)
    # A fault of one kind leaves the others alone.
    service.behaviour["api_flaky"] = {"tree": {"fault": 503, "times": 5}}
    assert exchange(service, requests["head"][0], ["Accept: application/vnd.github.sha"])[0] == 200


def test_a_trickled_file_arrives_byte_by_byte_and_stops_when_the_client_leaves(service, sample):
    data = git(sample["path"], "show", "main:readme.txt")
    service.behaviour["raw_trickle"] = {"/readme.txt": 0.01}
    status, headers, body, _ = exchange(service, f"{RAW}/main/readme.txt", ["Range: bytes=3-"])
    assert (status, headers["content-length"], body) == (206, str(len(data) - 3), data[3:])
    service.behaviour["raw_trickle"] = {}
    service.behaviour["raw_flaky"] = {"/readme.txt": {"fault": "trickle", "interval": 0.01, "times": 1}}
    assert exchange(service, f"{RAW}/main/readme.txt")[2] == data
    assert [r.get("fault") for r in service.requests(f"{RAW}/main/readme.txt")] == ["trickle", "trickle"]


def test_oversized_and_misannounced_bodies(service, sample):
    data = git(sample["path"], "show", "main:readme.txt")
    path = f"{RAW}/main/readme.txt"
    service.behaviour["raw_oversize"] = {"/readme.txt": 100000}
    status, headers, body, _ = exchange(service, path)
    assert (status, headers["content-length"], len(body)) == (200, str(len(data) + 100000), len(data) + 100000)
    assert body.startswith(data) and body[len(data):] != b"\0" * 100000
    # A client that stops early stops the sender: a gibibyte is never sent.
    service.behaviour["raw_oversize"] = {"/readme.txt": 1 << 30}
    status, headers, body, _ = exchange(service, path, read=1000)
    assert headers["content-length"] == str(len(data) + (1 << 30))
    for _ in range(100):
        if "sent" in service.requests(path)[-1]:
            break
        time.sleep(0.1)
    assert service.requests(path)[-1]["sent"] < 64 << 20
    service.behaviour["raw_oversize"] = {}
    service.behaviour["raw_content_length"] = {"/readme.txt": len(data) + 10}
    status, headers, body, ended = exchange(service, path)
    assert (status, headers["content-length"], body, ended) == (200, str(len(data) + 10), data, "closed")


def test_an_oversized_api_reply_is_well_formed_and_as_long_as_asked(service):
    size = 3 * 1024 * 1024 + 7
    service.behaviour["api_oversize"] = {"tree": size, "head": 100000}
    status, headers, body, _ = exchange(service, f"{API}/git/trees/main")
    assert (status, int(headers["content-length"]), len(body)) == (200, size, size)
    assert json.loads(body)["tree"] == []
    status, headers, body, _ = exchange(service, f"{API}/commits/main", ["Accept: application/vnd.github.sha"])
    assert (status, len(body), body.strip()) == (200, 100000, b"0" * 40)
    assert exchange(service, f"{API}/contents/Launcher.exe?ref=main")[0] == 200
