#include "update/RepositoryPaths.h"

#include <string_view>

#include "window/SortedStringList.h"

bool StartsWithNoCase(const std::wstring& text, const std::wstring& prefix) {
  return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

bool EqualsNoCase(const std::wstring& a, const std::wstring& b) {
  return a.size() == b.size() && ComparePathsNoCase(a, b) == 0;
}

bool IsInPlayerSubtree(const std::wstring& path) { return StartsWithNoCase(path, kPlayerSubtree); }

bool IsSafeRepositoryPath(const std::wstring& path) {
  if (path.size() < 2 || path[0] != L'/') return false;
  size_t start = 1;
  while (start <= path.size()) {
    size_t end = path.find(L'/', start);
    if (end == std::wstring::npos) end = path.size();
    const std::wstring segment = path.substr(start, end - start);
    // A trailing "/" names a folder; only the last segment may be empty then.
    if (segment.empty() && end != path.size()) return false;
    if (!segment.empty()) {
      if (segment.back() == L'.' || segment.back() == L' ') return false;
      for (wchar_t c : segment) {
        if (c == L'\\' || c == L':' || c < 0x20) return false;
      }
    }
    start = end + 1;
  }
  return true;
}

namespace {

wchar_t AsciiUpper(wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

bool SameAsciiNoCase(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  }
  return true;
}

bool IsDeviceDigit(wchar_t c) {
  // Windows also takes the Latin-1 superscripts ¹ ² ³ as port numbers.
  return (c >= L'0' && c <= L'9') || c == L'\u00B9' || c == L'\u00B2' || c == L'\u00B3';
}

bool IsForbiddenCharacter(wchar_t c) {
  return c < 0x20 || std::wstring_view(L"<>:\"|?*\\").find(c) != std::wstring_view::npos;
}

TPathFault SegmentFault(const std::wstring& segment) {
  TPathFault fault;
  fault.Segment = segment;
  if (segment.empty() || segment == L"." || segment == L"..") {
    fault.Kind = TPathFault::pfOutsideFolder;
    return fault;
  }
  for (wchar_t c : segment) {
    if (IsForbiddenCharacter(c)) {
      fault.Kind = TPathFault::pfForbiddenCharacter;
      fault.Character = c;
      return fault;
    }
  }
  if (segment.back() == L'.' || segment.back() == L' ') {
    fault.Kind = TPathFault::pfTrailingDotOrSpace;
    return fault;
  }
  if (!ReservedDeviceName(segment).empty()) {
    fault.Kind = TPathFault::pfReservedName;
    return fault;
  }
  return {};
}

// The archive a file of a map folder is packed into, without its ".zip"
// ("/data/maps/north" of "/data/maps/north/settings.ini"); empty for any
// other path.
std::wstring MapArchiveStem(const std::wstring& path) {
  const size_t base = std::wstring_view(kMapsFolder).size();
  if (!StartsWithNoCase(path, kMapsFolder)) return {};
  const size_t slash = path.find(L'/', base);
  if (slash == std::wstring::npos || slash == base) return {};
  return path.substr(0, slash);
}

}  // namespace

std::wstring ReservedDeviceName(const std::wstring& segment) {
  // The device part ends at the first dot; blanks before the dot are dropped
  // too ("nul .txt" is NUL).
  std::wstring_view stem(segment);
  stem = stem.substr(0, stem.find(L'.'));
  while (!stem.empty() && stem.back() == L' ') stem.remove_suffix(1);
  for (const wchar_t* name : {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"}) {
    if (SameAsciiNoCase(stem, name)) return std::wstring(stem);
  }
  if (stem.size() == 4 && IsDeviceDigit(stem[3]) &&
      (SameAsciiNoCase(stem.substr(0, 3), L"COM") || SameAsciiNoCase(stem.substr(0, 3), L"LPT"))) {
    return std::wstring(stem);
  }
  return {};
}

TPathFault FindWindowsNameFault(const std::wstring& path) {
  TPathFault outside;
  outside.Kind = TPathFault::pfOutsideFolder;
  if (path.empty() || path[0] != L'/') return outside;
  size_t start = 1;
  while (start <= path.size()) {
    size_t end = path.find(L'/', start);
    if (end == std::wstring::npos) end = path.size();
    // "/" alone or a folder path's trailing "/" leaves an empty last segment.
    if (end == path.size() && start == end) return path.size() == 1 ? outside : TPathFault{};
    TPathFault fault = SegmentFault(path.substr(start, end - start));
    if (fault) return fault;
    start = end + 1;
  }
  return {};
}

std::wstring LocalFileOf(const std::wstring& path) {
  const std::wstring map = MapArchiveStem(path);
  return map.empty() ? path : map + L".zip";
}

TPathFault FindLocalLengthFault(size_t folderLength, const std::wstring& path) {
  // A map's new archive is its stem + the temporary suffix, then + ".zip".
  const std::wstring map = MapArchiveStem(path);
  TPathFault fault;
  fault.Kind = TPathFault::pfTooLong;
  fault.Length = folderLength + (map.empty() ? path : map).size() + kLongestTemporarySuffix;
  fault.Limit = kMaxLocalFileLength;
  return fault.Length > fault.Limit ? fault : TPathFault{};
}

TPathFault FindPathToWriteFault(size_t folderLength, const std::wstring& path) {
  if (TPathFault fault = FindWindowsNameFault(LocalFileOf(path))) return fault;
  return FindLocalLengthFault(folderLength, path);
}

std::wstring PathFaultMessage(const std::wstring& path, const TPathFault& fault) {
  const std::wstring refused = L"Файл репозитория " + path + L" нельзя сохранить в Windows: ";
  const std::wstring tell = L" Сообщите об этом разработчикам игры.";
  switch (fault.Kind) {
    case TPathFault::pfNone:
      break;
    case TPathFault::pfOutsideFolder:
      return L"Файл репозитория " + path + L" нельзя сохранить: недопустимый путь." + tell;
    case TPathFault::pfReservedName:
      return refused + L"«" + ReservedDeviceName(fault.Segment) + L"» — зарезервированное имя." + tell;
    case TPathFault::pfForbiddenCharacter:
      if (fault.Character < 0x20) return refused + L"в имени есть управляющий символ." + tell;
      return refused + L"знак «" + std::wstring(1, fault.Character) + L"» недопустим в имени." + tell;
    case TPathFault::pfTrailingDotOrSpace:
      return refused + L"имя «" + fault.Segment + L"» оканчивается " +
             (fault.Segment.back() == L'.' ? L"точкой." : L"пробелом.") + tell;
    case TPathFault::pfTooLong:
      return L"Путь к файлу репозитория " + path +
             L" в папке игры слишком длинный для Windows. Установите игру в папку с более коротким путём.";
  }
  return {};
}

std::wstring PathFaultLogText(const std::wstring& path, const TPathFault& fault) {
  const std::wstring refused = L"Repository path " + path + L" cannot be stored on Windows: ";
  switch (fault.Kind) {
    case TPathFault::pfNone:
      break;
    case TPathFault::pfOutsideFolder:
      return refused + L"not a path inside the installation folder";
    case TPathFault::pfReservedName:
      return refused + L"reserved device name \"" + ReservedDeviceName(fault.Segment) + L"\" in \"" + fault.Segment +
             L"\"";
    case TPathFault::pfForbiddenCharacter: {
      std::wstring shown = L"'" + std::wstring(1, fault.Character) + L"'";
      if (fault.Character < 0x20) {
        shown = L"U+00";
        for (int shift : {4, 0}) shown += L"0123456789ABCDEF"[(fault.Character >> shift) & 0xF];
      }
      return refused + L"forbidden character " + shown + L" in \"" + fault.Segment + L"\"";
    }
    case TPathFault::pfTrailingDotOrSpace:
      return refused + L"\"" + fault.Segment + L"\" ends in a " + (fault.Segment.back() == L'.' ? L"dot" : L"space");
    case TPathFault::pfTooLong:
      return refused + L"the local file path would be " + std::to_wstring(fault.Length) + L" characters long, more than " + std::to_wstring(fault.Limit);
  }
  return {};
}
