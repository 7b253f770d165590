// The rules that decide whether a download may replace an installed file,
// and the names it is kept under until then.
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "Exceptions.h"
#include "Handles.h"
#include "update/DownloadError.h"
#include "update/TemporaryFiles.h"
#include "update/VerifiedResponse.h"
#include "window/SortedStringList.h"

namespace {

namespace fs = std::filesystem;

constexpr char kAbcSha[] = "f2ba8f84ab5c1bce84a7b441cb1959cfc7093b7f";

TEST(DownloadTrust, ReceivedBodyMustBeWhatWasAnnouncedAndExpected) {
  const TBlobId abc{kAbcSha, 3};
  const struct {
    const char* what;
    std::optional<int64_t> announced;
    int64_t received;
    std::optional<TBlobId> expected;
    const char* receivedSha;
    const wchar_t* error;  // start of the message, null: accepted
  } cases[] = {
      {"announced and received", 3, 3, std::nullopt, "", nullptr},
      {"no length announced, no blob known", std::nullopt, 7, std::nullopt, "", nullptr},
      {"the expected blob", 3, 3, abc, kAbcSha, nullptr},
      {"cut short", 10, 4, std::nullopt, "", L"Ошибка загрузки файла /a.txt: получено 4 байт из 10."},
      {"longer than announced", 3, 5, std::nullopt, "", L"Ошибка загрузки файла /a.txt: получено 5 байт из 3."},
      {"announced wrongly, blob size differs", 4, 4, abc, "", L"Ошибка загрузки файла /a.txt: получено 4 байт вместо 3."},
      {"right length, other bytes", 3, 3, abc, "0000000000000000000000000000000000000000",
       L"Ошибка загрузки файла /a.txt: файл повреждён"},
  };
  for (const auto& c : cases) {
    TReceivedBody body;
    body.Announced = c.announced;
    body.Received = c.received;
    body.Expected = c.expected;
    body.ReceivedSha = c.receivedSha;
    if (!c.error) {
      EXPECT_NO_THROW(CheckReceivedBody(L"/a.txt", body)) << c.what;
      continue;
    }
    try {
      CheckReceivedBody(L"/a.txt", body);
      ADD_FAILURE() << c.what << ": accepted";
    } catch (const EDownloadError& e) {
      EXPECT_EQ(e.Message().rfind(c.error, 0), 0u) << c.what;
    }
  }
}

class TemporaryFilesTest : public testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    FRoot = fs::path(temp) / (L"veldra-temp-" + std::to_wstring(GetCurrentProcessId()));
    fs::remove_all(FRoot);
    fs::create_directories(FRoot / "data" / "maps");
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(FRoot, ignored);
  }
  void Write(const std::wstring& name, const std::string& content) {
    std::ofstream(FRoot / fs::path(name.substr(1)), std::ios::binary) << content;
  }
  std::string Read(const std::wstring& name) {
    std::ifstream in(FRoot / fs::path(name.substr(1)), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::wstring Claim(const std::wstring& path, const TSortedStringList& runPaths) {
    const std::wstring local = ClaimTemporaryFile(FRoot.wstring(), path, runPaths).Path;
    return local.substr(FRoot.wstring().size());
  }
  fs::path FRoot;
};

TEST_F(TemporaryFilesTest, NamesNeverTakeAnInstalledFileOrOneTheRunFetches) {
  EXPECT_EQ(Claim(L"/data/a.txt", {}), L"/data/a.txt.download");
  // Taken now: the next download of the same file gets another name.
  EXPECT_EQ(Claim(L"/data/a.txt", {}), L"/data/a.txt.1.download");

  // An installed repository file of that name stays as it was.
  Write(L"/data/x.txt.download", "installed");
  EXPECT_EQ(Claim(L"/data/x.txt", {}), L"/data/x.txt.1.download");
  EXPECT_EQ(Read(L"/data/x.txt.download"), "installed");

  // A file this run fetches later is not there yet, but its name is reserved.
  const TSortedStringList runPaths{L"/data/maps/north.download", L"/data/maps/North.1.download"};
  EXPECT_EQ(Claim(L"/data/maps/north", runPaths), L"/data/maps/north.2.download");
}

TEST_F(TemporaryFilesTest, AKilledRunsTemporaryFilesGoAtTheNextRunAndNothingElse) {
  const std::wstring root = FRoot.wstring();
  Write(L"/data/x.txt.download", "installed, a repository file");
  {
    // A run that is killed: its files stay, and so does their list.
    TTemporaryRecord killed(root);
    ClaimTemporaryFile(root, L"/data/a.txt", {}, &killed);
    ClaimTemporaryFile(root, L"/data/x.txt", {}, &killed);
    ClaimTemporaryFile(root, L"/data/maps/north", {}, &killed);
  }
  ASSERT_TRUE(fs::exists(FRoot / "data" / "x.txt.1.download"));
  // A list written by something else names files the launcher never names.
  std::ofstream(FRoot / ".launcher-temporaries", std::ios::binary | std::ios::app)
      << "/data/x.txt\n/../outside.download\n/data/cut";
  Write(L"/data/x.txt", "installed");

  TTemporaryRecord next(root);
  next.RemoveLeftovers();
  EXPECT_FALSE(fs::exists(FRoot / "data" / "a.txt.download"));
  EXPECT_FALSE(fs::exists(FRoot / "data" / "x.txt.1.download"));
  EXPECT_FALSE(fs::exists(FRoot / "data" / "maps" / "north.download"));
  EXPECT_EQ(Read(L"/data/x.txt.download"), "installed, a repository file");
  EXPECT_EQ(Read(L"/data/x.txt"), "installed");
  // Nothing claimed yet: no list.
  EXPECT_FALSE(fs::exists(FRoot / ".launcher-temporaries"));

  // A run that succeeds leaves no list; one that failed with its files gone neither.
  ClaimTemporaryFile(root, L"/data/b.txt", {}, &next);
  EXPECT_TRUE(fs::exists(FRoot / ".launcher-temporaries"));
  next.DiscardUnlessLeftOver();
  EXPECT_TRUE(fs::exists(FRoot / ".launcher-temporaries"));
  fs::remove(FRoot / "data" / "b.txt.download");
  next.DiscardUnlessLeftOver();
  EXPECT_FALSE(fs::exists(FRoot / ".launcher-temporaries"));
}

TEST_F(TemporaryFilesTest, ALeftoverStillHeldStaysOnTheList) {
  const std::wstring root = FRoot.wstring();
  {
    TTemporaryRecord killed(root);
    ClaimTemporaryFile(root, L"/data/a.txt", {}, &killed);
  }
  UniqueFileHandle held(CreateFileW((root + L"\\data\\a.txt.download").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                    nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(held);
  {
    TTemporaryRecord next(root);
    next.RemoveLeftovers();
  }
  held.reset();
  EXPECT_TRUE(fs::exists(FRoot / "data" / "a.txt.download"));
  TTemporaryRecord later(root);
  later.RemoveLeftovers();
  EXPECT_FALSE(fs::exists(FRoot / "data" / "a.txt.download"));
}

}  // namespace
