// libFuzzer target: any text as an Origin header and as a Host header, through the gate's
// parsers. A canonical origin is its own canonical form, and a Host header the gate lets in
// names one of the host's three loopback names with the right port.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "base/ascii.h"
#include "host/origin_policy.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  // The first two bytes are the host's port; the rest is the header's text.
  uint16_t port = static_cast<uint16_t>(data[0] << 8 | data[1]);
  std::string_view text(reinterpret_cast<const char*>(data + 2), size - 2);

  if (auto origin = zentrak::host::NormalizeOrigin(text)) {
    auto again = zentrak::host::NormalizeOrigin(*origin);
    if (!again || *again != *origin) std::abort();
    if (*origin != zentrak::AsciiLowered(*origin)) std::abort();
  }

  if (zentrak::host::IsLoopbackHost(text, port)) {
    std::string host = zentrak::AsciiLowered(text);
    const std::string p = ":" + std::to_string(port);
    bool named = false;
    for (const char* name : {"127.0.0.1", "[::1]", "localhost"}) {
      if (host == name + p || (port == 80 && host == name)) named = true;
    }
    // A port may be written with leading zeros ("localhost:0080"); the name before it is exact.
    if (!named) {
      size_t colon = host.rfind(':');
      std::string name = host.substr(0, colon);
      if (name != "127.0.0.1" && name != "[::1]" && name != "localhost") std::abort();
    }
  }

  zentrak::host::OriginPolicy policy(port);
  policy.Allow("https://intranet.example");
  policy.Block("https://evil.example");
  auto decision = policy.Decide(text);
  // Only a canonical-form origin can be approved, and only by what was allowed or is the host's own.
  if (decision == zentrak::host::OriginDecision::kApproved) {
    auto origin = zentrak::host::NormalizeOrigin(text);
    if (!origin) std::abort();
    if (*origin != "https://intranet.example" && !policy.IsOwnOrigin(*origin)) std::abort();
  }
  return 0;
}
