#pragma once
// The process-wide log file. Every entry opens, appends and closes the file, so
// the log can be read while the launcher runs and nothing is lost if it is killed.
#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "Exceptions.h"

class TLogger {
 public:
  // Creates the folder and the file; a file larger than sizeLimit starts empty.
  // Raises EInOutError when the folder or file cannot be prepared.
  TLogger(std::wstring fileName, int32_t sizeLimit);

  // Appends one entry; write failures are retried 5 times, 100 ms apart, then
  // the entry is dropped. Never raises.
  void LogMessage(const wchar_t* className, const std::wstring& tag, const std::wstring& message) noexcept;
  void LogMessage(const std::wstring& tag, const std::wstring& message) { LogMessage(nullptr, tag, message); }
  void LogMessage(const std::wstring& message) { LogMessage(nullptr, L"", message); }
  // Debug entries are compiled out.
  void LogDebug(const wchar_t*, const std::wstring&, const std::wstring&) {}
  // An entry with the innermost class, the tag "Exception", the chain of
  // messages and the stack text of the innermost exception. Never raises.
  void Error(const Exception& e) noexcept;

  const std::wstring& FileName() const { return FFileName; }

  // Where the local time and the pause between write attempts come from; the
  // defaults are GetLocalTime and Sleep. For tests.
  using TTimeSource = std::function<SYSTEMTIME()>;
  using TRetryWait = std::function<void(DWORD milliseconds)>;
  void SetTimeSource(TTimeSource source) { FTimeSource = std::move(source); }
  void SetRetryWait(TRetryWait wait) { FRetryWait = std::move(wait); }
  // The code page of the text; the system's ANSI code page by default.
  void SetCodePage(UINT codePage) { FCodePage = codePage; }

  static constexpr int WriteAttempts = 5;
  static constexpr DWORD RetryPauseMs = 100;

  // The entry text without time stamp: class part, tag, ": ", message.
  static std::wstring FormatBody(const wchar_t* className, const std::wstring& tag, const std::wstring& message);
  // The message of an exception entry (chain, full stop rule, stack text).
  static std::wstring FormatExceptionMessage(const Exception& e);
  // Local time formatted as the user's short date and long time; the time is
  // left out at exactly midnight.
  static std::wstring FormatTimeStamp(const SYSTEMTIME& localTime);

 private:
  bool TryAppend(const std::string& bytes);
  std::wstring FFileName;
  std::mutex FLock;
  TTimeSource FTimeSource;
  TRetryWait FRetryWait;
  UINT FCodePage = GetACP();
};

// Text in the code page; characters it lacks become its default character
// (U+FFFD in UTF-8), never a look-alike. Works for UTF-8 (65001) as well.
std::string EncodeLogText(const std::wstring& text, UINT codePage);

// The current logger, or null before it exists (and in a second instance).
TLogger* GlobalLogger();
// Installs the logger and frees the previous one.
void SetGlobalLogger(std::unique_ptr<TLogger> logger);

// Shorthands for the global logger that do nothing when there is none.
void LogMessage(const std::wstring& tag, const std::wstring& message);
void LogClassMessage(const wchar_t* className, const std::wstring& tag, const std::wstring& message);
void LogError(const Exception& e);
