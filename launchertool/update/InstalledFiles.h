#pragma once
// Deleting installed files named by repository paths (change lists and the
// cleanup after a full walk). Whatever the path says, nothing outside the
// installation folder and nothing in the player's own subtree is touched.
#include <string>

enum class TDeleteOutcome { Deleted, Missing, Refused };

// Deletes localPath + path when the file exists, lies inside localPath (after
// resolving short names and "." or ".." in any form) and outside the player's
// subtree; a file held for a moment is tried again, a read-only one made
// plain. A path that may not be touched is Refused. Raises EOSError naming
// the file when it exists and cannot be deleted.
TDeleteOutcome DeleteInstalledFile(const std::wstring& localPath, const std::wstring& path);
