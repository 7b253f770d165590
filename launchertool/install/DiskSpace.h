#pragma once
// Room on a drive for what a run is about to write.
#include <cstdint>
#include <optional>
#include <string>

// Bytes the current user may still write on the drive of the folder; none
// when the system cannot tell.
std::optional<uint64_t> FreeBytesFor(const std::wstring& folder);

// Raises EDownloadError with the player's message (the drive and how much
// more is needed) when needed bytes clearly do not fit on the folder's drive.
void RequireRoom(const std::wstring& folder, uint64_t neededBytes);
// The same with the free space already read (none: unknown, nothing refused).
void RequireRoom(const std::wstring& folder, uint64_t neededBytes, std::optional<uint64_t> free);
