// ASCII case folding that no locale changes. Names of members, classes, columns and HTTP headers
// compare without regard to ASCII case only: under a Turkish locale the C library's tolower leaves
// 'I' as it is, and "GETVERSION" would then miss "GetVersion".
#pragma once

#include <string>
#include <string_view>

namespace zentrak {

constexpr char AsciiLower(char c) noexcept { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; }
constexpr char AsciiUpper(char c) noexcept { return c >= 'a' && c <= 'z' ? static_cast<char>(c - ('a' - 'A')) : c; }

// text with A-Z folded to a-z; every other byte as it is.
inline std::string AsciiLowered(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = AsciiLower(c);
  return out;
}

constexpr bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

}  // namespace zentrak
