// General number format with 15 significant digits.
#include "base/number_text.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace zentrak {

void AppendGeneralNumber(long double value, char decimal_separator, std::string& out, int min_fixed) {
  if (std::isnan(value)) {
    out += "NAN";
    return;
  }
  if (std::isinf(value)) {
    out += value < 0 ? "-INF" : "INF";
    return;
  }
  if (value == 0) {
    out += '0';
    return;
  }
  // Exact integers of up to 15 digits are by far the most common case.
  if (value > -1e15L && value < 1e15L) {
    long long whole = static_cast<long long>(value);
    if (static_cast<long double>(whole) == value) {
      char buf[24];
      int n = std::snprintf(buf, sizeof buf, "%lld", whole);
      out.append(buf, static_cast<size_t>(n));
      return;
    }
  }
  // d.dddddddddddddde[+-]x, correctly rounded to 15 significant digits. A value that is exactly a
  // double (every cell and variant value) takes the faster double conversion.
  char buf[64];
  long double magnitude = std::fabs(value);
  double as_double = static_cast<double>(magnitude);
  std::to_chars_result r;
  if (static_cast<long double>(as_double) == magnitude) {
    r = std::to_chars(buf, buf + sizeof buf - 1, as_double, std::chars_format::scientific, 14);
  } else {
    r = std::to_chars(buf, buf + sizeof buf - 1, magnitude, std::chars_format::scientific, 14);
  }
  *r.ptr = 0;
  char digits[16];
  int k = 0;
  digits[k++] = buf[0];
  const char* p = buf[1] == '.' ? buf + 2 : buf + 1;
  while (*p && *p != 'e') digits[k++] = *p++;
  // value = d1.d2.. x 10^exp10
  int exp10 = 0;
  const char* q = p + 1;
  bool negative_exponent = *q == '-';
  if (*q == '-' || *q == '+') ++q;
  for (; *q >= '0' && *q <= '9'; ++q) exp10 = exp10 * 10 + (*q - '0');
  if (negative_exponent) exp10 = -exp10;
  while (k > 1 && digits[k - 1] == '0') --k;
  int e = exp10 + 1;  // value = 0.d1d2.. x 10^e
  if (value < 0) out += '-';
  if (e >= min_fixed && e <= 15) {
    if (e <= 0) {
      out += '0';
      out += decimal_separator;
      out.append(static_cast<size_t>(-e), '0');
      out.append(digits, static_cast<size_t>(k));
    } else {
      for (int i = 0; i < e; ++i) out += i < k ? digits[i] : '0';
      if (k > e) {
        out += decimal_separator;
        out.append(digits + e, static_cast<size_t>(k - e));
      }
    }
  } else {
    out += digits[0];
    if (k > 1) {
      out += decimal_separator;
      out.append(digits + 1, static_cast<size_t>(k - 1));
    }
    out += 'E';
    out += std::to_string(e - 1);
  }
}

std::string GeneralNumberText(long double value, char decimal_separator, int min_fixed) {
  std::string out;
  AppendGeneralNumber(value, decimal_separator, out, min_fixed);
  return out;
}

}  // namespace zentrak
