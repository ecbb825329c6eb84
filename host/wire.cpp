// The wire protocol: requests, answers and values.
#include "host/wire.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "base/text.h"
#include "platform/codepage.h"
#include "platform/memory.h"
#include "automation/dispatch.h"
#include "automation/param_types.h"
#include "automation/status.h"
#include "catalog/catalog.h"

namespace zentrak::host {
namespace {

using json = nlohmann::ordered_json;
__extension__ typedef __int128 Int128;
__extension__ typedef unsigned __int128 UInt128;

constexpr int32_t kREGDB_E_CLASSNOTREG = static_cast<int32_t>(0x80040154u);

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

MemberKind KindFromJson(const json& request) {
  auto it = request.find("kind");
  if (it == request.end()) return MemberKind::kMethod;
  if (!it->is_string()) throw WireError("\"kind\" must be \"method\", \"get\", \"put\" or \"putref\"");
  std::string k = it->get<std::string>();
  if (k == "method") return MemberKind::kMethod;
  if (k == "get") return MemberKind::kPropertyGet;
  if (k == "put") return MemberKind::kPropertyPut;
  if (k == "putref") return MemberKind::kPropertyPutRef;
  throw WireError("\"kind\" must be \"method\", \"get\", \"put\" or \"putref\"");
}

const char* KindName(MemberKind k) {
  switch (k) {
    case MemberKind::kMethod:
      return "method";
    case MemberKind::kPropertyGet:
      return "get";
    case MemberKind::kPropertyPut:
      return "put";
    case MemberKind::kPropertyPutRef:
      return "putref";
  }
  return "method";
}

json Describe(const ClassDesc& cls) {
  json members = json::array();
  for (const MemberDesc& m : cls.default_interface->members) {
    json params = json::array();
    for (size_t i = 0; i < m.ArgumentCount(); ++i) {
      const ParamDesc& p = m.params[i];
      params.push_back({{"name", p.name},
                        {"type", ParamTypeOf(p.type).wire},
                        {"byref", p.by_ref},
                        {"direction", p.direction == ParamDirection::kInOut ? "inout" : "in"}});
    }
    const ParamDesc* r = m.Result();
    members.push_back({{"name", m.name},
                       {"dispid", m.dispid},
                       {"kind", KindName(m.kind)},
                       {"params", std::move(params)},
                       {"result", r ? json(r->name) : json(nullptr)},
                       {"hidden", m.hidden}});
  }
  return {{"progid", cls.ProgId()},
          {"clsid", cls.clsid.ToRegistryString()},
          {"interface", cls.default_interface->name},
          {"iid", cls.default_interface->iid.ToRegistryString()},
          {"members", std::move(members)}};
}

const ClassDesc& ClassFor(const json& request) {
  if (auto p = request.find("progid"); p != request.end()) {
    if (!p->is_string()) throw WireError("\"progid\" must be a string");
    if (const ClassDesc* c = FindClassByProgId(p->get<std::string>())) return *c;
    throw WireError("no class is registered as \"" + p->get<std::string>() + "\"");
  }
  if (auto c = request.find("clsid"); c != request.end()) {
    if (!c->is_string()) throw WireError("\"clsid\" must be a string");
    auto guid = Guid::Parse(c->get<std::string>());
    if (!guid) throw WireError("\"clsid\" is not a GUID");
    if (const ClassDesc* cls = FindClassByClsid(*guid)) return *cls;
    throw WireError("no class is registered as " + c->get<std::string>());
  }
  throw WireError("\"progid\" or \"clsid\" is needed");
}

json Failure(const json& id, int32_t code, const std::string& description) {
  json e = {{"code", code}};
  if (!description.empty()) e["description"] = description;
  return {{"id", id}, {"ok", false}, {"error", std::move(e)}};
}

// The answer text is written through raw pointers, one block of input at a time. Before a
// block, the string's length is stretched over the block's worst case (six bytes an input unit,
// for \u00XX) and afterwards cut back to what the block wrote. The stretch fills those bytes
// while they are in the cache, just before they are overwritten, so a long text is never filled
// twice through memory; the first block reserves room for the common case (a quarter more than
// the input), so a long text is not copied by regrowth either.
constexpr size_t kBlock = 2048;
constexpr size_t kWorstPerUnit = 6;

// Ensures capacity for the whole of a text of n input units whose output starts at out's end,
// as far as the common case goes.
void ReserveFor(std::string& out, size_t n) {
  size_t want = n + n / 4 + std::min(n, kBlock) * kWorstPerUnit + 64;
  if (out.capacity() - out.size() >= want) return;
  out.reserve(out.size() + want);
  // Fresh pages are costly one by one; a large answer asks for huge ones.
  platform::AdviseLargeBuffer(out.data(), out.capacity());
}

// Stretches out by room bytes and returns where they start. rest is how much input follows the
// block, for the size of a regrowth: three bytes a unit once the common case has been exceeded.
char* Stretch(std::string& out, size_t room, size_t rest) {
  size_t at = out.size();
  if (out.capacity() - at < room) {
    out.reserve(std::max(out.capacity() * 2, at + room + rest * 3));
    platform::AdviseLargeBuffer(out.data(), out.capacity());
  }
  out.resize(at + room);
  return out.data() + at;
}

// For each ASCII character: 0 when it stands for itself, else the letter after the backslash
// ('u' for the \u00XX form).
constexpr std::array<char, 128> kEscapes = [] {
  std::array<char, 128> t{};
  for (int c = 0; c < 0x20; ++c) t[c] = 'u';
  t['\b'] = 'b';
  t['\f'] = 'f';
  t['\n'] = 'n';
  t['\r'] = 'r';
  t['\t'] = 't';
  t['"'] = '"';
  t['\\'] = '\\';
  return t;
}();

// Writes the escape of an ASCII character whose kEscapes entry is e (not 0).
inline char* PutEscape(unsigned c, char e, char* d) {
  static const char kHex[] = "0123456789abcdef";
  d[0] = '\\';
  d[1] = e;
  if (e != 'u') return d + 2;
  d[2] = '0';
  d[3] = '0';
  d[4] = kHex[c >> 4];
  d[5] = kHex[c & 15];
  return d + 6;
}

// Writes sixteen printable ASCII characters from src, each whose bit is set in specials (a quote
// or a backslash) after a backslash. Branch-free: every character is stored after a backslash
// that the next store overwrites unless the character needs it.
template <typename Unit>
inline char* PutWithBackslashes(const Unit* src, unsigned specials, char* d) {
#pragma GCC unroll 16
  for (int j = 0; j < 16; ++j) {
    unsigned bit = (specials >> j) & 1;
    d[0] = '\\';
    d[bit] = static_cast<char>(src[j]);
    d += 1 + bit;
  }
  return d;
}

// Writes an ASCII character as itself or as its escape.
inline char* PutAscii(unsigned c, char* d) {
  char e = kEscapes[c];
  if (e != 0) return PutEscape(c, e, d);
  *d = static_cast<char>(c);
  return d + 1;
}

#if defined(__SSE2__)
// Writes sixteen input units from src + i whose bytes are `packed`. `stop` marks the units the
// fast path cannot write (outside printable ASCII), `special` the quotes and backslashes. With
// no stop all sixteen are written; otherwise only those before the first unit that stops or needs
// a backslash, and the answer is false. All sixteen bytes are stored either way; only those
// counted stay. Advances i and d past what was written.
template <typename Unit>
inline bool PutSixteen(__m128i packed, unsigned stop, unsigned special, const Unit* src, size_t& i, char*& d) {
  if (stop == 0 && special != 0) {
    d = PutWithBackslashes(src + i, special, d);
    i += 16;
    return true;
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(d), packed);
  unsigned run = stop == 0 ? 16 : static_cast<unsigned>(__builtin_ctz(stop | special));
  d += run;
  i += run;
  return stop == 0;
}
#endif

// Writes the JSON string form of units [i, end) of s (n units in all) at out and returns the
// index after the last unit written: end, or end + 1 when a surrogate pair straddles end.
// REQUIRES: room for kWorstPerUnit bytes a unit at out, which is advanced past the output.
size_t EncodeWideBlock(const char16_t* s, size_t i, size_t end, size_t n, char*& out) {
  char* d = out;
#if defined(__SSE2__)
  // The range test for 0x20 to 0x7F is one signed comparison after moving 0x20 to the bottom of
  // the signed range.
  const __m128i bias = _mm_set1_epi16(static_cast<short>(0x8000 - 0x20));
  const __m128i limit = _mm_set1_epi16(static_cast<short>(-0x8000 + 0x60));
  const __m128i quote = _mm_set1_epi16('"');
  const __m128i backslash = _mm_set1_epi16('\\');
#endif
  while (i < end) {
#if defined(__SSE2__)
    // Sixteen units at a time while they are printable ASCII (0x20 to 0x7F); quotes and
    // backslashes among them get their backslash without leaving this path.
    while (end - i >= 16) {
      __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
      __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i + 8));
      unsigned printable = static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(
          _mm_cmplt_epi16(_mm_add_epi16(a, bias), limit), _mm_cmplt_epi16(_mm_add_epi16(b, bias), limit))));
      unsigned special = static_cast<unsigned>(_mm_movemask_epi8(
          _mm_packs_epi16(_mm_or_si128(_mm_cmpeq_epi16(a, quote), _mm_cmpeq_epi16(a, backslash)),
                          _mm_or_si128(_mm_cmpeq_epi16(b, quote), _mm_cmpeq_epi16(b, backslash)))));
      if (!PutSixteen(_mm_packus_epi16(a, b), ~printable & 0xFFFF, special, s, i, d)) break;
    }
    if (i >= end) break;
