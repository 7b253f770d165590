#pragma once
// The records and constants of the PKWARE zip container as this program
// writes and reads it (no ZIP64, no encryption, no multi-disk archives).
#include <cstdint>
#include <string>
#include <vector>

#include "Exceptions.h"

DECLARE_EXCEPTION_CLASS(EZipException, Exception);

// One member, in the field order of a central directory entry.
struct TZipHeader {
  uint16_t MadeByVersion = 0;
  uint16_t RequiredVersion = 0;
  uint16_t Flag = 0;
  uint16_t CompressionMethod = 0;
  uint32_t ModifiedDateTime = 0;
  uint32_t CRC32 = 0;
  uint32_t CompressedSize = 0;
  uint32_t UncompressedSize = 0;
  uint16_t FileNameLength = 0;
  uint16_t ExtraFieldLength = 0;
  uint16_t FileCommentLength = 0;
  uint16_t DiskNumberStart = 0;
  uint16_t InternalAttributes = 0;
  uint32_t ExternalAttributes = 0;
  uint32_t LocalHeaderOffset = 0;
  std::vector<uint8_t> FileName;
  std::vector<uint8_t> ExtraField;
  std::vector<uint8_t> FileComment;
};

enum class TZipMode { zmClosed, zmRead, zmReadWrite, zmWrite };

namespace zip {
constexpr uint32_t kLocalHeaderSignature = 0x04034B50;
constexpr uint32_t kCentralHeaderSignature = 0x02014B50;
constexpr uint32_t kEndOfCentralDirSignature = 0x06054B50;
constexpr uint32_t kLocalHeaderSize = 30;
constexpr uint32_t kCentralHeaderSize = 46;
constexpr uint32_t kEndOfCentralDirSize = 22;
constexpr uint16_t kFlagUtf8Names = 0x0800;
constexpr uint16_t kFlagEncrypted = 0x0001;
constexpr uint16_t kVersion20 = 20;
constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kMethodDeflated = 8;

// The PKWARE name of a compression method ("Stored", "Deflated", ...).
std::wstring CompressionMethodName(uint16_t method);
}  // namespace zip
