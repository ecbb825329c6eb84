// Number and date conventions of the process locale (LC_NUMERIC, LC_TIME).
#include "platform/locale.h"

#include <clocale>
#include <cmath>
#include <ctime>
#include <string>

#include "platform/codepage.h"

namespace zentrak::platform {
namespace {

std::u16string Trim(std::u16string_view t) {
  size_t b = 0, e = t.size();
  while (b < e && (t[b] == u' ' || t[b] == u'\t')) ++b;
  while (e > b && (t[e - 1] == u' ' || t[e - 1] == u'\t')) --e;
  return std::u16string(t.substr(b, e - b));
}

char16_t ThousandsSeparator() {
  const char* s = std::localeconv()->thousands_sep;
  if (s && s[0] && !(s[0] & 0x80)) return static_cast<char16_t>(s[0]);
  if (s && static_cast<unsigned char>(s[0]) == 0xC2 && static_cast<unsigned char>(s[1]) == 0xA0)
    return u'\u00A0';
  return 0;
}

// Reads a number in the locale's form. Returns false when text is no number.
bool ParseLocaleNumber(std::u16string_view text, long double& value) {
  std::u16string t = Trim(text);
  const char16_t dec = static_cast<char16_t>(static_cast<unsigned char>(DecimalSeparator()));
  const char16_t thou = ThousandsSeparator();
  size_t i = 0;
  bool negative = false;
  bool parenthesised = false;
  if (i < t.size() && t[i] == u'(') {
    parenthesised = true;
    ++i;
  }
  if (i < t.size() && (t[i] == u'+' || t[i] == u'-')) negative = t[i++] == u'-';
  if (i + 1 < t.size() && t[i] == u'&' && (t[i + 1] == u'H' || t[i + 1] == u'h' || t[i + 1] == u'O' ||
                                           t[i + 1] == u'o')) {
    unsigned base = (t[i + 1] == u'H' || t[i + 1] == u'h') ? 16 : 8;
    i += 2;
    if (i >= t.size() || parenthesised) return false;
    long double v = 0;
    for (; i < t.size(); ++i) {
      char16_t c = t[i];
      int d = (c >= u'0' && c <= u'9') ? c - u'0'
              : (c >= u'a' && c <= u'f') ? c - u'a' + 10
              : (c >= u'A' && c <= u'F') ? c - u'A' + 10
                                         : 99;
      if (d >= static_cast<int>(base)) return false;
      v = v * base + d;
    }
    value = negative ? -v : v;
    return true;
  }
  std::string ascii;  // the number rewritten for strtold in the C locale
  bool digits = false;
  for (; i < t.size() && ((t[i] >= u'0' && t[i] <= u'9') || (thou && t[i] == thou)); ++i) {
    if (t[i] != thou) {
      ascii += static_cast<char>(t[i]);
      digits = true;
    }
  }
  if (i < t.size() && t[i] == dec) {
    ascii += '.';
    for (++i; i < t.size() && t[i] >= u'0' && t[i] <= u'9'; ++i) {
      ascii += static_cast<char>(t[i]);
      digits = true;
    }
  }
  if (!digits) return false;
  if (i < t.size() && (t[i] == u'e' || t[i] == u'E')) {
    std::string exp = "e";
    size_t j = i + 1;
    if (j < t.size() && (t[j] == u'+' || t[j] == u'-')) exp += static_cast<char>(t[j++]);
    bool exp_digits = false;
    for (; j < t.size() && t[j] >= u'0' && t[j] <= u'9'; ++j) {
      exp += static_cast<char>(t[j]);
      exp_digits = true;
    }
    if (!exp_digits) return false;
    ascii += exp;
    i = j;
  }
  if (parenthesised) {
    if (i >= t.size() || t[i] != u')') return false;
    ++i;
    negative = !negative;
  }
  if (i != t.size()) return false;
  // strtold follows LC_NUMERIC; the rewritten text uses '.', so read it in the C locale.
  locale_t c_locale = newlocale(LC_NUMERIC_MASK, "C", static_cast<locale_t>(0));
  long double v = strtold_l(ascii.c_str(), nullptr, c_locale);
  freelocale(c_locale);
  value = negative ? -v : v;
  return true;
}

}  // namespace

char DecimalSeparator() {
  const char* s = std::localeconv()->decimal_point;
  if (s && s[0] && !(s[0] & 0x80)) return s[0];
  return '.';
}

ParseResult LocaleTextToInteger(std::u16string_view text, int64_t min, int64_t max, int64_t& out) {
  long double v;
  if (!ParseLocaleNumber(text, v)) return ParseResult::kTypeMismatch;
  if (std::isnan(v)) return ParseResult::kTypeMismatch;
  long double r = std::nearbyint(v);  // the default rounding mode: halves to even
  if (!(r >= static_cast<long double>(min) && r <= static_cast<long double>(max)))
    return ParseResult::kOverflow;
  out = static_cast<int64_t>(r);
  return ParseResult::kOk;
}

ParseResult LocaleTextToDouble(std::u16string_view text, double& out) {
  long double v;
  if (!ParseLocaleNumber(text, v)) return ParseResult::kTypeMismatch;
  if (std::isinf(static_cast<double>(v)) && !std::isinf(v)) return ParseResult::kOverflow;
  out = static_cast<double>(v);
  return ParseResult::kOk;
}

ParseResult LocaleTextToBoolean(std::u16string_view text, bool& out) {
  std::u16string t = Trim(text);
  std::u16string lower;
  for (char16_t c : t) lower += (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
  if (lower == u"true" || lower == u"#true#") {
    out = true;
    return ParseResult::kOk;
  }
  if (lower == u"false" || lower == u"#false#") {
    out = false;
    return ParseResult::kOk;
  }
  long double v;
  if (!ParseLocaleNumber(text, v)) return ParseResult::kTypeMismatch;
  out = v != 0;
  return ParseResult::kOk;
}

std::u16string CurrencyToText(int64_t scaled) {
  bool negative = scaled < 0;
  uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(scaled) : static_cast<uint64_t>(scaled);
  std::string s = std::to_string(magnitude / 10000);
  unsigned frac = static_cast<unsigned>(magnitude % 10000);
  if (frac) {
    std::string f = std::to_string(frac + 10000).substr(1);
    while (!f.empty() && f.back() == '0') f.pop_back();
    s += DecimalSeparator();
    s += f;
  }
  if (negative) s.insert(s.begin(), '-');
  return AnsiToWide(s);
}

std::u16string DateToText(double date) {
  // Automation dates run from 1 January 100 (-657434) to 31 December 9999 (2958465); outside
  // them the conversion fails and the text is empty, as the Windows side's VarBstrFromDate does.
  if (!(date > -657435.0 && date < 2958466.0)) return std::u16string();
  // Automation dates count days from 30 December 1899; the fraction is the time of day, and
  // for negative dates the fraction counts forward from the whole day too.
  double whole = std::trunc(date);
  double frac = std::fabs(date - whole);
  long long seconds = std::llround(frac * 86400.0);
  if (seconds >= 86400) {
    seconds -= 86400;
    whole += date < 0 ? -1 : 1;
  }
  // Days from 1970-01-01: 25569 days after 1899-12-30.
  long long days = static_cast<long long>(whole) - 25569;
  std::time_t t = static_cast<std::time_t>(days * 86400 + seconds);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buf[128];
  std::string out;
  if (whole != 0 || seconds == 0) {
    std::strftime(buf, sizeof buf, "%x", &tm);
    out = buf;
  }
  if (seconds != 0) {
    std::strftime(buf, sizeof buf, "%X", &tm);
    if (!out.empty()) out += ' ';
    out += buf;
  }
  return AnsiToWide(out);
}

}  // namespace zentrak::platform
