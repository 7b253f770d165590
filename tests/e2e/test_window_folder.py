"""Adopting an installation folder: the registry entries and the URL scheme."""
from e2e_support.launcher import GameFolder, box_text
from e2e_support.waiting import wait_for

NOT_INSTALLED = "Игра не установлена!\nУкажите папку для установки игры или где находится игра."
PICKER_CAPTION = "Выберите каталог установки игры"


def expected_protocol(folder_windows):
    return {
        "": "URL:vdr connect",
        "URL Protocol": "",
        "DefaultIcon": f'"{folder_windows}\\VELDRA.exe,0"',
        "Command": f'"{folder_windows}\\Launcher.exe" /connect "%1"',
    }


def protocol_entries(driver):
    tree = driver.registry(r"Software\Classes\vdr")
    if not tree["exists"]:
        return None
    keys = {k.lower(): v for k, v in tree["keys"].items()}
    shell = {k.lower(): v for k, v in keys.get("shell", {}).get("keys", {}).items()}
    command = {k.lower(): v for k, v in shell.get("open", {}).get("keys", {}).items()}.get("command", {})
    return {
        "": tree["values"].get(""),
        "URL Protocol": tree["values"].get("URL Protocol"),
        "DefaultIcon": keys.get("defaulticon", {}).get("values", {}).get(""),
        "Command": command.get("values", {}).get(""),
    }


def install_location(driver):
    return driver.registry(r"Software\VELDRA").get("values", {}).get("InstallLocation")


def test_game_beside_the_launcher_is_adopted_and_registered(harness, game_folder, launch, launcher_log):
    game_folder.add_game()
    launcher = launch()
    launcher.wait_state("UpdateRequired")  # no .last: nothing installed yet
    assert install_location(harness.driver) == game_folder.windows + "\\"
    assert protocol_entries(harness.driver) == expected_protocol(game_folder.windows)
    launcher_log.wait_for("TfLauncher.RegisterVDRProtocol: end successful")
    assert "TfLauncher.RegisterVDRProtocol: begin" in launcher_log.text()


def test_a_picked_folder_is_adopted_and_registered(harness, game_folder, launch):
    other = GameFolder(harness, game_folder.path.parent / (game_folder.path.name + "-picked")).add_game()
    launcher = launch()
    launcher.wait_state("UpdateRequired")
    assert protocol_entries(harness.driver) is None

    launcher.click("BTN_Update")
    info = launcher.wait_dialog()
    assert box_text(info) == NOT_INSTALLED
    launcher.answer(info, "OK")
    picker = launcher.wait_dialog(caption=PICKER_CAPTION)
    harness.driver.pick(picker["hwnd"], other.windows)

    wait_for(lambda: install_location(harness.driver) == other.windows + "\\", what="InstallLocation of the picked folder")
    assert protocol_entries(harness.driver) == expected_protocol(other.windows)
