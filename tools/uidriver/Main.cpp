// uidriver COMMAND [--option value]...: one action per run, the reply as one
// line of JSON on stdout. Exit code 0 on success, 1 when the action failed
// (the reply then holds "error"), 2 for a malformed command line.
//
//   procs                                  processes with their image paths
//   windows [--pid P]                      top-level windows
//   controls --hwnd H                      every descendant control of H
//   dialogs --pid P                        visible dialog boxes (#32770) of P
//   click --hwnd C [--force] [--mouse]     click a control (refused when the
//                                          player could not click it)
//   post --hwnd H --message M              M: close, sysclose, altf4, minimize, restore
//   press --hwnd D --id N                  press button N of dialog D
//   settext --hwnd E --text T              replace an edit control's text
//   pick --hwnd D --text T                 type T into the dialog's first edit, press OK
//   screenshot --hwnd H --out F [--client] [--print]
//   kill --pid P                           end a process
//   kill-under --folder F                  end every process whose program lies in F
//   foreground --hwnd H                    bring a window to the front
//   screen                                 the primary screen's size in pixels
//   reg-query --key K                      a current-user key tree
//   reg-set --key K [--name N] --value V   a string value (default value without --name)
//   reg-delete --key K [--key K2]...       current-user key trees
//   token                                  session id and user SID of this process
//   hold-pipe --name N                     create pipe N, reply, hold it until
//                                          stdin ends or the driver is ended
//   pipe-probe --name N                    whether pipe N exists ("code": 0 when
//                                          an instance listens, else the error)
//   hold-file --path P                     open file P sharing only reads, reply,
//                                          hold it until stdin ends or the driver
//                                          is ended
//   set-attributes --path P [--hidden] [--readonly]
//                                          add the attributes; the reply holds
//                                          them as read back
#include <windows.h>

#include <cwchar>
#include <map>
#include <string>

#include "Files.h"
#include "JsonText.h"
#include "Pipes.h"
#include "Processes.h"
#include "Registry.h"
#include "Screenshot.h"
#include "Windows.h"

