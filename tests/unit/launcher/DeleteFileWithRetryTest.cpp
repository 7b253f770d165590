// Deleting a file that something else may still hold for a moment.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "Handles.h"
#include "install/DeleteFileWithRetry.h"

namespace {

std::filesystem::path TestFile(const wchar_t* name) {
  auto folder = std::filesystem::temp_directory_path() / L"delete-retry-test";
  std::filesystem::create_directories(folder);
  auto path = folder / name;
  std::ofstream(path) << "old launcher";
  return path;
}

UniqueFileHandle HoldWithoutDeleteSharing(const std::filesystem::path& path) {
  return UniqueFileHandle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
}

}  // namespace

TEST(DeleteFileWithRetry, MissingFileAnswersAtOnce) {
  auto path = TestFile(L"missing.exe");
  std::filesystem::remove(path);
  EXPECT_EQ(DeleteFileWithRetry(path.wstring()), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(DeleteFileWithRetry, FileReleasedDuringTheAttemptsIsDeleted) {
  auto path = TestFile(L"released.exe");
  UniqueFileHandle held = HoldWithoutDeleteSharing(path);
  ASSERT_TRUE(held);
  // Released between the third and the fourth attempt.
  std::thread release([&held] {
    Sleep(500);
    held.reset();
  });
  const DWORD result = DeleteFileWithRetry(path.wstring());
  release.join();
  EXPECT_EQ(result, static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(DeleteFileWithRetry, FileHeldThroughoutReportsTheLastError) {
  auto path = TestFile(L"held.exe");
  UniqueFileHandle held = HoldWithoutDeleteSharing(path);
  ASSERT_TRUE(held);
  const DWORD result = DeleteFileWithRetry(path.wstring());
  EXPECT_NE(result, static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_NE(result, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  held.reset();
  EXPECT_TRUE(std::filesystem::exists(path));
  std::filesystem::remove(path);
}
