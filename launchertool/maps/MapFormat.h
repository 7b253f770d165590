#pragma once
// The map image format named by a map's settings.ini: key MapFormat of
// section [main], "bmp" when the key is missing.
#include <cstdint>
#include <string>
#include <vector>

class TZipFile;

// The settings text as stored (a byte-order mark selects UTF-8 or UTF-16,
// else the system ANSI code page); the value lower-cased.
std::wstring MapFormatFromSettings(const std::vector<uint8_t>& settings);
// The same for the member "settings.ini" of the archive (matched ignoring
// case); the member must exist.
std::wstring ReadMapFormat(TZipFile& archive);
