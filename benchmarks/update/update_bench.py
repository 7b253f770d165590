#!/usr/bin/env python3
"""The update benchmark: the real Launcher.exe, driven through its window as the
end-to-end tests drive it, installs a large generated repository from nothing
through the repository service stand-in, then applies an incremental update,
then walks the installation without .last (every walk fetches the image pieces
again, since they never live in the archives, so it repacks every map).

For each run: wall time per phase, API requests, bytes fetched, the launcher's
peak memory; beside it the floor of the same work done one step after another
without overlap: tools/httpfloor fetching the same files from the same
service, git hash-object over them, and the encode benchmarks' reference
encoders (cjpeg, pnmtopng) over the map images the launcher assembled.

Usage: update_bench.py BUILD_DIR WORK_DIR [--scale S] [--repeat N]
Expects the Wine session of tools/wine-session.sh (DISPLAY, WINEPREFIX).
"""
import argparse
import io
import json
import os
import re
import shutil
import signal
import statistics
import subprocess
import sys
import time
import types
import zipfile
from datetime import datetime
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
sys.path[:0] = [str(ROOT / "tests" / "e2e"), str(ROOT / "benchmarks" / "update")]
import bigrepo  # noqa: E402
from e2e_support.driver import UiDriver, read_control_ids  # noqa: E402
from e2e_support.launcher import LauncherProcess, box_text  # noqa: E402
from e2e_support.waiting import wait_for  # noqa: E402
from e2e_support.wine import WineSession  # noqa: E402

REPOSITORY = "/ORMUND42/veldra_public/"
NOT_INSTALLED = "Игра не установлена!\nУкажите папку для установки игры или где находится игра."
PICKER_CAPTION = "Выберите каталог установки игры"
FINISHED = "Загрузка завершена"
INSTALL_KEY = r"Software\VELDRA"
PROTOCOL_KEY = r"Software\Classes\vdr"
RUN_TIMEOUT = 1800
PARALLEL = 21


class Service:
    """The stand-in (quick_service.py) as a process of its own: its threads do not compete with ours for the GIL."""

    def __init__(self, repo, work):
        self.record = work / "requests.jsonl"
        port_file = work / "service.port"
        port_file.unlink(missing_ok=True)
        self.process = subprocess.Popen([sys.executable, str(ROOT / "benchmarks" / "update" / "quick_service.py"),
                                         "--repo", str(repo), "--record", str(self.record),
                                         "--port-file", str(port_file)],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_for(lambda: port_file.exists() and port_file.read_text(), 30, what="the service's port")
        self.url = f"http://127.0.0.1:{port_file.read_text()}"

    def requests(self):
        if not self.record.exists():
            return []
        return [json.loads(line) for line in self.record.read_text(encoding="utf-8").splitlines() if line]

    def stop(self):
        self.process.terminate()
        self.process.wait(timeout=30)


def launcher_pid_linux(prefix, exe_name="Launcher.exe"):
    """The Linux process of the launcher in our prefix (Wine names it by its Windows path)."""
    for entry in Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            cmdline = (entry / "cmdline").read_bytes()
            if exe_name.lower().encode() not in cmdline.lower():
                continue
            environ = (entry / "environ").read_bytes().split(b"\0")
        except OSError:
            continue
        if f"WINEPREFIX={prefix}".encode() in environ:
            return int(entry.name)
    return None


def peak_memory_mib(pid):
    try:
        for line in Path(f"/proc/{pid}/status").read_text().splitlines():
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) / 1024
    except OSError:
        pass
    return float("nan")


def log_times(log_text, needle, near):
    """Times (seconds since 1970) of the log lines containing needle; the log has whole seconds."""
    times = []
    for line in log_text.splitlines():
        if needle not in line:
            continue
        match = re.match(r"\[[^\]]*?(\d{1,2}):(\d\d):(\d\d)(?:\s*([AP]M))?\]", line)
        if not match:
            continue
        hour, minute, second = int(match[1]), int(match[2]), int(match[3])
        if match[4] == "PM" and hour < 12:
            hour += 12
        if match[4] == "AM" and hour == 12:
            hour = 0
        day = datetime.fromtimestamp(near)
        stamp = day.replace(hour=hour, minute=minute, second=second, microsecond=0).timestamp()
        times.append(stamp)
    return times


