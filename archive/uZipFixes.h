#pragma once
// A zip archive that also takes members streamed in by their producer, and
// the stored-method handlers the program installs at start.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "CRC32StreamWriteWrapper.h"
#include "ZipFile.h"

class TCustomZipFile : public TZipFile {
 public:
  TCustomZipFile();
  ~TCustomZipFile() override;

  // Writes the member's local header with placeholders and returns the stream
  // its uncompressed bytes go into. The archive keeps the stream.
  TCRC32StreamWriteWrapper* PrepareAddFile(const std::wstring& ArchiveFileName, uint16_t Compression);
  // Completes the open member: patches CRC-32 and sizes into its local header.
  void EndAddFile();
  // Drops the open member and what was written of it, header included.
  void AbandonAddFile();

  TStream* GetStream() const { return FStream; }
  std::vector<TZipHeader>& GetFiles() { return FFiles; }
  int64_t GetEndFileData() const { return FEndFileData; }
  void SetEndFileData(int64_t Value) { FEndFileData = Value; }
  static TZipCompressionHandler GetCompressionHandler(uint16_t Method) { return CompressionHandler(Method); }
  static bool ContainsCompressionHandle(uint16_t Method) { return IsCompressionHandlerRegistered(Method); }
  static void CheckFileNameHlp(const std::wstring& ArchiveFileName) { CheckFileName(ArchiveFileName); }
  std::vector<uint8_t> StringToTBytesHlp(const std::wstring& Name) const { return EncodeName(Name); }

 protected:
  bool MemberOpen() const override { return FAddedStream != nullptr; }

 private:
  std::unique_ptr<TCRC32StreamWriteWrapper> FAddedStream;
  TZipHeader FHeader;
  int64_t FStartPos = 0;
};

// Replaces the facility's stored-method handlers (idempotent; also done at
// program start and by every TCustomZipFile).
void InstallZipFixes();
