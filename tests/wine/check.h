// A small check harness for the test programs that run under Wine: each check prints a line only
// when it fails, and Finish prints "RESULT <passed> <failed>" for the runner and gives the exit
// code.
#pragma once

#include <windows.h>

#include <cstdio>
#include <sstream>
#include <string>

namespace zentrak::test {

inline int& Passed() {
  static int n = 0;
  return n;
}
inline int& Failed() {
  static int n = 0;
  return n;
}

template <class A, class B>
void CheckEqual(const std::string& what, const A& got, const B& want, const char* file, int line) {
  if (got == want) {
    ++Passed();
    return;
  }
  ++Failed();
  std::ostringstream s;
  s << "FAIL " << what << ": got [" << got << "], want [" << want << "] (" << file << ":" << line << ")";
  std::printf("%s\n", s.str().c_str());
  std::fflush(stdout);
}

inline std::string Hex(long code) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08lX", static_cast<unsigned long>(code));
  return buf;
}

// Wide text as printable 8-bit text (characters above 0x7F as \\uXXXX).
inline std::string Narrow(const wchar_t* w) {
  std::string out;
  for (; w && *w; ++w) {
    if (*w < 0x80) {
      out += static_cast<char>(*w);
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04X", static_cast<unsigned>(*w));
      out += buf;
    }
  }
  return out;
}

inline int Finish() {
  std::printf("RESULT %d %d\n", Passed(), Failed());
  std::fflush(stdout);
  return Failed() ? 1 : 0;
}

}  // namespace zentrak::test

#define CHECK_EQ(what, got, want) ::zentrak::test::CheckEqual(what, got, want, __FILE__, __LINE__)
// Status codes compare and print in hexadecimal.
#define CHECK_HR(what, got, want) \
  ::zentrak::test::CheckEqual(what, ::zentrak::test::Hex(got), ::zentrak::test::Hex(want), __FILE__, __LINE__)