namespace {

// An option may be given more than once (reg-delete --key A --key B).
using Options = std::multimap<std::wstring, std::wstring>;

void Reply(const std::string& text) {
  std::string line = text + "\n";
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

int Fail(const wchar_t* message) {
  JsonText json;
  json.BeginObject().Key("error").Value(std::wstring(message)).EndObject();
  Reply(json.Text());
  return 1;
}

int Done() {
  Reply("{\"ok\":true}");
  return 0;
}

std::wstring Option(const Options& options, const wchar_t* name) {
  auto it = options.find(name);
  return it == options.end() ? L"" : it->second;
}

HWND WindowOption(const Options& options) {
  auto it = options.find(L"hwnd");
  return it == options.end() ? nullptr : ParseHwnd(it->second);
}

DWORD PidOption(const Options& options) {
  auto it = options.find(L"pid");
  return it == options.end() ? 0 : static_cast<DWORD>(std::wcstoul(it->second.c_str(), nullptr, 0));
}

int ListProcessesCommand() {
  JsonText json;
  json.BeginArray();
  for (const ProcessEntry& p : ListProcesses())
    json.BeginObject().Key("pid").Value(static_cast<long long>(p.Pid)).Key("parent").Value(static_cast<long long>(p.ParentPid))
        .Key("name").Value(p.Name).Key("path").Value(p.Path).EndObject();
  json.EndArray();
  Reply(json.Text());
  return 0;
}

int ListWindowsCommand(const Options& options) {
  DWORD pid = PidOption(options);
  JsonText json;
  json.BeginArray();
  for (HWND window : TopLevelWindows())
    if (pid == 0 || ProcessOf(window) == pid) WriteTopLevel(json, window);
  json.EndArray();
  Reply(json.Text());
  return 0;
}

int ControlsCommand(const Options& options) {
  HWND window = WindowOption(options);
  if (!IsWindow(window)) return Fail(L"no such window");
  JsonText json;
  json.BeginObject().Key("window");
  WriteTopLevel(json, window);
  json.Key("controls").BeginArray();
  for (HWND control : Descendants(window)) WriteControl(json, control, window);
  json.EndArray().EndObject();
  Reply(json.Text());
  return 0;
}

int DialogsCommand(const Options& options) {
  DWORD pid = PidOption(options);
  JsonText json;
  json.BeginArray();
  for (HWND window : TopLevelWindows())
    if ((pid == 0 || ProcessOf(window) == pid) && IsWindowVisible(window) && ClassOf(window) == L"#32770")
      WriteDialog(json, window);
  json.EndArray();
  Reply(json.Text());
  return 0;
}

void MouseClick(HWND control) {
  HWND top = GetAncestor(control, GA_ROOT);
  SetForegroundWindow(top);
  RECT r;
  GetWindowRect(control, &r);
  SetCursorPos((r.left + r.right) / 2, (r.top + r.bottom) / 2);
  INPUT inputs[2]{};
  inputs[0].type = INPUT_MOUSE;
  inputs[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
  inputs[1].type = INPUT_MOUSE;
  inputs[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
  SendInput(2, inputs, sizeof(INPUT));
}

int ClickCommand(const Options& options) {
  HWND control = WindowOption(options);
  if (!IsWindow(control)) return Fail(L"no such window");
  if (!options.count(L"force")) {
    // Refuse what a player could not do: click a hidden or disabled control,
    // or one whose window is disabled by a modal box.
    if (!IsWindowVisible(control)) return Fail(L"control is not visible");
    if (!IsWindowEnabled(control)) return Fail(L"control is disabled");
    if (!IsWindowEnabled(GetAncestor(control, GA_ROOT))) return Fail(L"window is disabled");
  }
  if (options.count(L"mouse")) MouseClick(control);
  // Posted, not sent: the click may open a modal box, and the driver must not wait for it.
  else if (!PostMessageW(control, BM_CLICK, 0, 0)) return Fail(L"PostMessage failed");
  return Done();
}

int PostCommand(const Options& options) {
  HWND window = WindowOption(options);
  if (!IsWindow(window)) return Fail(L"no such window");
  auto it = options.find(L"message");
  std::wstring message = it == options.end() ? L"" : it->second;
  BOOL posted = FALSE;
  if (message == L"close") posted = PostMessageW(window, WM_CLOSE, 0, 0);
  else if (message == L"sysclose") posted = PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
  else if (message == L"minimize") posted = PostMessageW(window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  else if (message == L"restore") posted = PostMessageW(window, WM_SYSCOMMAND, SC_RESTORE, 0);
  else if (message == L"altf4") {
    // What the keyboard produces for Alt+F4: the default window procedure turns it into SC_CLOSE.
    const LPARAM altDown = static_cast<LPARAM>(1 | (MapVirtualKeyW(VK_F4, MAPVK_VK_TO_VSC) << 16) | (KF_ALTDOWN << 16));
    posted = PostMessageW(window, WM_SYSKEYDOWN, VK_F4, altDown);
  } else {
    return Fail(L"unknown message");
  }
  return posted ? Done() : Fail(L"PostMessage failed");
}

int PressCommand(const Options& options) {
  HWND dialog = WindowOption(options);
  if (!IsWindow(dialog)) return Fail(L"no such window");
  auto it = options.find(L"id");
  if (it == options.end()) return Fail(L"--id missing");
  int id = static_cast<int>(std::wcstol(it->second.c_str(), nullptr, 0));
  HWND button = GetDlgItem(dialog, id);
  if (button != nullptr && !IsWindowEnabled(button)) return Fail(L"button is disabled");
  if (!PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button)))
    return Fail(L"PostMessage failed");
  return Done();
}

bool SetText(HWND edit, const std::wstring& text) {
  DWORD_PTR result = 0;
  return SendMessageTimeoutW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), SMTO_ABORTIFHUNG, 5000,
                             &result) && result;
}

int SetTextCommand(const Options& options) {
  HWND edit = WindowOption(options);
  if (!IsWindow(edit)) return Fail(L"no such window");
  auto it = options.find(L"text");
  return SetText(edit, it == options.end() ? L"" : it->second) ? Done() : Fail(L"WM_SETTEXT failed");
}

int PickCommand(const Options& options) {
  HWND dialog = WindowOption(options);
  if (!IsWindow(dialog)) return Fail(L"no such window");
  auto it = options.find(L"text");
  std::wstring text = it == options.end() ? L"" : it->second;
  for (HWND child : Descendants(dialog)) {
    if (!IsWindowVisible(child) || _wcsicmp(ClassOf(child).c_str(), L"Edit") != 0) continue;
    if (!SetText(child, text)) return Fail(L"WM_SETTEXT failed");
    if (!PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK))))
      return Fail(L"PostMessage failed");
    return Done();
  }
  return Fail(L"the dialog has no edit box");
}

