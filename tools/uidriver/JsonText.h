#pragma once
// A tiny JSON writer for the driver's replies; the JSON library escapes every
// key and string, as ASCII with every other character escaped, so the console
// code page never matters.
#include <cstdint>
#include <string>

// A JSON string of the text: ASCII, every other character escaped.
std::string JsonEscapedAscii(const std::wstring& text);

class JsonText {
 public:
  JsonText& BeginObject() { Separate(); FText += '{'; FFirst = true; return *this; }
  JsonText& EndObject() { FText += '}'; FFirst = false; return *this; }
  JsonText& BeginArray() { Separate(); FText += '['; FFirst = true; return *this; }
  JsonText& EndArray() { FText += ']'; FFirst = false; return *this; }
  JsonText& Key(const char* name);
  JsonText& Value(const std::wstring& text);
  JsonText& Value(const char* text) { return Value(std::wstring(text, text + std::char_traits<char>::length(text))); }
  JsonText& Value(long long number) { Separate(); FText += std::to_string(number); return *this; }
  JsonText& Value(bool flag) { Separate(); FText += flag ? "true" : "false"; return *this; }
  JsonText& Null() { Separate(); FText += "null"; return *this; }
  const std::string& Text() const { return FText; }

 private:
  void Separate() {
    if (!FFirst) FText += ',';
    FFirst = false;
  }
  std::string FText;
  bool FFirst = true;
};
