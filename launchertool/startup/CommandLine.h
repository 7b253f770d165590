#pragma once
// Command-line switches: whole arguments compared with ASCII letters folded,
// the value of a switch being the argument after it.
#include <string>
#include <vector>

using TArguments = std::vector<std::wstring>;

// Splits a command line at characters up to U+0020 outside double quotes; the
// quotes themselves are dropped, there are no escape sequences. Element 0 is
// the program.
TArguments SplitCommandLine(const std::wstring& commandLine);

// ASCII-only upper-casing, so that the result does not depend on the locale.
std::wstring AsciiUpper(std::wstring text);

bool IsSwitchPresent(const TArguments& args, const std::wstring& name);
// Value of the first occurrence (empty when the switch is last); false and
// value untouched when the switch is absent.
bool GetSwitchValue(const TArguments& args, const std::wstring& name, std::wstring& value);

// A start by a link may carry nothing but the link: when /connect is present
// only it and its value remain (a link cannot add /runupdate or /removeOld).
TArguments EffectiveArguments(TArguments args);

// The same over this process's own (effective) command line.
const TArguments& ProcessArguments();
bool IsSwitchPresent(const std::wstring& name);
bool GetSwitchValue(const std::wstring& name, std::wstring& value);
