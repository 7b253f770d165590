#include "update/ChangeList.h"

#include <algorithm>

#include <nlohmann/json.hpp>

#include "Utf8.h"
#include "update/DownloadError.h"
#include "update/RepositoryPaths.h"
#include "update/StepMessages.h"
#include "update/WalkedPaths.h"

namespace {

bool IsOctal(char c) { return c >= '0' && c <= '7'; }

// Three octal digits at text[at] that make one byte.
bool IsOctalByte(const std::string& text, size_t at) {
  return at + 2 < text.size() && text[at] <= '3' && IsOctal(text[at]) && IsOctal(text[at + 1]) &&
         IsOctal(text[at + 2]);
}

// Git's C-style quoting: octal bytes, and the few letter escapes it writes
// for quotes, backslashes and control characters.
std::string Unescape(const std::string& text) {
  static constexpr char kLetters[] = "abtnvfr\"\\";
  static constexpr char kValues[] = "\a\b\t\n\v\f\r\"\\";
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 >= text.size()) {
      out += text[i];
    } else if (IsOctalByte(text, i + 1)) {
      out += static_cast<char>(((text[i + 1] - '0') << 6) | ((text[i + 2] - '0') << 3) | (text[i + 3] - '0'));
      i += 3;
    } else if (const char* letter = std::char_traits<char>::find(kLetters, sizeof kLetters - 1, text[i + 1])) {
      out += kValues[letter - kLetters];
      ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::vector<std::wstring> SplitLines(const std::wstring& body) {
  std::vector<std::wstring> lines;
  size_t start = 0;
  while (start < body.size()) {
    size_t end = body.find_first_of(L"\r\n", start);
    if (end == std::wstring::npos) end = body.size();
    if (end > start) lines.push_back(body.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

std::vector<std::wstring> SplitFields(const std::wstring& line) {
  std::vector<std::wstring> fields;
  size_t start = 0;
  for (;;) {
    const size_t tab = line.find(L'\t', start);
    fields.push_back(line.substr(start, tab == std::wstring::npos ? std::wstring::npos : tab - start));
    if (tab == std::wstring::npos) return fields;
    start = tab + 1;
  }
}

[[noreturn]] void RaiseUnexpected() { throw EDownloadError(kUnexpectedErrorMessage); }

}  // namespace

std::wstring UnquoteChangePath(const std::wstring& text) {
  if (text.empty() || text[0] != L'"') return L"/" + text;
  const std::wstring inner = text.size() >= 2 ? text.substr(1, text.size() - 2) : std::wstring();
  return L"/" + FromUtf8(Unescape(ToUtf8(inner)));
}

std::vector<TChangeOperation> ParseChangeList(const std::wstring& body) {
  std::vector<TChangeOperation> operations;
  auto add = [&operations](TChangeOperation::TKind kind, const std::wstring& field) {
    std::wstring path = UnquoteChangePath(field);
    CheckWalkedPath(path);
    operations.push_back({kind, std::move(path)});
  };
  for (const std::wstring& line : SplitLines(body)) {
    const std::vector<std::wstring> fields = SplitFields(line);
    if (fields.size() == 1) {
      // Without a tab the whole line is the path.
      add(TChangeOperation::coDownload, fields[0]);
      continue;
    }
    const wchar_t status = fields[0].empty() ? L'\0' : fields[0][0];
    if (status == L'D') {
      add(TChangeOperation::coDelete, fields[1]);
    } else if (status == L'R') {
      add(TChangeOperation::coDelete, fields[1]);
      add(TChangeOperation::coDownload, fields.size() > 2 ? fields[2] : std::wstring());
    } else {
      // A copy names its source first: what arrives is the last path.
      add(TChangeOperation::coDownload, fields.back());
    }
  }
  return operations;
}

void MarkPathForDownload(const std::wstring& path, TSortedStringList& toDownload, TSortedStringList& toDelete) {
  if (IsInPlayerSubtree(path)) return;
  toDelete.erase(path);
  toDownload.insert(path);
}

void MarkPathForDelete(const std::wstring& path, TSortedStringList& toDownload, TSortedStringList& toDelete) {
  if (IsInPlayerSubtree(path)) return;
  toDelete.insert(path);
  toDownload.erase(path);
}

std::wstring NextChangeListCommit(int32_t status, const std::wstring& body) {
  if (status != 200) throw EDownloadError(kFileListFailedMessage);
  const nlohmann::json commits = nlohmann::json::parse(ToUtf8(body), nullptr, false);
  if (!commits.is_array() || commits.empty()) RaiseUnexpected();
  const nlohmann::json& newest = commits[0];
  if (!newest.is_object()) RaiseUnexpected();
  const auto sha = newest.find("sha");
  if (sha == newest.end() || !sha->is_string()) RaiseUnexpected();
  const std::string& text = sha->get_ref<const std::string&>();
  // The hash goes into the next request's path: hexadecimal digits only.
  const bool hex = !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
  });
  if (!hex) RaiseUnexpected();
  return FromUtf8(text);
}

void ContinueChangeListChain(std::vector<std::wstring>& chain, const std::wstring& commit) {
  if (std::find(chain.begin(), chain.end(), commit) != chain.end()) RaiseUnexpected();
  if (chain.size() >= kMaxChangeListRounds) RaiseUnexpected();
  chain.push_back(commit);
}
