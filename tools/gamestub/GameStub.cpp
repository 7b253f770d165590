// Stand-in for the game executable. It opens a top-level window of class
// "TfMain" and appends one JSON line per event to a log: its start (with the
// command line), every WM_COPYDATA it receives and its end. The log is
// %VELDRA_STUB_LOG% when set, else VELDRA.log beside the executable. It ends
// on WM_CLOSE, like a player closing the game.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

std::wstring g_logPath;

std::wstring LogPath() {
  wchar_t buffer[MAX_PATH * 2];
  DWORD n = GetEnvironmentVariableW(L"VELDRA_STUB_LOG", buffer, ARRAYSIZE(buffer));
  if (n > 0 && n < ARRAYSIZE(buffer)) return buffer;
  n = GetModuleFileNameW(nullptr, buffer, ARRAYSIZE(buffer));
  std::wstring path(buffer, n);
  path.resize(path.find_last_of(L'\\') + 1);
  return path + L"VELDRA.log";
}

// JSON string with every character outside printable ASCII escaped, so the
// log stays ASCII and a test sees the exact UTF-16 code units.
std::string JsonString(const wchar_t* text, size_t length) {
  std::string out = "\"";
  for (size_t i = 0; i < length; ++i) {
    wchar_t c = text[i];
    if (c == L'"' || c == L'\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
      out += escape;
    }
  }
  return out + "\"";
}

std::string JsonString(const std::wstring& text) { return JsonString(text.data(), text.size()); }

void AppendLine(const std::string& line) {
  // Opened per line so that a reader sees every event at once.
  for (int attempt = 0; attempt < 50; ++attempt) {
    HANDLE file = CreateFileW(g_logPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      std::string data = line + "\n";
      DWORD written = 0;
      WriteFile(file, data.data(), static_cast<DWORD>(data.size()), &written, nullptr);
      CloseHandle(file);
      return;
    }
    Sleep(20);
  }
}

std::string Number(unsigned long long value) { return std::to_string(value); }

// The parameters: the command line without the program token and one blank.
std::wstring Parameters(const wchar_t* commandLine) {
  const wchar_t* p = commandLine;
  if (*p == L'"') {
    ++p;
    while (*p && *p != L'"') ++p;
    if (*p) ++p;
  } else {
    while (*p && *p != L' ' && *p != L'\t') ++p;
  }
  if (*p == L' ' || *p == L'\t') ++p;
  return p;
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COPYDATA: {
      const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
      std::string text = "null";
      if (data->lpData != nullptr && data->cbData % sizeof(wchar_t) == 0)
        text = JsonString(static_cast<const wchar_t*>(data->lpData), data->cbData / sizeof(wchar_t));
      AppendLine("{\"event\":\"copydata\",\"tag\":" + Number(data->dwData) + ",\"bytes\":" + Number(data->cbData) +
                 ",\"sender\":" + Number(reinterpret_cast<uintptr_t>(reinterpret_cast<HWND>(wParam))) +
                 ",\"text\":" + text + "}");
      return TRUE;
    }
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
  g_logPath = LogPath();
  const wchar_t* commandLine = GetCommandLineW();
  wchar_t directory[MAX_PATH * 2];
  DWORD dirLength = GetCurrentDirectoryW(ARRAYSIZE(directory), directory);
  AppendLine("{\"event\":\"start\",\"pid\":" + Number(GetCurrentProcessId()) +
             ",\"cmdline\":" + JsonString(commandLine) + ",\"params\":" + JsonString(Parameters(commandLine)) +
             ",\"cwd\":" + JsonString(directory, dirLength) + "}");

  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  windowClass.lpszClassName = L"TfMain";
  RegisterClassExW(&windowClass);
  HWND window = CreateWindowExW(0, L"TfMain", L"VELDRA", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 320,
                                200, nullptr, nullptr, instance, nullptr);
  if (window == nullptr) return 1;
  ShowWindow(window, show);
  AppendLine("{\"event\":\"window\",\"hwnd\":" + Number(reinterpret_cast<uintptr_t>(window)) + "}");

  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  AppendLine("{\"event\":\"exit\"}");
  return 0;
}
