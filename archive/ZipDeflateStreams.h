#pragma once
// Raw deflate (no zlib header, window bits 15) in both directions, as zip
// members store it.
#include <cstdint>
#include <memory>
#include <vector>

#include <zlib.h>

#include "ParallelDeflate.h"
#include "Streams.h"

// Compresses what is written into it and writes the result to a target it
// does not own. Finish writes the last compressed bytes; destroying it without
// Finish writes nothing more. A large member is deflated on every core.
class TZCompressionStream : public TStream {
 public:
  TZCompressionStream(TStream& target, int level);
  ~TZCompressionStream() override;
  int32_t Write(const void* buffer, int32_t count) override;
  int32_t Read(void* buffer, int32_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  void Finish();

 private:
  TStream& FTarget;
  TParallelDeflate FDeflate;
  int64_t FWritten = 0;
};

// Inflates a member's compressed bytes. It never delivers more than the
// member's declared size, fails when the data ends early or inflates beyond
// that size, and checks the CRC-32 at the end.
class TZDecompressionStream : public TStream {
 public:
  // source: the compressed bytes (owned); expected: declared size and CRC-32.
  TZDecompressionStream(std::unique_ptr<TStream> source, uint32_t expectedSize, uint32_t expectedCrc);
  ~TZDecompressionStream() override;
  int32_t Read(void* buffer, int32_t count) override;
  // Forward moves decompress; a move back to 0 starts over; the end is unknown.
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;

 private:
  void Restart();
  std::unique_ptr<TStream> FSource;
  int64_t FSourceStart;
  uint32_t FExpectedSize;
  uint32_t FExpectedCrc;
  z_stream FZ{};
  std::vector<uint8_t> FIn;
  int64_t FPosition = 0;
  uint32_t FCrc = 0;
  bool FEnded = false;
};
