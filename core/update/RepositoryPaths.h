#pragma once
// Rules for repository paths ("/" + path inside the repository, "/"
// separators) before the launcher writes or deletes the local file they name.
#include <cstddef>
#include <cstdint>
#include <string>

// The player's own subtree: never fetched, deleted or listed.
inline constexpr wchar_t kPlayerSubtree[] = L"/data/campanings/mods/";
inline constexpr wchar_t kMapsFolder[] = L"/data/maps/";

bool StartsWithNoCase(const std::wstring& text, const std::wstring& prefix);
bool EqualsNoCase(const std::wstring& a, const std::wstring& b);
bool IsInPlayerSubtree(const std::wstring& path);

// True when the path can only name a place inside the installation folder:
// a leading "/", no backslash, colon or control character, and no empty,
// "." or ".." segment, nor a segment ending in a dot or a blank (Windows
// drops those, so "mods." would name "mods").
bool IsSafeRepositoryPath(const std::wstring& path);

// A download is written to a temporary file beside its target first: the
// target's name + ".download", or + "." + n + ".download" (n from 1 up to
// kTemporaryNameAttempts - 1) while that name is taken.
inline constexpr wchar_t kTemporarySuffix[] = L".download";
inline constexpr int kTemporaryNameAttempts = 1000;
// ".999.download": the longest name a temporary file can add to its target.
inline constexpr size_t kLongestTemporarySuffix = 13;

// Longest local paths the plain Windows calls take (MAX_PATH without the
// terminator; a folder leaves room for an 8.3 name).
inline constexpr size_t kMaxLocalFileLength = 259;
inline constexpr size_t kMaxLocalFolderLength = 247;
// A temporary name that fits keeps its folder within the folder limit: the
// folder, "/", a name of at least one letter and the suffix add up to more.
static_assert(kMaxLocalFileLength - kLongestTemporarySuffix - 2 <= kMaxLocalFolderLength);

// What keeps Windows from holding a repository path.
struct TPathFault {
  enum TKind : uint8_t {
    pfNone,
    pfOutsideFolder,       // no leading "/", or an empty, "." or ".." segment
    pfReservedName,        // a device name (CON, NUL, COM1, ...), with or without extension
    pfForbiddenCharacter,  // < > : " | ? * \ or a control character
    pfTrailingDotOrSpace,
    pfTooLong,             // with the installation folder and the temporary suffix
  } Kind = pfNone;
  // The segment at fault (empty for pfOutsideFolder without one, pfTooLong).
  std::wstring Segment;
  // pfForbiddenCharacter: the character.
  wchar_t Character = 0;
  // pfTooLong: the length of the longest local name and the limit it passes.
  size_t Length = 0;
  size_t Limit = 0;

  explicit operator bool() const { return Kind != pfNone; }
};

// The device name a segment would open instead of a file ("nul" of
// "nul.txt", "COM1" of "COM1.ini", as written), or empty when it names none.
std::wstring ReservedDeviceName(const std::wstring& segment);

// The first segment of path, from the left, that Windows cannot hold as a
// file or folder name. A trailing "/" (a folder path) is no fault.
TPathFault FindWindowsNameFault(const std::wstring& path);

// The installation file a download of path writes: the packed archive
// "/data/maps/<map>.zip" for a file of a map folder (its own name is an
// archive member, not a file), else path itself.
std::wstring LocalFileOf(const std::wstring& path);

// Whether the file the run writes for path (LocalFileOf), with its longest
// temporary name, fits below an installation folder of folderLength
// characters (its folder then fits too).
TPathFault FindLocalLengthFault(size_t folderLength, const std::wstring& path);

// Both rules for a path the run is about to write: the name rule on the file
// it writes, then the length.
TPathFault FindPathToWriteFault(size_t folderLength, const std::wstring& path);

// What to tell the player (Russian) and what to log (English).
std::wstring PathFaultMessage(const std::wstring& path, const TPathFault& fault);
std::wstring PathFaultLogText(const std::wstring& path, const TPathFault& fault);
