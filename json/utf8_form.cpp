// The system's UTF-8 form: a quick test for text that is already in it, and the conversion of any
// other text through base/text.h.
#include "json/utf8_form.h"

#include <cstdint>
#include <cstring>

#include "base/text.h"

namespace zentrak::json_internal {

bool IsUtf8Form(std::string_view bytes) noexcept {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t n = bytes.size();
  std::size_t i = 0;
  while (i < n) {
    // Eight ASCII bytes at a time.
    while (i + 8 <= n) {
      uint64_t w;
      std::memcpy(&w, p + i, 8);
      if (w & 0x8080808080808080ull) break;
      i += 8;
    }
    if (i >= n) break;
    unsigned b = p[i];
    if (b < 0x80) {
      ++i;
    } else if (b >= 0xC2 && b <= 0xDF) {
      if (i + 1 >= n || (p[i + 1] & 0xC0) != 0x80) return false;
      i += 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
      if (i + 2 >= n || (p[i + 1] & 0xC0) != 0x80 || (p[i + 2] & 0xC0) != 0x80) return false;
      if (b == 0xE0 && p[i + 1] < 0xA0) return false;  // overlong
      i += 3;
    } else {
      return false;  // C0, C1, a continuation byte as lead, or a four-byte lead
    }
  }
  return true;
}

void ToUtf8Form(std::string_view bytes, std::string& out) {
  out.clear();
  std::u16string wide;
  if (TryUtf8ToWide(bytes, wide)) AppendWideAsUtf8(wide, out);
}

}  // namespace zentrak::json_internal
