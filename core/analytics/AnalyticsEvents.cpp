#include "analytics/AnalyticsEvents.h"

#include <cwchar>
#include <iterator>

#include "Utf8.h"

namespace {

using TJson = nlohmann::ordered_json;

std::string Utf8(const std::wstring& text) { return ToUtf8(text); }

}  // namespace

std::string DumpSpaced(const TJson& value) {
  if (value.is_object()) {
    std::string text = "{";
    bool first = true;
    for (const auto& item : value.items()) {
      if (!first) text += ", ";
      first = false;
      text += TJson(item.key()).dump(-1, ' ', false, TJson::error_handler_t::replace) + ": " + DumpSpaced(item.value());
    }
    return text + "}";
  }
  if (value.is_array()) {
    std::string text = "[";
    for (size_t i = 0; i < value.size(); ++i) text += (i ? ", " : "") + DumpSpaced(value[i]);
    return text + "]";
  }
  // Invalid UTF-8 (from a lone surrogate) becomes U+FFFD instead of failing.
  return value.dump(-1, ' ', false, TJson::error_handler_t::replace);
}

std::wstring BuildEventBody(const std::wstring& clientId, const std::wstring& name, const std::wstring& version,
                            const TEventParams& extra) {
  TJson params = TJson::object();
  params["version"] = Utf8(version);
  if (extra.is_object())
    for (const auto& item : extra.items()) params[item.key()] = item.value();
  TJson event = TJson::object();
  event["name"] = Utf8(name);
  event["params"] = std::move(params);
  TJson body = TJson::object();
  body["client_id"] = Utf8(clientId);
  body["events"] = TJson::array({std::move(event)});
  return FromUtf8(DumpSpaced(body));
}

TEventParams BuildUpdateExtra(const std::wstring& hash, const std::wstring& newHash, const std::wstring& branch,
                              bool error) {
  TJson extra = TJson::object();
  extra["hash"] = Utf8(hash);
  extra["newHash"] = Utf8(newHash);
  extra["branch"] = Utf8(branch);
  extra["error"] = error;
  return extra;
}

TEventParams BuildSessionTimeExtra(int64_t seconds) {
  TJson extra = TJson::object();
  extra["sessionTime"] = Utf8(FormatPlayTime(seconds));
  return extra;
}

std::wstring FormatPlayTime(int64_t seconds) {
  if (seconds < 0) seconds = 0;
  wchar_t text[64];
  std::swprintf(text, std::size(text), L"%.2d:%.2d:%.2d", static_cast<int>((seconds / 3600) % 24),
                static_cast<int>((seconds / 60) % 60), static_cast<int>(seconds % 60));
  if (seconds < 86400) return text;
  wchar_t withDays[96];
  std::swprintf(withDays, std::size(withDays), L"%lld.%ls", static_cast<long long>(seconds / 86400), text);
  return withDays;
}

std::wstring AnalyticsCollectURL(const std::wstring& base) {
  return base + L"/mp/collect?measurement_id=" + kMeasurementId + L"&api_secret=" + kMeasurementSecret;
}
