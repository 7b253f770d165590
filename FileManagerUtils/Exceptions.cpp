#include "Exceptions.h"

#include <windows.h>

#include <cstdio>
#include <exception>
#include <iterator>

// The frame counts below rely on these functions keeping frames of their own:
// an inlined capture or constructor would make the skip drop the raising code.
__attribute__((noinline)) TStackInfo TStackInfo::CaptureHere(unsigned skipFrames) {
  // The raise address plus the return addresses above it.
  constexpr unsigned kFrames = MaxReturnAddresses + 1;
  void* frames[kFrames] = {};
  // One extra frame for this function itself.
  USHORT n = RtlCaptureStackBackTrace(skipFrames + 1, kFrames, frames, nullptr);
  TStackInfo info;
  for (USHORT i = 0; i < n; ++i) info.Addresses.push_back(reinterpret_cast<uintptr_t>(frames[i]));
  return info;
}

std::wstring FormatAddress(uintptr_t address) {
  static const wchar_t kDigits[] = L"0123456789ABCDEF";
  wchar_t buf[2 * sizeof(uintptr_t)];
  int n = 0;
  do {
    buf[n++] = kDigits[address & 0xF];
    address >>= 4;
  } while (address != 0 || n < 8);
  return std::wstring(std::make_reverse_iterator(buf + n), std::make_reverse_iterator(buf));
}

std::wstring TStackInfo::ToText() const {
  std::wstring text;
  for (uintptr_t a : Addresses) {
    text += L"\r\n";
    text += FormatAddress(a);
  }
  return text;
}

// Skip 1: the constructor's own frame, so the first address is in the code that raises.
__attribute__((noinline)) Exception::Exception(std::wstring message)
    : FMessage(std::move(message)), FStack(TStackInfo::CaptureHere(1)) {}

__attribute__((noinline)) Exception::Exception(std::wstring message, ExceptionPtr inner)
    : FMessage(std::move(message)), FInner(std::move(inner)), FStack(TStackInfo::CaptureHere(1)) {}

const Exception& Exception::GetBaseException() const {
  const Exception* e = this;
  while (e->FInner) e = e->FInner.get();
  return *e;
}

std::wstring SysErrorMessage(uint32_t errorCode) {
  wchar_t* buffer = nullptr;
  DWORD len = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                 FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ARGUMENT_ARRAY,
                             nullptr, errorCode, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text;
  if (buffer) {
    text.assign(buffer, len);
    LocalFree(buffer);
  }
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ')) text.pop_back();
  return text;
}

void RaiseLastOSError() { RaiseLastOSError(GetLastError()); }

void RaiseLastOSError(uint32_t errorCode, const std::wstring& suffix) {
  wchar_t head[64];
  swprintf(head, 64, L"System Error.  Code: %u.\r\n", static_cast<unsigned>(errorCode));
  throw EOSError(errorCode, head + SysErrorMessage(errorCode) + suffix);
}

void RaiseFileOSError(uint32_t errorCode, const std::wstring& fileName) {
  wchar_t head[64];
  swprintf(head, 64, L"System Error.  Code: %u.\r\n", static_cast<unsigned>(errorCode));
  EOSError error(errorCode, head + SysErrorMessage(errorCode) + L"\r\n" + fileName);
  error.FileName = fileName;
  throw error;
}

void RaiseAssertion(const std::wstring& message, const std::wstring& unitPath, int line) {
  throw EAssertionFailed(message + L" (" + unitPath + L", line " + std::to_wstring(line) + L")");
}

std::shared_ptr<Exception> CurrentExceptionAsObject() {
  try {
    throw;
  } catch (const Exception& e) {
    return e.Clone();
  } catch (const std::exception& e) {
    std::string what = e.what();
    return std::make_shared<Exception>(std::wstring(what.begin(), what.end()));
  } catch (...) {
    return std::make_shared<Exception>(L"Unknown exception");
  }
}
