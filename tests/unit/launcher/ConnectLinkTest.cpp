#include <gtest/gtest.h>

#include "install/LastFile.h"
#include "startup/ConnectLink.h"

namespace {

TEST(ConnectLink, TextFollowsThePrefixInAnyLetterCase) {
  struct Case {
    const wchar_t* Link;
    const wchar_t* Text;
  } cases[] = {
      {L"vdr://connect/Abc", L"Abc"},
      {L"VDR://CONNECT/AbC", L"AbC"},
      {L"Vdr://Connect/127.0.0.1:7777/Пароль", L"127.0.0.1:7777/Пароль"},
      {L"vdr://connect/", L""},
      {L"vdr://connect", L""},
      {L"http://connect/Abc", L""},
      {L"xvdr://connect/Abc", L""},
      {L"", L""},
  };
  for (const auto& c : cases) EXPECT_EQ(ConnectTextFromLink(c.Link), c.Text) << testing::PrintToString(std::wstring(c.Link));
}

TEST(PipeRequest, SecondInstanceSendsActivateOrConnectInUtf8) {
  EXPECT_EQ(BuildPipeRequest(L""), "/activate");
  EXPECT_EQ(BuildPipeRequest(L"Abc"), "/connect Abc");
  EXPECT_EQ(BuildPipeRequest(L"Abc").size(), 12u);
  EXPECT_EQ(BuildPipeRequest(L"Я"), "/connect \xD0\xAF");
}

TEST(PipeRequest, OnlyExactPrefixesAreRecognised) {
  struct Case {
    std::string Bytes;
    TPipeRequestKind Kind;
    std::wstring Text;
  } cases[] = {
      {"/activate", TPipeRequestKind::Activate, L""},
      {"/Activate", TPipeRequestKind::None, L""},
      {"/activate ", TPipeRequestKind::None, L""},
      {"/connect Abc", TPipeRequestKind::Connect, L"/connect Abc"},
      {"/connect \xD0\xAF", TPipeRequestKind::Connect, L"/connect Я"},
      {"/connect ", TPipeRequestKind::Connect, L"/connect "},
      {"/connectAbc", TPipeRequestKind::None, L""},
      {"/CONNECT Abc", TPipeRequestKind::None, L""},
      {"", TPipeRequestKind::None, L""},
  };
  for (const auto& c : cases) {
    TPipeRequest request = ParsePipeRequest(c.Bytes);
    EXPECT_EQ(request.Kind, c.Kind) << c.Bytes;
    EXPECT_EQ(request.Text, c.Text) << c.Bytes;
  }
}

TEST(PipeRequest, MessagesBeyondTheBufferAreNotRequests) {
  std::string fits = "/connect " + std::string(kPipeMessageLimit - 9, 'a');
  EXPECT_EQ(ParsePipeRequest(fits).Kind, TPipeRequestKind::Connect);
  EXPECT_EQ(ParsePipeRequest(fits + "a").Kind, TPipeRequestKind::None);
}

TEST(ConnectLink, TextsThatCouldBreakACommandLineAreRefused) {
  const struct {
    const wchar_t* Text;
    bool Refused;
  } cases[] = {
      {L"Srv-1:7777", false},
      {L"Сервер Б/2?x=1&y=%20", false},
      {L"a b\\c'd", false},
      {L"x\" /runupdate \"qa", true},
      {L"x\ty", true},
      {L"x\r\n", true},
      {L"\x1b[0m", true},
      {L"x\x7f", true},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ConnectTextFault(c.Text) != nullptr, c.Refused) << testing::PrintToString(std::wstring(c.Text));
}

TEST(BranchName, OnlyLettersDigitsAndDotUnderscoreDashSlash) {
  const struct {
    const wchar_t* Name;
    bool Safe;
  } cases[] = {
      {L"main", true},           {L"qa", true},         {L"release/1.2_rc-3", true}, {L"", false},
      {L"qa\r\n", false},        {L"qa&x=1", false},    {L"qa#", false},              {L"q a", false},
      {L"qa\"", false},          {L"ветка", false},     {L"..%2F", false},            {L"a?b", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(IsSafeBranchName(c.Name), c.Safe) << testing::PrintToString(std::wstring(c.Name));
}

}  // namespace
