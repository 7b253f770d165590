#include "update/TreeReply.h"

#include <nlohmann/json.hpp>

#include "Utf8.h"
#include "update/DownloadError.h"
#include "update/StepMessages.h"

namespace {

using nlohmann::json;

std::string StringField(const json& object, const char* name) {
  const auto field = object.find(name);
  return field != object.end() && field->is_string() ? field->get<std::string>() : std::string();
}

}  // namespace

TTreeReply ParseTreeReply(const std::wstring& body) {
  const json reply = json::parse(ToUtf8(body), nullptr, false);
  if (!reply.is_object()) throw EDownloadError(kUnexpectedErrorMessage);
  const auto tree = reply.find("tree");
  if (tree == reply.end() || !tree->is_array()) throw EDownloadError(kUnexpectedErrorMessage);
  TTreeReply result;
  result.Sha = FromUtf8(StringField(reply, "sha"));
  const auto truncated = reply.find("truncated");
  result.Truncated = truncated != reply.end() && truncated->is_boolean() && truncated->get<bool>();
  result.Tree.reserve(tree->size());
  for (const json& element : *tree) {
    if (!element.is_object()) throw EDownloadError(kUnexpectedErrorMessage);
    TTreeEntry entry;
    entry.Path = FromUtf8(StringField(element, "path"));
    entry.Type = FromUtf8(StringField(element, "type"));
    entry.Sha = StringField(element, "sha");
    entry.URL = FromUtf8(StringField(element, "url"));
    const auto size = element.find("size");
    // Folders carry no size.
    if (size != element.end() && size->is_number_integer()) entry.Size = size->get<int64_t>();
    result.Tree.push_back(std::move(entry));
  }
  return result;
}
