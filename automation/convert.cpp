// Argument conversions. The locale-aware steps come from platform/locale.h; everything else is
// the same on every platform.
#include "automation/convert.h"

#include <cmath>
#include <cstdio>
#include <limits>

#include "base/number_text.h"
#include "platform/codepage.h"
#include "platform/locale.h"
#include "automation/param_types.h"

namespace zentrak {
namespace {

std::string Format(const char* pattern, std::string tag, const char* to) {
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

std::string TagText(VarType type, bool by_ref) {
  std::string name = VarTypeName(type);
  if (by_ref) name = "ByRef " + name;
  return name;
}

// The failures, naming the value as the messages do (see VariantTagText).
Conversion Fail(Conversion::Result result, const Variant& from, const char* to) {
  const Variant& v = from.Target();
  return {result, v.Type(), v.IsByRef(), to};
}
Conversion TypeMismatch(const Variant& from, const char* to) { return Fail(Conversion::kTypeMismatch, from, to); }
Conversion Overflow(const Variant& from, const char* to) { return Fail(Conversion::kOverflow, from, to); }

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

// Text to boolean: the locale's words, "true" and "false" in any case, or a number (non-zero is
// true). The failure names Boolean whatever the caller converts to.
Conversion TextToBoolean(const Variant& v, const std::u16string& w, bool& out) {
  if (platform::LocaleTextToBoolean(w, out) == platform::ParseResult::kOk) return {};
  std::u16string lower;
  for (char16_t c : w) lower += (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
  if (lower == u"true" || lower == u"false") {
    out = lower == u"true";
    return {};
  }
  int64_t n = 0;
  if (platform::LocaleTextToInteger(w, std::numeric_limits<int64_t>::min(),
                                    std::numeric_limits<int64_t>::max(), n) == platform::ParseResult::kOk) {
    out = n != 0;
    return {};
  }
  return TypeMismatch(v, "Boolean");
}

// The default value of an object; false when it has none.
bool DefaultValueOf(const Variant& v, Variant& out) { return v.Object() && v.Object()->DefaultValue(out); }

Conversion RoundToRange(long double x, const Variant& v, int64_t min, int64_t max, const char* to, int64_t& out) {
  if (std::isnan(x)) return Overflow(v, to);
  long double r = std::nearbyint(x);  // halves to even in the default rounding mode
  if (r < static_cast<long double>(min) || r > static_cast<long double>(max)) return Overflow(v, to);
  out = static_cast<int64_t>(r);
  return {};
}

Conversion ToRange(const Variant& in, int64_t min, int64_t max, const char* to, int64_t& out) {
  const Variant& v = in.Target();
  VarType t = v.Type();
  if (IsIntegerTag(t)) {
    if (t == VarType::LongWord) {
      uint64_t u = static_cast<uint32_t>(v.IntegerValue());
      if (u > static_cast<uint64_t>(max)) return Overflow(v, to);
      out = static_cast<int64_t>(u);
      return {};
    }
    int64_t x = v.IntegerValue();
    if (x < min || x > max) return Overflow(v, to);
    out = x;
    return {};
  }
  switch (t) {
    case VarType::Empty:
      out = 0;
      return {};
    case VarType::Single:
    case VarType::Double:
    case VarType::Date:
      return RoundToRange(v.DoubleValue(), v, min, max, to, out);
    case VarType::Currency: {
      // The scaled value divided by 10000, halves to even, in integer arithmetic.
      int64_t s = v.IntegerValue();
      int64_t q = s / 10000, r = s % 10000;
      if (r > 5000 || (r == 5000 && (q & 1))) ++q;
      if (r < -5000 || (r == -5000 && (q & 1))) --q;
      if (q < min || q > max) return Overflow(v, to);
      out = q;
      return {};
    }
    case VarType::Boolean:
      out = v.BoolValue() ? -1 : 0;
      return {};
    case VarType::Decimal:
      return RoundToRange(DecimalToLongDouble(v.Decimal()), v, min, max, to, out);
    case VarType::OleStr:
    case VarType::String: {
      std::u16string w = WideOf(v);
      switch (platform::LocaleTextToInteger(w, min, max, out)) {
        case platform::ParseResult::kOk:
          return {};
        case platform::ParseResult::kOverflow:
          return Overflow(v, to);
        case platform::ParseResult::kTypeMismatch:
          break;
      }
      switch (ReadPlainInteger(w, min, max, out)) {
        case 1:
          return {};
        case 2:
          return Overflow(v, to);
        default:
          break;
      }
      bool b = false;
      Conversion c = TextToBoolean(v, w, b);
      out = b ? 1 : 0;
      return c;
    }
    case VarType::Dispatch:
    case VarType::Unknown: {
      Variant d;
      if (!DefaultValueOf(v, d)) return TypeMismatch(v, to);
      return ToRange(d, min, max, to, out);
    }
    default:
      return TypeMismatch(v, to);
  }
}

}  // namespace

EVariantTypeCastError::EVariantTypeCastError(const Variant& from, const char* to)
    : Exception(Format("Could not convert variant of type (%s) into type (%s)", VariantTagText(from), to)) {}

EVariantTypeCastError::EVariantTypeCastError(const Conversion& failed)
    : Exception(Format("Could not convert variant of type (%s) into type (%s)",
                       TagText(failed.from, failed.from_by_ref), failed.to)) {}

EVariantOverflowError::EVariantOverflowError(const Variant& from, const char* to)
    : Exception(Format("Overflow while converting variant of type (%s) into type (%s)", VariantTagText(from), to)) {}

EVariantOverflowError::EVariantOverflowError(const Conversion& failed)
    : Exception(Format("Overflow while converting variant of type (%s) into type (%s)",
                       TagText(failed.from, failed.from_by_ref), failed.to)) {}

void Conversion::Raise() const {
  if (result == kOverflow) throw EVariantOverflowError(*this);
  throw EVariantTypeCastError(*this);
}

std::string VariantTagText(const Variant& value) {
  // A by-reference Variant is followed to its value; any other by-reference tag keeps the prefix.
  const Variant& v = value.Target();
  return TagText(v.Type(), v.IsByRef());
}

Conversion TryVarToText(const Variant& in, std::string& out) {
  const Variant& v = in.Target();
  VarType t = v.Type();
  if (IsIntegerTag(t)) {
    out = t == VarType::LongWord ? std::to_string(static_cast<uint32_t>(v.IntegerValue()))
                                 : std::to_string(v.IntegerValue());
    return {};
  }
  switch (t) {
    case VarType::Empty:
      out.clear();
      return {};
    case VarType::Single:
    case VarType::Double:
      out = GeneralNumberText(v.DoubleValue(), platform::DecimalSeparator(), kVariantMinFixed);
      return {};
    case VarType::Currency:
      out = platform::WideToAnsi(platform::CurrencyToText(v.IntegerValue()));
      return {};
    case VarType::Date:
      out = platform::WideToAnsi(platform::DateToText(v.DoubleValue()));
      return {};
    case VarType::OleStr:
      out = platform::WideToAnsi(v.WideText());
      return {};
    case VarType::String:
      out = v.AnsiText();
      return {};
    case VarType::Boolean:
      out = v.BoolValue() ? "True" : "False";
      return {};
    case VarType::Decimal:
      out = DecimalToText(v.Decimal());
      return {};
    case VarType::Dispatch:
    case VarType::Unknown: {
      Variant d;
      if (!DefaultValueOf(v, d)) return TypeMismatch(v, "String");
      return TryVarToText(d, out);
    }
    default:  // Null, Error, Any, and anything unknown
      return TypeMismatch(v, "String");
  }
}

Conversion TryVarToInteger(const Variant& value, int32_t& out) {
  int64_t wide = 0;
  Conversion c =
      ToRange(value, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max(), "Integer", wide);
  out = static_cast<int32_t>(wide);
  return c;
}

Conversion TryVarToInt64(const Variant& value, int64_t& out) {
  return ToRange(value, std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max(), "Int64", out);
}

Conversion TryVarToBoolean(const Variant& in, bool& out) {
  const Variant& v = in.Target();
  VarType t = v.Type();
  if (IsIntegerTag(t) || t == VarType::Boolean || t == VarType::Currency) {
    out = v.IntegerValue() != 0;
    return {};
  }
  switch (t) {
    case VarType::Empty:
      out = false;
      return {};
    case VarType::Single:
    case VarType::Double:
    case VarType::Date:
      out = v.DoubleValue() != 0;
      return {};
    case VarType::Decimal:
      out = v.Decimal().hi != 0 || v.Decimal().lo != 0;
      return {};
    case VarType::OleStr:
    case VarType::String:
      return TextToBoolean(v, WideOf(v), out);
    case VarType::Dispatch:
    case VarType::Unknown: {
      Variant d;
      if (!DefaultValueOf(v, d)) return TypeMismatch(v, "Boolean");
      return TryVarToBoolean(d, out);
    }
    default:
      return TypeMismatch(v, "Boolean");
  }
}

Conversion TryVarToDouble(const Variant& in, double& out) {
  const Variant& v = in.Target();
  VarType t = v.Type();
  if (IsIntegerTag(t)) {
    out = t == VarType::LongWord ? static_cast<double>(static_cast<uint32_t>(v.IntegerValue()))
                                 : static_cast<double>(v.IntegerValue());
    return {};
  }
  switch (t) {
    case VarType::Empty:
      out = 0;
      return {};
    case VarType::Single:
    case VarType::Double:
    case VarType::Date:
      out = v.DoubleValue();
      return {};
    case VarType::Currency:
      out = static_cast<double>(v.IntegerValue()) / 10000.0;
      return {};
    case VarType::Boolean:
      out = v.BoolValue() ? -1 : 0;
      return {};
    case VarType::Decimal:
      out = static_cast<double>(DecimalToLongDouble(v.Decimal()));
      return {};
    case VarType::OleStr:
    case VarType::String:
      switch (platform::LocaleTextToDouble(WideOf(v), out)) {
        case platform::ParseResult::kOk:
          return {};
        case platform::ParseResult::kOverflow:
          return Overflow(v, "Double");
        case platform::ParseResult::kTypeMismatch:
          break;
      }
      return TypeMismatch(v, "Double");
    case VarType::Dispatch:
    case VarType::Unknown: {
      Variant d;
      if (!DefaultValueOf(v, d)) return TypeMismatch(v, "Double");
      return TryVarToDouble(d, out);
    }
    default:
      return TypeMismatch(v, "Double");
  }
}

namespace {

// Runs a Try conversion and raises its failure.
template <class T, class Try>
T Raising(const Variant& value, Try&& attempt) {
  T out{};
  if (Conversion c = attempt(value, out); !c) c.Raise();
  return out;
}

}  // namespace

std::string VarToText(const Variant& value) { return Raising<std::string>(value, TryVarToText); }

std::u16string VarToWideText(const Variant& value) { return platform::AnsiToWide(VarToText(value)); }

int32_t VarToInteger(const Variant& value) { return Raising<int32_t>(value, TryVarToInteger); }

int64_t VarToInt64(const Variant& value) { return Raising<int64_t>(value, TryVarToInt64); }

bool VarToBoolean(const Variant& value) { return Raising<bool>(value, TryVarToBoolean); }

double VarToDouble(const Variant& value) { return Raising<double>(value, TryVarToDouble); }

std::optional<Variant> Coerce(const Variant& v, ParamType type) {
  switch (ParamTypeOf(type).tag) {
    case VarType::Boolean: {
      bool b = false;
      if (!TryVarToBoolean(v, b)) return std::nullopt;
      return Variant::FromBool(b);
    }
    case VarType::Smallint: {
      int32_t n = 0;
      if (!TryVarToInteger(v, n) || n < -32768 || n > 32767) return std::nullopt;
      return Variant::FromInteger(VarType::Smallint, n);
    }
    case VarType::Integer: {
      int32_t n = 0;
      if (!TryVarToInteger(v, n)) return std::nullopt;
      return Variant::FromInt32(n);
    }
    case VarType::LongWord: {
      // A colour: any 32-bit value, signed or not.
      int64_t n = 0;
      if (!TryVarToInt64(v, n) || n < INT32_MIN || n > UINT32_MAX) return std::nullopt;
      return Variant::FromInteger(VarType::LongWord, static_cast<uint32_t>(n));
    }
    case VarType::OleStr: {
      // Wide text stays wide: through the 8-bit code page, characters it lacks would become "?".
      if (v.Target().Type() == VarType::OleStr) return Variant(v.Target().WideText());
      std::string text;
      if (!TryVarToText(v, text)) return std::nullopt;
      return Variant(platform::AnsiToWide(text));
    }
    case VarType::Dispatch: {
      // An object, or nothing.
      const Variant& t = v.Target();
      if (t.Type() != VarType::Dispatch && t.Type() != VarType::Unknown && t.Type() != VarType::Empty)
        return std::nullopt;
      return t;
    }
    default:  // Variant: any value, as it is
      return v;
  }
}

}  // namespace zentrak
