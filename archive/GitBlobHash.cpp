#include "GitBlobHash.h"

#include <vector>

#include "Exceptions.h"
#include "Sha1.h"

std::string Sha1Hex(const void* Data, size_t Size) {
  TSha1 sha;
  sha.Update(Data, Size);
  return sha.FinishHex();
}

std::string GitBlobHash(TStream& Stream) {
  int64_t size = Stream.GetSize() - Stream.GetPosition();
  TSha1 sha;
  std::string header = "blob " + std::to_string(size);
  sha.Update(header.c_str(), header.size() + 1);  // with its zero byte
  std::vector<uint8_t> block(64 * 1024);
  int64_t total = 0;
  for (;;) {
    int32_t n = Stream.Read(block.data(), static_cast<int32_t>(block.size()));
    if (n <= 0) break;
    sha.Update(block.data(), static_cast<size_t>(n));
    total += n;
    if (total > size) break;
  }
  if (total != size) throw EReadError(L"Stream content does not match its size");
  return sha.FinishHex();
}

bool GitBlobMatches(std::unique_ptr<TStream> Stream, int64_t ExpectedSize, const std::string& ExpectedSha) {
  if (Stream->GetSize() != ExpectedSize) return false;
  try {
    return GitBlobHash(*Stream) == ExpectedSha;
  } catch (const EReadError&) {
    return false;
  }
}
