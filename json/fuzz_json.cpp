// libFuzzer target: any bytes through the reader, and whatever it builds through the writer and
// back through the reader, which must give the same text again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "json/value.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::unique_ptr<zentrak::TvxJSONbase> root = zentrak::TvxJSON::ReadText(text);
  if (!root) return 0;
  std::string written = zentrak::TvxJSON::WriteText(root.get());
  std::unique_ptr<zentrak::TvxJSONbase> again = zentrak::TvxJSON::ReadText(written);
  if (!again || zentrak::TvxJSON::WriteText(again.get()) != written) std::abort();
  return 0;
}
