#pragma once
// Files that hold a download until it has proved itself. They live beside
// their target (so that the final move is one atomic rename) under a name
// that is neither an existing file nor a file the run is about to fetch.
// Every name a run claims is written down in the installation folder until
// the run succeeds, so that the next run can remove what a killed or cut-off
// run left behind.
#include <string>
#include <vector>

#include "Handles.h"
#include "window/SortedStringList.h"

struct TTemporaryFile {
  std::wstring Path;
  // Open for reading and writing (others may read): the download writes
  // through it without opening the file again.
  UniqueFileHandle File;
};

// The list of the temporary files of a run (repository paths, one UTF-8 line
// each). Shared by the run and by whatever holds one of its temporary files,
// so that the list goes with the last of them; names are added on the main
// thread only.
class TTemporaryRecord {
 public:
  // In the installation folder; the walk's cleanup keeps it.
  static constexpr wchar_t kRepositoryPath[] = L"/.launcher-temporaries";

  explicit TTemporaryRecord(std::wstring localRoot) : FLocalRoot(std::move(localRoot)) {}
  // A run that ended (failed, cancelled, or succeeded) has removed its
  // temporary files by now: the list goes unless one of them is still there.
  ~TTemporaryRecord() { DiscardUnlessLeftOver(); }
  TTemporaryRecord(const TTemporaryRecord&) = delete;
  TTemporaryRecord& operator=(const TTemporaryRecord&) = delete;
  // Removes what an earlier run left: the files its list names (only names
  // this launcher gives, below the installation folder) and the map canvas
  // files of the temporary folder that nothing holds open any more. Names it
  // could not remove stay on the new list; an empty list is no file.
  void RemoveLeftovers();
  void Add(const std::wstring& repositoryPath);
  // The run succeeded: every file it claimed is placed or gone.
  void Discard();
  // The list goes unless a file it names is still there; the next run
  // removes those.
  void DiscardUnlessLeftOver();

 private:
  std::wstring RecordPath() const { return FLocalRoot + kRepositoryPath; }
  std::wstring FLocalRoot;
  std::vector<std::wstring> FNames;
  UniqueFileHandle FFile;
};

// Creates a new, empty file for the download of repositoryPath below
// localRoot: repositoryPath + ".download", or + "." + n + ".download" when
// that name is taken on disk or among runPaths (repository paths), and adds
// it to record when one is given. Raises EOSError naming the target when no
// name can be created.
TTemporaryFile ClaimTemporaryFile(const std::wstring& localRoot, const std::wstring& repositoryPath,
                                  const TSortedStringList& runPaths, TTemporaryRecord* record = nullptr);