#endif
    uint32_t c = s[i];
    if (c < 0x80) {
      d = PutAscii(c, d);
      ++i;
      continue;
    }
    // Units from 0x80 up, one at a time while they last.
    do {
      if (c < 0x800) {
        d[0] = static_cast<char>(0xC0 | (c >> 6));
        d[1] = static_cast<char>(0x80 | (c & 0x3F));
        d += 2;
        ++i;
      } else if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00u);
        d[0] = static_cast<char>(0xF0 | (c >> 18));
        d[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        d[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        d[3] = static_cast<char>(0x80 | (c & 0x3F));
        d += 4;
        i += 2;
      } else {
        if (c >= 0xD800 && c <= 0xDFFF) c = 0xFFFD;  // a lone surrogate
        d[0] = static_cast<char>(0xE0 | (c >> 12));
        d[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        d[2] = static_cast<char>(0x80 | (c & 0x3F));
        d += 3;
        ++i;
      }
    } while (i < end && (c = s[i]) >= 0x80);
  }
  out = d;
  return i;
}

// Writes bytes [i, end) of UTF-8 text s (n bytes in all) as the inside of a JSON string at out
// and returns the index after the last byte used: end, or a little past it when a multi-byte
// sequence straddles end. Valid UTF-8 passes unchanged; a malformed byte becomes U+FFFD.
// REQUIRES: room for kWorstPerUnit bytes an input byte at out, which is advanced past the output.
size_t EncodeUtf8Block(const unsigned char* s, size_t i, size_t end, size_t n, char*& out) {
  char* d = out;
#if defined(__SSE2__)
  const __m128i space = _mm_set1_epi8(0x20);
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i backslash = _mm_set1_epi8('\\');
#endif
  while (i < end) {
#if defined(__SSE2__)
    // Sixteen bytes at a time while they are printable ASCII; bytes from 0x80 up are negative
    // as signed bytes, so one comparison finds them and the control characters.
    while (end - i >= 16) {
      __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
      unsigned other = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmplt_epi8(v, space)));
      unsigned special =
          static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, backslash))));
      if (!PutSixteen(v, other, special, s, i, d)) break;
    }
    if (i >= end) break;
