#pragma once
// A fresh folder below the temporary folder, removed with its files at the end.
#include <windows.h>

#include <string>

class TempFolder {
 public:
  TempFolder() {
    wchar_t base[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, base);
    for (unsigned i = GetTickCount();; ++i) {
      FPath = std::wstring(base) + L"foundation-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
              std::to_wstring(i);
      if (CreateDirectoryW(FPath.c_str(), nullptr)) break;
    }
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  ~TempFolder() { RemoveTree(FPath); }

  const std::wstring& Path() const { return FPath; }
  std::wstring File(const std::wstring& name) const { return FPath + L"\\" + name; }

  std::string ReadFile(const std::wstring& name) const {
    std::string data;
    HANDLE h = CreateFileW(File(name).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return data;
    char buf[4096];
    DWORD n = 0;
    while (::ReadFile(h, buf, sizeof buf, &n, nullptr) && n > 0) data.append(buf, n);
    CloseHandle(h);
    return data;
  }

  void WriteFile(const std::wstring& name, const std::string& data) const {
    HANDLE h = CreateFileW(File(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD n = 0;
    if (h == INVALID_HANDLE_VALUE) return;
    if (!data.empty()) ::WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &n, nullptr);
    CloseHandle(h);
  }

 private:
  static void RemoveTree(const std::wstring& path) {
    WIN32_FIND_DATAW fd;
    HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &fd);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        std::wstring name = fd.cFileName;
        if (name == L"." || name == L"..") continue;
        std::wstring full = path + L"\\" + name;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) RemoveTree(full);
        else DeleteFileW(full.c_str());
      } while (FindNextFileW(find, &fd));
      FindClose(find);
    }
    RemoveDirectoryW(path.c_str());
  }
  std::wstring FPath;
};
