#pragma once
// Paths named by change lists and tree replies come from the network: each
// one is checked before it can name a local file.
#include <string>

// Raises EDownloadError "Неожиданная ошибка!" unless path names a file
// inside the installation folder: a leading "/", no "..", "." or empty
// segment, no backslash, colon or control character.
void CheckWalkedPath(const std::wstring& path);
