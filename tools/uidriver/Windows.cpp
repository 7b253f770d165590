#include "Windows.h"

#include <commctrl.h>

#include <cwchar>

std::wstring ClassOf(HWND window) {
  wchar_t name[256];
  int n = GetClassNameW(window, name, ARRAYSIZE(name));
  return std::wstring(name, n > 0 ? n : 0);
}

std::wstring TextOf(HWND window) {
  wchar_t text[4096];
  DWORD_PTR length = 0;
  if (SendMessageTimeoutW(window, WM_GETTEXT, ARRAYSIZE(text), reinterpret_cast<LPARAM>(text),
                          SMTO_ABORTIFHUNG | SMTO_BLOCK, 2000, &length))
    return std::wstring(text, length < ARRAYSIZE(text) ? length : ARRAYSIZE(text) - 1);
  int n = InternalGetWindowText(window, text, ARRAYSIZE(text));
  return std::wstring(text, n > 0 ? n : 0);
}

DWORD ProcessOf(HWND window) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  return pid;
}

namespace {

BOOL CALLBACK CollectWindow(HWND window, LPARAM list) {
  reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
  return TRUE;
}

long long HandleNumber(HWND window) { return static_cast<long long>(reinterpret_cast<uintptr_t>(window)); }

void WriteRect(JsonText& json, const char* key, RECT r) {
  json.Key(key).BeginArray().Value(static_cast<long long>(r.left)).Value(static_cast<long long>(r.top))
      .Value(static_cast<long long>(r.right - r.left)).Value(static_cast<long long>(r.bottom - r.top)).EndArray();
}

// The control's rectangle in the client coordinates of `reference`.
RECT RectIn(HWND control, HWND reference) {
  RECT r;
  GetWindowRect(control, &r);
  MapWindowPoints(nullptr, reference, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

long long Send(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG | SMTO_BLOCK, 2000, &result))
    return -1;
  return static_cast<long long>(static_cast<LONG_PTR>(result));
}

bool IsButtonWithCheck(LONG style) {
  switch (style & BS_TYPEMASK) {
    case BS_CHECKBOX: case BS_AUTOCHECKBOX: case BS_RADIOBUTTON: case BS_AUTORADIOBUTTON:
    case BS_3STATE: case BS_AUTO3STATE:
      return true;
    default:
      return false;
  }
}

}  // namespace

std::vector<HWND> TopLevelWindows() {
  std::vector<HWND> list;
  EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&list));
  return list;
}

std::vector<HWND> Descendants(HWND parent) {
  std::vector<HWND> list;
  EnumChildWindows(parent, CollectWindow, reinterpret_cast<LPARAM>(&list));
  return list;
}

void WriteTopLevel(JsonText& json, HWND window) {
  RECT client{};
  GetClientRect(window, &client);
  RECT outer{};
  GetWindowRect(window, &outer);
  json.BeginObject()
      .Key("hwnd").Value(HandleNumber(window))
      .Key("pid").Value(static_cast<long long>(ProcessOf(window)))
      .Key("class").Value(ClassOf(window))
      .Key("title").Value(TextOf(window))
      .Key("visible").Value(IsWindowVisible(window) != FALSE)
      .Key("enabled").Value(IsWindowEnabled(window) != FALSE)
      .Key("iconic").Value(IsIconic(window) != FALSE)
      .Key("foreground").Value(GetForegroundWindow() == window)
      .Key("owner").Value(HandleNumber(GetWindow(window, GW_OWNER)))
      .Key("style").Value(static_cast<long long>(static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE))))
      .Key("exstyle").Value(static_cast<long long>(static_cast<DWORD>(GetWindowLongW(window, GWL_EXSTYLE))));
  WriteRect(json, "rect", outer);
  json.Key("client").BeginArray().Value(static_cast<long long>(client.right)).Value(static_cast<long long>(client.bottom)).EndArray();
  json.EndObject();
}

void WriteControl(JsonText& json, HWND control, HWND topLevel) {
  std::wstring kind = ClassOf(control);
  LONG style = GetWindowLongW(control, GWL_STYLE);
  HWND parent = GetParent(control);
  json.BeginObject()
      .Key("hwnd").Value(HandleNumber(control))
      .Key("id").Value(static_cast<long long>(GetDlgCtrlID(control)))
      .Key("parent_id").Value(static_cast<long long>(parent == topLevel ? 0 : GetDlgCtrlID(parent)))
      .Key("class").Value(kind)
      .Key("text").Value(TextOf(control))
      .Key("enabled").Value(IsWindowEnabled(control) != FALSE)
      // Visible on screen: the control and all its parents are shown.
      .Key("visible").Value(IsWindowVisible(control) != FALSE)
      .Key("own_visible").Value((style & WS_VISIBLE) != 0)
      .Key("style").Value(static_cast<long long>(static_cast<DWORD>(style)));
  WriteRect(json, "rect", RectIn(control, parent));
  WriteRect(json, "window_rect", RectIn(control, topLevel));
  if (_wcsicmp(kind.c_str(), WC_BUTTONW) == 0) {
    json.Key("checked");
    if (IsButtonWithCheck(style)) json.Value(Send(control, BM_GETCHECK) == BST_CHECKED);
    else json.Null();
  }
  if (_wcsicmp(kind.c_str(), PROGRESS_CLASSW) == 0) {
    json.Key("progress").BeginObject()
        .Key("pos").Value(Send(control, PBM_GETPOS))
        .Key("min").Value(Send(control, PBM_GETRANGE, TRUE))
        .Key("max").Value(Send(control, PBM_GETRANGE, FALSE))
        .Key("state").Value(Send(control, PBM_GETSTATE))
        .Key("marquee").Value((style & PBS_MARQUEE) != 0)
        .EndObject();
  }
  json.EndObject();
}

void WriteDialog(JsonText& json, HWND dialog) {
  json.BeginObject()
      .Key("hwnd").Value(HandleNumber(dialog))
      .Key("pid").Value(static_cast<long long>(ProcessOf(dialog)))
      .Key("owner").Value(HandleNumber(GetWindow(dialog, GW_OWNER)))
      .Key("caption").Value(TextOf(dialog));
  std::wstring text;
  json.Key("buttons").BeginArray();
  for (HWND child : Descendants(dialog)) {
    if (!IsWindowVisible(child)) continue;
    std::wstring kind = ClassOf(child);
    if (_wcsicmp(kind.c_str(), WC_STATICW) == 0) {
      std::wstring part = TextOf(child);
      if (!part.empty()) text += (text.empty() ? L"" : L"\n") + part;
    } else if (_wcsicmp(kind.c_str(), WC_BUTTONW) == 0) {
      json.BeginObject().Key("id").Value(static_cast<long long>(GetDlgCtrlID(child)))
          .Key("text").Value(TextOf(child)).Key("enabled").Value(IsWindowEnabled(child) != FALSE).EndObject();
    }
  }
  json.EndArray();
  json.Key("text").Value(text);
  json.Key("edits").BeginArray();
  for (HWND child : Descendants(dialog)) {
    if (IsWindowVisible(child) && _wcsicmp(ClassOf(child).c_str(), WC_EDITW) == 0)
      json.BeginObject().Key("hwnd").Value(HandleNumber(child)).Key("id").Value(static_cast<long long>(GetDlgCtrlID(child)))
          .Key("text").Value(TextOf(child)).EndObject();
  }
  json.EndArray();
  json.EndObject();
}

HWND ParseHwnd(const std::wstring& text) {
  return reinterpret_cast<HWND>(static_cast<uintptr_t>(std::wcstoull(text.c_str(), nullptr, 0)));
}