#endif
    unsigned c = s[i];
    if (c < 0x80) {
      d = PutAscii(c, d);
      ++i;
      continue;
    }
    // A multi-byte sequence: copied when well-formed, else one U+FFFD for the lead byte.
    size_t len = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
    const unsigned char* p = s + i;
    bool ok = len != 0 && n - i >= len;
    for (size_t k = 1; ok && k < len; ++k) ok = (p[k] & 0xC0) == 0x80;
    if (ok && len == 3) {
      uint32_t v = ((c & 0x0Fu) << 12) | ((p[1] & 0x3Fu) << 6) | (p[2] & 0x3Fu);
      ok = v >= 0x800 && (v < 0xD800 || v > 0xDFFF);
    }
    if (ok && len == 4) {
      uint32_t v = ((c & 0x07u) << 18) | ((p[1] & 0x3Fu) << 12) | ((p[2] & 0x3Fu) << 6) | (p[3] & 0x3Fu);
      ok = v >= 0x10000 && v <= 0x10FFFF;
    }
    if (ok) {
      for (size_t k = 0; k < len; ++k) d[k] = static_cast<char>(p[k]);
      d += len;
      i += len;
    } else {
      d[0] = '\xEF';
      d[1] = '\xBF';
      d[2] = '\xBD';
      d += 3;
      ++i;
    }
  }
  out = d;
  return i;
}

