#include "Streams.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "Exceptions.h"

int32_t TStream::Write(const void*, int32_t) { return 0; }

int64_t TStream::GetSize() {
  int64_t pos = Seek(0, TSeekOrigin::soCurrent);
  int64_t size = Seek(0, TSeekOrigin::soEnd);
  Seek(pos, TSeekOrigin::soBeginning);
  return size;
}

void TStream::SetSize(int64_t) { throw EStreamError(L"Stream size cannot be changed"); }

void TStream::ReadBuffer(void* buffer, int32_t count) {
  auto* p = static_cast<uint8_t*>(buffer);
  while (count > 0) {
    int32_t n = Read(p, count);
    if (n <= 0) throw EReadError(L"Stream read error");
    p += n;
    count -= n;
  }
}

void TStream::WriteBuffer(const void* buffer, int32_t count) {
  auto* p = static_cast<const uint8_t*>(buffer);
  while (count > 0) {
    int32_t n = Write(p, count);
    if (n <= 0) {
      TWriteFailure failure = LastWriteFailure();
      throw EWriteError(L"Stream write error", failure.ErrorCode, std::move(failure.FileName));
    }
    p += n;
    count -= n;
  }
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.GetSize();
  }
  std::vector<uint8_t> buf(static_cast<size_t>(std::min<int64_t>(count, 1 << 20)));
  int64_t left = count;
  while (left > 0) {
    int32_t chunk = static_cast<int32_t>(std::min<int64_t>(left, static_cast<int64_t>(buf.size())));
    source.ReadBuffer(buf.data(), chunk);
    WriteBuffer(buf.data(), chunk);
    left -= chunk;
  }
  return count;
}

int32_t THandleStream::Read(void* buffer, int32_t count) {
  DWORD done = 0;
  if (count <= 0 || !ReadFile(FHandle, buffer, static_cast<DWORD>(count), &done, nullptr)) return 0;
  return static_cast<int32_t>(done);
}

int32_t THandleStream::Write(const void* buffer, int32_t count) {
  DWORD done = 0;
  if (count <= 0) return 0;
  if (!WriteFile(FHandle, buffer, static_cast<DWORD>(count), &done, nullptr)) {
    FLastWriteError = GetLastError();
    return 0;
  }
  return static_cast<int32_t>(done);
}

THandleStream::TWriteFailure THandleStream::LastWriteFailure() const {
  TWriteFailure failure{FLastWriteError, {}};
  wchar_t name[MAX_PATH * 2] = {};
  const DWORD length = GetFinalPathNameByHandleW(FHandle, name, static_cast<DWORD>(std::size(name)), 0);
  if (length > 0 && length < std::size(name)) failure.FileName.assign(name, length);
  // "\\?\C:\..." names the same file as "C:\...".
  if (failure.FileName.rfind(L"\\\\?\\", 0) == 0) failure.FileName.erase(0, 4);
  return failure;
}

int64_t THandleStream::Seek(int64_t offset, TSeekOrigin origin) {
  LARGE_INTEGER dist, result;
  dist.QuadPart = offset;
  if (!SetFilePointerEx(FHandle, dist, &result, static_cast<DWORD>(origin))) return -1;
  return result.QuadPart;
}

void THandleStream::SetSize(int64_t newSize) {
  int64_t pos = GetPosition();
  Seek(newSize, TSeekOrigin::soBeginning);
  if (!SetEndOfFile(FHandle)) RaiseLastOSError();
  if (pos < newSize) Seek(pos, TSeekOrigin::soBeginning);
}

namespace {
HANDLE OpenForMode(const std::wstring& name, uint32_t mode) {
  if ((mode & fmCreate) == fmCreate) {
    return CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  static const DWORD access[] = {GENERIC_READ, GENERIC_WRITE, GENERIC_READ | GENERIC_WRITE};
  DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
  switch (mode & 0xF0) {
    case fmShareExclusive: share = 0; break;
    case fmShareDenyWrite: share = FILE_SHARE_READ; break;
    default: break;
  }
  return CreateFileW(name.c_str(), access[std::min<uint32_t>(mode & 3, 2)], share, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}
}  // namespace

TFileStream::TFileStream(const std::wstring& fileName, uint32_t mode)
    : THandleStream(INVALID_HANDLE_VALUE), FFileName(fileName), FOwned(OpenForMode(fileName, mode)) {
  if (!FOwned) {
    DWORD err = GetLastError();
    std::wstring reason = SysErrorMessage(err);
    if ((mode & fmCreate) == fmCreate)
      throw EFCreateError(L"Cannot create file \"" + fileName + L"\". " + reason, err, fileName);
    throw EFOpenError(L"Cannot open file \"" + fileName + L"\". " + reason, err, fileName);
  }
  FHandle = FOwned.get();
}

TFileStream::TFileStream(std::wstring fileName, UniqueFileHandle file)
    : THandleStream(file.get()), FFileName(std::move(fileName)), FOwned(std::move(file)) {}

TFileStream::~TFileStream() = default;

int32_t TMemoryStream::Read(void* buffer, int32_t count) {
  // A position before the start (Seek allows it) reads nothing.
  if (count <= 0 || FPosition < 0 || FPosition >= GetSize()) return 0;
  int32_t n = static_cast<int32_t>(std::min<int64_t>(count, GetSize() - FPosition));
  std::memcpy(buffer, FData.data() + FPosition, static_cast<size_t>(n));
  FPosition += n;
  return n;
}

int32_t TMemoryStream::Write(const void* buffer, int32_t count) {
  if (count <= 0 || FPosition < 0) return 0;
  size_t end = static_cast<size_t>(FPosition) + static_cast<size_t>(count);
  if (end > FData.size()) FData.resize(end);
  std::memcpy(FData.data() + FPosition, buffer, static_cast<size_t>(count));
  FPosition += count;
  return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
  switch (origin) {
    case TSeekOrigin::soBeginning: FPosition = offset; break;
    case TSeekOrigin::soCurrent: FPosition += offset; break;
    case TSeekOrigin::soEnd: FPosition = GetSize() + offset; break;
  }
  return FPosition;
}

void TMemoryStream::SetSize(int64_t newSize) {
  FData.resize(static_cast<size_t>(newSize));
  if (FPosition > newSize) FPosition = newSize;
}

void TMemoryStream::LoadFromFile(const std::wstring& fileName) {
  TFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
  FData.resize(static_cast<size_t>(file.GetSize()));
  if (!FData.empty()) file.ReadBuffer(FData.data(), static_cast<int32_t>(FData.size()));
  FPosition = 0;
}

void TMemoryStream::SaveToFile(const std::wstring& fileName) {
  TFileStream file(fileName, fmCreate);
  if (!FData.empty()) file.WriteBuffer(FData.data(), static_cast<int32_t>(FData.size()));
}
