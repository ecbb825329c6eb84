// TvxJSON::WriteText: a value tree as compact UTF-8 JSON text. No whitespace between tokens,
// strings escaped byte by byte from the system's UTF-8 form, numbers in the general 15-digit
// format with a point (base/number_text.h), independent of the user's locale.
#include <cstring>

#include "base/number_text.h"
#include "json/value.h"

namespace zentrak {
namespace {

using json_internal::Family;

// How each byte of a string's UTF-8 form is written: 0 unchanged, 'u' as \u00XX, otherwise the
// letter after a backslash.
constexpr auto kEscapes = [] {
  struct Table {
    char code[256];
  } t{};
  for (int b = 0; b < 0x20; ++b) t.code[b] = 'u';
  t.code[0x22] = '"';
  t.code[0x5C] = '\\';
  t.code[0x2F] = '/';
  t.code[0x08] = 'b';
  t.code[0x09] = 't';
  t.code[0x0A] = 'n';
  t.code[0x0C] = 'f';
  t.code[0x0D] = 'r';
  return t;
}();

// Bytes a string's UTF-8 form gains by escaping, per byte.
constexpr auto kEscapeGrowth = [] {
  struct Table {
    unsigned char extra[256];
  } t{};
  for (int b = 0; b < 256; ++b)
    t.extra[b] = kEscapes.code[b] == 0 ? 0 : (kEscapes.code[b] == 'u' ? 5 : 1);
  return t;
}();

// The longest general number text: sign, 15 digits, point, "E", sign and four digits.
constexpr std::size_t kMaxNumberText = 24;

// Writes in two passes: the first measures the text (numbers at their longest), so that the
// second appends to one buffer of the final size without ever growing it.
class Writer {
 public:
  std::string Write(const TvxJSONbase* root) {
    std::size_t size = Measure(root);
    out_.reserve(size);
    // The buffer is touched first by the resize below; a large one is better faulted in as
    // large pages.
    json_internal::AdviseLargePages(out_.data(), size);
    out_.resize(size);
    d_ = out_.data();
    Value(root);
    out_.resize(static_cast<std::size_t>(d_ - out_.data()));
    return std::move(out_);
  }

 private:
  static std::size_t Measure(const TvxJSONbase* v) {
    if (!v) return 0;
    switch (v->Family()) {
      case Family::kNumber: return kMaxNumberText;
      case Family::kString: return MeasureString(static_cast<const TvxJSONstring*>(v)->Utf8Value());
      case Family::kBoolean: return 5;
      case Family::kNull: return 4;
      case Family::kList:
      case Family::kObject: {
        const TvxJSONelements& elements = static_cast<const TvxJSONcustomlist*>(v)->Elements();
        std::size_t n = 2 + (elements.empty() ? 0 : elements.size() - 1);
        for (const auto& e : elements) n += Measure(e.get());
        return n;
      }
      case Family::kMember: {
        auto* m = static_cast<const TvxJSONobjectmethod*>(v);
        return MeasureString(m->Utf8Name()) + 1 + Measure(m->Value());
      }
      case Family::kBase:
      case Family::kCustomList: break;
    }
    return 0;
  }

  static std::size_t MeasureString(std::string_view utf8) {
    std::size_t n = utf8.size() + 2;
    for (unsigned char b : utf8) n += kEscapeGrowth.extra[b];
    return n;
  }

  void Value(const TvxJSONbase* v) {
    if (!v) return;
    switch (v->Family()) {
      case Family::kNumber: Number(static_cast<const TvxJSONnumber*>(v)->Value()); break;
      case Family::kString: String(static_cast<const TvxJSONstring*>(v)->Utf8Value()); break;
      case Family::kBoolean:
        if (static_cast<const TvxJSONboolean*>(v)->Value()) {
          Put("true", 4);
        } else {
          Put("false", 5);
        }
        break;
      case Family::kNull: Put("null", 4); break;
      case Family::kList:
        Elements(static_cast<const TvxJSONcustomlist*>(v)->Elements(), '[', ']');
        break;
      case Family::kMember: {
        auto* m = static_cast<const TvxJSONobjectmethod*>(v);
        String(m->Utf8Name());
        *d_++ = ':';
        Value(m->Value());
        break;
      }
      case Family::kObject:
        Elements(static_cast<const TvxJSONcustomlist*>(v)->Elements(), '{', '}');
        break;
      case Family::kBase:
      case Family::kCustomList: break;
    }
  }

  void Elements(const TvxJSONelements& elements, char open, char close) {
    *d_++ = open;
    bool first = true;
    for (const auto& e : elements) {
      if (!first) *d_++ = ',';
      first = false;
      Value(e.get());
    }
    *d_++ = close;
  }

  void Put(const char* s, std::size_t n) {
    std::memcpy(d_, s, n);
    d_ += n;
  }

  void Number(long double value) {
    scratch_.clear();
    AppendGeneralNumber(value, '.', scratch_);
    Put(scratch_.data(), scratch_.size() < kMaxNumberText ? scratch_.size() : kMaxNumberText);
  }

  void String(std::string_view utf8) {
    static const char kHex[] = "0123456789ABCDEF";
    const unsigned char* p = reinterpret_cast<const unsigned char*>(utf8.data());
    const unsigned char* end = p + utf8.size();
    char* d = d_;
    *d++ = '"';
    while (p < end) {
      const unsigned char* run = p;
      while (p < end && kEscapes.code[*p] == 0) ++p;
      if (p != run) {
        std::memcpy(d, run, static_cast<std::size_t>(p - run));
        d += p - run;
      }
      if (p == end) break;
      char code = kEscapes.code[*p];
      *d++ = '\\';
      if (code == 'u') {
        d[0] = 'u';
        d[1] = '0';
        d[2] = '0';
        d[3] = kHex[*p >> 4];
        d[4] = kHex[*p & 0x0F];
        d += 5;
      } else {
        *d++ = code;
      }
      ++p;
    }
    *d++ = '"';
    d_ = d;
  }

  std::string out_;
  char* d_ = nullptr;
  std::string scratch_;
};

}  // namespace

std::string TvxJSON::WriteText(const TvxJSONbase* root) {
  if (!root) return std::string();
  Writer w;
  return w.Write(root);
}

}  // namespace zentrak
