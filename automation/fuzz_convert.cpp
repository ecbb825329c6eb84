// libFuzzer target for the variant conversions from text: the input as wide text (its bytes as
// UTF-16 units) and as 8-bit text in the system code page, each converted to integer, Int64,
// boolean and double, and its first eight bytes as a date shown as text. A value that converts to
// Int64 and fits 32 bits must convert to the same integer; one that does not fit must overflow.
// Seed corpus: automation/fuzz_seeds_convert.sh.
#include <clocale>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "automation/convert.h"
#include "platform/locale.h"

namespace {

using zentrak::Variant;

template <typename F>
auto Try(F f) -> std::optional<decltype(f())> {
  try {
    return f();
  } catch (const zentrak::Exception&) {
    return std::nullopt;
  }
}

void Convert(const Variant& v) {
  auto i64 = Try([&] { return zentrak::VarToInt64(v); });
  bool overflow = false;
  std::optional<int32_t> i32;
  try {
    i32 = zentrak::VarToInteger(v);
  } catch (const zentrak::EVariantOverflowError&) {
    overflow = true;
  } catch (const zentrak::Exception&) {
  }
  if (i64) {
    const bool fits = *i64 >= INT32_MIN && *i64 <= INT32_MAX;
    if (fits && (!i32 || *i32 != *i64)) std::abort();
    if (!fits && !overflow) std::abort();
  }
  Try([&] { return zentrak::VarToBoolean(v); });
  Try([&] { return zentrak::VarToDouble(v); });
  Try([&] { return zentrak::VarToText(v); });
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::setlocale(LC_ALL, "");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::u16string wide(size / 2, u'\0');
  std::memcpy(wide.data(), data, wide.size() * 2);
  Convert(Variant(wide));
  Convert(Variant::FromAnsi(std::string(reinterpret_cast<const char*>(data), size)));
  if (size >= 8) {
    double days;
    std::memcpy(&days, data, 8);
    if (std::isfinite(days)) {
      Convert(Variant::FromDate(days));
      zentrak::platform::DateToText(days);
    }
  }
  return 0;
}
