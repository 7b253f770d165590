#include "update/BlobCompare.h"

#include "FileSystem.h"
#include "GitBlobHash.h"
#include "StreamExtensions.h"
#include "uZipFixes.h"

bool IsSameBlob(const TTreeEntry& entry, std::unique_ptr<TStream> stream) {
  return GitBlobMatches(std::move(stream), entry.Size, entry.Sha);
}

bool LocalFileMatches(const std::wstring& fileName, const TTreeEntry& entry) {
  if (!FileExists(fileName)) return false;
  return IsSameBlob(entry, std::make_unique<TFileStream>(fileName, fmOpenRead | fmShareDenyWrite));
}

TMapArchiveLookup::TMapArchiveLookup() = default;
TMapArchiveLookup::~TMapArchiveLookup() = default;

bool TMapArchiveLookup::MemberMatches(const std::wstring& archiveFileName, const std::wstring& memberName,
                                      const TTreeEntry& entry) {
  if (archiveFileName != FFileName) {
    FArchive.reset();
    FFileName.clear();
    if (FileExists(archiveFileName)) {
      auto archive = std::make_unique<TCustomZipFile>();
      archive->Open(archiveFileName, TZipMode::zmRead);
      FArchive = std::move(archive);
    }
    FFileName = archiveFileName;
  }
  if (!FArchive) return false;
  const int index = FArchive->IndexOf(memberName);
  if (index < 0) return false;
  TZipHeader header;
  std::unique_ptr<TStream> member = FArchive->Read(index, header);
  // The view ends at the member's recorded size whatever the reader yields.
  auto bounded = std::make_unique<TPartialStream>(member.get(), header.UncompressedSize, true);
  member.release();
  return IsSameBlob(entry, std::move(bounded));
}
