// Values of the wire: JSON to Variant and back. Plain JSON carries text, booleans, null and
// numbers; a {"vt":...} object carries any tag by name, by reference or not.
#include "host/wire_values.h"

#include <cmath>
#include <limits>

#include "base/text.h"
#include "platform/codepage.h"

namespace zentrak::host {
namespace {

using json = nlohmann::ordered_json;
__extension__ typedef __int128 Int128;
__extension__ typedef unsigned __int128 UInt128;

// UTF-8 of the wire (pairs become four-byte sequences; a lone surrogate becomes U+FFFD) to and
// from UTF-16.
std::string WireUtf8(std::u16string_view w) { return WideToStandardUtf8(w); }

std::u16string WireWide(const std::string& utf8) {
  // The JSON parser has checked that the text is well-formed UTF-8.
  return Utf8ToWide(utf8);
}

// An object carried in a value. The system's objects have no default member.
class WireObject : public ObjectValue {
 public:
  bool DefaultValue(Variant&) override { return false; }
};

int64_t ParseDecimalScaled(const std::string& text, int scale, const char* what) {
  // "-12.3456" with at most `scale` fraction digits, as an integer scaled by 10^scale.
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  if (i >= text.size()) throw WireError(std::string("bad ") + what + " value");
  Int128 v = 0;
  int frac = -1;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (c == '.' && frac < 0 && scale > 0) {
      frac = 0;
      continue;
    }
    if (c < '0' || c > '9') throw WireError(std::string("bad ") + what + " value: " + text);
    if (frac >= 0 && ++frac > scale) throw WireError(std::string("too many decimals in ") + what);
    v = v * 10 + (c - '0');
    if (v > static_cast<Int128>(std::numeric_limits<int64_t>::max()) * 10)
      throw WireError(std::string(what) + " value out of range");
  }
  for (int f = frac < 0 ? 0 : frac; f < scale; ++f) v *= 10;
  if (negative) v = -v;
  if (v > std::numeric_limits<int64_t>::max() || v < std::numeric_limits<int64_t>::min())
    throw WireError(std::string(what) + " value out of range");
  return static_cast<int64_t>(v);
}

DecimalValue ParseDecimal(const std::string& text) {
  DecimalValue d;
  size_t i = 0;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) d.negative = text[i++] == '-';
  UInt128 v = 0;
  const UInt128 limit = (static_cast<UInt128>(1) << 96) - 1;
  bool digits = false, point = false;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (c == '.' && !point) {
      point = true;
      continue;
    }
    if (c < '0' || c > '9') throw WireError("bad Decimal value: " + text);
    digits = true;
    if (point) {
      if (d.scale == 28) throw WireError("Decimal value has more than 28 decimals");
      ++d.scale;
    }
    v = v * 10 + static_cast<unsigned>(c - '0');
    if (v > limit) throw WireError("Decimal value out of range");
  }
  if (!digits) throw WireError("bad Decimal value: " + text);
  d.lo = static_cast<uint64_t>(v);
  d.hi = static_cast<uint32_t>(v >> 64);
  return d;
}

