#pragma once
// Deleting installed files named by repository paths (change lists and the
// cleanup after a full walk). Whatever the path says, nothing outside the
// installation folder and nothing in the player's own subtree is touched.
#include <string>

// Deletes localPath + path when the file exists, lies inside localPath (after
// resolving short names and "." or ".." in any form) and outside the player's
// subtree. Returns true when the file was deleted; every refusal or failure
// returns false.
bool DeleteInstalledFile(const std::wstring& localPath, const std::wstring& path);
