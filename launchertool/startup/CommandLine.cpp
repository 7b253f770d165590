#include "CommandLine.h"

#include <windows.h>

TArguments SplitCommandLine(const std::wstring& commandLine) {
  TArguments args;
  size_t i = 0;
  const size_t n = commandLine.size();
  for (;;) {
    while (i < n && commandLine[i] <= L' ') ++i;
    if (i >= n) break;
    std::wstring arg;
    bool quoted = false;
    for (; i < n; ++i) {
      wchar_t c = commandLine[i];
      if (c == L'"') {
        quoted = !quoted;
      } else if (c <= L' ' && !quoted) {
        break;
      } else {
        arg.push_back(c);
      }
    }
    args.push_back(std::move(arg));
  }
  return args;
}

std::wstring AsciiUpper(std::wstring text) {
  for (auto& c : text)
    if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
  return text;
}

bool IsSwitchPresent(const TArguments& args, const std::wstring& name) {
  const std::wstring wanted = AsciiUpper(name);
  for (size_t i = 1; i < args.size(); ++i)
    if (AsciiUpper(args[i]) == wanted) return true;
  return false;
}

bool GetSwitchValue(const TArguments& args, const std::wstring& name, std::wstring& value) {
  const std::wstring wanted = AsciiUpper(name);
  for (size_t i = 1; i < args.size(); ++i) {
    if (AsciiUpper(args[i]) != wanted) continue;
    value = i + 1 < args.size() ? args[i + 1] : std::wstring();
    return true;
  }
  return false;
}

TArguments EffectiveArguments(TArguments args) {
  std::wstring link;
  if (!GetSwitchValue(args, L"/connect", link)) return args;
  return {args.empty() ? std::wstring() : args[0], L"/connect", link};
}

const TArguments& ProcessArguments() {
  static const TArguments args = EffectiveArguments(SplitCommandLine(GetCommandLineW()));
  return args;
}

bool IsSwitchPresent(const std::wstring& name) { return IsSwitchPresent(ProcessArguments(), name); }

bool GetSwitchValue(const std::wstring& name, std::wstring& value) {
  return GetSwitchValue(ProcessArguments(), name, value);
}
