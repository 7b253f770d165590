#include <gtest/gtest.h>

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

}  // namespace