int ScreenshotCommand(const Options& options) {
  HWND window = WindowOption(options);
  if (!IsWindow(window)) return Fail(L"no such window");
  auto it = options.find(L"out");
  if (it == options.end()) return Fail(L"--out missing");
  if (!SaveWindowBitmap(window, it->second, options.count(L"client") != 0, options.count(L"print") != 0))
    return Fail(L"capture failed");
  return Done();
}

int KillCommand(const Options& options) {
  DWORD pid = PidOption(options);
  if (pid == 0) return Fail(L"--pid missing");
  return TerminateProcessById(pid, 1) ? Done() : Fail(L"cannot end the process");
}

int KillUnderCommand(const Options& options) {
  std::wstring folder = Option(options, L"folder");
  if (folder.empty()) return Fail(L"--folder missing");
  if (folder.back() != L'\\') folder += L'\\';
  JsonText json;
  json.BeginArray();
  for (const ProcessEntry& p : ListProcesses()) {
    if (p.Path.size() > folder.size() && _wcsnicmp(p.Path.c_str(), folder.c_str(), folder.size()) == 0 &&
        p.Pid != GetCurrentProcessId()) {
      TerminateProcessById(p.Pid, 1);
      json.Value(static_cast<long long>(p.Pid));
    }
  }
  json.EndArray();
  Reply(json.Text());
  return 0;
}

int ForegroundCommand(const Options& options) {
  HWND window = WindowOption(options);
  if (!IsWindow(window)) return Fail(L"no such window");
  return SetForegroundWindow(window) ? Done() : Fail(L"SetForegroundWindow failed");
}

int RegistryCommand(const std::wstring& command, const Options& options) {
  const std::wstring key = Option(options, L"key");
  if (key.empty()) return Fail(L"--key missing");
  if (command == L"reg-query") {
    JsonText json;
    WriteRegistryTree(json, key);
    Reply(json.Text());
    return 0;
  }
  if (command == L"reg-set")
    return SetRegistryString(key, Option(options, L"name"), Option(options, L"value")) ? Done() : Fail(L"cannot write");
  bool deleted = true;
  auto keys = options.equal_range(L"key");
  for (auto it = keys.first; it != keys.second; ++it) deleted = DeleteRegistryTree(it->second) && deleted;
  return deleted ? Done() : Fail(L"cannot delete");
}

int TokenCommand() {
  DWORD session = 0;
  std::wstring sid;
  if (!CurrentSessionAndSid(session, sid)) return Fail(L"cannot read the token");
  JsonText json;
  json.BeginObject().Key("session").Value(static_cast<long long>(session)).Key("sid").Value(sid).EndObject();
  Reply(json.Text());
  return 0;
}

int HoldPipeCommand(const Options& options) {
  const std::wstring name = Option(options, L"name");
  if (name.empty()) return Fail(L"--name missing");
  HANDLE pipe = CreateHeldPipe(name);
  if (pipe == INVALID_HANDLE_VALUE) return Fail(L"cannot create the pipe");
  JsonText json;
  json.BeginObject().Key("ok").Value(true).Key("pid").Value(static_cast<long long>(GetCurrentProcessId())).EndObject();
  Reply(json.Text());
  WaitForInputEnd();
  CloseHandle(pipe);
  return 0;
}

