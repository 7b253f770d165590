#include <gtest/gtest.h>

#include "Utf8.h"
#include "analytics/AnalyticsEvents.h"

TEST(SessionTime, FormatsHoursMinutesSecondsAndDays) {
  const struct {
    int64_t seconds;
    const wchar_t* text;
  } cases[] = {
      {0, L"00:00:00"},       {59, L"00:00:59"},        {3725, L"01:02:05"},
      {86399, L"23:59:59"},   {86400, L"1.00:00:00"},   {90061, L"1.01:01:01"},
      {10 * 86400 + 61, L"10.00:01:01"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatPlayTime(c.seconds), c.text) << c.seconds;
}

TEST(EventBody, PiecesInOrder) {
  const struct {
    std::wstring body;
    const wchar_t* expected;
  } cases[] = {
      {BuildEventBody(L"0011223344556677", L"launcher_start", L"1.2.3.4"),
       LR"({"client_id": "0011223344556677", "events": [{"name": "launcher_start", "params": {"version": "1.2.3.4"}}]})"},
      {BuildEventBody(L"", L"game_run", L""),
       LR"({"client_id": "", "events": [{"name": "game_run", "params": {"version": ""}}]})"},
      {BuildEventBody(L"ab", L"game_end", L"1.0.0.0", BuildSessionTimeExtra(90061)),
       LR"({"client_id": "ab", "events": [{"name": "game_end", "params": {"version": "1.0.0.0", "sessionTime": "1.01:01:01"}}]})"},
      {BuildEventBody(L"ab", L"update_begin", L"2", BuildUpdateExtra(L"old", L"new", L"qa", false)),
       LR"({"client_id": "ab", "events": [{"name": "update_begin", "params": {"version": "2", "hash": "old", "newHash": "new", "branch": "qa", "error": false}}]})"},
      {BuildEventBody(L"ab", L"update_end", L"2", BuildUpdateExtra(L"", L"", L"main", true)),
       LR"({"client_id": "ab", "events": [{"name": "update_end", "params": {"version": "2", "hash": "", "newHash": "", "branch": "main", "error": true}}]})"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.body, c.expected);
}

TEST(EventBody, EveryValueIsEscaped) {
  const struct {
    std::wstring value;
    const wchar_t* json;
  } cases[] = {
      {L"say \"hi\"", LR"("say \"hi\"")"},
      {L"C:\\x\\", LR"("C:\\x\\")"},
      {L"a\tb\r\n\x01\x1f", LR"("a\tb\r\n\u0001\u001f")"},
      {L"Ветка/ёж", L"\"Ветка/ёж\""},
      {L"\",\"x\": \"", LR"("\",\"x\": \"")"},
  };
  for (const auto& c : cases) {
    const std::wstring json = c.json;
    EXPECT_EQ(BuildEventBody(c.value, L"game_run", L"1"),
              L"{\"client_id\": " + json + L", \"events\": [{\"name\": \"game_run\", \"params\": {\"version\": \"1\"}}]}");
    EXPECT_EQ(BuildEventBody(L"id", L"update_end", c.value, BuildUpdateExtra(c.value, L"n", c.value, true)),
              L"{\"client_id\": \"id\", \"events\": [{\"name\": \"update_end\", \"params\": {\"version\": " + json +
                  L", \"hash\": " + json + L", \"newHash\": \"n\", \"branch\": " + json + L", \"error\": true}}]}");
    // Whatever the values, the body stays one parseable document.
    const auto parsed = nlohmann::json::parse(ToUtf8(BuildEventBody(c.value, c.value, c.value)));
    EXPECT_EQ(parsed["client_id"].get<std::string>(), ToUtf8(c.value));
  }
}

TEST(EventBody, CollectURLCarriesIdAndSecretInOrder) {
  EXPECT_EQ(AnalyticsCollectURL(L"http://127.0.0.1:8080"),
            L"http://127.0.0.1:8080/mp/collect?measurement_id=G-4QX7TNB2KW&api_secret=Qm3vTa9LxKe2RwYp7HsD0c");
}
