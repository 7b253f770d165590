#include "update/PlacedFiles.h"

#include <windows.h>

#include "uDebugUtils.h"

namespace {

// A record of a run over a large repository stays far below this.
constexpr DWORD kLargestRecord = 64 * 1024 * 1024;

std::wstring RecordFileName(const std::wstring& localPath) {
  std::wstring name = localPath + kPlacedRecordPath;
  for (wchar_t& c : name) {
    if (c == L'/') c = L'\\';
  }
  return name;
}

std::string ReadRecord(const std::wstring& fileName) {
  UniqueHandle file(CreateFileW(fileName.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return {};
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.get(), &size) || size.QuadPart > kLargestRecord) return {};
  std::string text(static_cast<size_t>(size.QuadPart), '\0');
  DWORD read = 0;
  if (!text.empty() && !ReadFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &read, nullptr)) return {};
  text.resize(read);
  return text;
}

}  // namespace

TPlacedFiles::TPlacedFiles(std::wstring localPath) : FFileName(RecordFileName(localPath)) {}

TExpectedBlobs TPlacedFiles::Begin(const std::wstring& head) {
  TPlacedRecord record = ParsePlacedRecord(ReadRecord(FFileName));
  const bool continued = !head.empty() && record.Head == head;
  if (!continued) record.Files.clear();
  FFile.reset(CreateFileW(FFileName.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                          continued ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!FFile) {
    LogMessage(L"Update", L"The record of placed files cannot be written: " + SysErrorMessage(GetLastError()));
    return record.Files;
  }
  if (!continued && !head.empty()) Append(PlacedRecordHeader(head));
  return record.Files;
}

void TPlacedFiles::Add(const std::wstring& repositoryPath, const TBlobId& blob) {
  Append(PlacedRecordLine(repositoryPath, blob));
}

void TPlacedFiles::Append(const std::string& text) {
  if (!FFile) return;
  DWORD written = 0;
  if (!WriteFile(FFile.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
      written != text.size()) {
    LogMessage(L"Update", L"The record of placed files cannot be written: " + SysErrorMessage(GetLastError()));
    // A torn line is ignored when read; nothing after it is trusted less.
    FFile.reset();
  }
}

void TPlacedFiles::Remove(const std::wstring& localPath) { DeleteFileW(RecordFileName(localPath).c_str()); }
