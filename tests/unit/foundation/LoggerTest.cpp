#include <gtest/gtest.h>
#include <windows.h>

#include <thread>
#include <vector>

#include "TempFolder.h"
#include "uDebugUtils.h"

namespace {

constexpr int32_t kLimit = 0x80000;

SYSTEMTIME Time(WORD hour, WORD minute, WORD second, WORD ms) {
  SYSTEMTIME t = {};
  t.wYear = 2024;
  t.wMonth = 3;
  t.wDay = 5;
  t.wDayOfWeek = 2;
  t.wHour = hour;
  t.wMinute = minute;
  t.wSecond = second;
  t.wMilliseconds = ms;
  return t;
}

std::wstring UserShortDate(const SYSTEMTIME& t) {
  wchar_t text[128] = {};
  GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &t, nullptr, text, 128);
  return text;
}

std::wstring UserLongTime(const SYSTEMTIME& t) {
  wchar_t text[128] = {};
  GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &t, nullptr, text, 128);
  return text;
}

std::string Ansi(const std::wstring& text) {
  char out[512] = {};
  int n = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out, sizeof out, nullptr, nullptr);
  return std::string(out, static_cast<size_t>(n));
}

class LoggerTest : public testing::Test {
 protected:
  std::wstring LogName() const { return Folder.File(L"launcher.log"); }
  std::string LogText() const { return Folder.ReadFile(L"launcher.log"); }
  std::unique_ptr<TLogger> MakeLogger(SYSTEMTIME now = Time(14, 7, 9, 0)) {
    auto logger = std::make_unique<TLogger>(LogName(), kLimit);
    logger->SetTimeSource([now] { return now; });
    logger->SetRetryWait([this](DWORD ms) {
      Waits.push_back(ms);
      if (OnWait) OnWait();
    });
    return logger;
  }

  TempFolder Folder;
  std::vector<DWORD> Waits;
  std::function<void()> OnWait;
};

}  // namespace

TEST_F(LoggerTest, EntryFormWithAndWithoutClassAndTag) {
  SYSTEMTIME now = Time(14, 7, 9, 0);
  auto logger = MakeLogger(now);
  logger->LogMessage(L"TfLauncher", L"RegisterVDRProtocol", L"begin");
  logger->LogMessage(L"Update", L"Begin");
  logger->LogMessage(L"two\r\nlines");
  logger->LogDebug(L"TfLauncher", L"Debug", L"never written");
  std::string stamp = "[" + Ansi(UserShortDate(now) + L" " + UserLongTime(now)) + "] ";
  EXPECT_EQ(LogText(), stamp + "TfLauncher.RegisterVDRProtocol: begin\r\n" + stamp + "Update: Begin\r\n" + stamp +
                           ": two\r\nlines\r\n");
}

TEST_F(LoggerTest, TimeIsLeftOutOnlyAtExactlyMidnight) {
  struct TCase {
    SYSTEMTIME Now;
    bool HasTime;
  };
  const TCase cases[] = {
      {Time(0, 0, 0, 0), false},
      {Time(0, 0, 0, 1), true},
      {Time(0, 0, 1, 0), true},
      {Time(23, 59, 59, 999), true},
  };
  for (const TCase& c : cases) {
    std::wstring expected = UserShortDate(c.Now);
    if (c.HasTime) expected += L" " + UserLongTime(c.Now);
    EXPECT_EQ(TLogger::FormatTimeStamp(c.Now), expected)
        << c.Now.wHour << ":" << c.Now.wMinute << ":" << c.Now.wSecond << "." << c.Now.wMilliseconds;
  }
}

TEST_F(LoggerTest, TextIsInTheAnsiCodePage) {
  if (GetACP() != 1252) GTEST_SKIP() << "expects the Western European code page, have " << GetACP();
  // A letter the code page lacks is not replaced by a look-alike (a).
  MakeLogger()->LogMessage(L"T", L"caf\u00e9 \u4e2d \u0101");
  std::string text = LogText();
  EXPECT_NE(text.find("T: caf\xe9 ? ?\r\n"), std::string::npos) << text;
}