// Appends the JSON string of n units at s, one block at a time: each block is encoded by
// encode(s, i, end, n, d) into room stretched for its worst case, and the string is cut back to
// what it wrote.
template <typename Unit, typename Encode>
void AppendInBlocks(const Unit* s, size_t n, std::string& out, Encode encode) {
  ReserveFor(out, n);
  size_t i = 0;
  do {
    size_t end = std::min(n, i + kBlock);
    size_t room = (end - i) * kWorstPerUnit + 2;  // and the quotes
    char* const start = Stretch(out, room, n - end);
    char* d = start;
    if (i == 0) *d++ = '"';
    i = encode(s, i, end, n, d);
    if (i >= n) *d++ = '"';
    out.resize(out.size() - room + static_cast<size_t>(d - start));
  } while (i < n);
}

// Appends a JSON string: valid UTF-8 passes unchanged, control characters, quotes and
// backslashes are escaped, and a malformed byte becomes U+FFFD.
void AppendJsonString(std::string_view text, std::string& out) {
  AppendInBlocks(reinterpret_cast<const unsigned char*>(text.data()), text.size(), out, EncodeUtf8Block);
}

void AppendWire(const json& j, std::string& out) {
  switch (j.type()) {
    case json::value_t::object: {
      out += '{';
      bool first = true;
      for (auto it = j.begin(); it != j.end(); ++it) {
        if (!first) out += ',';
        first = false;
        AppendJsonString(it.key(), out);
        out += ':';
        AppendWire(it.value(), out);
      }
      out += '}';
      return;
    }
    case json::value_t::array: {
      out += '[';
      for (size_t i = 0; i < j.size(); ++i) {
        if (i) out += ',';
        AppendWire(j[i], out);
      }
      out += ']';
      return;
    }
    case json::value_t::string:
      AppendJsonString(j.get_ref<const std::string&>(), out);
      return;
    default:
      out += j.dump();
  }
}

}  // namespace

void AppendWireString(std::u16string_view text, std::string& out) {
  AppendInBlocks(text.data(), text.size(), out, EncodeWideBlock);
}

std::string WireText(const json& answer) {
  std::string out;
  // Most of a large answer is one string value; room for it and its escapes up front.
  if (answer.is_object()) {
    auto v = answer.find("value");
    if (v != answer.end() && v->is_string()) ReserveFor(out, v->get_ref<const std::string&>().size() + 256);
  }
  AppendWire(answer, out);
  return out;
}

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

std::shared_ptr<AutomationObject> Session::ObjectFor(const json& request) {
  auto it = request.find("object");
  if (it == request.end() || !it->is_number_integer()) throw WireError("\"object\" must be an object number");
  auto found = objects_.find(it->get<int64_t>());
  if (found == objects_.end()) throw WireError("no object " + std::to_string(it->get<int64_t>()) + " in this session");
  return found->second;
}

