#pragma once
// UTF-16 <-> UTF-8 for the texts that cross the wire and the pipe.
#include <string>

std::string ToUtf8(const std::wstring& text);
// Invalid sequences become U+FFFD.
std::wstring FromUtf8(const std::string& bytes);
