// The system's UTF-8 encoder and decoder.
#include "base/text.h"

#include <cstdint>
#include <cstring>

namespace zentrak {

bool IsAscii(std::string_view text) noexcept {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text.data());
  size_t n = text.size();
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t w;
    std::memcpy(&w, p + i, 8);
    if (w & 0x8080808080808080ull) return false;
  }
  for (; i < n; ++i) {
    if (p[i] & 0x80) return false;
  }
  return true;
}

void AppendWideAsUtf8(std::u16string_view text, std::string& out) {
  // The exact length first, so that a large text is not given three bytes a unit to fill.
  size_t length = 0;
  for (char16_t c : text) length += c < 0x80 ? 1 : c < 0x800 ? 2 : 3;
  size_t start = out.size();
  out.resize(start + length);
  char* d = out.data() + start;
  for (char16_t c : text) {
    if (c < 0x80) {
      *d++ = static_cast<char>(c);
    } else if (c < 0x800) {
      *d++ = static_cast<char>(0xC0 | (c >> 6));
      *d++ = static_cast<char>(0x80 | (c & 0x3F));
    } else {
      *d++ = static_cast<char>(0xE0 | (c >> 12));
      *d++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      *d++ = static_cast<char>(0x80 | (c & 0x3F));
    }
  }
}

std::string WideToUtf8(std::u16string_view text) {
  std::string out;
  AppendWideAsUtf8(text, out);
  return out;
}

std::string WideToStandardUtf8(std::u16string_view text) {
  // The exact length first: a pair takes four bytes, every other unit one to three.
  size_t length = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    if (c < 0x80) {
      length += 1;
    } else if (c < 0x800) {
      length += 2;
    } else if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      length += 4;
      ++i;
    } else {
      length += 3;  // U+FFFD for a lone surrogate, too
    }
  }
  std::string out;
  out.resize(length);
  char* d = out.data();
  const size_t n = text.size();
  for (size_t i = 0; i < n; ++i) {
    uint32_t c = text[i];
    if (c < 0x80) {
      *d++ = static_cast<char>(c);
      continue;
    }
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x800) {
      *d++ = static_cast<char>(0xC0 | (c >> 6));
      *d++ = static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      *d++ = static_cast<char>(0xE0 | (c >> 12));
      *d++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      *d++ = static_cast<char>(0x80 | (c & 0x3F));
    } else {
      *d++ = static_cast<char>(0xF0 | (c >> 18));
      *d++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      *d++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      *d++ = static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  out.resize(static_cast<size_t>(d - out.data()));
  return out;
}

bool TryUtf8ToWide(std::string_view text, std::u16string& out) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  out.resize(n);
  char16_t* d = out.data();
  size_t i = 0;
  while (i < n) {
    unsigned b = p[i];
    if (b < 0x80) {
      *d++ = static_cast<char16_t>(b);
      ++i;
      continue;
    }
    if ((b & 0x20) == 0) {  // two bytes: five payload bits
      if (i + 1 >= n || (p[i + 1] & 0xC0) != 0x80) goto malformed;
      *d++ = static_cast<char16_t>(((b & 0x1F) << 6) | (p[i + 1] & 0x3F));
      i += 2;
      continue;
    }
    if ((b & 0xF8) == 0xF0) {
      // A well-formed four-byte sequence (U+10000 to U+10FFFF) becomes its surrogate pair, so
      // characters outside the Basic Multilingual Plane are kept instead of emptying the text.
      if (i + 3 < n && (p[i + 1] & 0xC0) == 0x80 && (p[i + 2] & 0xC0) == 0x80 &&
          (p[i + 3] & 0xC0) == 0x80) {
        uint32_t cp = ((b & 0x07u) << 18) | ((p[i + 1] & 0x3Fu) << 12) | ((p[i + 2] & 0x3Fu) << 6) |
                      (p[i + 3] & 0x3Fu);
        if (cp >= 0x10000 && cp <= 0x10FFFF) {
          cp -= 0x10000;
          *d++ = static_cast<char16_t>(0xD800 | (cp >> 10));
          *d++ = static_cast<char16_t>(0xDC00 | (cp & 0x3FF));
          i += 4;
          continue;
        }
      }
      // Anything else keeps the three-byte reading of the lead byte.
    }
    // three bytes: four payload bits of the lead byte, the rest of it discarded
    if (i + 2 >= n || (p[i + 1] & 0xC0) != 0x80 || (p[i + 2] & 0xC0) != 0x80) goto malformed;
    *d++ = static_cast<char16_t>(((b & 0x0F) << 12) | ((p[i + 1] & 0x3F) << 6) | (p[i + 2] & 0x3F));
    i += 3;
  }
  out.resize(static_cast<size_t>(d - out.data()));
  return true;
malformed:
  out.clear();
  return false;
}

std::u16string Utf8ToWide(std::string_view text) {
  std::u16string out;
  TryUtf8ToWide(text, out);
  return out;
}

}  // namespace zentrak
