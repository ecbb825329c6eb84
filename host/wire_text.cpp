// The answer writer: compact JSON text as nlohmann's dump writes it, with strings escaped sixteen
// units at a time (SSE2) and written through raw pointers into room made block by block.
#include "host/wire_text.h"

#include <algorithm>
#include <array>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/memory.h"

namespace zentrak::host {
namespace {

using json = nlohmann::ordered_json;

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

}  // namespace

void AppendJsonString(std::string_view text, std::string& out) {
  AppendInBlocks(reinterpret_cast<const unsigned char*>(text.data()), text.size(), out, EncodeUtf8Block);
}

void AppendWire(const json& j, std::string& out) {
  // Containers are walked with a stack of their own rather than by recursion, so that no answer
  // can exhaust the thread's stack however deep it nests.
  struct Open {
    const json* node;
    json::const_iterator next;
  };
  std::vector<Open> open;
  const json* v = &j;
  for (;;) {
    if (v) {
      switch (v->type()) {
        case json::value_t::object:
        case json::value_t::array:
          out += v->is_object() ? '{' : '[';
          open.push_back(Open{v, v->cbegin()});
          break;
        case json::value_t::string:
          AppendJsonString(v->get_ref<const std::string&>(), out);
          break;
        default:
          out += v->dump();
      }
      v = nullptr;
    }
    if (open.empty()) return;
    Open& top = open.back();
    if (top.next == top.node->cend()) {
      out += top.node->is_object() ? '}' : ']';
      open.pop_back();
      continue;
    }
    if (top.next != top.node->cbegin()) out += ',';
    if (top.node->is_object()) {
      AppendJsonString(top.next.key(), out);
      out += ':';
    }
    v = &*top.next;
    ++top.next;
  }
}

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

}  // namespace zentrak::host