json Session::HandleOne(const json& request, Variant* text_value) {
  json id = nullptr;
  try {
    if (!request.is_object()) throw WireError("a request must be a JSON object");
    if (auto i = request.find("id"); i != request.end()) id = *i;
    auto op_it = request.find("op");
    if (op_it == request.end() || !op_it->is_string()) throw WireError("\"op\" is missing");
    const std::string op = op_it->get<std::string>();

    if (op == "create") {
      const ClassDesc* cls = nullptr;
      try {
        cls = &ClassFor(request);
      } catch (const WireError& e) {
        if (request.contains("progid") || request.contains("clsid"))
          return Failure(id, kREGDB_E_CLASSNOTREG, e.what());
        throw;
      }
      if (objects_.size() >= max_objects_)
        return Failure(id, kE_FAIL, "too many objects in this session (at most " + std::to_string(max_objects_) + ")");
      auto obj = CreateObject(*cls);
      if (!obj) return Failure(id, kREGDB_E_CLASSNOTREG, std::string("No implementation for class ") + cls->impl_name);
      int64_t handle = next_id_++;
      objects_.emplace(handle, std::move(obj));
      return {{"id", id}, {"ok", true}, {"object", handle}};
    }
    if (op == "release") {
      std::shared_ptr<AutomationObject> obj = ObjectFor(request);
      for (auto it = objects_.begin(); it != objects_.end(); ++it) {
        if (it->second == obj) {
          objects_.erase(it);
          break;
        }
      }
      return {{"id", id}, {"ok", true}};
    }
    if (op == "describe") {
      const ClassDesc& cls = request.contains("object") ? ObjectFor(request)->Class() : ClassFor(request);
      return {{"id", id}, {"ok", true}, {"value", Describe(cls)}};
    }
    if (op == "names") {
      std::shared_ptr<AutomationObject> held = ObjectFor(request);
      AutomationObject& obj = *held;
      auto n = request.find("names");
      if (n == request.end() || !n->is_array()) throw WireError("\"names\" must be an array of strings");
      std::vector<std::string> names;
      for (const auto& e : *n) {
        if (!e.is_string()) throw WireError("\"names\" must be an array of strings");
        names.push_back(e.get<std::string>());
      }
      std::vector<int32_t> dispids;
      int32_t status = GetIDsOfNames(obj.Class(), names, dispids);
      json answer = {{"id", id}, {"ok", status == kS_OK}, {"dispids", dispids}};
      if (status != kS_OK) answer["error"] = {{"code", status}};
      return answer;
    }
    if (op == "query") {
      // Whether the object answers an interface, and its IObjectSafety and ISupportErrorInfo
      // answers for that interface id.
      std::shared_ptr<AutomationObject> held = ObjectFor(request);
      AutomationObject& obj = *held;
      auto iid_it = request.find("iid");
      if (iid_it == request.end() || !iid_it->is_string()) throw WireError("\"iid\" must be a GUID string");
      auto iid = Guid::Parse(iid_it->get<std::string>());
      if (!iid) throw WireError("\"iid\" is not a GUID");
      json answer = {{"id", id},
                     {"ok", true},
                     {"value", ObjectHasInterface(obj.Class(), *iid)},
                     {"supportsErrorInfo", InterfaceSupportsErrorInfo(obj.Class(), *iid)}};
      if (obj.Class().object_safety) {
        uint32_t supported = 0, enabled = 0;
        int32_t st = GetInterfaceSafetyOptions(obj.Class(), *iid, &supported, &enabled);
        answer["safety"] = {{"code", st}, {"supported", supported}, {"enabled", enabled}};
      }
      return answer;
    }
    if (op == "call") {
      std::shared_ptr<AutomationObject> held = ObjectFor(request);
      AutomationObject& obj = *held;
      int32_t dispid;
      if (auto d = request.find("dispid"); d != request.end()) {
        if (!d->is_number_integer()) throw WireError("\"dispid\" must be an integer");
        dispid = d->get<int32_t>();
      } else if (auto nm = request.find("name"); nm != request.end() && nm->is_string()) {
        std::vector<std::string> names{nm->get<std::string>()};
        std::vector<int32_t> ids;
        if (GetIDsOfNames(obj.Class(), names, ids) != kS_OK) return Failure(id, kDISP_E_UNKNOWNNAME, "");
        dispid = ids[0];
      } else {
        throw WireError("\"name\" or \"dispid\" is needed");
      }
      MemberKind kind = KindFromJson(request);
      std::vector<Variant> args;
      if (auto a = request.find("args"); a != request.end()) {
        if (!a->is_array()) throw WireError("\"args\" must be an array");
        for (const auto& e : *a) args.push_back(ValueFromJson(e));
      }
      Variant result;
      CallOutcome outcome = Invoke(obj, dispid, kind, args, result);
      if (outcome.status != kS_OK) {
        json e = {{"code", outcome.status}};
        if (outcome.error) {
          e["description"] = WireUtf8(outcome.error->description);
          e["source"] = WireUtf8(outcome.error->source);
        }
        if (outcome.status == kDISP_E_TYPEMISMATCH) e["argError"] = outcome.arg_error;
        return {{"id", id}, {"ok", false}, {"error", std::move(e)}};
      }
      const bool as_text = text_value && result.Type() == VarType::OleStr && !result.IsByRef();
      json answer = {{"id", id}, {"ok", true}, {"value", as_text ? json(nullptr) : ValueToJson(result)}};
      if (as_text) *text_value = std::move(result);
      const MemberDesc* m = FindMember(obj.Class(), dispid, kind);
      json outs = json::array();
      for (size_t i = 0; m && i < m->ArgumentCount(); ++i) {
        if (m->params[i].direction == ParamDirection::kInOut)
          outs.push_back({{"index", i}, {"name", m->params[i].name}, {"value", ValueToJson(args[i])}});
      }
      if (!outs.empty()) answer["outs"] = std::move(outs);
      return answer;
    }
    throw WireError("unknown op \"" + op + "\"");
  } catch (const WireError& e) {
    return Failure(id, kE_INVALIDARG, std::string("Bad request: ") + e.what());
  } catch (const std::exception& e) {
    return Failure(id, kE_UNEXPECTED, std::string("Bad request: ") + e.what());
  }
}

