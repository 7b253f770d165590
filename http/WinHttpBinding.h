#pragma once
// winhttp.dll is not linked: it is loaded at start-up and every call goes
// through this table of entry points, so a missing library or entry point is
// reported by name instead of stopping the loader. The slot order is fixed:
// asynchronous errors name the failed function by its slot.
#include <windows.h>
#include <winhttp.h>

#include <cstdint>
#include <string>

#include "Handles.h"

enum TWinHttpSlot : int {
  whOpen = 0,
  whSetStatusCallback,
  whConnect,
  whOpenRequest,
  whCloseHandle,
  whAddRequestHeaders,
  whReceiveResponse,
  whQueryDataAvailable,
  whReadData,
  whWriteData,
  whSendRequest,
  whQueryHeaders,
  whSetTimeouts,
  whSetOption,
  whSetCredentials,
  // Optional from here on: the WebSocket functions.
  whWebSocketCompleteUpgrade,
  whWebSocketClose,
  whWebSocketQueryCloseStatus,
  whWebSocketSend,
  whWebSocketReceive,
  whSlotCount
};
constexpr int kWinHttpRequiredSlots = whWebSocketCompleteUpgrade;

// The entry-point name of a slot ("" outside the table).
const wchar_t* WinHttpFunctionName(int slot);

struct TWinHttpTable {
  decltype(&::WinHttpOpen) Open;
  decltype(&::WinHttpSetStatusCallback) SetStatusCallback;
  decltype(&::WinHttpConnect) Connect;
  decltype(&::WinHttpOpenRequest) OpenRequest;
  decltype(&::WinHttpCloseHandle) CloseHandle;
  decltype(&::WinHttpAddRequestHeaders) AddRequestHeaders;
  decltype(&::WinHttpReceiveResponse) ReceiveResponse;
  decltype(&::WinHttpQueryDataAvailable) QueryDataAvailable;
  decltype(&::WinHttpReadData) ReadData;
  decltype(&::WinHttpWriteData) WriteData;
  decltype(&::WinHttpSendRequest) SendRequest;
  decltype(&::WinHttpQueryHeaders) QueryHeaders;
  decltype(&::WinHttpSetTimeouts) SetTimeouts;
  decltype(&::WinHttpSetOption) SetOption;
  decltype(&::WinHttpSetCredentials) SetCredentials;
  FARPROC WebSocketCompleteUpgrade;
  FARPROC WebSocketClose;
  FARPROC WebSocketQueryCloseStatus;
  FARPROC WebSocketSend;
  FARPROC WebSocketReceive;
};
static_assert(sizeof(TWinHttpTable) == whSlotCount * sizeof(void*), "one pointer per slot");

// A loaded library with its filled table.
struct TWinHttpBinding {
  UniqueHMODULE Module;
  TWinHttpTable Api{};
  bool WebSocketAvailable = false;
};

// Loads libraryName and resolves every slot. Raises Exception "Unable to load
// library %s" or "Unable to find %s() in %s" (the library released first).
TWinHttpBinding LoadWinHttpLibrary(const std::wstring& libraryName);

// Loads winhttp.dll into the module state; a second call returns at once.
// Module start-up calls it; a failure there is raised again by the first
// later call, so the program's start-up can report it.
void LoadWinHttp();
// Releases the library (program end). While sessions or exchanges are still
// open (a worker thread may be inside WinHTTP) the library stays for the
// process's end to release.
void UnloadWinHttp();
// Sessions and exchanges count themselves in and out, so that unloading
// never pulls the code from under a running call.
void WinHttpUseBegin();
void WinHttpUseEnd();
bool WinHttpWebSocketAvailable();
HMODULE WinHttpModule();
// The table of the loaded library (loading it first when start-up did not).
const TWinHttpTable& WinHttp();

// One owner for a session, connection or request handle that no notification
// protocol closes (the exchange's own request handle closes through Dispose).
inline void CloseInternetHandle(HINTERNET handle) { WinHttp().CloseHandle(handle); }
using UniqueInternet = UniqueAny<HINTERNET, CloseInternetHandle>;
