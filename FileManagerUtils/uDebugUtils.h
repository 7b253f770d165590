#pragma once
// The process-wide log file. Every entry opens, appends and closes the file, so
// the log can be read while the launcher runs and nothing is lost if it is killed.
#include <windows.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "Exceptions.h"

class TLogger {
 public:
  // Creates the folder and the file; a file larger than sizeLimit starts empty.
  // Raises EInOutError when the folder or file cannot be prepared.
  TLogger(std::wstring fileName, int32_t sizeLimit);

  void LogMessage(const wchar_t* className, const std::wstring& tag, const std::wstring& message);
  void LogMessage(const std::wstring& tag, const std::wstring& message) { LogMessage(nullptr, tag, message); }
  void LogMessage(const std::wstring& message) { LogMessage(nullptr, L"", message); }
  // Debug entries are compiled out.
  void LogDebug(const wchar_t*, const std::wstring&, const std::wstring&) {}
  void Error(const Exception& e);

  const std::wstring& FileName() const { return FFileName; }

  // The entry text without time stamp: class part, tag, ": ", message.
  static std::wstring FormatBody(const wchar_t* className, const std::wstring& tag, const std::wstring& message);
  // The message of an exception entry (chain, full stop rule, stack text).
  static std::wstring FormatExceptionMessage(const Exception& e);
  // Local time formatted as the user's short date and long time.
  static std::wstring FormatTimeStamp(const SYSTEMTIME& localTime);

 private:
  bool TryAppend(const std::string& bytes);
  std::wstring FFileName;
  std::mutex FLock;
};

// The current logger, or null before it exists (and in a second instance).
TLogger* GlobalLogger();
// Installs the logger and frees the previous one.
void SetGlobalLogger(std::unique_ptr<TLogger> logger);

// Shorthands that do nothing when there is no logger.
void LogMessage(const std::wstring& tag, const std::wstring& message);
void LogClassMessage(const wchar_t* className, const std::wstring& tag, const std::wstring& message);
void LogError(const Exception& e);
