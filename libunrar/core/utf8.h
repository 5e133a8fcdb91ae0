// Text conversions at the library's edges: names and comments arrive as UTF-8,
// UTF-16 or an unknown 8-bit code page, and leave as UTF-8 and wchar_t.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace unrar {

void appendUtf8(std::string& out, char32_t c);
// Well-formed UTF-8: no overlong forms, surrogates or values above U+10FFFF.
bool validUtf8(const void* p, std::size_t n);

// Bytes that are UTF-8 are kept; others come from an 8-bit code page we cannot
// know, and Latin-1 keeps every byte distinct and printable.
std::string utf8OrLatin1(const void* p, std::size_t n);

// Stops at a zero unit; a lone surrogate becomes U+FFFD.
std::string utf16ToUtf8(const std::vector<char16_t>& units);
std::string utf16leToUtf8(const std::string& bytes);

// Malformed UTF-8 sequences become U+FFFD.
std::wstring utf8ToWide(const std::string& s);
std::string wideToUtf8(const wchar_t* w);

}  // namespace unrar
