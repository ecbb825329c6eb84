// System code page on Linux: the locale's codeset through iconv, or GBK with ZENTRAK_CODEPAGE=936.
#include "platform/codepage.h"

#include <iconv.h>
#include <langinfo.h>
#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/ascii.h"

namespace zentrak::platform {
namespace {

struct CodePage {
  unsigned number = kCodePageUtf8;
  std::string iconv_name;  // empty for UTF-8, which is converted without iconv
};

CodePage Detect() {
  CodePage cp;
  if (const char* forced = std::getenv("ZENTRAK_CODEPAGE"); forced && *forced) {
    unsigned n = static_cast<unsigned>(std::strtoul(forced, nullptr, 10));
    if (n == 936) return {936, "GBK"};
    if (n != 0 && n != kCodePageUtf8) return {n, "CP" + std::to_string(n)};
    return cp;
  }
  // The locale's codeset. C and POSIX name ASCII; that and any unknown codeset count as UTF-8,
  // so that no text is lost by default.
  std::string locale_name;
  if (const char* l = std::setlocale(LC_CTYPE, nullptr)) locale_name = l;
  const char* set = nullptr;
  if (locale_name == "C" || locale_name == "POSIX") {
    return cp;
  }
  set = nl_langinfo(CODESET);
  if (!set) return cp;
  std::string s = set;
  for (auto& c : s) c = AsciiUpper(c);
  if (s == "UTF-8" || s == "UTF8" || s == "ANSI_X3.4-1968" || s.empty()) return cp;
  if (s == "GBK" || s == "GB2312" || s == "CP936" || s == "GB18030") return {936, "GBK"};
  iconv_t probe = iconv_open("UTF-16LE", set);
  if (probe == reinterpret_cast<iconv_t>(-1)) return cp;
  iconv_close(probe);
  unsigned number = 0;
  if (s.rfind("CP", 0) == 0) number = static_cast<unsigned>(std::strtoul(s.c_str() + 2, nullptr, 10));
  if (s == "ISO-8859-1") number = 28591;
  return {number ? number : 1, set};
}

const CodePage& Current() {
  static const CodePage cp = Detect();
  return cp;
}

// One conversion through iconv, one unit at a time on failure so that an unconvertible
// character becomes the replacement and the rest of the text is kept.
std::string Iconv(const char* to, const char* from, const char* in, size_t in_len, size_t unit,
                  const char* replacement, size_t replacement_len) {
  std::string out;
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return out;
  out.resize(in_len * 2 + 16);
  char* src = const_cast<char*>(in);
  size_t src_left = in_len;
  size_t produced = 0;
  while (src_left > 0) {
    char* dst = out.data() + produced;
    size_t dst_left = out.size() - produced;
    size_t r = iconv(cd, &src, &src_left, &dst, &dst_left);
    produced = out.size() - dst_left;
    if (r != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) {
      out.resize(out.size() * 2);
      continue;
    }
    // EILSEQ or EINVAL: replace one unit (a whole surrogate pair counts as one character).
    if (out.size() - produced < replacement_len + 1) out.resize(out.size() * 2 + replacement_len);
    std::memcpy(out.data() + produced, replacement, replacement_len);
    produced += replacement_len;
    size_t skip = std::min(unit, src_left);
    src += skip;
    src_left -= skip;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  out.resize(produced);
  iconv_close(cd);
  return out;
}

}  // namespace

unsigned SystemCodePage() { return Current().number; }

std::u16string AnsiToWide(std::string_view text) {
  std::u16string out;
  if (IsAscii(text)) {
    out.assign(text.begin(), text.end());
    return out;
  }
  const CodePage& cp = Current();
  if (cp.iconv_name.empty()) {
    // Strict UTF-8; an invalid byte becomes U+FFFD.
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text.data());
    size_t n = text.size(), i = 0;
    out.reserve(n);
    while (i < n) {
      unsigned b = p[i];
      uint32_t cp32 = 0xFFFD;
      size_t len = 1;
      if (b < 0x80) {
        cp32 = b;
      } else if (b >= 0xC2 && b <= 0xDF && i + 1 < n && (p[i + 1] & 0xC0) == 0x80) {
        cp32 = ((b & 0x1Fu) << 6) | (p[i + 1] & 0x3Fu);
        len = 2;
      } else if (b >= 0xE0 && b <= 0xEF && i + 2 < n && (p[i + 1] & 0xC0) == 0x80 &&
                 (p[i + 2] & 0xC0) == 0x80) {
        uint32_t v = ((b & 0x0Fu) << 12) | ((p[i + 1] & 0x3Fu) << 6) | (p[i + 2] & 0x3Fu);
        if (v >= 0x800 && (v < 0xD800 || v > 0xDFFF)) {
          cp32 = v;
          len = 3;
        }
      } else if (b >= 0xF0 && b <= 0xF4 && i + 3 < n && (p[i + 1] & 0xC0) == 0x80 &&
                 (p[i + 2] & 0xC0) == 0x80 && (p[i + 3] & 0xC0) == 0x80) {
        uint32_t v = ((b & 0x07u) << 18) | ((p[i + 1] & 0x3Fu) << 12) | ((p[i + 2] & 0x3Fu) << 6) |
                     (p[i + 3] & 0x3Fu);
        if (v >= 0x10000 && v <= 0x10FFFF) {
          cp32 = v;
          len = 4;
        }
      }
      if (cp32 >= 0x10000) {
        cp32 -= 0x10000;
        out += static_cast<char16_t>(0xD800 | (cp32 >> 10));
        out += static_cast<char16_t>(0xDC00 | (cp32 & 0x3FF));
      } else {
        out += static_cast<char16_t>(cp32);
      }
      i += len;
    }
    return out;
  }
  static const char16_t kQuestion = u'?';
  std::string bytes = Iconv("UTF-16LE", cp.iconv_name.c_str(), text.data(), text.size(), 1,
                            reinterpret_cast<const char*>(&kQuestion), 2);
  out.resize(bytes.size() / 2);
  std::memcpy(out.data(), bytes.data(), out.size() * 2);
  return out;
}

std::string WideToAnsi(std::u16string_view text) {
  std::string out;
  bool ascii = true;
  for (char16_t c : text) {
    if (c >= 0x80) {
      ascii = false;
      break;
    }
  }
  if (ascii) {
    out.assign(text.begin(), text.end());
    return out;
  }
  const CodePage& cp = Current();
  if (cp.iconv_name.empty()) return WideToStandardUtf8(text);
  // iconv reads UTF-16LE two bytes at a time; a failing surrogate pair is skipped one unit at a
  // time, each unit giving one "?".
  return Iconv(cp.iconv_name.c_str(), "UTF-16LE", reinterpret_cast<const char*>(text.data()),
               text.size() * 2, 2, "?", 1);
}

std::string AnsiUpperCase(std::string_view text) {
  std::string out(text);
  if (Current().number == 936) {
    // Double-byte characters: a lead byte 0x81..0xFE and its trail byte stay as they are.
    for (size_t i = 0; i < out.size(); ++i) {
      unsigned char c = static_cast<unsigned char>(out[i]);
      if (c >= 0x81 && c <= 0xFE && i + 1 < out.size()) {
        ++i;
      } else if (c >= 'a' && c <= 'z') {
        out[i] = static_cast<char>(c - 32);
      }
    }
    return out;
  }
  // UTF-8 and other code pages: the ASCII letters; multi-byte sequences are left alone.
  for (auto& ch : out) {
    if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 32);
  }
  return out;
}

}  // namespace zentrak::platform
