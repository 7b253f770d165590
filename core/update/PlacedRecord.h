#pragma once
// The record of files a run placed and proved, kept in the installation
// folder until a run succeeds, so that the run after a failed or killed one
// for the same head fetches only what is missing. UTF-8 lines:
//   placed <head commit>
//   <blob hash> <size> <repository path>
// one line per placed file, appended as files land. A torn last line (the
// launcher was killed while writing it) is ignored; the record is trusted only
// for its head, and each file only while its local bytes still hash to it.
#include <string>

#include "update/ExpectedBlobs.h"

inline constexpr wchar_t kPlacedRecordPath[] = L"/.launcher-placed";

struct TPlacedRecord {
  std::wstring Head;  // empty: no usable record
  TExpectedBlobs Files;
};

TPlacedRecord ParsePlacedRecord(const std::string& text);
std::string PlacedRecordHeader(const std::wstring& head);
std::string PlacedRecordLine(const std::wstring& path, const TBlobId& blob);
