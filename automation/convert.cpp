// Argument conversions. The locale-aware steps come from platform/locale.h; everything else is
// the same on every platform.
#include "automation/convert.h"

#include <cmath>
#include <cstdio>
#include <limits>

#include "base/number_text.h"
#include "platform/codepage.h"
#include "platform/locale.h"

namespace zentrak {
namespace {

std::string Format(const char* pattern, const Variant& from, const char* to) {
  std::string tag = VariantTagText(from);
  std::string out;
  for (const char* p = pattern; *p; ++p) {
    if (p[0] == '%' && p[1] == 's') {
      out += tag;
      tag = to;
      ++p;
    } else {
      out += *p;
    }
  }
  return out;
}

bool IsIntegerTag(VarType t) {
  switch (t) {
    case VarType::Smallint:
    case VarType::Integer:
    case VarType::ShortInt:
    case VarType::Byte:
    case VarType::Word:
    case VarType::LongWord:
    case VarType::Int64:
      return true;
    default:
      return false;
  }
}

std::u16string WideOf(const Variant& v) {
  return v.Type() == VarType::OleStr ? v.WideText() : platform::AnsiToWide(v.AnsiText());
}

// The value of a decimal as a long double (exact for the 64-bit part, close for larger ones).
long double DecimalToLongDouble(const DecimalValue& d) {
  long double v = static_cast<long double>(d.hi) * 18446744073709551616.0L + static_cast<long double>(d.lo);
  for (int i = 0; i < d.scale; ++i) v /= 10;
  return d.negative ? -v : v;
}

std::string DecimalToText(const DecimalValue& d) {
  // 96-bit magnitude to decimal digits by repeated division.
  uint32_t parts[3] = {static_cast<uint32_t>(d.lo), static_cast<uint32_t>(d.lo >> 32), d.hi};
  std::string digits;
  bool zero = false;
  while (!zero) {
    uint64_t rem = 0;
    zero = true;
    for (int i = 2; i >= 0; --i) {
      uint64_t cur = (rem << 32) | parts[i];
      parts[i] = static_cast<uint32_t>(cur / 10);
      rem = cur % 10;
      if (parts[i]) zero = false;
    }
    digits.insert(digits.begin(), static_cast<char>('0' + rem));
  }
  std::string frac;
  if (d.scale > 0) {
    while (digits.size() <= d.scale) digits.insert(digits.begin(), '0');
    frac = digits.substr(digits.size() - d.scale);
    digits.resize(digits.size() - d.scale);
    while (!frac.empty() && frac.back() == '0') frac.pop_back();
  }
  std::string out = digits;
  if (!frac.empty()) out += platform::DecimalSeparator() + frac;
  if (d.negative && out != "0") out.insert(out.begin(), '-');
  return out;
}

// A decimal integer, or a hexadecimal one after "$" (or "0x"), with blanks before it.
// Returns 0 when text is no such number, 1 when it is, 2 when it is one outside [min, max].
int ReadPlainInteger(std::u16string_view t, int64_t min, int64_t max, int64_t& out) {
  size_t i = 0;
  while (i < t.size() && t[i] == u' ') ++i;
  bool negative = false;
  if (i < t.size() && (t[i] == u'+' || t[i] == u'-')) negative = t[i++] == u'-';
  unsigned base = 10;
  if (i < t.size() && t[i] == u'$') {
    base = 16;
    ++i;
  } else if (i + 1 < t.size() && t[i] == u'0' && (t[i + 1] == u'x' || t[i + 1] == u'X')) {
    base = 16;
    i += 2;
  }
  if (i >= t.size()) return 0;
  unsigned long long magnitude = 0;
  bool too_big = false;
  for (; i < t.size(); ++i) {
    char16_t c = t[i];
    unsigned d = (c >= u'0' && c <= u'9')                  ? unsigned(c - u'0')
                 : (base == 16 && c >= u'a' && c <= u'f') ? unsigned(c - u'a' + 10)
                 : (base == 16 && c >= u'A' && c <= u'F') ? unsigned(c - u'A' + 10)
                                                           : 99u;
    if (d >= base) return 0;
    if (magnitude > (std::numeric_limits<unsigned long long>::max() - d) / base) too_big = true;
    if (!too_big) magnitude = magnitude * base + d;
  }
  if (too_big) return 2;
  long double v = negative ? -static_cast<long double>(magnitude) : static_cast<long double>(magnitude);
  if (v < static_cast<long double>(min) || v > static_cast<long double>(max)) return 2;
  out = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
  return 1;
}

bool TextToBoolean(const Variant& v, const std::u16string& w) {
  bool b = false;
  if (platform::LocaleTextToBoolean(w, b) == platform::ParseResult::kOk) return b;
  std::u16string lower;
  for (char16_t c : w) lower += (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
  if (lower == u"true") return true;
  if (lower == u"false") return false;
  int64_t n = 0;
  if (platform::LocaleTextToInteger(w, std::numeric_limits<int64_t>::min(),
                                    std::numeric_limits<int64_t>::max(), n) == platform::ParseResult::kOk)
    return n != 0;
  throw EVariantTypeCastError(v, "Boolean");
}

// Default value of an object, or the conversion error for its tag.
Variant DefaultValueOf(const Variant& v, const char* to) {
  Variant out;
  if (!v.Object() || !v.Object()->DefaultValue(out)) throw EVariantTypeCastError(v, to);
  return out;
}

int64_t RoundToRange(long double x, const Variant& v, int64_t min, int64_t max, const char* to) {
  if (std::isnan(x)) throw EVariantOverflowError(v, to);
  long double r = std::nearbyint(x);  // halves to even in the default rounding mode
  if (r < static_cast<long double>(min) || r > static_cast<long double>(max))
    throw EVariantOverflowError(v, to);
  return static_cast<int64_t>(r);
}

int64_t ToRange(const Variant& in, int64_t min, int64_t max, const char* to) {
  const Variant& v = in.Target();
  VarType t = v.Type();
  if (IsIntegerTag(t)) {
    if (t == VarType::LongWord) {
      uint64_t u = static_cast<uint32_t>(v.IntegerValue());
      if (u > static_cast<uint64_t>(max)) throw EVariantOverflowError(v, to);
      return static_cast<int64_t>(u);
    }
    int64_t x = v.IntegerValue();
    if (x < min || x > max) throw EVariantOverflowError(v, to);
    return x;
  }
  switch (t) {
    case VarType::Empty:
      return 0;
    case VarType::Single:
    case VarType::Double:
    case VarType::Date:
      return RoundToRange(v.DoubleValue(), v, min, max, to);
    case VarType::Currency: {
      // The scaled value divided by 10000, halves to even, in integer arithmetic.
      int64_t s = v.IntegerValue();
      int64_t q = s / 10000, r = s % 10000;
      if (r > 5000 || (r == 5000 && (q & 1))) ++q;
      if (r < -5000 || (r == -5000 && (q & 1))) --q;
      if (q < min || q > max) throw EVariantOverflowError(v, to);
      return q;
    }
    case VarType::Boolean:
      return v.BoolValue() ? -1 : 0;
    case VarType::Decimal:
      return RoundToRange(DecimalToLongDouble(v.Decimal()), v, min, max, to);
    case VarType::OleStr:
    case VarType::String: {
      std::u16string w = WideOf(v);
      int64_t out = 0;
      switch (platform::LocaleTextToInteger(w, min, max, out)) {
        case platform::ParseResult::kOk:
          return out;
        case platform::ParseResult::kOverflow:
          throw EVariantOverflowError(v, to);
        case platform::ParseResult::kTypeMismatch:
          break;
      }
      switch (ReadPlainInteger(w, min, max, out)) {
        case 1:
          return out;
        case 2:
          throw EVariantOverflowError(v, to);
        default:
          break;
      }
      return TextToBoolean(v, w) ? 1 : 0;
    }
    case VarType::Dispatch:
    case VarType::Unknown:
      return ToRange(DefaultValueOf(v, to), min, max, to);
    default:
      throw EVariantTypeCastError(v, to);
  }
}

}  // namespace

EVariantTypeCastError::EVariantTypeCastError(const Variant& from, const char* to)
    : Exception(Format("Could not convert variant of type (%s) into type (%s)", from, to)) {}

EVariantOverflowError::EVariantOverflowError(const Variant& from, const char* to)
    : Exception(Format("Overflow while converting variant of type (%s) into type (%s)", from, to)) {}

std::string VariantTagText(const Variant& value) {
  const Variant& v = value.Target();
  std::string name = VarTypeName(v.Type());
  // A by-reference Variant is followed to its value; any other by-reference tag keeps the prefix.
  if (v.IsByRef()) name = "ByRef " + name;
  return name;
}

std::string VarToText(const Variant& in) {
  const Variant& v = in.Target();
  VarType t = v.Type();
  if (IsIntegerTag(t)) {
    if (t == VarType::LongWord) return std::to_string(static_cast<uint32_t>(v.IntegerValue()));
    return std::to_string(v.IntegerValue());
  }
  switch (t) {
    case VarType::Empty:
      return std::string();
    case VarType::Single:
    case VarType::Double:
      return GeneralNumberText(v.DoubleValue(), platform::DecimalSeparator(), kVariantMinFixed);
    case VarType::Currency:
      return platform::WideToAnsi(platform::CurrencyToText(v.IntegerValue()));
    case VarType::Date:
      return platform::WideToAnsi(platform::DateToText(v.DoubleValue()));
    case VarType::OleStr:
      return platform::WideToAnsi(v.WideText());
    case VarType::String:
      return v.AnsiText();
    case VarType::Boolean:
      return v.BoolValue() ? "True" : "False";
    case VarType::Decimal:
      return DecimalToText(v.Decimal());
    case VarType::Dispatch:
    case VarType::Unknown:
      return VarToText(DefaultValueOf(v, "String"));
    default:  // Null, Error, Any, and anything unknown
      throw EVariantTypeCastError(v, "String");
  }
}

std::u16string VarToWideText(const Variant& in) {
  const Variant& v = in.Target();
  return platform::AnsiToWide(VarToText(v));
}

int32_t VarToInteger(const Variant& value) {
  return static_cast<int32_t>(ToRange(value, std::numeric_limits<int32_t>::min(),
                                      std::numeric_limits<int32_t>::max(), "Integer"));
}

int64_t VarToInt64(const Variant& value) {
  return ToRange(value, std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max(),
                 "Int64");
}

bool VarToBoolean(const Variant& in) {
  const Variant& v = in.Target();
  VarType t = v.Type();
  if (IsIntegerTag(t) || t == VarType::Boolean || t == VarType::Currency) return v.IntegerValue() != 0;
  switch (t) {
    case VarType::Empty:
      return false;
    case VarType::Single:
    case VarType::Double:
    case VarType::Date:
      return v.DoubleValue() != 0;
    case VarType::Decimal:
      return v.Decimal().hi != 0 || v.Decimal().lo != 0;
    case VarType::OleStr:
    case VarType::String:
      return TextToBoolean(v, WideOf(v));
    case VarType::Dispatch:
    case VarType::Unknown:
      return VarToBoolean(DefaultValueOf(v, "Boolean"));
    default:
      throw EVariantTypeCastError(v, "Boolean");
  }
}

double VarToDouble(const Variant& in) {
  const Variant& v = in.Target();
  VarType t = v.Type();
  if (IsIntegerTag(t)) {
    if (t == VarType::LongWord) return static_cast<uint32_t>(v.IntegerValue());
    return static_cast<double>(v.IntegerValue());
  }
  switch (t) {
    case VarType::Empty:
      return 0;
    case VarType::Single:
    case VarType::Double:
    case VarType::Date:
      return v.DoubleValue();
    case VarType::Currency:
      return static_cast<double>(v.IntegerValue()) / 10000.0;
    case VarType::Boolean:
      return v.BoolValue() ? -1 : 0;
    case VarType::Decimal:
      return static_cast<double>(DecimalToLongDouble(v.Decimal()));
    case VarType::OleStr:
    case VarType::String: {
      double d = 0;
      switch (platform::LocaleTextToDouble(WideOf(v), d)) {
        case platform::ParseResult::kOk:
          return d;
        case platform::ParseResult::kOverflow:
          throw EVariantOverflowError(v, "Double");
        case platform::ParseResult::kTypeMismatch:
          break;
      }
      throw EVariantTypeCastError(v, "Double");
    }
    case VarType::Dispatch:
    case VarType::Unknown:
      return VarToDouble(DefaultValueOf(v, "Double"));
    default:
      throw EVariantTypeCastError(v, "Double");
  }
}

}  // namespace zentrak