int64_t IntegerIn(const json& v, int64_t min, int64_t max, const char* tag) {
  int64_t n;
  if (v.is_number_integer()) {
    n = v.get<int64_t>();
    if (v.is_number_unsigned() && v.get<uint64_t>() > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
      throw WireError(std::string(tag) + " value out of range");
  } else if (v.is_string()) {
    n = ParseDecimalScaled(v.get<std::string>(), 0, tag);
  } else {
    throw WireError(std::string(tag) + " needs an integer value");
  }
  if (n < min || n > max) throw WireError(std::string(tag) + " value out of range");
  return n;
}

double NumberIn(const json& v, const char* tag) {
  if (!v.is_number()) throw WireError(std::string(tag) + " needs a number value");
  return v.get<double>();
}

Variant TaggedFromJson(const json& o) {
  auto vt_it = o.find("vt");
  if (vt_it == o.end() || !vt_it->is_string()) throw WireError("a value object needs a \"vt\" tag name");
  VarType type;
  if (!VarTypeFromName(vt_it->get<std::string>(), type))
    throw WireError("unknown tag name \"" + vt_it->get<std::string>() + "\"");
  bool by_ref = false;
  if (auto b = o.find("byref"); b != o.end()) {
    if (!b->is_boolean()) throw WireError("\"byref\" must be true or false");
    by_ref = b->get<bool>();
  }
  static const json kNull;
  auto vit = o.find("value");
  const json& value = vit == o.end() ? kNull : *vit;
  Variant v;
  switch (type) {
    case VarType::Empty:
      break;
    case VarType::Null:
      v = Variant::Null();
      break;
    case VarType::Smallint:
      v = Variant::FromInteger(type, IntegerIn(value, -32768, 32767, "Smallint"));
      break;
    case VarType::Integer:
      v = Variant::FromInteger(type, IntegerIn(value, INT32_MIN, INT32_MAX, "Integer"));
      break;
    case VarType::ShortInt:
      v = Variant::FromInteger(type, IntegerIn(value, -128, 127, "ShortInt"));
      break;
    case VarType::Byte:
      v = Variant::FromInteger(type, IntegerIn(value, 0, 255, "Byte"));
      break;
    case VarType::Word:
      v = Variant::FromInteger(type, IntegerIn(value, 0, 65535, "Word"));
      break;
    case VarType::LongWord:
      v = Variant::FromInteger(type, IntegerIn(value, 0, UINT32_MAX, "LongWord"));
      break;
    case VarType::Int64:
      v = Variant::FromInteger(type, IntegerIn(value, INT64_MIN, INT64_MAX, "Int64"));
      break;
    case VarType::Single:
      v = Variant::FromSingle(static_cast<float>(NumberIn(value, "Single")));
      break;
    case VarType::Double:
      v = Variant::FromDouble(NumberIn(value, "Double"));
      break;
    case VarType::Date:
      v = Variant::FromDate(NumberIn(value, "Date"));
      break;
    case VarType::Currency:
      if (value.is_string()) {
        v = Variant::FromCurrency(ParseDecimalScaled(value.get<std::string>(), 4, "Currency"));
      } else if (value.is_number_integer()) {
        v = Variant::FromCurrency(IntegerIn(value, INT64_MIN / 10000, INT64_MAX / 10000, "Currency") * 10000);
      } else {
        throw WireError("Currency needs a decimal string value");
      }
      break;
    case VarType::OleStr:
      if (!value.is_string()) throw WireError("OleStr needs a string value");
      v = Variant(WireWide(value.get<std::string>()));
      break;
    case VarType::String:
      if (!value.is_string()) throw WireError("String needs a string value");
      v = Variant::FromAnsi(platform::WideToAnsi(WireWide(value.get<std::string>())));
      break;
    case VarType::Boolean:
      if (!value.is_boolean()) throw WireError("Boolean needs true or false");
      v = Variant::FromBool(value.get<bool>());
      break;
    case VarType::Error:
      v = Variant::FromError(static_cast<int32_t>(IntegerIn(value, INT32_MIN, UINT32_MAX, "Error")));
      break;
    case VarType::Decimal:
      if (!value.is_string()) throw WireError("Decimal needs a decimal string value");
      v = Variant::FromDecimal(ParseDecimal(value.get<std::string>()));
      break;
    case VarType::Dispatch:
    case VarType::Unknown:
      v = Variant::FromObject(type, value.is_null() ? nullptr : std::make_shared<WireObject>());
      break;
    case VarType::Variant:
      if (!by_ref) throw WireError("a Variant value exists only by reference (\"byref\":true)");
      return Variant::ByRefVariant(ValueFromJson(value));
    case VarType::Any:
      v = Variant::FromInteger(VarType::Any, 0);
      break;
  }
  v.SetByRef(by_ref);
  return v;
}

json TaggedToJson(const char* tag, json value, bool by_ref) {
  json o = {{"vt", tag}};
  if (!value.is_null()) o["value"] = std::move(value);
  if (by_ref) o["byref"] = true;
  return o;
}

std::string DecimalText(const DecimalValue& d) {
  UInt128 v = (static_cast<UInt128>(d.hi) << 64) | d.lo;
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(v % 10)));
    v /= 10;
  } while (v);
  while (digits.size() <= d.scale) digits.insert(digits.begin(), '0');
  if (d.scale) digits.insert(digits.end() - d.scale, '.');
  if (d.negative) digits.insert(digits.begin(), '-');
  return digits;
}

