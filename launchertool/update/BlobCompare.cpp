#include "update/BlobCompare.h"

#include "FileSystem.h"
#include "GitBlobHash.h"
#include "StreamExtensions.h"
#include "uDebugUtils.h"
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
  if (!Select(archiveFileName)) return false;
  const int index = FArchive->IndexOf(memberName);
  if (index < 0) return false;
  try {
    TZipHeader header;
    std::unique_ptr<TStream> member = FArchive->Read(index, header);
    // The view ends at the member's recorded size whatever the reader yields.
    auto bounded = std::make_unique<TPartialStream>(member.get(), header.UncompressedSize, true);
    member.release();
    return IsSameBlob(entry, std::move(bounded));
  } catch (const Exception& e) {
    // A damaged member is fetched again like a missing one.
    LogMessage(L"Update", L"Damaged member " + memberName + L" of " + archiveFileName + L": " + e.Message());
    return false;
  }
}

bool TMapArchiveLookup::Select(const std::wstring& archiveFileName) {
  if (archiveFileName != FFileName) {
    FArchive.reset();
    FFileName = archiveFileName;
    FArchive = OpenIfIntact(archiveFileName);
  }
  return FArchive != nullptr;
}

std::vector<std::wstring> TMapArchiveLookup::MemberNames(const std::wstring& archiveFileName) {
  std::vector<std::wstring> names;
  if (!Select(archiveFileName)) return names;
  for (int index = 0; index < FArchive->FileCount(); ++index) names.push_back(FArchive->FileName(index));
  return names;
}

std::unique_ptr<TCustomZipFile> TMapArchiveLookup::OpenIfIntact(const std::wstring& fileName) {
  if (!FileExists(fileName)) return nullptr;
  // A damaged archive counts as absent: the map is fetched whole and packed
  // anew, instead of failing every walk until the player deletes it.
  try {
    if (!TZipFile::IsValid(fileName)) throw Exception(L"not a zip archive");
    auto archive = std::make_unique<TCustomZipFile>();
    archive->Open(fileName, TZipMode::zmRead);
    return archive;
  } catch (const Exception& e) {
    LogMessage(L"Update", L"Damaged map archive " + fileName + L": " + e.Message());
    return nullptr;
  }
}
