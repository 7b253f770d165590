// The launcher window: creation of the window and its controls, the window
// procedure, and what happens when the window is created, closed, minimised
// and restored.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <shobjidl.h>

#include <exception>

#include "ControlIds.h"
#include "maps/MapLoader.h"
#include "maps/uMapPacker.h"
#include "FileSystem.h"
#include "MainThreadQueue.h"
#include "resource_ids.h"
#include "install/LastFile.h"
#include "startup/CommandLine.h"
#include "startup/uParametersIPC.h"
#include "uDebugUtils.h"
#include "uLauncher.h"
#include "window/Theme.h"
#include "window/WindowMessages.h"

TfLauncher* fLauncher = nullptr;

namespace {

constexpr int kClientWidth = 800;
constexpr int kClientHeight = 600;
constexpr DWORD kFormStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
constexpr wchar_t kVkPage[] = L"https://vk.com/veldra_game";
constexpr wchar_t kDiscordInvite[] = L"https://discord.gg/veldra";

const wchar_t kUpdateNotice[] =
    L"Вышла новая версия в выбранном канале обновлений. Нажмите кнопку \"Обновить\" и не закрывайте "
    L"программу, ожидайте завершения установки обновления.";

HWND MakeControl(HWND parent, const wchar_t* cls, const wchar_t* text, DWORD style, int x, int y, int w, int h,
                 int id, DWORD exStyle = 0) {
  return CreateWindowExW(exStyle, cls, text, WS_CHILD | WS_CLIPSIBLINGS | style, x, y, w, h, parent,
                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
}



}  // namespace

const wchar_t* UpdateNoticeText() { return kUpdateNotice; }

TfLauncher::TfLauncher() = default;

TfLauncher::~TfLauncher() {
  // The run and the check end (their exchanges closed and waited for) before
  // the clients and the window they report to.
  FRun.reset();
  FCheckExchanges.reset();
  if (FHandle) DestroyWindow(FHandle);
}

bool TfLauncher::Create(HINSTANCE instance) {
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  FIconLarge = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_MAINICON), IMAGE_ICON,
                                             GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), LR_SHARED));
  FIconSmall = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_MAINICON), IMAGE_ICON,
                                             GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), LR_SHARED));
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = &TfLauncher::StaticWndProc;
  wc.hInstance = instance;
  wc.hIcon = FIconLarge;
  wc.hIconSm = FIconSmall;
  wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
  wc.lpszClassName = kLauncherWindowClass;
  RegisterClassExW(&wc);

  RECT frame{0, 0, kClientWidth, kClientHeight};
  AdjustWindowRectEx(&frame, kFormStyle, FALSE, 0);
  int width = frame.right - frame.left, height = frame.bottom - frame.top;
  int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2, y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  CreateWindowExW(WS_EX_APPWINDOW | WS_EX_CONTROLPARENT, kLauncherWindowClass, kLauncherCaption, kFormStyle, x, y,
                  width, height, nullptr, nullptr, instance, this);
  if (!FHandle) RaiseLastOSError();
  FTaskbarButtonCreatedMessage = RegisterWindowMessageW(L"TaskbarButtonCreated");
  FTheme = std::make_unique<TLauncherTheme>(instance, FHandle);
  CreateControls();

  bool proceed = true;
  try {
    proceed = FormCreate();
  } catch (...) {
    aplctnvnts1Exception(*CurrentExceptionAsObject());
  }
  if (!proceed) return false;
  ShowWindow(FHandle, SW_SHOWNORMAL);
  UpdateWindow(FHandle);
  FReadyForRequests = true;
  // Requests that came over the pipe during creation run once the loop runs.
  MainThread::Queue([] { PipeRequestsWindowReady(); });
  return true;
}

