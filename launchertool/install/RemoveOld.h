#pragma once
// The launcher file a self-replacement left behind, removed at the next start.
#include <optional>
#include <string>

// The registered installation folder, when the registry names one.
std::optional<std::wstring> ReadInstallLocation();

// Deletes folder\Launcher_old.exe, starting an elevated copy of this launcher
// with /removeOldAndClose when deleting is refused.
void RemoveOldLauncher(const std::wstring& folder);

// Handles /removeOld and /removeOldAndClose before the single-instance check,
// so that the elevated helper never becomes a second instance. True when the
// process must end now.
bool HandleRemoveOldSwitches();
