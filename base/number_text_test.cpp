// General number text with 15 significant digits.
#include <gtest/gtest.h>

#include <cmath>
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

}  // namespace
}  // namespace zentrak
