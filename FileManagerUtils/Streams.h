#pragma once
// The byte stream family: an abstract base with 64-bit size and position and
// handle, file and memory variants.
#include <cstdint>
#include <string>
#include <vector>

#include "Exceptions.h"
#include "Handles.h"

enum class TSeekOrigin { soBeginning = 0, soCurrent = 1, soEnd = 2 };

class TStream {
 public:
  TStream() = default;
  TStream(const TStream&) = delete;
  TStream& operator=(const TStream&) = delete;
  virtual ~TStream() = default;

  // Transfer up to count bytes; return how many moved (0 at the end).
  virtual int32_t Read(void* buffer, int32_t count) = 0;
  virtual int32_t Write(const void* buffer, int32_t count);
  virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;

  virtual int64_t GetSize();
  // The base cannot change its size; it fails with EStreamError.
  virtual void SetSize(int64_t newSize);
  int64_t GetPosition() { return Seek(0, TSeekOrigin::soCurrent); }
  void SetPosition(int64_t pos) { Seek(pos, TSeekOrigin::soBeginning); }
  int64_t Size() { return GetSize(); }
  int64_t Position() { return GetPosition(); }

  // Whole transfers: raise EReadError "Stream read error" / EWriteError
  // "Stream write error" when fewer bytes move.
  void ReadBuffer(void* buffer, int32_t count);
  void WriteBuffer(const void* buffer, int32_t count);
  // Copies count bytes from source (the whole of it from its start when count is 0).
  int64_t CopyFrom(TStream& source, int64_t count);

 protected:
  // Why the last Write moved nothing: the system's code and the file, where
  // the stream knows them. Asked only after a failure.
  struct TWriteFailure {
    uint32_t ErrorCode = 0;
    std::wstring FileName;
  };
  virtual TWriteFailure LastWriteFailure() const { return {}; }
};

// A stream over a handle it does not own.
class THandleStream : public TStream {
 public:
  explicit THandleStream(HANDLE handle) : FHandle(handle) {}
  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  void SetSize(int64_t newSize) override;
  HANDLE Handle() const { return FHandle; }

 protected:
  TWriteFailure LastWriteFailure() const override;
  HANDLE FHandle;
  uint32_t FLastWriteError = 0;
};

enum TFileMode : uint32_t {
  fmOpenRead = 0x0000,
  fmOpenWrite = 0x0001,
  fmOpenReadWrite = 0x0002,
  fmShareExclusive = 0x0010,
  fmShareDenyWrite = 0x0020,
  fmShareDenyNone = 0x0040,
  fmCreate = 0xFF00,
};

// A file opened (or created) by name; the stream owns the handle.
class TFileStream : public THandleStream {
 public:
  // Raises EFOpenError / EFCreateError with the system's reason.
  TFileStream(const std::wstring& fileName, uint32_t mode);
  // Takes over a file the caller has opened already.
  TFileStream(std::wstring fileName, UniqueFileHandle file);
  ~TFileStream() override;
  const std::wstring& FileName() const { return FFileName; }

 protected:
  TWriteFailure LastWriteFailure() const override { return {FLastWriteError, FFileName}; }

 private:
  std::wstring FFileName;
  UniqueFileHandle FOwned;
};

class TMemoryStream : public TStream {
 public:
  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t GetSize() override { return static_cast<int64_t>(FData.size()); }
  void SetSize(int64_t newSize) override;
  void Clear() { FData.clear(); FPosition = 0; }
  const uint8_t* Memory() const { return FData.data(); }
  std::vector<uint8_t>& Bytes() { return FData; }
  void LoadFromFile(const std::wstring& fileName);
  void SaveToFile(const std::wstring& fileName);

 private:
  std::vector<uint8_t> FData;
  int64_t FPosition = 0;
};
