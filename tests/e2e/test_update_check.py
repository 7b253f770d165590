"""The start-up check against the repository service, through the real launcher."""
import pytest

from e2e_support.launcher import box_text
from e2e_support.waiting import wait_for

HEAD_PATH = "/repos/ORMUND42/veldra_public/commits/"
USER_AGENT = "Mozilla/5.0 (Windows NT 6.3; Win64; x64; Trident/7.0; rv:11.0) like Gecko"


def head_requests(service):
    return [r for r in service.requests("/repos/") if r["path"].startswith(HEAD_PATH)]


def test_without_installation_no_request_and_the_install_is_required(launch, service):
    launcher = launch(endpoint=service.url)
    launcher.wait_state("UpdateRequired")
    # The launcher did talk to the service (its start event), but asked nothing of the repository.
    wait_for(lambda: service.requests("/mp/collect"), what="the launcher_start post")
    assert service.requests("/repos/") == [] and service.requests("/ORMUND42/") == []


@pytest.mark.parametrize("channel, installed, behaviour, state", [
    pytest.param("main", -1, {}, "Ready", id="current-release"),
    pytest.param("qa", -1, {}, "Ready", id="current-test"),
    # A newer head: the release channel may still play, the test channel may not.
    pytest.param("main", -2, {}, "UpdateOptional", id="newer-release"),
    pytest.param("qa", -2, {}, "UpdateRequired", id="newer-test"),
    # A failed check keeps the game playable and says nothing.
    pytest.param("main", -2, {"head_status": 404}, "Ready", id="head-404"),
    pytest.param("main", -2, {"head_status": 403}, "Ready", id="head-403"),
    # Only a bare commit hash is an answer: a head with a line break is a failed check.
    pytest.param("main", -2, {"head_trailing_newline": True}, "Ready", id="head-with-line-break"),
])
def test_start_up_check_decides_the_state(game_folder, launch, service, sample_repo, screenshot,
                                          channel, installed, behaviour, state):
    game_folder.add_game()
    game_folder.write_last(sample_repo[channel][installed], channel)
    service.behaviour.update(behaviour)
    launcher = launch(endpoint=service.url)
    view = launcher.wait_state(state)
    assert launcher.no_dialog()
    screenshot(launcher.hwnd, f"update-check-{channel}-{state}")
    requests = head_requests(service)
    assert [r["path"] for r in requests] == [HEAD_PATH + channel]
    assert requests[0]["headers"]["accept"] == "application/vnd.github.sha"
    assert requests[0]["headers"]["user-agent"] == USER_AGENT
    assert view.text("L_Version") != ""


def test_service_down_reports_the_system_error_and_leaves_only_exit(game_folder, launch, sample_repo, harness,
                                                                   screenshot):
    game_folder.add_game()
    game_folder.write_last(sample_repo["main"][-1], "main")
    launcher = launch(endpoint=harness.dead_endpoint())
    dialog = launcher.wait_dialog()
    text = box_text(dialog)
    # The innermost message: the system's text of the connection failure.
    assert text.startswith("System Error.  Code: 120"), text
    assert "WinHttp" in text
    screenshot(launcher.hwnd, "update-check-service-down")
    launcher.answer(dialog, "OK")
    view = launcher.view()
    assert view.enabled("BTN_Exit")
    assert not any(view.enabled(name) for name in ("BTN_Run", "BTN_Update", "RB_Release", "RB_Test"))
    launcher.click("BTN_Exit")
    assert launcher.wait_exit() == 0


def update_begin_posts(service):
    return [r for r in service.requests("/mp/collect") if '"name": "update_begin"' in r["body"]]


def test_update_button_reports_the_start_of_a_run(game_folder, launch, service, sample_repo):
    installed = sample_repo["main"][0]
    game_folder.add_game()
    game_folder.write_last(installed, "main")
    launcher = launch(endpoint=service.url)
    launcher.wait_state("UpdateOptional")
    start = wait_for(lambda: [r for r in service.requests("/mp/collect") if "launcher_start" in r["body"]],
                     what="launcher_start")[0]
    client_id = start["body"].split('"client_id": "')[1].split('"')[0]
    launcher.click("BTN_Update")
    begin = wait_for(lambda: update_begin_posts(service), what="update_begin")[0]
    assert begin["body"] == (
        '{"client_id": "' + client_id + '", "events": [{"name": "update_begin", "params": {"version": "1.2.3.4", '
        '"hash": "' + installed + '", "newHash": "", "branch": "main", "error": false}}]}')


def test_update_button_with_the_folder_choice_cancelled_changes_nothing(game_folder, launch, service):
    launcher = launch(endpoint=service.url)
    before = launcher.wait_state("UpdateRequired").summary()
    # Twice: the second click is handled only after the first handler has returned.
    for _ in range(2):
        launcher.click("BTN_Update")
        launcher.answer(launcher.wait_dialog(), "OK")
        launcher.answer(launcher.wait_dialog(caption="Выберите каталог установки игры"), "Cancel")
        assert launcher.view().summary() == before
    wait_for(lambda: service.requests("/mp/collect"), what="the launcher_start post")
    assert update_begin_posts(service) == []
