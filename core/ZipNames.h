#pragma once
// Member names: UTF-8 (flag bit 11) or the original IBM PC code page 437.
#include <cstdint>
#include <string>
#include <vector>

namespace zip {
std::vector<uint8_t> EncodeUtf8(const std::wstring& text);
std::wstring DecodeUtf8(const std::vector<uint8_t>& bytes);
bool IsValidUtf8(const std::vector<uint8_t>& bytes);
// Characters outside code page 437 become "?".
std::vector<uint8_t> EncodeCp437(const std::wstring& text);
std::wstring DecodeCp437(const std::vector<uint8_t>& bytes);
// Equal ignoring letter case, for any alphabet.
bool SameNameIgnoringCase(const std::wstring& a, const std::wstring& b);
}  // namespace zip