int FailWithCode(const wchar_t* what, DWORD code) {
  JsonText json;
  json.BeginObject().Key("error").Value(std::wstring(what)).Key("code").Value(static_cast<long long>(code)).EndObject();
  Reply(json.Text());
  return 1;
}

int HoldFileCommand(const Options& options) {
  const std::wstring path = Option(options, L"path");
  if (path.empty()) return Fail(L"--path missing");
  HANDLE file = OpenHeldFile(path);
  if (file == INVALID_HANDLE_VALUE) return FailWithCode(L"cannot open the file", GetLastError());
  JsonText json;
  json.BeginObject().Key("ok").Value(true).Key("pid").Value(static_cast<long long>(GetCurrentProcessId())).EndObject();
  Reply(json.Text());
  WaitForInputEnd();
  CloseHandle(file);
  return 0;
}

int SetAttributesCommand(const Options& options) {
  const std::wstring path = Option(options, L"path");
  if (path.empty()) return Fail(L"--path missing");
  if (!AddFileAttributes(path, options.count(L"hidden") != 0, options.count(L"readonly") != 0))
    return FailWithCode(L"cannot set the attributes", GetLastError());
  const DWORD attributes = FileAttributesOf(path);
  JsonText json;
  json.BeginObject()
      .Key("hidden").Value((attributes & FILE_ATTRIBUTE_HIDDEN) != 0)
      .Key("readonly").Value((attributes & FILE_ATTRIBUTE_READONLY) != 0)
      .EndObject();
  Reply(json.Text());
  return 0;
}

int PipeProbeCommand(const Options& options) {
  const std::wstring name = Option(options, L"name");
  if (name.empty()) return Fail(L"--name missing");
  JsonText json;
  json.BeginObject().Key("code").Value(static_cast<long long>(ProbePipe(name))).EndObject();
  Reply(json.Text());
  return 0;
}

}  // namespace

int ScreenCommand() {
  JsonText json;
  json.BeginObject()
      .Key("width").Value(static_cast<long long>(GetSystemMetrics(SM_CXSCREEN)))
      .Key("height").Value(static_cast<long long>(GetSystemMetrics(SM_CYSCREEN)))
      .EndObject();
  Reply(json.Text());
  return 0;
}

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return Fail(L"usage: uidriver COMMAND [--option value]..."), 2;
  Options options;
  for (int i = 2; i < argc; ++i) {
    if (std::wcsncmp(argv[i], L"--", 2) != 0) return Fail(L"options begin with --"), 2;
    std::wstring name = argv[i] + 2;
    bool hasValue = i + 1 < argc && std::wcsncmp(argv[i + 1], L"--", 2) != 0;
    options.emplace(name, hasValue ? argv[++i] : L"");
  }
  const std::wstring command = argv[1];
  if (command == L"procs") return ListProcessesCommand();
  if (command == L"windows") return ListWindowsCommand(options);
  if (command == L"controls") return ControlsCommand(options);
  if (command == L"dialogs") return DialogsCommand(options);
  if (command == L"click") return ClickCommand(options);
  if (command == L"post") return PostCommand(options);
  if (command == L"press") return PressCommand(options);
  if (command == L"settext") return SetTextCommand(options);
  if (command == L"pick") return PickCommand(options);
  if (command == L"screenshot") return ScreenshotCommand(options);
  if (command == L"kill") return KillCommand(options);
  if (command == L"kill-under") return KillUnderCommand(options);
  if (command == L"foreground") return ForegroundCommand(options);
  if (command == L"screen") return ScreenCommand();
  if (command == L"token") return TokenCommand();
  if (command == L"hold-pipe") return HoldPipeCommand(options);
  if (command == L"pipe-probe") return PipeProbeCommand(options);
  if (command == L"hold-file") return HoldFileCommand(options);
  if (command == L"set-attributes") return SetAttributesCommand(options);
  if (command.rfind(L"reg-", 0) == 0) return RegistryCommand(command, options);
  return Fail(L"unknown command"), 2;
}