TEST(LogText, EveryCodePageGetsItsBytesAndNoLookAlikes) {
  const struct {
    UINT codePage;
    std::wstring text;
    std::string bytes;
  } cases[] = {
      {65001, L"Ошибка \u2713 caf\u00e9", "\xD0\x9E\xD1\x88\xD0\xB8\xD0\xB1\xD0\xBA\xD0\xB0 \xE2\x9C\x93 caf\xC3\xA9"},
      {65001, std::wstring(L"x") + wchar_t(0xD800) + L"y", "x\xEF\xBF\xBDy"},
      {1251, L"Ошибка \u4e2d \u0101", "\xCE\xF8\xE8\xE1\xEA\xE0 ? ?"},
      {1252, L"caf\u00e9 \u0101", "caf\xE9 ?"},
  };
  for (const auto& c : cases) EXPECT_EQ(EncodeLogText(c.text, c.codePage), c.bytes) << c.codePage;
}

TEST_F(LoggerTest, EntriesAreWrittenUnderUtf8AndCyrillicCodePages) {
  for (UINT codePage : {65001u, 1251u}) {
    auto logger = MakeLogger();
    logger->SetCodePage(codePage);
    logger->LogMessage(L"Start", L"Ошибка");
    EXPECT_NE(LogText().find("Start: " + EncodeLogText(L"Ошибка", codePage) + "\r\n"), std::string::npos)
        << codePage << ": " << LogText();
    // Nothing written is no success: no retries were needed.
    EXPECT_TRUE(Waits.empty()) << codePage;
  }
}

TEST_F(LoggerTest, LogLargerThanTheLimitStartsEmptyAtCreation) {
  struct TCase {
    size_t Size;
    size_t Kept;
  };
  const TCase cases[] = {{kLimit, kLimit}, {kLimit + 1, 0}, {0, 0}};
  for (const TCase& c : cases) {
    Folder.WriteFile(L"launcher.log", std::string(c.Size, 'x'));
    TLogger logger(LogName(), kLimit);
    EXPECT_EQ(LogText().size(), c.Kept) << c.Size;
  }
}

TEST_F(LoggerTest, CreationMakesMissingFoldersAndReportsWhatItCannotCreate) {
  std::wstring nested = Folder.File(L"Veldra\\deeper\\launcher.log");
  TLogger logger(nested, kLimit);
  EXPECT_NE(GetFileAttributesW(nested.c_str()), INVALID_FILE_ATTRIBUTES);

  Folder.WriteFile(L"plain-file", "x");
  EXPECT_THROW(TLogger(Folder.File(L"plain-file\\sub\\launcher.log"), kLimit), EInOutError);
}

TEST_F(LoggerTest, FullStopRule) {
  struct TCase {
    const wchar_t* Message;
    const wchar_t* Text;
  };
  const TCase cases[] = {
      {L"Failed", L"Failed."},   {L"Failed.", L"Failed."},   {L"Failed!", L"Failed!"}, {L"Code 5", L"Code 5."},
      {L"(none)", L"(none)"},    {L"Reason:", L"Reason:."},  {L"", L""},
      {L"\u041e\u0448\u0438\u0431\u043a\u0430", L"\u041e\u0448\u0438\u0431\u043a\u0430."},
  };
  for (const TCase& c : cases) {
    std::wstring text = TLogger::FormatExceptionMessage(Exception(c.Message));
    EXPECT_EQ(text.substr(0, text.find(L"\r\nStack:")), c.Text) << testing::PrintToString(c.Message);
  }
}

TEST_F(LoggerTest, ExceptionEntryListsTheChainInnermostFirstWithTheInnerStack) {
  auto innermost = std::make_shared<EOSError>(5, L"Access denied");
  auto middle = std::make_shared<Exception>(L"", innermost);  // empty messages are skipped
  Exception outer(L"Can't update launcher", middle);
  MakeLogger()->Error(outer);

  std::string text = LogText();
  std::string expected = "] EOSError.Exception: Access denied.\r\nCan't update launcher.\r\nStack:";
  size_t at = text.find(expected);
  ASSERT_NE(at, std::string::npos) << text;
  std::wstring stack = innermost->StackInfo().ToText();
  ASSERT_FALSE(stack.empty());
  EXPECT_EQ(text.substr(at + expected.size()), std::string(stack.begin(), stack.end()) + "\r\n");
}

