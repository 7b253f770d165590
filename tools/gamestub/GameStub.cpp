// Stand-in for the game executable. It opens a top-level window of class
// "TfMain" and appends one JSON line per event to a log: its start (with the
// command line), every WM_COPYDATA it receives and its end. The log is
// %VELDRA_STUB_LOG% when set, else VELDRA.log beside the executable. It ends
// on WM_CLOSE, like a player closing the game.
#include <windows.h>

#include <nlohmann/json.hpp>

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

using TJson = nlohmann::ordered_json;

// UTF-8 for the JSON library; lone surrogates become U+FFFD.
std::string Utf8(const wchar_t* text, size_t length) {
  std::string utf8;
  if (length) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    utf8.resize(n > 0 ? static_cast<size_t>(n) : 0);
    if (n > 0) WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), utf8.data(), n, nullptr, nullptr);
  }
  return utf8;
}

std::string Utf8(const std::wstring& text) { return Utf8(text.data(), text.size()); }

// One event line, ASCII with every other character escaped by the library.
std::string EventLine(const TJson& event) { return event.dump(-1, ' ', true, TJson::error_handler_t::replace); }

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
      TJson event = {{"event", "copydata"},
                     {"tag", static_cast<uint64_t>(data->dwData)},
                     {"bytes", static_cast<uint64_t>(data->cbData)},
                     {"sender", static_cast<uint64_t>(reinterpret_cast<uintptr_t>(reinterpret_cast<HWND>(wParam)))},
                     {"text", nullptr}};
      if (data->lpData != nullptr && data->cbData % sizeof(wchar_t) == 0)
        event["text"] = Utf8(static_cast<const wchar_t*>(data->lpData), data->cbData / sizeof(wchar_t));
      AppendLine(EventLine(event));
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
  AppendLine(EventLine({{"event", "start"},
                        {"pid", static_cast<uint64_t>(GetCurrentProcessId())},
                        {"cmdline", Utf8(commandLine)},
                        {"params", Utf8(Parameters(commandLine))},
                        {"cwd", Utf8(directory, dirLength)}}));

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
  AppendLine(EventLine({{"event", "window"}, {"hwnd", static_cast<uint64_t>(reinterpret_cast<uintptr_t>(window))}}));

  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  AppendLine("{\"event\":\"exit\"}");
  return 0;
}
