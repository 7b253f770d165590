#pragma once
// Rules for repository paths ("/" + path inside the repository, "/"
// separators) before the launcher writes or deletes the local file they name.
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