void TfLauncher::CreateControls() {
  TLauncherTheme& look = *FTheme;
  auto font = [&](HWND control, int size) { SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(look.Font(size)), FALSE); };
  SendMessageW(FHandle, WM_SETFONT, reinterpret_cast<WPARAM>(look.Font(11)), FALSE);

  Img_Fon = MakeControl(FHandle, L"Static", L"", WS_VISIBLE | SS_OWNERDRAW, 0, 0, kClientWidth, kClientHeight, IDC_Img_Fon);
  L_CurrentVersion = MakeControl(FHandle, L"Static", L"Текущая версия игры:", WS_VISIBLE | SS_OWNERDRAW, 16, 5, 251, 50,
                                 IDC_L_CurrentVersion);
  look.SetLabelLook(L_CurrentVersion, {24, DT_CENTER, TLabelLook::Center, true});
  font(L_CurrentVersion, 24);
  L_Version = MakeControl(FHandle, L"Static", L"VERSION", WS_VISIBLE | SS_OWNERDRAW, 273, 5, 120, 50, IDC_L_Version);
  look.SetLabelLook(L_Version, {24, DT_LEFT, TLabelLook::Center, false});
  font(L_Version, 24);
  ImgBTN_VK = MakeControl(FHandle, L"Button", L"VK", WS_VISIBLE | WS_TABSTOP | BS_OWNERDRAW, 679, 7, 50, 50, IDC_ImgBTN_VK);
  look.SetImageButton(ImgBTN_VK, IDR_LOGO_VK);
  look.TrackHover(ImgBTN_VK);
  ImgBTN_Discord =
      MakeControl(FHandle, L"Button", L"Discord", WS_VISIBLE | WS_TABSTOP | BS_OWNERDRAW, 740, 7, 50, 50, IDC_ImgBTN_Discord);
  look.SetImageButton(ImgBTN_Discord, IDR_LOGO_DISCORD);
  look.TrackHover(ImgBTN_Discord);

  Panel1 = MakeControl(FHandle, L"Static", L"", WS_VISIBLE | WS_CLIPCHILDREN | SS_OWNERDRAW, 14, 368, 778, 224, IDC_Panel1,
                       WS_EX_CONTROLPARENT);
  SetWindowSubclass(Panel1, &TfLauncher::PanelProc, 1, reinterpret_cast<DWORD_PTR>(this));

  L_Update = MakeControl(Panel1, L"Static", kUpdateNotice, SS_OWNERDRAW, 0, 0, 769, 46, IDC_L_Update);
  look.SetLabelLook(L_Update, {19, DT_CENTER, TLabelLook::Bottom, true});
  font(L_Update, 19);
  const wchar_t* channelText = L"Выбранный канал обновлений:";
  SIZE textSize{300, 25};
  {
    TWindowDC dc(Panel1);
    HGDIOBJ old = SelectObject(dc.get(), look.Font(21));
    GetTextExtentPoint32W(dc.get(), channelText, static_cast<int>(wcslen(channelText)), &textSize);
    SelectObject(dc.get(), old);
  }
  L_Text1 = MakeControl(Panel1, L"Static", channelText, WS_VISIBLE | SS_OWNERDRAW, 0, 65, textSize.cx + 2, textSize.cy,
                        IDC_L_Text1);
  look.SetLabelLook(L_Text1, {21, DT_LEFT, TLabelLook::Top, false});
  font(L_Text1, 21);

  // Created in tab order.
  ProgressBar = MakeControl(Panel1, PROGRESS_CLASSW, L"", PBS_MARQUEE, 0, 168, 545, 35, IDC_ProgressBar);
  look.StyleProgressBar(ProgressBar);
  SendMessageW(ProgressBar, PBM_SETMARQUEE, TRUE, 30);
  BTN_Update = MakeControl(Panel1, L"Button", L"Обновить", WS_VISIBLE | WS_TABSTOP | WS_DISABLED | BS_OWNERDRAW, 569, 105,
                           200, 50, IDC_BTN_Update);
  BTN_Run = MakeControl(Panel1, L"Button", L"Запустить", WS_VISIBLE | WS_TABSTOP | BS_OWNERDRAW, 569, 49, 200, 50, IDC_BTN_Run);
  RB_Release = MakeControl(Panel1, L"Button", L"Релизный, с проверенными обновлениями (рекомендуется)",
                           WS_VISIBLE | WS_TABSTOP | WS_GROUP | BS_AUTORADIOBUTTON, 0, 96, 545, 19, IDC_RB_Release);
  RB_Test = MakeControl(Panel1, L"Button", L"Тестовый, с непроверенными обновлениями", WS_VISIBLE | BS_AUTORADIOBUTTON, 0, 121,
                        545, 24, IDC_RB_Test);
  BTN_Exit = MakeControl(Panel1, L"Button", L"Выход", WS_VISIBLE | WS_TABSTOP | WS_GROUP | BS_OWNERDRAW, 569, 161, 200, 50,
                         IDC_BTN_Exit);
  SetWindowLongPtrW(RB_Release, GWLP_USERDATA, 0);
  SetWindowLongPtrW(RB_Test, GWLP_USERDATA, 1);
  SendMessageW(RB_Release, BM_SETCHECK, BST_CHECKED, 0);
  for (HWND button : {BTN_Update, BTN_Run, BTN_Exit}) {
    font(button, 32);
    look.TrackHover(button);
  }
  for (HWND radio : {RB_Release, RB_Test}) {
    font(radio, 16);
    look.TrackHover(radio);
  }
  // The picture lies behind everything else.
  SetWindowPos(Img_Fon, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

bool TfLauncher::FormCreate() {
  RECT frame{0, 0, kClientWidth, kClientHeight};
  AdjustWindowRectEx(&frame, kFormStyle, FALSE, 0);
  SetWindowPos(FHandle, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);

  LoadInstallLocation();
  if (FLocalPath.empty()) {
    FLocalPath = ExecutableFolder();
    if (FileExists(GetGameExePath())) SaveInstallLocation();
    else FLocalPath.clear();
  }
  // The tray icon takes the application icon when it is shown.
  ShowGameVersion();
  ReadLastFile();

  // /removeOld and /removeOldAndClose were handled before the single-instance
  // check (program entry).

  // From here on the start-up analytics step runs last, whatever happens.
  struct TRunLast {
    TfLauncher* Self;
    ~TRunLast() noexcept(false) {
      if (std::uncaught_exceptions() == 0) {
        Self->InitAnalytics();
        return;
      }
      try {
        Self->InitAnalytics();
      } catch (...) {
        Self->aplctnvnts1Exception(*CurrentExceptionAsObject());
      }
    }
  } runLast{this};

  std::wstring branch;
  if (!FLocalPath.empty() && GetSwitchValue(L"/runupdate", branch)) {
    LogMessage(L"Start", L"run update");
    StateUpdateRequired();
    if (branch.size() >= 2 && branch.front() == L'"' && branch.back() == L'"') branch = branch.substr(1, branch.size() - 2);
    if (IsSafeBranchName(branch)) FCurrentBranch = branch;
    else LogMessage(L"Start", L"channel of /runupdate ignored: not a plain branch name");
    ShowCurrentBranch();
    // Starts the update as a click once the message loop runs.
    PostMessageW(BTN_Update, WM_LBUTTONDOWN, MK_LBUTTON, 0);
    PostMessageW(BTN_Update, WM_LBUTTONUP, MK_LBUTTON, 0);
    return true;
  }
  if (!FLocalPath.empty()) FConnectionString = AcceptedConnectString();
  StateChecking(true);
  return true;
}

void TfLauncher::FormDestroy() {
  FReadyForRequests = false;
  PipeRequestsWindowClosing();
  // A launcher restarted now (self-update, elevation) must find both free.
  ReleaseInstance();
  KillTimer(FHandle, kTimerUpdate);
  KillTimer(FHandle, kTimerConnectWait);
  KillTimer(FHandle, kTimerProgress);
  ShowTrayIcon(false);
  // Closing in the middle of a run cancels it: downloads end, packing ends,
  // every file is as it was or complete.
  FRun.reset();
  FCheckExchanges.reset();
}

bool TfLauncher::FormCloseQuery() { return IsWindowEnabled(BTN_Exit) || IsError(); }

void TfLauncher::FormResize(WPARAM sizeKind) {
  if (sizeKind == SIZE_MINIMIZED && !IsWindowEnabled(BTN_Exit)) {
    ShowTrayIcon(true);
    ShowWindow(FHandle, SW_HIDE);
  }
}

void TfLauncher::TrayIcon1DblClick() {
  ShowTrayIcon(false);
  ShowWindow(FHandle, IsIconic(FHandle) ? SW_RESTORE : SW_SHOWNORMAL);
}

void TfLauncher::ActivateApp() {
  TrayIcon1DblClick();
  SetForegroundWindow(FHandle);
}

void TfLauncher::CloseLauncher() {
  EnableWindow(BTN_Exit, TRUE);
  PostMessageW(FHandle, WM_CLOSE, 0, 0);
}

void TfLauncher::BTN_ExitClick() { CloseLauncher(); }

void TfLauncher::ImgBTN_DiscordClick() {
  ShellExecuteW(FHandle, L"open", kDiscordInvite, nullptr, nullptr, SW_SHOWNORMAL);
}

void TfLauncher::ImgBTN_VKClick() { ShellExecuteW(FHandle, L"open", kVkPage, nullptr, nullptr, SW_SHOWNORMAL); }

void TfLauncher::OnCommand(int id, int code, HWND control) {
  if (code != BN_CLICKED) return;
  switch (id) {
    case IDC_BTN_Exit: BTN_ExitClick(); break;
    case IDC_BTN_Run: BTN_RunClick(); break;
    case IDC_BTN_Update: BTN_UpdateClick(); break;
    case IDC_ImgBTN_VK: ImgBTN_VKClick(); break;
    case IDC_ImgBTN_Discord: ImgBTN_DiscordClick(); break;
    case IDC_RB_Release:
    case IDC_RB_Test: RB_BranchClick(control); break;
  }
}

LRESULT CALLBACK TfLauncher::PanelProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR ref) noexcept {
  // The panel is a plain Static; what its children report belongs to the form.
  switch (msg) {
    case WM_COMMAND:
    case WM_NOTIFY:
    case WM_DRAWITEM:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
      return SendMessageW(reinterpret_cast<TfLauncher*>(ref)->FHandle, msg, wp, lp);
    case WM_NCDESTROY:
      RemoveWindowSubclass(hwnd, &TfLauncher::PanelProc, 1);
      break;
  }
  return DefSubclassProc(hwnd, msg, wp, lp);
}

