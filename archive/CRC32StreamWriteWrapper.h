#pragma once
// A write-only stream that forwards every write and keeps the CRC-32 and the
// count of everything written through it.
#include <cstdint>

#include "Streams.h"

class TCRC32StreamWriteWrapper : public TStream {
 public:
  TCRC32StreamWriteWrapper(TStream* AInlineStream, bool AOwnStream);
  ~TCRC32StreamWriteWrapper() override;

  int64_t GetSize() override { return FWritedSize; }
  // Always fails: the stream only writes.
  int32_t Read(void* Buffer, int32_t Count) override;
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  // Checksum and count cover the full count, whatever the inner stream takes.
  int32_t Write(const void* Buffer, int32_t Count) override;

  uint32_t CRC32() const { return FCRC32; }
  TStream* InlineStream() const { return FInlineStream; }
  // Writes whatever the inner compressor still holds.
  void Finish();

 private:
  TStream* FInlineStream;
  uint32_t FCRC32 = 0;
  int64_t FWritedSize = 0;
  bool FOwnStream;
};