json Session::Handle(const json& request) {
  if (request.is_array()) {
    json answers = json::array();
    for (const auto& r : request) answers.push_back(HandleOne(r));
    return answers;
  }
  return HandleOne(request);
}

void Session::AppendAnswer(const json& request, std::string& out) {
  Variant text;
  json answer = HandleOne(request, &text);
  if (text.Type() != VarType::OleStr) {
    AppendWire(answer, out);
    return;
  }
  // The answer's members in their order, its "value" from the text.
  out += '{';
  for (auto it = answer.begin(); it != answer.end(); ++it) {
    if (it != answer.begin()) out += ',';
    AppendJsonString(it.key(), out);
    out += ':';
    if (it.key() == "value") {
      AppendWireString(text.WideText(), out);
    } else {
      AppendWire(it.value(), out);
    }
  }
  out += '}';
}

std::string Session::AnswerText(const json& request) {
  std::string out;
  if (!request.is_array()) {
    AppendAnswer(request, out);
    return out;
  }
  // Each answer is written as soon as it is made; no answer depends on the text of another.
  out += '[';
  for (size_t i = 0; i < request.size(); ++i) {
    if (i) out += ',';
    AppendAnswer(request[i], out);
  }
  out += ']';
  return out;
}

std::string Session::HandleText(std::string_view text) {
  json request;
  try {
    request = json::parse(text);
  } catch (const json::parse_error& e) {
    // The parser's message quotes the bad bytes, which need not be UTF-8.
    return Failure(nullptr, kE_INVALIDARG, std::string("Bad request: not JSON (") + e.what() + ")")
        .dump(-1, ' ', false, json::error_handler_t::replace);  // a short answer
  }
  return AnswerText(request);
}

}  // namespace zentrak::host
