#pragma once
// The Windows version level that selects the session's proxy mode and secure
// protocols: 1 (5.0), 2 (5.1), 3 (other 5.x), 4 (6.0), 5 (6.1), 6 (6.2),
// 7 (6.3), 8 (10.x), 0 for anything else. The real version of the running
// system, not the one reported to programs without a manifest. Kept here until
// the shared system types carry WindowsVersionLevel.
#include <cstdint>

uint8_t WindowsVersionLevelFor(uint32_t major, uint32_t minor);
uint8_t HttpWindowsVersionLevel();
