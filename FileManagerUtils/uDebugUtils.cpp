#include "uDebugUtils.h"

#include <shlobj.h>

#include <atomic>
#include <vector>

#include "Handles.h"

namespace {

std::atomic<TLogger*> gLogger{nullptr};

struct TLoggerReleaser {
  ~TLoggerReleaser() { delete gLogger.exchange(nullptr); }
} gLoggerReleaser;

void CreateFolders(const std::wstring& folder) {
  if (folder.empty()) return;
  DWORD attrs = GetFileAttributesW(folder.c_str());
  if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY)) return;
  size_t cut = folder.find_last_of(L"\\/");
  if (cut != std::wstring::npos && cut > 0 && folder[cut - 1] != L':') CreateFolders(folder.substr(0, cut));
  if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
    throw EInOutError(L"Unable to create directory \"" + folder + L"\". " + SysErrorMessage(GetLastError()));
}

}  // namespace

std::string EncodeLogText(const std::wstring& text, UINT codePage) {
  if (text.empty()) return {};
  // UTF-8 and a few other code pages refuse every flag but this one.
  const bool flagsAllowed = codePage != CP_UTF8 && codePage != CP_UTF7 && codePage != 54936 &&
                            !(codePage >= 50220 && codePage <= 50229) && !(codePage >= 57002 && codePage <= 57011);
  const DWORD flags = flagsAllowed ? WC_NO_BEST_FIT_CHARS : 0;
  const int length = static_cast<int>(text.size());
  int n = WideCharToMultiByte(codePage, flags, text.data(), length, nullptr, 0, nullptr, nullptr);
  if (n <= 0) throw EEncodingError(L"The log text cannot be encoded. " + SysErrorMessage(GetLastError()));
  std::string out(static_cast<size_t>(n), '\0');
  n = WideCharToMultiByte(codePage, flags, text.data(), length, out.data(), n, nullptr, nullptr);
  if (n <= 0) throw EEncodingError(L"The log text cannot be encoded. " + SysErrorMessage(GetLastError()));
  out.resize(static_cast<size_t>(n));
  return out;
}

TLogger::TLogger(std::wstring fileName, int32_t sizeLimit) : FFileName(std::move(fileName)) {
  size_t cut = FFileName.find_last_of(L"\\/");
  if (cut != std::wstring::npos) CreateFolders(FFileName.substr(0, cut));
  UniqueFileHandle file(CreateFileW(FFileName.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) throw EInOutError(SysErrorMessage(GetLastError()));
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file.get(), &size)) throw EInOutError(SysErrorMessage(GetLastError()));
  if (size.QuadPart > sizeLimit) {
    LARGE_INTEGER zero{};
    if (!SetFilePointerEx(file.get(), zero, nullptr, FILE_BEGIN) || !SetEndOfFile(file.get()))
      throw EInOutError(SysErrorMessage(GetLastError()));
  }
}

std::wstring TLogger::FormatTimeStamp(const SYSTEMTIME& t) {
  wchar_t date[128] = {}, time[128] = {};
  GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &t, nullptr, date, 128);
  std::wstring stamp = date;
  if (t.wHour || t.wMinute || t.wSecond || t.wMilliseconds) {
    GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &t, nullptr, time, 128);
    stamp += L" ";
    stamp += time;
  }
  return stamp;
}

std::wstring TLogger::FormatBody(const wchar_t* className, const std::wstring& tag, const std::wstring& message) {
  std::wstring body;
  if (className && *className) {
    body += className;
    body += L".";
  }
  return body + tag + L": " + message;
}

std::wstring TLogger::FormatExceptionMessage(const Exception& e) {
  std::wstring text = e.Message();
  for (const Exception* inner = e.InnerException(); inner; inner = inner->InnerException()) {
    if (!inner->Message().empty()) text = inner->Message() + L".\r\n" + text;
  }
  if (!text.empty() && text.back() > L'.') text += L".";
  return text + L"\r\nStack:" + e.GetBaseException().StackInfo().ToText();
}

bool TLogger::TryAppend(const std::string& bytes) {
  // Appending writes go to the end even when another writer shares the file.
  // WriteFile hands the whole entry to the system, so no flush is needed.
  UniqueFileHandle file(CreateFileW(FFileName.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file || bytes.empty()) return false;
  DWORD written = 0;
  if (!WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr)) return false;
  return written == bytes.size();
}

void TLogger::LogMessage(const wchar_t* className, const std::wstring& tag, const std::wstring& message) noexcept {
  try {
    SYSTEMTIME now{};
    if (FTimeSource) now = FTimeSource();
    else GetLocalTime(&now);
    std::string entry =
        EncodeLogText(L"[" + FormatTimeStamp(now) + L"] " + FormatBody(className, tag, message) + L"\r\n", FCodePage);
    std::lock_guard guard(FLock);
    for (int attempt = 0; attempt < WriteAttempts; ++attempt) {
      if (TryAppend(entry)) return;
      // The pause follows the last failure too, as it does every other one.
      if (FRetryWait) FRetryWait(RetryPauseMs);
      else Sleep(RetryPauseMs);
    }
  } catch (...) {
    // Logging never fails its caller.
  }
}

void TLogger::Error(const Exception& e) noexcept {
  try {
    LogMessage(e.GetBaseException().ClassName(), L"Exception", FormatExceptionMessage(e));
  } catch (...) {
  }
}

TLogger* GlobalLogger() { return gLogger.load(std::memory_order_relaxed); }

void SetGlobalLogger(std::unique_ptr<TLogger> logger) { delete gLogger.exchange(logger.release()); }

void LogMessage(const std::wstring& tag, const std::wstring& message) {
  if (TLogger* l = GlobalLogger()) l->LogMessage(tag, message);
}

void LogClassMessage(const wchar_t* className, const std::wstring& tag, const std::wstring& message) {
  if (TLogger* l = GlobalLogger()) l->LogMessage(className, tag, message);
}

void LogError(const Exception& e) {
  if (TLogger* l = GlobalLogger()) l->Error(e);
}
