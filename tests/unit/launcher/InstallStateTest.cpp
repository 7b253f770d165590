// The installation state the window keeps outside itself: the registry value,
// the URL scheme keys and the .last file. Runs in the test's own Wine prefix.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "Handles.h"
#include "install/LastFile.h"
#include "uLauncher.h"

namespace {

std::wstring ReadString(const wchar_t* keyPath, const wchar_t* name) {
  UniqueHKEY key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, keyPath, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return L"<no key>";
  wchar_t buffer[1024];
  DWORD size = sizeof(buffer), type = 0;
  if (RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS)
    return L"<no value>";
  if (type != REG_SZ) return L"<not a string>";
  return std::wstring(buffer, size / sizeof(wchar_t)).c_str();
}

class InstallStateTest : public testing::Test {
 protected:
  void SetUp() override { CleanRegistry(); }
  void TearDown() override { CleanRegistry(); }
  static void CleanRegistry() {
    RegDeleteTreeW(HKEY_CURRENT_USER, L"SOFTWARE\\VELDRA");
    RegDeleteTreeW(HKEY_CURRENT_USER, L"SOFTWARE\\Classes\\vdr");
  }
};

TEST_F(InstallStateTest, SchemeKeysFollowTheInstallationFolder) {
  TfLauncher launcher;
  for (const wchar_t* folder : {L"C:\\Games\\Old Place", L"D:\\Veldra", L"D:\\Veldra"}) {
    launcher.FLocalPath = folder;
    launcher.RegisterVDRProtocol();
    const std::wstring path = folder;
    EXPECT_EQ(ReadString(L"SOFTWARE\\Classes\\vdr", nullptr), L"URL:vdr connect");
    EXPECT_EQ(ReadString(L"SOFTWARE\\Classes\\vdr", L"URL Protocol"), L"");
    EXPECT_EQ(ReadString(L"SOFTWARE\\Classes\\vdr\\DefaultIcon", nullptr), L"\"" + path + L"\\VELDRA.exe,0\"");
    EXPECT_EQ(ReadString(L"SOFTWARE\\Classes\\vdr\\Shell\\Open\\Command", nullptr),
              L"\"" + path + L"\\Launcher.exe\" /connect \"%1\"");
  }
}

TEST_F(InstallStateTest, FolderIsStoredWithOneSeparatorAndReadBackWithout) {
  TfLauncher writer;
  writer.FLocalPath = L"C:\\Games\\Veldra";
  writer.SaveInstallLocation();
  EXPECT_EQ(ReadString(L"SOFTWARE\\VELDRA", L"InstallLocation"), L"C:\\Games\\Veldra\\");
  EXPECT_EQ(ReadString(L"SOFTWARE\\Classes\\vdr\\Shell\\Open\\Command", nullptr),
            L"\"C:\\Games\\Veldra\\Launcher.exe\" /connect \"%1\"");

  TfLauncher reader;
  reader.LoadInstallLocation();
  EXPECT_EQ(reader.FLocalPath, L"C:\\Games\\Veldra");

  // Without the key the folder stays as it was.
  CleanRegistry();
  TfLauncher untouched;
  untouched.FLocalPath = L"kept";
  untouched.LoadInstallLocation();
  EXPECT_EQ(untouched.FLocalPath, L"kept");
}

class LastFileReadingTest : public testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    FFolder = std::wstring(temp) + L"veldra-last-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(FFolder.c_str(), nullptr);
  }
  void TearDown() override {
    DeleteFileW((FFolder + L"\\.last").c_str());
    DeleteFileW((FFolder + L"\\VELDRA.exe").c_str());
    RemoveDirectoryW(FFolder.c_str());
  }
  void Write(const std::wstring& name, const std::string& bytes) {
    std::ofstream(std::filesystem::path(FFolder + L"\\" + name), std::ios::binary) << bytes;
  }
  std::wstring FFolder;
};

TEST_F(LastFileReadingTest, InstalledCommitAndChannelComeFromTheFile) {
  Write(L".last", FormatLastFile(L"0123456789abcdef0123456789abcdef01234567", L"qa"));
  TfLauncher launcher;
  launcher.FLocalPath = FFolder;
  launcher.ReadLastFile();
  EXPECT_EQ(launcher.FLastCommitHash, L"0123456789abcdef0123456789abcdef01234567");
  EXPECT_EQ(launcher.FCurrentBranch, L"qa");
  // A folder with .last stays even without the game in it.
  EXPECT_EQ(launcher.FLocalPath, FFolder);
}

TEST_F(LastFileReadingTest, WithoutTheFileAFolderStaysOnlyWithTheGame) {
  TfLauncher empty;
  empty.FLocalPath = FFolder;
  empty.FCurrentBranch = L"qa";
  empty.ReadLastFile();
  EXPECT_EQ(empty.FLocalPath, L"");
  EXPECT_EQ(empty.FCurrentBranch, L"main");
  EXPECT_EQ(empty.FLastCommitHash, L"");

  Write(L"VELDRA.exe", "MZ");
  TfLauncher withGame;
  withGame.FLocalPath = FFolder;
  withGame.ReadLastFile();
  EXPECT_EQ(withGame.FLocalPath, FFolder);
  EXPECT_EQ(withGame.FLastCommitHash, L"");
}

}  // namespace
