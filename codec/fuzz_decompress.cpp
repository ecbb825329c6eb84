// libFuzzer target for the unpacking side of the codecs. The input is taken twice: as an archive
// (every entry extracted, so that all methods are reached) and as Base64 text that is decoded and
// unpacked like the automation member deCompress does. Whatever was unpacked must pack and unpack
// back to itself. Seed corpus: codec/fuzz_seed_corpus.sh.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "codec/base64.h"
#include "codec/compressed_text.h"
#include "codec/zip.h"

namespace {

void Quiet(const std::string&, const std::string&) {}

void CheckRoundTrip(const std::string& bytes) {
  if (bytes.size() > 4096) return;  // larger ones cost more time than they add
  if (zentrak::decompressText(zentrak::compressText(bytes)) != bytes) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zentrak::SetZipMessageSink(Quiet);
  const std::string input(reinterpret_cast<const char*>(data), size);
  try {
    zentrak::TMemoryStream archive(input), output;
    zentrak::TZipReader reader;
    reader.SetArchiveStream(&archive);
    reader.extractToStream(output, "*");
    CheckRoundTrip(output.Bytes());
  } catch (const zentrak::Exception&) {
  }
  try {
    CheckRoundTrip(zentrak::decompressText(zentrak::DecodeBase64(input)));
  } catch (const zentrak::Exception&) {
  }
  return 0;
}