TEST_F(LoggerTest, ExceptionWithEmptyMessageStillHasItsStackPart) {
  Exception e(L"");
  std::wstring text = TLogger::FormatExceptionMessage(e);
  EXPECT_EQ(text, L"\r\nStack:" + e.StackInfo().ToText());
}

TEST(StackText, EveryAddressOnItsOwnLineWithAtLeastEightDigits) {
  TStackInfo stack;
  stack.Addresses = {0x401000, 0xABCDEF12, 0x1F};
  std::wstring expected = L"\r\n00401000\r\nABCDEF12\r\n0000001F";
#if defined(__x86_64__)
  stack.Addresses.push_back(0x7FF6ABCD0123ull);  // no digits lost on 64-bit
  expected += L"\r\n7FF6ABCD0123";
#endif
  EXPECT_EQ(stack.ToText(), expected);
}

TEST_F(LoggerTest, FileHeldExclusivelyIsRetriedFiveTimesThenTheEntryIsDropped) {
  auto logger = MakeLogger();
  logger->LogMessage(L"Start", L"first");
  HANDLE held = CreateFileW(LogName().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  logger->LogMessage(L"Start", L"lost");
  CloseHandle(held);
  EXPECT_EQ(Waits, std::vector<DWORD>(5, 100));
  logger->LogMessage(L"Start", L"after");
  std::string text = LogText();
  EXPECT_EQ(text.find("lost"), std::string::npos);
  EXPECT_NE(text.find("Start: first"), std::string::npos);
  EXPECT_NE(text.find("Start: after"), std::string::npos);
}

TEST_F(LoggerTest, FileReleasedDuringTheRetriesGetsTheEntry) {
  auto logger = MakeLogger();
  HANDLE held = CreateFileW(LogName().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  OnWait = [&] {
    if (Waits.size() == 3) CloseHandle(held);
  };
  logger->LogMessage(L"Update", L"Begin");
  EXPECT_EQ(Waits.size(), 3u);
  EXPECT_NE(LogText().find("Update: Begin\r\n"), std::string::npos);
}

TEST_F(LoggerTest, EntriesFromManyThreadsStayWhole) {
  auto logger = MakeLogger();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&logger, t] {
      for (int i = 0; i < 25; ++i) logger->LogMessage(L"Thread", std::wstring(200, static_cast<wchar_t>(L'a' + t)));
    });
  for (auto& t : threads) t.join();
  std::string text = LogText();
  size_t lines = 0;
  for (size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2, ++lines) {
    std::string line = text.substr(start, end - start);
    std::string body = line.substr(line.find("Thread: ") + 8);
    EXPECT_EQ(body, std::string(200, body[0]));
  }
  EXPECT_EQ(lines, 100u);
}

TEST(GlobalLogger, MissingLoggerLogsNothingAndAnInstalledOneIsUsed) {
  SetGlobalLogger(nullptr);
  EXPECT_EQ(GlobalLogger(), nullptr);
  LogMessage(L"Start", L"nobody listens");
  LogClassMessage(L"TfLauncher", L"RegisterVDRProtocol", L"begin");
  LogError(Exception(L"ignored"));

  TempFolder folder;
  SetGlobalLogger(std::make_unique<TLogger>(folder.File(L"first.log"), kLimit));
  SetGlobalLogger(std::make_unique<TLogger>(folder.File(L"second.log"), kLimit));
  ASSERT_NE(GlobalLogger(), nullptr);
  LogClassMessage(L"TfLauncher", L"RegisterVDRProtocol", L"end successful");
  SetGlobalLogger(nullptr);
  EXPECT_EQ(folder.ReadFile(L"first.log"), "");
  EXPECT_NE(folder.ReadFile(L"second.log").find("] TfLauncher.RegisterVDRProtocol: end successful\r\n"),
            std::string::npos);
}
