#!/usr/bin/env python3
"""The demo's run: a sample game repository, the repository service stand-in
over it, a game folder in the build's Wine prefix, and Launcher.exe pointed at
the stand-in.

Usage: demo_run.py BUILD_DIR OUT_DIR [--interactive]
The game folder holds the first release of the release channel, so an update
is offered. Interactive: the window stays until the player closes it.
Otherwise the demo reads the window, saves screenshots into OUT_DIR, presses
"Обновить", waits for the run to finish, answers its message and closes the
launcher. Both end with a short report of what the service saw.
Expects the Wine session of tools/wine-session.sh (DISPLAY, WINEPREFIX).
"""
import argparse
import json
import os
import shutil
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path[:0] = [str(ROOT / "tools" / "samplerepo"), str(ROOT / "tools" / "service"), str(ROOT / "tests" / "e2e")]
from generate import generate  # noqa: E402
from repository_service import RepositoryService  # noqa: E402
from e2e_support.driver import UiDriver, read_control_ids  # noqa: E402
from e2e_support.installation import repository_files, write_installation  # noqa: E402
from e2e_support.wine import WineSession  # noqa: E402

CAPTION = "VELDRA LAUNCHER"
SHOWN = ("L_Version", "L_Update", "RB_Release", "RB_Test", "BTN_Run", "BTN_Update", "BTN_Exit")


def wait(condition, seconds, what):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(0.3)
    raise SystemExit(f"demo: gave up waiting for {what}")


def prepare_game_folder(wine, build, sample):
    folder = wine.drive_c / "veldra-demo"
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    shutil.copy2(build / "Launcher.exe", folder / "Launcher.exe")
    # Installed: the first release of the release channel, so an update is offered.
    write_installation(folder, repository_files(sample["path"], sample["main"][0]))
    (folder / ".last").write_bytes(f"{sample['main'][0]}\tmain".encode("utf-16-le"))
    wine.run(["reg", "add", r"HKCU\Software\VELDRA", "/v", "InstallLocation", "/t", "REG_SZ",
              "/d", wine.windows_path(folder), "/f"], check=False)
    return folder


def describe(view, ids):
    by_id = {c["id"]: c for c in view["controls"]}
    lines = []
    for name in SHOWN:
        control = by_id.get(ids.get(name))
        if control is None:
            continue
        flags = "enabled" if control["enabled"] else "disabled"
        if not control["own_visible"]:
            flags += ", hidden"
        if control.get("checked"):
            flags += ", checked"
        lines.append(f"  {name:<11} {control['text']!r} ({flags})")
    return lines


def screenshot(out, name):
    target = out / f"{name}.png"
    subprocess.run(["import", "-window", "root", str(target)], check=False,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return target if target.exists() else None


def report(service, record):
    print("demo: requests the repository service saw:")
    for r in service.requests():
        print(f"  {r['method']:<4} {r['path']} -> {r['status']}")
        if r["method"] == "POST" and "body" in r:
            print(f"       {r['body']}")
    print(f"demo: full record: {record}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build", type=Path)
    parser.add_argument("out", type=Path)
    parser.add_argument("--interactive", action="store_true")
    args = parser.parse_args()
    build, out = args.build.resolve(), args.out.resolve()
    out.mkdir(parents=True, exist_ok=True)

    sample = generate(build / "demo" / "sample-repo", (build / "Launcher.exe").read_bytes(),
                      (build / "tools" / "VELDRA.exe").read_bytes())
    print(f"demo: sample repository {sample['path']} (main {sample['main'][-1][:8]}, qa {sample['qa'][-1][:8]})")
    record = out / "requests.jsonl"
    service = RepositoryService(sample["path"], record_file=record).start()
    print(f"demo: repository service stand-in at {service.url}")
    wine = WineSession(build)
    launcher = None
    try:
        folder = prepare_game_folder(wine, build, sample)
        env = {name: service.url for name in ("VELDRA_API_URL", "VELDRA_RAW_URL", "VELDRA_ANALYTICS_URL")}
        exe = wine.windows_path(folder / "Launcher.exe")
        print(f"demo: starting {exe}")
        launcher = wine.start([exe], env=env, cwd=folder, output=out / "launcher.out")
        if args.interactive:
            print("demo: the launcher window is open; close it to end the demo")
            launcher.wait()
            report(service, record)
            return
        driver = UiDriver(wine, build / "tools" / "uidriver.exe")
        ids = read_control_ids(ROOT / "launchertool" / "ControlIds.h")
        window = wait(lambda: next((w for w in driver.windows() if w["title"] == CAPTION and w["visible"]), None),
                      120, "the launcher window")
        # The start-up check has answered once the head was asked for and Update is usable.
        wait(lambda: any("/commits/" in r["path"] for r in service.requests("/repos/")), 60, "the update check")
        update_id = ids["BTN_Update"]
        view = wait(lambda: (lambda v: v if any(c["id"] == update_id and c["enabled"] for c in v["controls"])
                             else None)(driver.controls(window["hwnd"])), 60, "the update offer")
        shots = [screenshot(out, "01-update-offered")]
        print("demo: the window showed:")
        print("\n".join(describe(view, ids)))
        button = next(c for c in view["controls"] if c["id"] == update_id)
        driver.click(button["hwnd"])
        wait(lambda: any("update_begin" in r.get("body", "") for r in service.requests("/mp/collect")), 60,
             "the update_begin event")
        shots.append(screenshot(out, "02-after-update-click"))
        box = wait(lambda: next(iter(driver.dialogs()), None), 300, "the end of the update run")
        shots.append(screenshot(out, "03-update-finished"))
        print(f"demo: the run ended with the message {box['text']!r}")
        driver.press(box["hwnd"], "OK")
        wait(lambda: not driver.dialogs(), 30, "the message to close")
        shots.append(screenshot(out, "04-after-the-update"))
        print("demo: the window showed:")
        print("\n".join(describe(driver.controls(window["hwnd"]), ids)))
        shots = [s for s in shots if s]
        print(f"demo: screenshots in {out}: {', '.join(s.name for s in shots) or 'none (import missing)'}")
        driver.post(window["hwnd"], "close")
        try:
            launcher.wait(timeout=30)
        except subprocess.TimeoutExpired:
            pass
        report(service, record)
    finally:
        if launcher is not None and launcher.poll() is None:
            launcher.kill()
            launcher.wait()
        service.stop()


if __name__ == "__main__":
    main()
