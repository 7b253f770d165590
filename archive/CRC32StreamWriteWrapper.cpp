#include "CRC32StreamWriteWrapper.h"

#include <zlib.h>

#include "Exceptions.h"
#include "ZipDeflateStreams.h"

TCRC32StreamWriteWrapper::TCRC32StreamWriteWrapper(TStream* AInlineStream, bool AOwnStream)
    : FInlineStream(AInlineStream), FOwnStream(AOwnStream) {}

TCRC32StreamWriteWrapper::~TCRC32StreamWriteWrapper() {
  if (FOwnStream) delete FInlineStream;
}

int32_t TCRC32StreamWriteWrapper::Read(void*, int32_t) {
  throw ENotSupportedException(L"TCRC32StreamWriteWrapper.Read");
}

int64_t TCRC32StreamWriteWrapper::Seek(int64_t Offset, TSeekOrigin Origin) {
  return FInlineStream->Seek(Offset, Origin);
}

int32_t TCRC32StreamWriteWrapper::Write(const void* Buffer, int32_t Count) {
  if (Count <= 0) return 0;
  FCRC32 = static_cast<uint32_t>(crc32(FCRC32, static_cast<const Bytef*>(Buffer), static_cast<uInt>(Count)));
  FWritedSize += Count;
  return FInlineStream->Write(Buffer, Count);
}

void TCRC32StreamWriteWrapper::Finish() {
  if (auto* deflater = dynamic_cast<TZCompressionStream*>(FInlineStream)) deflater->Finish();
  else if (auto* inner = dynamic_cast<TCRC32StreamWriteWrapper*>(FInlineStream)) inner->Finish();
}
