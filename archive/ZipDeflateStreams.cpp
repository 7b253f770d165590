#include "ZipDeflateStreams.h"

#include <algorithm>

#include "ZipTypes.h"

namespace {
constexpr size_t kBufferSize = 64 * 1024;
}

TZCompressionStream::TZCompressionStream(TStream& target, int level)
    : FTarget(target),
      FDeflate(level, TParallelDeflate::TFraming::Raw, [this](const uint8_t* data, size_t length) {
        FTarget.WriteBuffer(data, static_cast<int32_t>(length));
      }) {}

TZCompressionStream::~TZCompressionStream() = default;

int32_t TZCompressionStream::Write(const void* buffer, int32_t count) {
  if (FDeflate.Finished()) throw EZipException(L"Write after the end of a compressed member");
  if (count <= 0) return 0;
  FDeflate.Write(buffer, static_cast<size_t>(count));
  FWritten += count;
  return count;
}

void TZCompressionStream::Finish() { FDeflate.Finish(); }

int32_t TZCompressionStream::Read(void*, int32_t) { throw EStreamError(L"Invalid stream operation"); }

int64_t TZCompressionStream::Seek(int64_t offset, TSeekOrigin origin) {
  if (offset == 0 && origin != TSeekOrigin::soBeginning) return FWritten;
  if (origin == TSeekOrigin::soBeginning && offset == FWritten) return FWritten;
  throw EStreamError(L"Invalid stream operation");
}

TZDecompressionStream::TZDecompressionStream(std::unique_ptr<TStream> source, uint32_t expectedSize,
                                             uint32_t expectedCrc)
    : FSource(std::move(source)), FExpectedSize(expectedSize), FExpectedCrc(expectedCrc), FIn(kBufferSize) {
  FSourceStart = FSource->GetPosition();
  if (inflateInit2(&FZ, -15) != Z_OK) throw EZipException(L"Cannot start the inflate decompressor");
}

TZDecompressionStream::~TZDecompressionStream() { inflateEnd(&FZ); }

void TZDecompressionStream::Restart() {
  inflateReset(&FZ);
  FZ.avail_in = 0;
  FSource->SetPosition(FSourceStart);
  FPosition = 0;
  FCrc = 0;
  FEnded = false;
}

int32_t TZDecompressionStream::Read(void* buffer, int32_t count) {
  if (count <= 0 || FEnded) return 0;
  auto* out = static_cast<Bytef*>(buffer);
  // Ask for one byte more than the member may hold, so that an overlong
  // member is seen instead of silently cut.
  uint64_t room = static_cast<uint64_t>(FExpectedSize) - static_cast<uint64_t>(FPosition);
  uInt want = static_cast<uInt>(std::min<uint64_t>(static_cast<uint64_t>(count), room));
  uint8_t probe = 0;
  bool probing = want == 0;
  FZ.next_out = probing ? &probe : out;
  FZ.avail_out = probing ? 1 : want;
  uInt asked = FZ.avail_out;
  while (FZ.avail_out == asked) {
    if (FZ.avail_in == 0) {
      int32_t n = FSource->Read(FIn.data(), static_cast<int32_t>(FIn.size()));
      FZ.next_in = FIn.data();
      FZ.avail_in = n > 0 ? static_cast<uInt>(n) : 0;
    }
    bool noInput = FZ.avail_in == 0;
    int rc = inflate(&FZ, Z_NO_FLUSH);
    if (rc == Z_STREAM_END) {
      FEnded = true;
      break;
    }
    if (rc == Z_DATA_ERROR || rc == Z_NEED_DICT || rc == Z_MEM_ERROR || rc == Z_STREAM_ERROR)
      throw EZipException(L"Damaged deflate data in zip member");
    if (noInput && FZ.avail_out == asked) throw EZipException(L"Zip member data ends before its deflate stream");
  }
  uInt produced = asked - FZ.avail_out;
  if (probing) {
    if (produced) throw EZipException(L"Zip member inflates beyond its declared size");
  } else {
    FCrc = static_cast<uint32_t>(crc32(FCrc, out, produced));
    FPosition += produced;
  }
  if (FEnded) {
    if (FPosition != FExpectedSize) throw EZipException(L"Zip member is shorter than its declared size");
    if (FCrc != FExpectedCrc) throw EZipException(L"CRC-32 mismatch in zip member");
  }
  return probing ? 0 : static_cast<int32_t>(produced);
}

int64_t TZDecompressionStream::Seek(int64_t offset, TSeekOrigin origin) {
  int64_t target;
  switch (origin) {
    case TSeekOrigin::soBeginning: target = offset; break;
    case TSeekOrigin::soCurrent: target = FPosition + offset; break;
    default: throw EStreamError(L"Invalid stream operation");
  }
  if (target == FPosition) return FPosition;
  if (target < FPosition) {
    if (target != 0) throw EStreamError(L"Invalid stream operation");
    Restart();
    return 0;
  }
  uint8_t skip[4096];
  while (FPosition < target) {
    int32_t n = Read(skip, static_cast<int32_t>(std::min<int64_t>(target - FPosition, sizeof skip)));
    if (n <= 0) break;
  }
  return FPosition;
}