std::string CurrencyText(int64_t scaled) {
  bool negative = scaled < 0;
  uint64_t m = negative ? 0 - static_cast<uint64_t>(scaled) : static_cast<uint64_t>(scaled);
  std::string s = std::to_string(m / 10000);
  if (m % 10000) {
    std::string f = std::to_string(m % 10000 + 10000).substr(1);
    while (f.back() == '0') f.pop_back();
    s += "." + f;
  }
  return negative ? "-" + s : s;
}

}  // namespace

Variant ValueFromJson(const json& value) {
  switch (value.type()) {
    case json::value_t::string:
      return Variant(WireWide(value.get<std::string>()));
    case json::value_t::boolean:
      return Variant::FromBool(value.get<bool>());
    case json::value_t::null:
      return Variant::Null();
    case json::value_t::number_integer: {
      int64_t n = value.get<int64_t>();
      if (n >= INT32_MIN && n <= INT32_MAX) return Variant::FromInt32(static_cast<int32_t>(n));
      return Variant::FromDouble(static_cast<double>(n));
    }
    case json::value_t::number_unsigned: {
      uint64_t n = value.get<uint64_t>();
      if (n <= INT32_MAX) return Variant::FromInt32(static_cast<int32_t>(n));
      return Variant::FromDouble(static_cast<double>(n));
    }
    case json::value_t::number_float:
      return Variant::FromDouble(value.get<double>());
    case json::value_t::object:
      return TaggedFromJson(value);
    default:
      throw WireError("an argument must be a string, number, boolean, null or a {\"vt\":...} object");
  }
}

json ValueToJson(const Variant& value) {
  const Variant& v = value;
  bool r = v.IsByRef();
  switch (v.Type()) {
    case VarType::Empty:
      return TaggedToJson("Empty", nullptr, r);
    case VarType::Null:
      return r ? TaggedToJson("Null", nullptr, r) : json(nullptr);
    case VarType::OleStr:
      return r ? TaggedToJson("OleStr", WireUtf8(v.WideText()), r) : json(WireUtf8(v.WideText()));
    case VarType::Boolean:
      return r ? TaggedToJson("Boolean", v.BoolValue(), r) : json(v.BoolValue());
    case VarType::Integer:
      return r ? TaggedToJson("Integer", v.IntegerValue(), r) : json(v.IntegerValue());
    case VarType::Double:
      if (!r && std::isfinite(v.DoubleValue()) &&
          !(v.DoubleValue() == std::trunc(v.DoubleValue()) && std::fabs(v.DoubleValue()) <= 2147483647.0))
        return json(v.DoubleValue());
      return TaggedToJson("Double", std::isfinite(v.DoubleValue()) ? json(v.DoubleValue()) : json(nullptr), r);
    case VarType::Single:
    case VarType::Date:
      return TaggedToJson(VarTypeName(v.Type()), v.DoubleValue(), r);
    case VarType::Smallint:
    case VarType::ShortInt:
    case VarType::Byte:
    case VarType::Word:
    case VarType::LongWord:
    case VarType::Error:
      return TaggedToJson(VarTypeName(v.Type()), v.IntegerValue(), r);
    case VarType::Int64:
      return TaggedToJson("Int64", std::to_string(v.IntegerValue()), r);
    case VarType::Currency:
      return TaggedToJson("Currency", CurrencyText(v.IntegerValue()), r);
    case VarType::Decimal:
      return TaggedToJson("Decimal", DecimalText(v.Decimal()), r);
    case VarType::String:
      return TaggedToJson("String", WireUtf8(platform::AnsiToWide(v.AnsiText())), r);
    case VarType::Variant:
      return TaggedToJson("Variant", ValueToJson(v.Target()), true);
    case VarType::Dispatch:
    case VarType::Unknown:
    case VarType::Any:
      return TaggedToJson(VarTypeName(v.Type()), nullptr, r);
  }
  return nullptr;
}

}  // namespace zentrak::host
