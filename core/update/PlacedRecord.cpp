#include "update/PlacedRecord.h"

#include "Utf8.h"
#include "update/CommitHash.h"

namespace {

constexpr char kHeaderWord[] = "placed ";

bool IsLowerHex40(const std::string& text) {
  if (text.size() != 40) return false;
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

bool ParseSize(const std::string& text, int64_t& size) {
  if (text.empty() || text.size() > 18) return false;
  size = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    size = size * 10 + (c - '0');
  }
  return true;
}

// "<sha> <size> <path>"; false for anything else.
bool ParseFileLine(const std::string& line, std::wstring& path, TBlobId& blob) {
  const size_t first = line.find(' ');
  if (first == std::string::npos) return false;
  const size_t second = line.find(' ', first + 1);
  if (second == std::string::npos) return false;
  blob.Sha = line.substr(0, first);
  if (!IsLowerHex40(blob.Sha) || !ParseSize(line.substr(first + 1, second - first - 1), blob.Size)) return false;
  path = FromUtf8(line.substr(second + 1));
  return path.size() > 1 && path[0] == L'/';
}

}  // namespace

TPlacedRecord ParsePlacedRecord(const std::string& text) {
  TPlacedRecord record;
  size_t begin = 0;
  bool first = true;
  while (begin < text.size()) {
    const size_t end = text.find('\n', begin);
    // Only a line that ends with its line break was written whole.
    if (end == std::string::npos) break;
    const std::string line = text.substr(begin, end - begin);
    begin = end + 1;
    if (first) {
      first = false;
      if (line.rfind(kHeaderWord, 0) != 0) return {};
      record.Head = FromUtf8(line.substr(sizeof(kHeaderWord) - 1));
      if (!IsCommitHash(record.Head)) return {};
      continue;
    }
    std::wstring path;
    TBlobId blob;
    if (ParseFileLine(line, path, blob)) record.Files[path] = blob;
  }
  if (first) return {};
  return record;
}

std::string PlacedRecordHeader(const std::wstring& head) { return kHeaderWord + ToUtf8(head) + "\n"; }

std::string PlacedRecordLine(const std::wstring& path, const TBlobId& blob) {
  return blob.Sha + " " + std::to_string(blob.Size) + " " + ToUtf8(path) + "\n";
}
