#pragma once
// Whether a local copy equals a repository file: same size and same Git blob
// hash. Map files live inside the map's packed archive and are compared
// with its members.
#include <memory>
#include <string>
#include <vector>

#include "Streams.h"
#include "update/TreeReply.h"

class TCustomZipFile;

// Size first (no read when it differs), then the hash. The stream is freed
// in every case.
bool IsSameBlob(const TTreeEntry& entry, std::unique_ptr<TStream> stream);

// A missing file does not match; one that cannot be opened raises.
bool LocalFileMatches(const std::wstring& fileName, const TTreeEntry& entry);

// The members of local map archives. Entries of one map come one after
// another, so the last archive opened stays open for the next lookup.
class TMapArchiveLookup {
 public:
  TMapArchiveLookup();
  ~TMapArchiveLookup();
  TMapArchiveLookup(const TMapArchiveLookup&) = delete;
  TMapArchiveLookup& operator=(const TMapArchiveLookup&) = delete;

  // False when the archive or the member is missing, damaged or differs.
  bool MemberMatches(const std::wstring& archiveFileName, const std::wstring& memberName, const TTreeEntry& entry);
  // The member names of an intact archive; none for a missing or damaged one.
  std::vector<std::wstring> MemberNames(const std::wstring& archiveFileName);

 private:
  static std::unique_ptr<TCustomZipFile> OpenIfIntact(const std::wstring& fileName);
  // Makes archiveFileName the open archive; false when it is missing or damaged.
  bool Select(const std::wstring& archiveFileName);

  std::wstring FFileName;
  std::unique_ptr<TCustomZipFile> FArchive;  // null: FFileName does not exist
};
