#pragma once
// Faults of the player's own machine (a file another program holds, a full
// disk, the running game) and the words the player reads for them. System
// codes stay in the log; the message says what is wrong and what to do.
#include <cstdint>
#include <optional>
#include <string>

enum class TMachineFault { Other, FileHeld, DiskFull, PathRefused };

// The kind of fault a Windows error code of a file operation means.
TMachineFault MachineFaultOf(uint32_t systemCode);

// The drive a Windows path lies on ("C:", or "\\server\share" for a share);
// empty when the path names none.
std::wstring DriveOf(const std::wstring& windowsPath);

// "/data/config.ini" for a file below the installation folder (case as the
// path has it), the Windows path itself for anything else.
std::wstring PathForPlayer(const std::wstring& installationFolder, const std::wstring& windowsPath);

std::wstring FileHeldMessage(const std::wstring& path);
// neededBytes: how much more the run needs, when it is known.
std::wstring DiskFullMessage(const std::wstring& drive, std::optional<uint64_t> neededBytes = std::nullopt);
std::wstring PathRefusedMessage(const std::wstring& path);
inline constexpr wchar_t kGameRunningMessage[] =
    L"Игра запущена. Закройте игру и нажмите «Обновить» ещё раз.";
