#include <gtest/gtest.h>

#include <map>

#include "update/RepositoryRequests.h"
#include "update/ServiceEndpoints.h"

namespace {

const TServiceEndpoints kLocal{L"http://api.test:81", L"http://raw.test:82", L"http://ga.test:83"};

TRepositoryRequestArgs Args(std::wstring branch, std::wstring hash = L"", std::wstring path = L"",
                            std::wstring url = L"", bool recursive = false) {
  TRepositoryRequestArgs args;
  args.Branch = std::move(branch);
  args.Hash = std::move(hash);
  args.Path = std::move(path);
  args.URL = std::move(url);
  args.Recursive = recursive;
  return args;
}

}  // namespace

TEST(RepositoryRequests, UrlsAndHeadersOfEveryRequest) {
  const wchar_t* json = L"Accept: application/vnd.github+json";
  const struct {
    TRepositoryRequest kind;
    TRepositoryRequestArgs args;
    const wchar_t* url;
    const wchar_t* header;
  } cases[] = {
      {TRepositoryRequest::HeadCommit, Args(L"qa"),
       L"http://api.test:81/repos/ORMUND42/veldra_public/commits/qa", L"Accept: application/vnd.github.sha"},
      {TRepositoryRequest::LauncherMetadata, Args(L"qa"),
       L"http://api.test:81/repos/ORMUND42/veldra_public/contents/Launcher.exe?ref=qa", json},
      {TRepositoryRequest::LauncherMetadata, Args(L""),
       L"http://api.test:81/repos/ORMUND42/veldra_public/contents/Launcher.exe?ref=main", json},
      {TRepositoryRequest::ChangeList, Args(L"main", L"abc1"),
       L"http://raw.test:82/ORMUND42/veldra_public/main/.upgrade/abc1", L""},
      {TRepositoryRequest::ChangeListCommits, Args(L"main", L"abc1"),
       L"http://api.test:81/repos/ORMUND42/veldra_public/commits?sha=main&path=.upgrade/abc1", json},
      {TRepositoryRequest::RootTree, Args(L"qa", L"abc1"),
       L"http://api.test:81/repos/ORMUND42/veldra_public/git/trees/abc1", json},
      {TRepositoryRequest::RootTree, Args(L"qa"),
       L"http://api.test:81/repos/ORMUND42/veldra_public/git/trees/qa", json},
      {TRepositoryRequest::NestedTree, Args(L"", L"", L"", L"http://api.test:81/x/git/trees/f00", true),
       L"http://api.test:81/x/git/trees/f00?recursive=1", json},
      {TRepositoryRequest::NestedTree, Args(L"", L"", L"", L"http://api.test:81/x/git/trees/f00"),
       L"http://api.test:81/x/git/trees/f00", json},
      {TRepositoryRequest::File, Args(L"main", L"", L"/data/maps/north/.part_0_0.png"),
       L"http://raw.test:82/ORMUND42/veldra_public/main/data/maps/north/.part_0_0.png", L""},
      {TRepositoryRequest::File, Args(L"main", L"", L"/data/к 1.txt"),
       L"http://raw.test:82/ORMUND42/veldra_public/main/data/%D0%BA%201.txt", L""},
      {TRepositoryRequest::LauncherFile, Args(L"", L"", L"", L"http://raw.test:82/ORMUND42/veldra_public/qa/Launcher.exe"),
       L"http://raw.test:82/ORMUND42/veldra_public/qa/Launcher.exe", L""},
  };
  for (const auto& c : cases) {
    const TRepositoryRequestTarget target = BuildRepositoryRequest(c.kind, c.args, kLocal);
    EXPECT_EQ(target.URL, c.url);
    EXPECT_EQ(target.Header, c.header) << target.URL;
  }
}

TEST(ServiceEndpoints, OverridesFromTheEnvironment) {
  using TEnv = std::map<std::wstring, std::wstring>;
  const struct {
    TEnv env;
    TServiceEndpoints expected;
  } cases[] = {
      // The shipped hosts, written out once: the other cases compare with the constants.
      {{}, {L"https://api.github.com", L"https://raw.githubusercontent.com", L"https://www.google-analytics.com"}},
      {{{L"VELDRA_API_URL", L"http://127.0.0.1:8080"}, {L"VELDRA_RAW_URL", L"https://127.255.0.9"},
        {L"VELDRA_ANALYTICS_URL", L"http://localhost:9/"}},
       {L"http://127.0.0.1:8080", L"https://127.255.0.9", L"http://localhost:9"}},
      {{{L"VELDRA_API_URL", L"http://[::1]:8080"}, {L"VELDRA_RAW_URL", L"http://LocalHost"}},
       {L"http://[::1]:8080", L"http://LocalHost", kDefaultAnalyticsBase}},
      // Only loopback hosts: another program must not send the launcher elsewhere.
      {{{L"VELDRA_API_URL", L"https://mirror.example"}, {L"VELDRA_RAW_URL", L"http://128.0.0.1"},
        {L"VELDRA_ANALYTICS_URL", L"http://127.0.0.1.evil.example"}},
       {kDefaultApiBase, kDefaultRawBase, kDefaultAnalyticsBase}},
      {{{L"VELDRA_API_URL", L"http://localhost.example"}, {L"VELDRA_RAW_URL", L"http://[::2]"},
        {L"VELDRA_ANALYTICS_URL", L"http://127.0.0.256"}},
       {kDefaultApiBase, kDefaultRawBase, kDefaultAnalyticsBase}},
      {{{L"VELDRA_API_URL", L"http://127.0.0.1@evil.example"}, {L"VELDRA_RAW_URL", L"http://127.0.0.1:99999"},
        {L"VELDRA_ANALYTICS_URL", L"http://127.1"}},
       {kDefaultApiBase, kDefaultRawBase, kDefaultAnalyticsBase}},
      // Not a scheme, host and port: ignored.
      {{{L"VELDRA_API_URL", L"127.0.0.1:8080"}, {L"VELDRA_RAW_URL", L"ftp://host"},
        {L"VELDRA_ANALYTICS_URL", L"http://host/path"}},
       {kDefaultApiBase, kDefaultRawBase, kDefaultAnalyticsBase}},
      {{{L"VELDRA_API_URL", L""}, {L"VELDRA_RAW_URL", L"http://host:"}, {L"VELDRA_ANALYTICS_URL", L"http://:80"}},
       {kDefaultApiBase, kDefaultRawBase, kDefaultAnalyticsBase}},
  };
  for (const auto& c : cases) {
    std::vector<std::wstring> notes;
    const TServiceEndpoints got = EndpointsFromEnvironment(
        [&](const wchar_t* name) -> std::optional<std::wstring> {
          auto it = c.env.find(name);
          return it == c.env.end() ? std::nullopt : std::optional<std::wstring>(it->second);
        },
        &notes);
    EXPECT_EQ(got.ApiBase, c.expected.ApiBase);
    EXPECT_EQ(got.RawBase, c.expected.RawBase);
    EXPECT_EQ(got.AnalyticsBase, c.expected.AnalyticsBase);
    // One log line per variable that was set, whether taken or ignored.
    EXPECT_EQ(notes.size(), c.env.size());
  }
}
