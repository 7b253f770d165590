#pragma once
// The play time as the game_end event reports it.
#include <cstdint>
#include <string>

// "%.2d:%.2d:%.2d" of hours (mod 24), minutes and seconds, with the number of
// days and a point in front from one day on: 3725 -> 01:02:05, 90061 -> 1.01:01:01.
std::wstring FormatSessionTime(int64_t seconds);
// The extra parameters of game_end: `, "sessionTime": "<time>"`.
std::wstring SessionTimeExtra(int64_t seconds);
