// General number text with 15 significant digits.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <limits>

#include "base/number_text.h"

namespace zentrak {
namespace {

TEST(GeneralNumber, Table) {
  struct Case {
    long double value;
    const char* text;
  } cases[] = {
      {0, "0"},
      {-0.0L, "0"},
      {100, "100"},
      {-2.5L, "-2.5"},
      {0.1L, "0.1"},
      {1.0L / 3, "0.333333333333333"},
      {1e-4L, "0.0001"},
      {1e-5L, "1E-5"},
      {999999999999999.0L, "999999999999999"},
      {1e15L, "1E15"},
      {123456789012345678.0L, "1.23456789012346E17"},
      {2147483647, "2147483647"},
      {1e20L, "1E20"},
      {-1.5e-7L, "-1.5E-7"},
      {2.0L, "2"},
      {0.5L, "0.5"},
      {std::numeric_limits<long double>::infinity(), "INF"},
      {-std::numeric_limits<long double>::infinity(), "-INF"},
      {std::nanl(""), "NAN"},
  };
  for (const auto& c : cases) EXPECT_EQ(GeneralNumberText(c.value, '.'), c.text) << c.text;
}

TEST(GeneralNumber, SeparatorIsTheCallers) {
  EXPECT_EQ(GeneralNumberText(1.5L, ','), "1,5");
  EXPECT_EQ(GeneralNumberText(1.5e-9L, ','), "1,5E-9");
}

// The shortest-form fast path must agree with rounding to 15 digits for every double.
TEST(GeneralNumber, AgreesWithFifteenDigitRounding) {
  uint64_t state = 88172645463325252ull;
  for (int i = 0; i < 200000; ++i) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    double d;
    if (i % 2) {
      uint64_t bits = state & 0x7FEFFFFFFFFFFFFFull;  // finite
      std::memcpy(&d, &bits, sizeof d);
    } else {
      d = static_cast<double>(state % 100000000) / 100.0;  // short decimals
    }
    char ref[64];
    std::snprintf(ref, sizeof ref, "%.14e", d);
    // Reference digits and exponent, trailing zeros dropped.
    std::string digits;
    digits += ref[0];
    const char* p = ref + 2;
    while (*p != 'e') digits += *p++;
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
    int exponent = std::atoi(p + 1);
    std::string text = GeneralNumberText(d, '.');
    std::string got;
    for (char c : text) {
      if (c == 'E') break;
      if (c >= '0' && c <= '9') got += c;
    }
    size_t nz = got.find_first_not_of('0');
    got = nz == std::string::npos ? "0" : got.substr(nz);
    while (got.size() > 1 && got.back() == '0') got.pop_back();
    ASSERT_EQ(got, digits) << d << " " << text;
    if (text.find('E') != std::string::npos) {
      ASSERT_EQ(std::atoi(text.c_str() + text.find('E') + 1), exponent) << text;
    }
  }
}

}  // namespace
}  // namespace zentrak