class Run:
    """What one launcher run did, from the service's record and the launcher's log."""

    def __init__(self, name, requests, log_text, repo, peak):
        begin = [r for r in requests if r["path"].startswith("/mp/collect") and '"update_begin"' in r.get("body", "")]
        end = [r for r in requests if r["path"].startswith("/mp/collect") and '"update_end"' in r.get("body", "")]
        if not begin or not end:
            raise SystemExit(f"update: the {name} run left no update_begin/update_end in the record")
        self.name = name
        self.start, self.end = begin[-1]["time"], end[-1]["time"]
        inside = [r for r in requests if self.start <= r["time"] <= self.end]
        self.api = [r for r in inside if r["path"].startswith("/repos/")]
        raw = [r for r in inside if r["path"].startswith(REPOSITORY) and r["method"] == "GET"]
        self.files = [r for r in raw if "/.upgrade/" not in r["path"]]
        if any(r["status"] != 200 for r in self.files):
            raise SystemExit(f"update: the {name} run had failed downloads")
        self.sizes = raw_sizes(repo, [r["path"] for r in raw])
        self.bytes = sum(self.sizes.values())
        self.peak = peak
        self.first_file = min((r["time"] for r in self.files), default=self.end)
        self.last_file = max((r["time"] for r in self.files), default=self.start)
        packing_begin = [t for t in log_times(log_text, "Begin map packing:", self.start) if t >= self.start - 1]
        packing_end = [t for t in log_times(log_text, "End map packing:", self.start) if t >= self.start - 1]
        self.packing = (min(packing_begin), max(packing_end)) if packing_begin and packing_end else None
        self.maps = len(packing_end)

    @property
    def seconds(self):
        return self.end - self.start

    def report(self):
        t = lambda x: x - self.start  # noqa: E731
        lines = [f"{self.name}: {self.seconds:.1f} s from update_begin to update_end; "
                 f"{len(self.api)} API requests, {len(self.files)} files fetched, {self.bytes / 1e6:.1f} MB, "
                 f"launcher peak resident {self.peak:.0f} MiB"]
        lines.append(f"  file list   0.0 - {t(self.first_file):6.1f} s")
        lines.append(f"  downloads {t(self.first_file):5.1f} - {t(self.last_file):6.1f} s (first to last file requested)")
        if self.packing:
            lines.append(f"  map packing {t(self.packing[0]):5.1f} - {t(self.packing[1]):6.1f} s "
                         f"({self.maps} maps; log times, whole seconds)")
            finishing_from = max(self.packing[1], self.last_file)
        else:
            finishing_from = self.last_file
        lines.append(f"  finishing {t(finishing_from):5.1f} - {t(self.end):6.1f} s")
        return lines


def raw_sizes(repo, paths):
    """Bytes of each raw file requested: {path: size} (the branch as it is now)."""
    sizes = {}
    by_ref = {}
    for path in paths:
        ref, _, file_path = path[len(REPOSITORY):].partition("/")
        by_ref.setdefault(ref, []).append((path, file_path))
    for ref, items in by_ref.items():
        listing = subprocess.run(["git", "-C", str(repo), "ls-tree", "-r", "-l", "-z", ref],
                                 check=True, capture_output=True).stdout.decode("utf-8")
        size_of = {}
        for record in listing.split("\0"):
            if record:
                meta, name = record.split("\t", 1)
                size_of[name] = int(meta.split()[3])
        for path, file_path in items:
            sizes[path] = size_of.get(file_path, 0)
    return sizes


