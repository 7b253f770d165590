#include "Registry.h"

#include <windows.h>

#include <vector>

#include "Handles.h"

namespace {

void WriteOpenKey(JsonText& json, HKEY key) {
  json.Key("exists").Value(true);
  json.Key("values").BeginObject();
  for (DWORD index = 0;; ++index) {
    wchar_t name[16384];
    DWORD nameLength = ARRAYSIZE(name);
    DWORD type = 0;
    DWORD size = 0;
    if (RegEnumValueW(key, index, name, &nameLength, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) break;
    std::vector<BYTE> data(size + sizeof(wchar_t), 0);
    nameLength = ARRAYSIZE(name);
    if (RegEnumValueW(key, index, name, &nameLength, nullptr, &type, data.data(), &size) != ERROR_SUCCESS) break;
    std::string keyName = JsonText().Value(std::wstring(name, nameLength)).Text();
    // JsonText.Key takes raw text; the escaped form without its quotes is exactly that.
    keyName = keyName.substr(1, keyName.size() - 2);
    json.Key(keyName.c_str());
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
      std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), size / sizeof(wchar_t));
      while (!text.empty() && text.back() == L'\0') text.pop_back();
      json.Value(text);
    } else {
      json.Null();
    }
  }
  json.EndObject();
  json.Key("keys").BeginObject();
  for (DWORD index = 0;; ++index) {
    wchar_t name[256];
    DWORD nameLength = ARRAYSIZE(name);
    if (RegEnumKeyExW(key, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    UniqueHKEY child;
    std::string keyName = JsonText().Value(std::wstring(name, nameLength)).Text();
    keyName = keyName.substr(1, keyName.size() - 2);
    json.Key(keyName.c_str()).BeginObject();
    if (RegOpenKeyExW(key, name, 0, KEY_READ, child.put()) == ERROR_SUCCESS) WriteOpenKey(json, child.get());
    else json.Key("exists").Value(false);
    json.EndObject();
  }
  json.EndObject();
}

}  // namespace

void WriteRegistryTree(JsonText& json, const std::wstring& key) {
  json.BeginObject();
  UniqueHKEY opened;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, opened.put()) == ERROR_SUCCESS)
    WriteOpenKey(json, opened.get());
  else
    json.Key("exists").Value(false);
  json.EndObject();
}

bool SetRegistryString(const std::wstring& key, const std::wstring& name, const std::wstring& value) {
  UniqueHKEY opened;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, opened.put(), nullptr) !=
      ERROR_SUCCESS)
    return false;
  return RegSetValueExW(opened.get(), name.empty() ? nullptr : name.c_str(), 0, REG_SZ,
                        reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool DeleteRegistryTree(const std::wstring& key) {
  LSTATUS status = RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
  if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) {
    // RegDeleteTree empties the key; remove the key itself as well.
    status = RegDeleteKeyW(HKEY_CURRENT_USER, key.c_str());
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
  }
  return false;
}
