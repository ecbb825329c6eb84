// TvxJSON::ReadText: a recursive-descent reader of UTF-8 JSON text into a value tree. It is
// lenient in fixed ways that page script relies on (optional and trailing commas, text after the
// document ignored, "+" and leading zeros in numbers, the escape \', raw control bytes in strings)
// and gives either a complete tree or none, never a message.
#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "json/utf8_form.h"
#include "json/value.h"

#if defined(__GLIBC__)
#include <locale.h>
#endif

namespace zentrak {

namespace json_internal {

// Puts what the reader has read into the classes' storage.
class Builder {
 public:
  static std::unique_ptr<TvxJSONbase> String(std::string_view utf8_form) {
    return std::unique_ptr<TvxJSONbase>(new TvxJSONstring(TvxJSONstring::Utf8FormTag(), utf8_form));
  }
  static std::unique_ptr<TvxJSONbase> Member(SharedName name, std::unique_ptr<TvxJSONbase> value) {
    return std::unique_ptr<TvxJSONbase>(new TvxJSONobjectmethod(std::move(name), std::move(value)));
  }
  // A container holding elements[first..], which are moved out of elements.
  template <class Container>
  static std::unique_ptr<Container> Take(Container* fresh,
                                         std::vector<std::unique_ptr<TvxJSONbase>>& elements,
                                         std::size_t first) {
    std::unique_ptr<Container> c(fresh);
    c->elements_.reserve(elements.size() - first);
    for (std::size_t i = first; i < elements.size(); ++i)
      c->elements_.push_back(std::move(elements[i]));
    elements.resize(first);
    return c;
  }
  // Indexes the members of an object read from text, in position order.
  static void IndexMembers(TvxJSONobject& object) {
    for (std::size_t i = 0; i < object.elements_.size(); ++i) {
      object.name_index_.InsertName(object.elements_, static_cast<int32_t>(i));
    }
  }
};

}  // namespace json_internal

namespace {

using json_internal::Builder;
using json_internal::SharedName;

// Raised for the errors that fail the whole read: a "\u" escape without hexadecimal digits, a
// number beyond the extended range, nesting beyond TvxJSON::kMaxNesting.
struct ReadAbort {};

bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }

int HexValue(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Powers of ten that the extended format holds exactly (5^27 < 2^64).
constexpr long double kExactPowers[] = {1e0L,  1e1L,  1e2L,  1e3L,  1e4L,  1e5L,  1e6L,
                                        1e7L,  1e8L,  1e9L,  1e10L, 1e11L, 1e12L, 1e13L,
                                        1e14L, 1e15L, 1e16L, 1e17L, 1e18L, 1e19L, 1e20L,
                                        1e21L, 1e22L, 1e23L, 1e24L, 1e25L, 1e26L, 1e27L};
constexpr int kMaxExactPower = 27;

// Decimal text (sign, digits, point, exponent) to the nearest extended value, whatever the
// user's locale. Overflow raises ReadAbort.
long double ConvertNumberText(std::string& text) {
  long double v;
  errno = 0;
#if defined(__GLIBC__)
  static locale_t c_locale = newlocale(LC_ALL_MASK, "C", nullptr);
  v = strtold_l(text.c_str(), nullptr, c_locale);
#else
  // The C library reads the point of the current locale.
  const char* point = std::localeconv()->decimal_point;
  if (point && std::strcmp(point, ".") != 0) {
    std::size_t dot = text.find('.');
    if (dot != std::string::npos) text.replace(dot, 1, point);
  }
  v = std::strtold(text.c_str(), nullptr);
#endif
  if (errno == ERANGE && (v > 1.0L || v < -1.0L)) throw ReadAbort();
  return v;
}

class Reader {
 public:
  Reader(const unsigned char* begin, const unsigned char* end) : p_(begin), end_(end) {}
  ~Reader() {
    while (!stack_.empty()) stack_.pop_back();
  }

  std::unique_ptr<TvxJSONbase> Value() {
    SkipWhitespace();
    if (p_ >= end_) return nullptr;
    switch (*p_) {
      case 't':
        if (Literal("true", 4)) return std::make_unique<TvxJSONboolean>(true);
        return nullptr;
      case 'f':
        if (Literal("false", 5)) return std::make_unique<TvxJSONboolean>(false);
        return nullptr;
      case 'n':
        if (Literal("null", 4)) return std::make_unique<TvxJSONnull>();
        return nullptr;
      case '"': return String();
      case '[': return List();
      case '{': return Object();
      default:
        if (*p_ == '+' || *p_ == '-' || IsDigit(*p_)) return Number();
        return nullptr;
    }
  }

 private:
  // Holds one more level of nesting for the lifetime of a container being read.
  class Nesting {
   public:
    explicit Nesting(int& depth) : depth_(depth) {
      if (++depth_ > TvxJSON::kMaxNesting) throw ReadAbort();
    }
    ~Nesting() { --depth_; }

   private:
    int& depth_;
  };

  void SkipWhitespace() {
    while (p_ < end_ && *p_ <= 0x20) ++p_;
  }

  bool Literal(const char* word, std::size_t n) {
    if (static_cast<std::size_t>(end_ - p_) < n || std::memcmp(p_, word, n) != 0) return false;
    p_ += n;
    return true;
  }

  // Optional sign, digits, optionally a point and digits, optionally E, a sign and digits.
  std::unique_ptr<TvxJSONbase> Number() {
    const unsigned char* start = p_;
    const unsigned char* q = p_;
    bool negative = false;
    if (*q == '+' || *q == '-') negative = *q++ == '-';
    // Up to 19 significant digits are gathered into mantissa (value = mantissa x 10^exponent
    // while exact), enough for the fast conversions below.
    uint64_t mantissa = 0;
    int significant = 0;  // leading zeros not counted
    bool exact = true;
    int64_t exponent = 0;
    const unsigned char* digits = q;
    for (; q < end_ && IsDigit(*q); ++q) {
      if (significant < 19) {
        mantissa = mantissa * 10 + static_cast<unsigned>(*q - '0');
        if (mantissa) ++significant;
      } else {
        exact = false;
      }
    }
    if (q == digits) return nullptr;
    bool integral = true;
    if (q < end_ && *q == '.') {
      integral = false;
      const unsigned char* frac = ++q;
      for (; q < end_ && IsDigit(*q); ++q) {
        if (significant < 19) {
          mantissa = mantissa * 10 + static_cast<unsigned>(*q - '0');
          if (mantissa) ++significant;
          --exponent;
        } else {
          exact = false;
        }
      }
      if (q == frac) return nullptr;
    }
    if (q < end_ && (*q == 'e' || *q == 'E')) {
      integral = false;
      ++q;
      bool exp_negative = false;
      if (q < end_ && (*q == '+' || *q == '-')) exp_negative = *q++ == '-';
      const unsigned char* exp_digits = q;
      int e = 0;
      for (; q < end_ && IsDigit(*q); ++q) {
        if (e < 100000) e = e * 10 + (*q - '0');
      }
      if (q == exp_digits) return nullptr;
      exponent += exp_negative ? -e : e;
    }
    p_ = q;

    long double value;
    if (mantissa == 0 && exact) {
      value = 0.0L;
    } else if (integral && exact && significant <= 18) {
      value = static_cast<long double>(static_cast<int64_t>(mantissa));
#if !defined(_WIN32)
      // One correctly rounded operation on exact operands. Not on Windows, where the host may
      // run the FPU at double precision.
    } else if (exact && exponent >= -kMaxExactPower && exponent <= kMaxExactPower) {
      value = static_cast<long double>(mantissa);
      value = exponent < 0 ? value / kExactPowers[-exponent] : value * kExactPowers[exponent];
#endif
    } else {
      number_text_.assign(reinterpret_cast<const char*>(start),
                          static_cast<std::size_t>(q - start));
      value = ConvertNumberText(number_text_);
      return std::make_unique<TvxJSONnumber>(value);
    }
    return std::make_unique<TvxJSONnumber>(negative ? -value : value);
  }

  // Reads a quoted string at the current byte and leaves its value, in the system's UTF-8 form,
  // in the returned view (valid until the next string is read). False, with the position
  // unchanged, when the text ends before the closing quote.
  bool QuotedText(std::string_view& value) {
    const unsigned char* content = p_ + 1;
    const unsigned char* q = content;
    bool escaped = false;
    for (;;) {
      while (q < end_ && *q != '"' && *q != '\\') ++q;
      if (q >= end_) return false;
      if (*q == '"') break;
      escaped = true;
      q += 2;  // the escaped byte never closes the string
      if (q >= end_) return false;
    }
    std::string_view raw(reinterpret_cast<const char*>(content),
                         static_cast<std::size_t>(q - content));
    p_ = q + 1;
    if (escaped) {
      Unescape(raw);
      raw = unescaped_;
    }
    if (json_internal::IsUtf8Form(raw)) {
      value = raw;
    } else {
      json_internal::ToUtf8Form(raw, form_);
      value = form_;
    }
    return true;
  }

  void Unescape(std::string_view raw) {
    unescaped_.clear();
    const std::size_t n = raw.size();
    std::size_t i = 0;
    while (i < n) {
      std::size_t next = raw.find('\\', i);
      if (next == std::string_view::npos) next = n;
      unescaped_.append(raw.data() + i, next - i);
      if (next >= n) break;
      i = next + 1;  // the byte after the backslash; the scan guarantees there is one
      char c = raw[i++];
      switch (c) {
        case '"': unescaped_ += '"'; break;
        case '\\': unescaped_ += '\\'; break;
        case '/': unescaped_ += '/'; break;
        case '\'': unescaped_ += '\''; break;
        case 'b': unescaped_ += '\b'; break;
        case 'f': unescaped_ += '\f'; break;
        case 'n': unescaped_ += '\n'; break;
        case 'r': unescaped_ += '\r'; break;
        case 't': unescaped_ += '\t'; break;
        case 'u': {
          std::size_t count = n - i < 4 ? n - i : 4;
          if (count == 0) throw ReadAbort();
          unsigned cp = 0;
          for (std::size_t k = 0; k < count; ++k) {
            int h = HexValue(static_cast<unsigned char>(raw[i + k]));
            if (h < 0) throw ReadAbort();
            cp = cp * 16 + static_cast<unsigned>(h);
          }
          i += count;
          if (cp < 0x80) {
            unescaped_ += static_cast<char>(cp);
          } else if (cp < 0x800) {
            unescaped_ += static_cast<char>(0xC0 | (cp >> 6));
            unescaped_ += static_cast<char>(0x80 | (cp & 0x3F));
          } else {
            unescaped_ += static_cast<char>(0xE0 | (cp >> 12));
            unescaped_ += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            unescaped_ += static_cast<char>(0x80 | (cp & 0x3F));
          }
          break;
        }
        default: break;  // an unknown escape reads as nothing
      }
    }
  }

  std::unique_ptr<TvxJSONbase> String() {
    std::string_view value;
    if (!QuotedText(value)) return nullptr;
    return Builder::String(value);
  }

  std::unique_ptr<TvxJSONbase> List() {
    Nesting level(depth_);
    const unsigned char* start = p_++;
    const std::size_t base = stack_.size();
    for (;;) {
      std::unique_ptr<TvxJSONbase> v = Value();
      SkipWhitespace();
      if (!v) break;
      stack_.push_back(std::move(v));
      if (p_ < end_ && *p_ == ',') ++p_;
    }
    if (p_ >= end_ || *p_ != ']') {
      Discard(base);
      p_ = start;
      return nullptr;
    }
    ++p_;
    return Builder::Take(new TvxJSONlist, stack_, base);
  }

  std::unique_ptr<TvxJSONbase> Object() {
    Nesting level(depth_);
    const unsigned char* start = p_++;
    const std::size_t base = stack_.size();
    for (;;) {
      std::unique_ptr<TvxJSONbase> m = Member();
      SkipWhitespace();
      if (!m) break;
      stack_.push_back(std::move(m));
      if (p_ < end_ && *p_ == ',') ++p_;
    }
    if (p_ >= end_ || *p_ != '}') {
      Discard(base);
      p_ = start;
      return nullptr;
    }
    ++p_;
    auto object = Builder::Take(new TvxJSONobject(true), stack_, base);
    Builder::IndexMembers(*object);
    return object;
  }

  std::unique_ptr<TvxJSONbase> Member() {
    const unsigned char* start = p_;
    SkipWhitespace();
    std::string_view name;
    if (p_ >= end_ || *p_ != '"' || !QuotedText(name)) {
      p_ = start;
      return nullptr;
    }
    SharedName shared = Intern(name);
    SkipWhitespace();
    if (p_ >= end_ || *p_ != ':') {
      p_ = start;
      return nullptr;
    }
    ++p_;
    std::unique_ptr<TvxJSONbase> v = Value();
    if (!v) {
      p_ = start;
      return nullptr;
    }
    return Builder::Member(std::move(shared), std::move(v));
  }

  // Members of one read share their name records: every object of a result set carries the
  // same names.
  SharedName Intern(std::string_view name) {
    if (name.empty()) return SharedName();
    uint32_t h = 2166136261u;
    for (unsigned char c : name) h = (h ^ c) * 16777619u;
    SharedName& slot = names_[(h ^ (h >> 16)) % kNameSlots];
    if (slot.View() != name) slot = SharedName(name);
    return SharedName(slot);
  }

  void Discard(std::size_t base) {
    while (stack_.size() > base) stack_.pop_back();
  }

  static constexpr std::size_t kNameSlots = 64;

  const unsigned char* p_;
  const unsigned char* const end_;
  int depth_ = 0;
  // Elements of the containers being read, innermost last.
  std::vector<std::unique_ptr<TvxJSONbase>> stack_;
  std::string unescaped_;
  std::string form_;
  std::string number_text_;
  SharedName names_[kNameSlots];
};

}  // namespace

std::unique_ptr<TvxJSONbase> TvxJSON::ReadText(std::string_view utf8) {
  if (utf8.empty()) return nullptr;
  const unsigned char* begin = reinterpret_cast<const unsigned char*>(utf8.data());
  const unsigned char* end = begin + utf8.size();
  if (utf8.size() >= 3 && begin[0] == 0xEF && begin[1] == 0xBB && begin[2] == 0xBF) {
    begin += 3;
    if (begin == end) return nullptr;
  }
  try {
    Reader reader(begin, end);
    return reader.Value();
  } catch (...) {
    // A conversion error, nesting too deep, or memory exhausted: nothing built survives.
    return nullptr;
  }
}

}  // namespace zentrak
