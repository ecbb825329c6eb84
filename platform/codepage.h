// The system code page: 8-bit text inside the objects, wide (UTF-16) text at the boundary.
// On Windows the code page is the ANSI code page; on Linux it is the locale's codeset, UTF-8 when
// the locale is C or POSIX or names none, and ZENTRAK_CODEPAGE=936 selects GBK.
#pragma once

#include <string>
#include <string_view>

#include "base/text.h"

namespace zentrak::platform {

constexpr unsigned kCodePageUtf8 = 65001;

// The code page number (65001 for UTF-8, 936 for GBK, 1252, ...). Decided once per process.
unsigned SystemCodePage();

// Characters that the code page cannot hold become the platform's replacement character
// ("?" for 8-bit code pages, U+FFFD for UTF-8).
std::u16string AnsiToWide(std::string_view text);
std::string WideToAnsi(std::u16string_view text);

// The system's 8-bit upper-casing: the letters of the code page, lead and trail bytes of
// double-byte characters left as they are.
std::string AnsiUpperCase(std::string_view text);

// 8-bit text to the system's UTF-8 and back (through UTF-16, by the rules of base/text.h).
inline std::string AnsiToUtf8(std::string_view text) {
  if (IsAscii(text)) return std::string(text);
  return WideToUtf8(AnsiToWide(text));
}
inline std::string Utf8ToAnsi(std::string_view text) {
  if (IsAscii(text)) return std::string(text);
  return WideToAnsi(Utf8ToWide(text));
}

}  // namespace zentrak::platform
