#include "update/SelfUpdateRules.h"

#include <nlohmann/json.hpp>

#include "Utf8.h"
#include "update/DownloadError.h"

TLauncherMetadata ParseLauncherMetadata(const std::wstring& body) {
  try {
    const nlohmann::json reply = nlohmann::json::parse(ToUtf8(body));
    TLauncherMetadata info;
    info.Sha = reply.at("sha").get<std::string>();
    info.Size = reply.at("size").get<int64_t>();
    info.DownloadURL = FromUtf8(reply.at("download_url").get<std::string>());
    return info;
  } catch (const nlohmann::json::exception&) {
    throw EDownloadError(L"Неожиданная ошибка!");
  }
}

std::wstring RunUpdateParameters(const std::wstring& branch) {
  std::wstring quoted = L"\"";
  for (wchar_t c : branch) {
    if (c == L'"') quoted += L'"';
    quoted += c;
  }
  return L"/runupdate " + quoted + L"\"";
}
