#pragma once
// The installation's record of files placed for a head (see PlacedRecord.h):
// read when a run begins its downloads, appended to as files land, removed
// when a run succeeds. A record that cannot be written costs only the resume.
#include <string>

#include "Handles.h"
#include "update/PlacedRecord.h"

class TPlacedFiles {
 public:
  explicit TPlacedFiles(std::wstring localPath);
  TPlacedFiles(const TPlacedFiles&) = delete;
  TPlacedFiles& operator=(const TPlacedFiles&) = delete;

  // The files the record holds for head; a record for another head (or none)
  // is started afresh for this one.
  TExpectedBlobs Begin(const std::wstring& head);
  void Add(const std::wstring& repositoryPath, const TBlobId& blob);
  // Removes the record of the installation folder, whether or not this
  // object began one.
  static void Remove(const std::wstring& localPath);

 private:
  void Append(const std::string& text);

  std::wstring FFileName;
  UniqueHandle FFile;
};
