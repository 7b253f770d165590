#pragma once
// Helpers of the archive tests: byte strings, little-endian fields, memory
// streams over given bytes, and a folder of scratch files.
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "Exceptions.h"
#include "Streams.h"

inline std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

inline std::vector<uint8_t> Pattern(size_t size, uint32_t seed = 1) {
  std::vector<uint8_t> out(size);
  for (size_t i = 0; i < size; ++i) {
    seed = seed * 1103515245u + 12345u;
    out[i] = static_cast<uint8_t>(seed >> 16);
  }
  return out;
}

inline uint16_t Le16(const std::vector<uint8_t>& b, size_t at) { return static_cast<uint16_t>(b[at] | (b[at + 1] << 8)); }
inline uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint32_t>(b[at]) | (static_cast<uint32_t>(b[at + 1]) << 8) |
         (static_cast<uint32_t>(b[at + 2]) << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}
inline void SetLe32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

inline void Fill(TMemoryStream& stream, const std::vector<uint8_t>& bytes) {
  stream.Clear();
  if (!bytes.empty()) stream.WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
  stream.SetPosition(0);
}

inline std::vector<uint8_t> ReadAll(TStream& stream, int32_t block = 65536) {
  std::vector<uint8_t> out, buf(static_cast<size_t>(block));
  for (;;) {
    int32_t n = stream.Read(buf.data(), block);
    if (n <= 0) break;
    out.insert(out.end(), buf.begin(), buf.begin() + n);
  }
  return out;
}

// A scratch folder below the temporary folder, removed with its files.
class TScratchDir {
 public:
  TScratchDir() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    FPath = std::wstring(temp) + L"archive-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(GetTickCount64()) + L"-" + std::to_wstring(++Counter());
    CreateDirectoryW(FPath.c_str(), nullptr);
  }
  ~TScratchDir() {
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((FPath + L"\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
      do {
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) DeleteFileW((FPath + L"\\" + fd.cFileName).c_str());
      } while (FindNextFileW(h, &fd));
      FindClose(h);
    }
    RemoveDirectoryW(FPath.c_str());
  }
  std::wstring File(const std::wstring& name) const { return FPath + L"\\" + name; }

 private:
  static int& Counter() {
    static int counter = 0;
    return counter;
  }
  std::wstring FPath;
};

inline std::vector<uint8_t> LoadFile(const std::wstring& name) {
  TMemoryStream m;
  m.LoadFromFile(name);
  return {m.Memory(), m.Memory() + m.GetSize()};
}
