#include "core/utf8.h"

namespace unrar {
namespace {

// Length of the UTF-8 sequence a lead byte starts; 0 for a byte that cannot lead.
std::size_t sequenceLength(unsigned char c) {
  return c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
}

// Whether `cp`, decoded from a sequence of `len` bytes, is a character in its
// shortest form. An overlong form would show another character than its bytes
// are (C0 AE as '.', C0 80 as the end of a name).
bool shortestForm(char32_t cp, std::size_t len) {
  static constexpr char32_t kLeast[5] = {0, 0, 0x80, 0x800, 0x10000};
  return cp >= kLeast[len] && cp <= 0x10FFFF && !(cp >= 0xD800 && cp < 0xE000);
}

}  // namespace

void appendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | ((c >> 18) & 0x07));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

bool validUtf8(const void* data, std::size_t n) {
  const auto* p = static_cast<const unsigned char*>(data);
  std::size_t i = 0;
  while (i < n) {
    const std::size_t len = sequenceLength(p[i]);
    if (len == 0 || i + len > n) return false;
    char32_t cp = len == 1   ? p[i]
                  : len == 2 ? (p[i] & 0x1F)
                  : len == 3 ? (p[i] & 0x0F)
                             : (p[i] & 0x07);
    for (std::size_t k = 1; k < len; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (p[i + k] & 0x3F);
    }
    if (!shortestForm(cp, len)) return false;
    i += len;
  }
  return true;
}

std::string utf8OrLatin1(const void* data, std::size_t n) {
  const auto* p = static_cast<const unsigned char*>(data);
  if (validUtf8(p, n)) return std::string(reinterpret_cast<const char*>(p), n);
  std::string out;
  out.reserve(2 * n);
  for (std::size_t i = 0; i < n; ++i) appendUtf8(out, p[i]);
  return out;
}

std::string utf16ToUtf8(const std::vector<char16_t>& units) {
  std::string out;
  for (std::size_t i = 0; i < units.size(); ++i) {
    char32_t c = units[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;
    }
    if (c == 0) break;
    appendUtf8(out, c);
  }
  return out;
}

std::string utf16leToUtf8(const std::string& bytes) {
  std::vector<char16_t> units;
  units.reserve(bytes.size() / 2);
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
    units.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                          (static_cast<unsigned char>(bytes[i + 1]) << 8)));
  return utf16ToUtf8(units);
}

std::wstring utf8ToWide(const std::string& s) {
  std::wstring out;
  std::size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    const std::size_t len = sequenceLength(c);
    char32_t cp = 0xFFFD;
    if (len == 0 || i + len > s.size()) {
      ++i;
    } else {
      cp = len == 1 ? c : len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
      bool ok = true;
      for (std::size_t k = 1; k < len; ++k) {
        const auto cc = static_cast<unsigned char>(s[i + k]);
        if ((cc & 0xC0) != 0x80) ok = false;
        cp = (cp << 6) | (cc & 0x3F);
      }
      if (ok && !shortestForm(cp, len)) {
        cp = 0xFFFD;
        i += len;
      } else if (ok) {
        i += len;
      } else {
        cp = 0xFFFD;
        ++i;
      }
    }
    out += static_cast<wchar_t>(cp);
  }
  return out;
}

std::string wideToUtf8(const wchar_t* w) {
  std::string out;
  for (; w && *w; ++w) appendUtf8(out, static_cast<char32_t>(*w));
  return out;
}

}  // namespace unrar
