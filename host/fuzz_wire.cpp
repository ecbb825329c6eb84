// libFuzzer target for the wire's request handling: any bytes as one message of a session, whose
// answer must be one JSON text. Each input gets a fresh session in a scratch profile, with no
// display and a file chooser that always cancels, so no call can block on the user.
// Seed corpus: host/fuzz_seeds_wire.sh.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "codec/zip.h"
#include "host/wire.h"

namespace {

void Quiet(const std::string&, const std::string&) {}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char scratch[] = "/tmp/zentrak-fuzz-wire-XXXXXX";
  if (!mkdtemp(scratch)) std::abort();
  setenv("USERPROFILE", scratch, 1);
  setenv("HOME", scratch, 1);
  setenv("ZENTRAK_FILE_CHOOSER", "exit 1", 1);
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  zentrak::SetZipMessageSink(Quiet);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zentrak::host::Session session(16);
  std::string answer = session.HandleText(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!nlohmann::json::accept(answer)) std::abort();
  return 0;
}
