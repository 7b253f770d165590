#include <gtest/gtest.h>

#include "URL.h"

TEST(URL, ParsesAndRebuilds) {
  struct TCase {
    const wchar_t* Text;
    bool Found;
    const wchar_t* Scheme;
    const wchar_t* Server;
    const wchar_t* Port;
    const wchar_t* Address;
    uint16_t PortInt;
    const wchar_t* Root;
    const wchar_t* Full;
  };
  const TCase cases[] = {
      {L"https://api.example.org/a/b?x=1", true, L"https", L"api.example.org", L"443", L"/a/b?x=1", 443, L"/a/b",
       L"https://api.example.org/a/b?x=1"},
      {L"http://example.org:8080", true, L"http", L"example.org", L"8080", L"/", 8080, L"/",
       L"http://example.org:8080/"},
      {L"example.org/path", true, L"", L"example.org", L"80", L"/path", 80, L"/path", L"http://example.org/path"},
      {L"example.org:99/x", true, L"", L"example.org", L"99", L"/x", 99, L"/x", L"http://example.org:99/x"},
      {L"HTTPS://Example.ORG/X", true, L"https", L"Example.ORG", L"443", L"/X", 443, L"/X",
       L"https://Example.ORG/X"},
      {L"  \t http://h/p \r\n", true, L"http", L"h", L"80", L"/p", 80, L"/p", L"http://h/p"},
      // The host ends only at ":", "/" or the end, so a query joins it.
      {L"http://example.org?q=1", true, L"http", L"example.org?q=1", L"80", L"/", 80, L"/",
       L"http://example.org?q=1/"},
      {L"http://example.org:abc/x", true, L"http", L"example.org", L"abc", L"/x", 0, L"/x",
       L"http://example.org:abc/x"},
      {L"http://example.org:80/x", true, L"http", L"example.org", L"80", L"/x", 80, L"/x", L"http://example.org/x"},
      {L"https://example.org:8443/x", true, L"https", L"example.org", L"8443", L"/x", 8443, L"/x",
       L"https://example.org:8443/x"},
      {L"https://example.org:80/x", true, L"https", L"example.org", L"80", L"/x", 80, L"/x",
       L"https://example.org:80/x"},
      {L"http://example.org:0/x", true, L"http", L"example.org", L"0", L"/x", 0, L"/x", L"http://example.org/x"},
      {L"http://example.org:70000/", true, L"http", L"example.org", L"70000", L"/", 0, L"/",
       L"http://example.org:70000/"},
      {L"http:///path", false, L"http", L"", L"80", L"/path", 80, L"/path", L"http:///path"},
      {L" \r\n", false, L"", L"", L"", L"", 0, L"", L"http://"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "text: " << testing::PrintToString(std::wstring(c.Text)));
    TURL url;
    EXPECT_EQ(url.From(c.Text), c.Found);
    EXPECT_EQ(url.Scheme, c.Scheme);
    EXPECT_EQ(url.Server, c.Server);
    EXPECT_EQ(url.Port, c.Port);
    EXPECT_EQ(url.Address, c.Address);
    EXPECT_EQ(url.PortInt(), c.PortInt);
    EXPECT_EQ(url.Root(), c.Root);
    EXPECT_EQ(url.FullURL(), c.Full);
  }
}

TEST(URL, DefaultPortAndClear) {
  TURL url;
  ASSERT_TRUE(url.From(L"http://h/x", L"8000"));
  EXPECT_EQ(url.Port, L"8000");
  ASSERT_TRUE(url.From(L"http://h:81/x", L"8000"));
  EXPECT_EQ(url.Port, L"81");
  url.Clear();
  EXPECT_TRUE(url.Scheme.empty() && url.Server.empty() && url.Port.empty() && url.Address.empty());
  // A failed parse leaves nothing of an earlier one behind.
  ASSERT_TRUE(url.From(L"https://h/x"));
  EXPECT_FALSE(url.From(L""));
  EXPECT_TRUE(url.Scheme.empty() && url.Server.empty());
}