class Bench:
    def __init__(self, build, work, scale):
        self.build, self.work, self.scale = build, work, scale
        self.wine = WineSession(build)
        self.driver = UiDriver(self.wine, build / "tools" / "uidriver.exe")
        self.harness = types.SimpleNamespace(driver=self.driver, wine=self.wine,
                                             control_ids=read_control_ids(ROOT / "launchertool" / "ControlIds.h"))
        self.folder = self.wine.drive_c / "bench-update"
        self.windows_folder = self.wine.windows_path(self.folder)
        self.service = None
        self.runs = 0  # update runs ended so far (each sends one update_end)

    # -- the launcher's side ------------------------------------------------
    def prepare(self):
        started = time.monotonic()
        self.repo = bigrepo.generate(self.work / "repo", (self.build / "Launcher.exe").read_bytes(),
                                     (self.build / "tools" / "VELDRA.exe").read_bytes(), self.scale)
        files = subprocess.run(["git", "-C", self.repo["path"], "ls-tree", "-r", "-l", "main"],
                               check=True, capture_output=True, text=True).stdout.splitlines()
        total = sum(int(line.split()[3]) for line in files)
        folders = {line.split("\t", 1)[1].rsplit("/", 1)[0] for line in files if "/" in line.split("\t", 1)[1]}
        print(f"repository: {len(files)} files in {len(folders)} folders, {total / 1e6:.0f} MB, "
              f"{len(self.repo['maps'])} maps (generated in {time.monotonic() - started:.0f} s)", flush=True)
        self.service = Service(self.repo["path"], self.work)

    def reset_installation(self):
        """No installation, no registry entries, no log: a new player's machine."""
        self.driver.kill_under(self.windows_folder)
        shutil.rmtree(self.folder, ignore_errors=True)
        self.folder.mkdir(parents=True)
        shutil.copy2(self.build / "Launcher.exe", self.folder / "Launcher.exe")
        self.driver.delete_registry(INSTALL_KEY, PROTOCOL_KEY)
        self.wine.launcher_log_path().unlink(missing_ok=True)

    def start_launcher(self):
        exe = self.windows_folder + "\\Launcher.exe"
        env = {name: self.service.url for name in ("VELDRA_API_URL", "VELDRA_RAW_URL", "VELDRA_ANALYTICS_URL")}
        popen = self.wine.start([exe], env=env, cwd=self.folder, output=self.work / "launcher.out")
        launcher = LauncherProcess(self.harness, types.SimpleNamespace(windows=self.windows_folder), popen, exe)
        launcher.find_window(timeout=120)
        return launcher

    def wait_end(self, launcher):
        """Waits for the run's update_end (read from the record, without starting Wine processes)."""
        def ended():
            ends = [r for r in self.service.requests() if '"update_end"' in r.get("body", "")]
            return len(ends) > self.runs
        wait_for(ended, RUN_TIMEOUT, interval=0.5, what="the end of the update run")
        self.runs += 1
        pid = launcher_pid_linux(self.wine.prefix)
        peak = peak_memory_mib(pid) if pid else float("nan")
        dialog = launcher.wait_dialog(timeout=120)
        if box_text(dialog) != FINISHED:
            raise SystemExit(f"update: the run ended with {box_text(dialog)!r}")
        launcher.answer(dialog, "OK")
        launcher.wait_state("Ready", timeout=120)
        return peak

    def close(self, launcher):
        self.driver.post(launcher.hwnd, "close")
        try:
            launcher.popen.wait(timeout=60)
        except subprocess.TimeoutExpired:
            launcher.end()

    def fresh(self):
        self.reset_installation()
        launcher = self.start_launcher()
        launcher.wait_state("UpdateRequired", timeout=120)
        launcher.click("BTN_Update")
        info = launcher.wait_dialog()
        if box_text(info) != NOT_INSTALLED:
            raise SystemExit(f"update: unexpected message {box_text(info)!r}")
        launcher.answer(info, "OK")
        picker = launcher.wait_dialog(caption=PICKER_CAPTION)
        self.driver.pick(picker["hwnd"], self.windows_folder)
        peak = self.wait_end(launcher)
        self.close(launcher)
        return self.collect("fresh installation", peak)

    def resumed(self, fresh_files, stop_at=0.9):
        """A fresh installation killed when about stop_at of its files were requested, then run again."""
        self.reset_installation()
        seen = len(self.service.requests())
        launcher = self.start_launcher()
        launcher.wait_state("UpdateRequired", timeout=120)
        launcher.click("BTN_Update")
        launcher.answer(launcher.wait_dialog(), "OK")
        picker = launcher.wait_dialog(caption=PICKER_CAPTION)
        self.driver.pick(picker["hwnd"], self.windows_folder)
        started = time.monotonic()

        def requested():
            return [r["path"] for r in self.service.requests()[seen:]
                    if r["path"].startswith(REPOSITORY) and r["method"] == "GET" and r["status"] == 200]
        wait_for(lambda: len(requested()) >= stop_at * fresh_files, RUN_TIMEOUT, interval=0.05,
                 what="the first run's files")
        # Killed from outside Wine: at once, as a crash or a power cut would.
        pid = launcher_pid_linux(self.wine.prefix)
        if pid:
            os.kill(pid, signal.SIGKILL)
        stopped_after = time.monotonic() - started
        self.driver.kill_under(self.windows_folder)
        launcher.popen.wait(timeout=60)
        done = requested()
        stopped_bytes = sum(raw_sizes(self.repo["path"], done).values())
        second = self.offered_run("resumed installation, second run")
        return second, stopped_after, stopped_bytes, len(done)

    def incremental(self):
        subprocess.run(["git", "-C", self.repo["path"], "update-ref", "refs/heads/main", self.repo["next"]], check=True)
        return self.offered_run("incremental update")

    def walk(self):
        (self.folder / ".last").unlink()
        return self.offered_run("walk without .last")

    def offered_run(self, name):
        launcher = self.start_launcher()
        # Offered as required or optional: Update is usable either way.
        launcher.wait_view(lambda view: view.enabled("BTN_Update"), timeout=120, what="the update offer")
        launcher.click("BTN_Update")
        peak = self.wait_end(launcher)
        self.close(launcher)
        return self.collect(name, peak)

    def collect(self, name, peak):
        log = self.wine.launcher_log_path()
        text = log.read_text(encoding="cp1252", errors="replace") if log.exists() else ""
        return Run(name, self.service.requests(), text, self.repo["path"], peak)

    # -- the floor ----------------------------------------------------------
    def floor(self, run, maps):
        """Seconds of fetching, hashing and encoding the same work one after another."""
        scratch = self.work / "floor"
        shutil.rmtree(scratch, ignore_errors=True)
        scratch.mkdir()
        listing = []
        targets = []
        for n, request in enumerate(run.files):
            target = scratch / f"f{n:05d}"
            targets.append(target)
            listing.append(f"{self.service.url}{request['path']}\t{self.wine.windows_path(target)}")
        (self.work / "floor.txt").write_text("\n".join(listing) + "\n", encoding="utf-8")
        fetch = 0.0
        if listing:
            out = self.wine.run([self.build / "tools" / "httpfloor.exe", self.wine.windows_path(self.work / "floor.txt"),
                                 PARALLEL], timeout=RUN_TIMEOUT)
            fetch = float(out.stdout.split()[0])
        hashed = self.hash_seconds(targets + self.walked_files(run))
        encode = self.encode_seconds(maps)
        shutil.rmtree(scratch, ignore_errors=True)
        return fetch, hashed, encode

    def walked_files(self, run):
        """The installed plain files a walk compares by hash (none for the change-list run)."""
        if not run.name.startswith("walk"):
            return []
        return [p for p in self.folder.rglob("*") if p.is_file() and not p.name.endswith(".zip")
                and p.name != "Launcher.exe" and p.name != ".last"]

    @staticmethod
    def hash_seconds(paths):
        if not paths:
            return 0.0
        listing = "\n".join(str(p) for p in paths) + "\n"
        for p in paths:  # a warm page cache, as for the launcher
            p.read_bytes()
        started = time.monotonic()
        subprocess.run(["git", "hash-object", "--stdin-paths"], input=listing.encode(), check=True,
                       stdout=subprocess.DEVNULL)
        return time.monotonic() - started

    def encode_seconds(self, maps):
        """The reference encoders over the map images the launcher assembled."""
        total = 0.0
        for name in maps:
            with zipfile.ZipFile(self.folder / "data" / "maps" / f"{name}.zip") as archive:
                member = next(n for n in archive.namelist() if n.lower().startswith("map."))
                data = archive.read(member)
            ppm = self.work / "map.ppm"
            if member.lower().endswith(".png"):
                subprocess.run(["pngtopnm"], input=data, stdout=ppm.open("wb"), check=True)
                command = ["pnmtopng", "-force", "-compression", "7", "-sub"]
            else:
                subprocess.run(["djpeg", "-ppm"], input=data, stdout=ppm.open("wb"), check=True)
                command = ["cjpeg", "-quality", "90"]
            with ppm.open("rb") as source:
                started = time.monotonic()
                subprocess.run(command, stdin=source, stdout=subprocess.DEVNULL, check=True)
                total += time.monotonic() - started
            ppm.unlink()
        return total

    def end(self):
        self.driver.kill_under(self.windows_folder)
        self.driver.delete_registry(INSTALL_KEY, PROTOCOL_KEY)
        if self.service:
            self.service.stop()
        shutil.rmtree(self.folder, ignore_errors=True)