LRESULT CALLBACK TfLauncher::StaticWndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) noexcept {
  auto* self = reinterpret_cast<TfLauncher*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (msg == WM_NCCREATE) {
    self = static_cast<TfLauncher*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
    self->FHandle = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  if (!self) return DefWindowProcW(hwnd, msg, wp, lp);
  try {
    LRESULT result = self->WndProc(msg, wp, lp);
    if (msg == WM_NCDESTROY) {
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
      self->FHandle = nullptr;
    }
    return result;
  } catch (...) {
    try {
      self->aplctnvnts1Exception(*CurrentExceptionAsObject());
    } catch (...) {
    }
    return 0;
  }
}

LRESULT TfLauncher::WndProc(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_COMMAND:
      OnCommand(LOWORD(wp), HIWORD(wp), reinterpret_cast<HWND>(lp));
      return 0;
    case WM_DRAWITEM:
      if (FTheme && FTheme->DrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lp))) return TRUE;
      break;
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lp);
      if (header->code == NM_CUSTOMDRAW && FTheme && (header->hwndFrom == RB_Release || header->hwndFrom == RB_Test))
        return FTheme->CustomDrawRadio(*reinterpret_cast<const NMCUSTOMDRAW*>(lp));
      break;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN: {
      HDC dc = reinterpret_cast<HDC>(wp);
      SetTextColor(dc, RGB(0xFF, 0xFF, 0xFF));
      SetBkColor(dc, RGB(0x2B, 0x33, 0x3D));
      return reinterpret_cast<LRESULT>(FTheme ? FTheme->PanelBrush() : GetStockObject(BLACK_BRUSH));
    }
    case WM_ERASEBKGND:
      return 1;  // the background picture covers the client area
    case WM_TIMER:
      if (wp == kTimerUpdate) {
        // One shot: the check runs once per arming.
        SetUpdateTimer(false);
        tmrUpdateTimer();
      } else if (wp == kTimerConnectWait) {
        ContinueConnectWait();
      } else if (wp == kTimerProgress) {
        ShowRunProgress();
      }
      return 0;
    case WM_SIZE:
      FormResize(wp);
      return 0;
    case WM_CLOSE:
      if (FormCloseQuery()) {
        FReadyForRequests = false;
        PipeRequestsWindowClosing();
        DestroyWindow(FHandle);
      }
      return 0;
    case WM_QUERYENDSESSION:
      return FormCloseQuery() ? TRUE : FALSE;
    case WM_DESTROY:
      FormDestroy();
      PostQuitMessage(0);
      return 0;
    case kTrayMessage:
      if (LOWORD(lp) == WM_LBUTTONDBLCLK) TrayIcon1DblClick();
      return 0;
    default:
      if (msg == FTaskbarButtonCreatedMessage && FTaskbarButtonCreatedMessage != 0) {
        ApplyTaskbarProgress();
        return 0;
      }
      break;
  }
  return DefWindowProcW(FHandle, msg, wp, lp);
}
