"""Usage events as the collection service receives them, through the real launcher."""
import re
from pathlib import Path

from e2e_support.launcher import game_window, ready_launcher
from e2e_support.waiting import wait_for

COLLECT = "/mp/collect?measurement_id=G-4QX7TNB2KW&api_secret=Qm3vTa9LxKe2RwYp7HsD0c"
GAME_VERSION = "1.2.3.4"  # the game stand-in's file version


def event_body(client_id, name, version, extra=""):
    return ('{"client_id": "' + client_id + '", "events": [{"name": "' + name + '", '
            '"params": {"version": "' + version + '"' + extra + '}}]}')


def posts(service, name=None):
    found = [r for r in service.requests("/mp/collect")]
    for r in found:
        assert r["method"] == "POST" and r["path"] == COLLECT, r
        assert r["headers"]["content-type"] == "application/json"
    if name is not None:
        found = [r for r in found if f'"name": "{name}"' in r["body"]]
    return found


def linux_adapter_ids():
    """Client ids the host's adapters that are up could give: 6 address bytes, then the field's 2 zero bytes."""
    ids = set()
    for net in Path("/sys/class/net").iterdir():
        try:
            up = (net / "operstate").read_text().strip() == "up"
            address = (net / "address").read_text().strip().replace(":", "")
        except OSError:
            continue
        if up and net.name != "lo" and len(address) == 12:
            ids.add(address + "0000")
    return ids


def test_start_run_and_end_bodies_are_exact(harness, game_folder, launch, service, sample_repo):
    launcher = ready_launcher(game_folder, launch, service, sample_repo)
    start = wait_for(lambda: posts(service, "launcher_start"), what="launcher_start")[0]
    client_id = re.match(r'\{"client_id": "([0-9a-f]{16})"', start["body"]).group(1)
    assert start["body"] == event_body(client_id, "launcher_start", GAME_VERSION)
    adapters = linux_adapter_ids()
    if adapters:
        assert client_id in adapters

    launcher.click("BTN_Run")
    run = wait_for(lambda: posts(service, "game_run"), what="game_run")[0]
    assert run["body"] == event_body(client_id, "game_run", GAME_VERSION)

    harness.driver.post(game_window(harness.driver, game_folder)["hwnd"], "close")
    end = wait_for(lambda: posts(service, "game_end"), what="game_end")[0]
    session_time = re.search(r'"sessionTime": "([^"]*)"', end["body"]).group(1)
    assert re.fullmatch(r"\d\d:\d\d:\d\d", session_time), session_time
    assert end["body"] == event_body(client_id, "game_end", GAME_VERSION, f', "sessionTime": "{session_time}"')
    launcher.wait_state("Ready")
    # One post per event while the collection service answers.
    assert [len(posts(service, n)) for n in ("launcher_start", "game_run", "game_end")] == [1, 1, 1]


def test_collection_service_down_costs_the_player_nothing(harness, game_folder, launch, service, sample_repo):
    service.behaviour["analytics"] = "drop"
    launcher = ready_launcher(game_folder, launch, service, sample_repo)
    wait_for(lambda: len(posts(service, "launcher_start")) >= 5, what="five launcher_start attempts")
    assert launcher.no_dialog()

    # The game still runs and ends as usual; its events get five attempts each.
    launcher.click("BTN_Run")
    harness.driver.post(game_window(harness.driver, game_folder)["hwnd"], "close")
    launcher.wait_state("Ready")
    for name in ("game_run", "game_end"):
        wait_for(lambda: len(posts(service, name)) >= 5, what=f"five {name} attempts")
    assert launcher.no_dialog()
    # After its fifth attempt an event is dropped: the start event was not tried again meanwhile.
    assert [len(posts(service, n)) for n in ("launcher_start", "game_run", "game_end")] == [5, 5, 5]
    assert len({r["body"] for r in posts(service, "launcher_start")}) == 1


def test_closing_while_a_post_hangs_ends_the_launcher_cleanly(game_folder, launch, service, sample_repo):
    # The collection service takes the post and never answers: the send is still
    # running inside the HTTP client when the player closes the window.
    service.behaviour["analytics"] = "hang"
    launcher = ready_launcher(game_folder, launch, service, sample_repo)
    wait_for(lambda: posts(service, "launcher_start"), what="the launcher_start post")
    launcher.click("BTN_Exit")
    assert launcher.wait_exit() == 0
    assert len(posts(service, "launcher_start")) == 1
