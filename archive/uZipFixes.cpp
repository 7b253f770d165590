#include "uZipFixes.h"

#include "StreamExtensions.h"

namespace {
std::unique_ptr<TStream> StoredCompress(TStream& InStream, const TZipFile&, const TZipHeader&) {
  return std::make_unique<TCRC32StreamWriteWrapper>(&InStream, false);
}
// Exactly the member's bytes, not the rest of the archive.
std::unique_ptr<TStream> StoredDecompress(TStream& InStream, const TZipFile&, const TZipHeader& Item) {
  return std::make_unique<TPartialStream>(&InStream, Item.UncompressedSize, false);
}

const bool kInstalledAtStart = (InstallZipFixes(), true);
}  // namespace

void InstallZipFixes() { TZipFile::RegisterCompressionHandler(zip::kMethodStored, {StoredCompress, StoredDecompress}); }

TCustomZipFile::TCustomZipFile() { InstallZipFixes(); }

// The open member's stream is dropped without writing: the archive stream may already be gone.
TCustomZipFile::~TCustomZipFile() = default;

TCRC32StreamWriteWrapper* TCustomZipFile::PrepareAddFile(const std::wstring& ArchiveFileName, uint16_t Compression) {
  if (FAddedStream) throw Exception(L"Невозможно добавлять одновременно несколько файлов в архив!");
  TMemberStart member = StartMember(ArchiveFileName, Compression);
  FHeader = std::move(member.Header);
  FStartPos = FStream->GetPosition();
  std::unique_ptr<TStream> compressor = member.Handler.Compress(*FStream, *this, FHeader);
  FAddedStream = std::make_unique<TCRC32StreamWriteWrapper>(compressor.release(), true);
  return FAddedStream.get();
}

void TCustomZipFile::AbandonAddFile() {
  if (!FAddedStream) return;
  FAddedStream.reset();
  FStream->SetSize(FEndFileData);
  FStream->SetPosition(FEndFileData);
}

void TCustomZipFile::EndAddFile() {
  if (!FAddedStream) throw Exception(L"Попытка окончить неначатую запись!");
  std::unique_ptr<TCRC32StreamWriteWrapper> added = std::move(FAddedStream);
  if (added->GetSize() > 0xFFFFFFFFLL) throw EZipException(L"Zip member larger than 4 GiB");
  FHeader.UncompressedSize = static_cast<uint32_t>(added->GetSize());
  FHeader.CRC32 = added->CRC32();
  added->Finish();
  added.reset();
  int64_t end = FStream->GetPosition();
  FHeader.CompressedSize = static_cast<uint32_t>(end - FStartPos);
  FEndFileData = end;
  PatchLocalHeader(FHeader);
  FFiles.push_back(FHeader);
}
