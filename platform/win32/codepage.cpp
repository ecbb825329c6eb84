// System code page on Windows: the ANSI code page, with the platform's own conversions.
#include "platform/codepage.h"

#include <windows.h>

#include <string>

namespace zentrak::platform {

unsigned SystemCodePage() { return GetACP(); }

std::u16string AnsiToWide(std::string_view text) {
  std::u16string out;
  if (text.empty()) return out;
  int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) return out;
  out.resize(static_cast<size_t>(n));
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                      reinterpret_cast<wchar_t*>(out.data()), n);
  return out;
}

std::string WideToAnsi(std::u16string_view text) {
  std::string out;
  if (text.empty()) return out;
  const wchar_t* src = reinterpret_cast<const wchar_t*>(text.data());
  int n = WideCharToMultiByte(CP_ACP, 0, src, static_cast<int>(text.size()), nullptr, 0, nullptr,
                              nullptr);
  if (n <= 0) return out;
  out.resize(static_cast<size_t>(n));
  // No default character given: the code page's own replacement is used.
  WideCharToMultiByte(CP_ACP, 0, src, static_cast<int>(text.size()), out.data(), n, nullptr,
                      nullptr);
  return out;
}

std::string AnsiUpperCase(std::string_view text) {
  std::string out(text);
  if (!out.empty()) CharUpperBuffA(out.data(), static_cast<DWORD>(out.size()));
  return out;
}

}  // namespace zentrak::platform
