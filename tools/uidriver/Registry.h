#pragma once
// Current-user registry keys for the tests: read a key tree as JSON, set a
// string value, delete a key tree.
#include <string>

#include "JsonText.h"

// Writes {"exists": bool, "values": {name: data}, "keys": {name: {...}}};
// the default value has the empty name. Non-string data is written as null.
void WriteRegistryTree(JsonText& json, const std::wstring& key);
bool SetRegistryString(const std::wstring& key, const std::wstring& name, const std::wstring& value);
// True when the key is gone afterwards (also when it never existed).
bool DeleteRegistryTree(const std::wstring& key);