def measure(bench, step, maps):
    run = step()
    fetch, hashed, encode = bench.floor(run, maps)
    floor = fetch + hashed + encode
    print("\n".join(run.report()), flush=True)
    print(f"  floor {floor:.1f} s: httpfloor {fetch:.1f} s + git hash-object {hashed:.1f} s + "
          f"reference encoders {encode:.1f} s ({len(maps)} maps); ratio {run.seconds / floor:.2f}", flush=True)
    return run, floor


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build", type=Path)
    parser.add_argument("work", type=Path)
    parser.add_argument("--scale", type=float, default=1.0)
    parser.add_argument("--repeat", type=int, default=3,
                        help="fresh installations, each with its floor; the figures are the medians")
    args = parser.parse_args()
    bench = Bench(args.build.resolve(), args.work.resolve(), args.scale)
    try:
        bench.prepare()
        # Installations from nothing, one after another: one machine-wide
        # hiccup then moves one of them, not the figure.
        fresh = [measure(bench, bench.fresh, bench.repo["maps"]) for _ in range(max(1, args.repeat))]
        first = fresh[len(fresh) // 2][0]
        second, stopped_after, stopped_bytes, stopped_files = bench.resumed(len(first.files))
        print("\n".join(second.report()), flush=True)
        print(f"resumed: the first run killed after {stopped_after:.1f} s, {stopped_files} files requested, "
              f"{stopped_bytes / 1e6:.1f} MB ({stopped_bytes / first.bytes:.0%}); the second run {second.seconds:.1f} s, "
              f"{second.bytes / 1e6:.1f} MB fetched; a fresh run {first.seconds:.1f} s, {first.bytes / 1e6:.1f} MB",
              flush=True)
        measure(bench, bench.incremental, bigrepo.CHANGED_MAPS)
        measure(bench, bench.walk, bench.repo["maps"])
        ours = statistics.median(run.seconds for run, _ in fresh)
        floor = statistics.median(floor for _, floor in fresh)
        api = max(len(run.api) for run, _ in fresh)
        if len(fresh) > 1:
            print(f"fresh installations: ours {', '.join(f'{run.seconds:.1f}' for run, _ in fresh)} s; "
                  f"floor {', '.join(f'{floor:.1f}' for _, floor in fresh)} s; medians below")
        print(f"update: ours {ours:.1f} s, floor {floor:.1f} s, ratio {ours / floor:.2f}, api {api}")
    finally:
        bench.end()


if __name__ == "__main__":
    main()
